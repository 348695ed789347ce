// The walk over the blocks appended to the executable, on any file tail: it
// ends, moves strictly backwards, and a package it finds lies inside the
// file right before its "Bulk" ending. A parameter block met on the way
// gives a text that stays inside the block.
#include "install/parameter_merge.h"
#include "package/appended_blocks.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  FuzzInput in(data, size);
  size_t got;
  const unsigned char* file = in.Bytes(size, &got);
  uint32_t length = static_cast<uint32_t>(got);

  uint32_t start = 0, package = 0;
  bool found = FindPackageRange(file, length, &start, &package);
  if (found) {
    FUZZ_CHECK(start <= length && package <= length - start && length - start - package >= 14);
    FUZZ_CHECK(memcmp(file + start + package, "Bulk", 4) == 0);
  }

  // The same walk step by step: every step backwards, a package where the
  // walk said.
  uint32_t end = length;
  bool walked = false;
  for (uint32_t steps = 0; steps <= length; ++steps) {
    AppendedBlock block = BlockEndingAt(file, end);
    if (block.kind == kNoBlock) break;
    FUZZ_CHECK(block.start < end);
    if (block.kind == kPackageBlock) {
      FUZZ_CHECK(found && block.start == start && block.dataLength == package);
      walked = true;
      break;
    }
    FUZZ_CHECK(block.dataLength == 0);
    if (block.kind == kParameterBlock) {
      FUZZ_CHECK(end - block.start == kParameterBlockSize);
      char text[kTrailerTextSize];
      FUZZ_CHECK(TrailerParameterText(file + block.start, text, sizeof text));
      FUZZ_CHECK(strlen(text) < kTrailerTextSize);
    }
    end = block.start;
  }
  FUZZ_CHECK(walked == found);
  return 0;
}
