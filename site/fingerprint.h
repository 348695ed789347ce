#pragma once
#include <stdint.h>

// Hash of up to two texts over their letters only: case, 0/O and 1/8/I are
// the same, every other byte is skipped. Either text may be null. width is
// 1..32 bits; a width outside that range is taken as 32.
uint32_t FingerprintHash(const char* first, const char* second, int width);

// The machine's BIOS version text hashed to 32 bits; never 0. Windows only.
uint32_t MachineFingerprint();
