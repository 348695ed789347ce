#include "package/appended_blocks.h"

#include <string.h>

static bool EndsWith(const unsigned char* data, uint32_t end, const char* marker, uint32_t length) {
  return end >= length && memcmp(data + end - length, marker, length) == 0;
}

static uint32_t ReadOffset(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

AppendedBlock BlockEndingAt(const unsigned char* data, uint32_t end) {
  AppendedBlock block = {kNoBlock, 0, 0};
  if (EndsWith(data, end, "Cookies", 7)) {
    // Fixed size: the four bytes before the marker are parameter text here.
    if (end >= kParameterBlockSize) {
      block.kind = kParameterBlock;
      block.start = end - kParameterBlockSize;
    }
    return block;
  }
  if (!EndsWith(data, end, "Suffix", 6) || end < 10) return block;
  uint32_t offset = ReadOffset(data + end - 10);
  if (EndsWith(data, end - 10, "Bulk", 4)) {
    // The compound file runs from offset up to the "Bulk" marker.
    if (offset <= end - 14) {
      block.kind = kPackageBlock;
      block.start = offset;
      block.dataLength = end - 14 - offset;
    }
    return block;
  }
  // The block must at least hold its own ending.
  if (offset <= end - 10) {
    block.kind = kOtherBlock;
    block.start = offset;
  }
  return block;
}

bool FindPackageRange(const unsigned char* data, uint32_t size, uint32_t* start, uint32_t* length) {
  uint32_t end = size;
  for (;;) {
    AppendedBlock block = BlockEndingAt(data, end);
    if (block.kind == kPackageBlock) {
      *start = block.start;
      *length = block.dataLength;
      return true;
    }
    // Each step moves strictly backwards (start < end), so the walk ends.
    if (block.kind == kNoBlock || block.start >= end) return false;
    end = block.start;
  }
}
