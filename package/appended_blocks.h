#pragma once
#include <stddef.h>
#include <stdint.h>

// Blocks appended after the executable image, read from the end backwards.
// Each ends with a 32-bit little-endian offset and a marker:
//   parameter block: 267 bytes ending in offset, "Cookies" (stepped over by
//                    its fixed size; the offset bytes belong to its text)
//   package block:   compound file, "Bulk", its start, "Suffix"
//   other block:     ..., its start, "Suffix"
enum AppendedBlockKind { kNoBlock, kParameterBlock, kPackageBlock, kOtherBlock };

const uint32_t kParameterBlockSize = 267;

struct AppendedBlock {
  AppendedBlockKind kind;
  uint32_t start;       // where the block begins (package: the compound file)
  uint32_t dataLength;  // package: bytes of the compound file; else 0
};

// The block that ends at end (end <= size). kNoBlock when no marker ends
// there, or when its offset would not move the walk backwards or leaves no
// room for its own ending.
AppendedBlock BlockEndingAt(const unsigned char* data, uint32_t end);

// Walks from the end of data past parameter and other blocks to the package
// block. False when the walk ends without one.
bool FindPackageRange(const unsigned char* data, uint32_t size, uint32_t* start, uint32_t* length);
