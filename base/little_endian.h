#pragma once
#include <stdint.h>

// Little-endian fields of the formats the program and the maker read (PE
// headers, appended blocks, security descriptors). The caller has checked
// that the bytes are there.
inline uint32_t ReadLe16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
inline uint32_t ReadLe32(const unsigned char* p) { return ReadLe16(p) | ReadLe16(p + 2) << 16; }
