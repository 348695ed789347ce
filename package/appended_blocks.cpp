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

// Every bound below is checked as a difference from size, so a hostile
// offset cannot wrap around.
bool FindPeHeaderFields(const unsigned char* data, uint32_t size, PeHeaderFields* fields) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  uint32_t pe = ReadOffset(data + 0x3c);
  if (pe > size - 26 || ReadOffset(data + pe) != 0x4550) return false;  // "PE\0\0"
  const unsigned char* optional = data + pe + 24;
  uint32_t optionalSize = data[pe + 20] | data[pe + 21] << 8;
  uint32_t magic = optional[0] | optional[1] << 8;
  // The security entry is the fifth directory; the count of entries
  // comes just before the first.
  uint32_t entry = magic == 0x10b ? 128 : magic == 0x20b ? 144 : 0;
  if (entry == 0 || entry + 8 > optionalSize || entry + 8 > size - pe - 24 || ReadOffset(optional + entry - 36) < 5)
    return false;
  fields->checksumAt = pe + 24 + 64;
  fields->securityEntryAt = pe + 24 + entry;
  return true;
}

bool FindCertificateTable(const unsigned char* data, uint32_t size, CertificateTable* table) {
  PeHeaderFields fields;
  if (!FindPeHeaderFields(data, size, &fields)) return false;
  uint32_t start = ReadOffset(data + fields.securityEntryAt);
  uint32_t length = ReadOffset(data + fields.securityEntryAt + 4);
  // It ends the file and holds its header, a DER tag and a length byte.
  if (length < 10 || start > size || size - start != length) return false;
  const unsigned char* der = data + start + 8;
  if (der[0] != 0x30) return false;
  uint32_t header = 2;
  uint32_t content = der[1];
  if (content & 0x80) {
    uint32_t bytes = content & 0x7f;
    if (bytes == 0 || bytes > 4 || bytes > length - 10) return false;
    content = 0;
    for (uint32_t i = 0; i < bytes; ++i) content = content << 8 | der[2 + i];
    header += bytes;
  }
  if (content > length - 8 - header) return false;
  table->start = start;
  table->signatureEnd = start + 8 + header + content;
  return true;
}

BlockWalk::BlockWalk(const unsigned char* data, uint32_t size) : data_(data), end_(size), floor_(0) {
  signed_ = FindCertificateTable(data, size, &table_);
  if (signed_) floor_ = table_.signatureEnd;
}

AppendedBlock BlockWalk::Next() {
  for (;;) {
    // The signing tool aligns the table and the maker aligns what it puts
    // into it, with up to 7 zeros; no marker ends in a zero byte.
    for (int i = 0; signed_ && i < 7 && end_ > 0 && data_[end_ - 1] == 0; ++i) --end_;
    AppendedBlock block = BlockEndingAt(data_, end_);
    // Each step moves strictly backwards (start < end), so the walk ends.
    if (block.kind != kNoBlock && block.start >= floor_) {
      end_ = block.start;
      return block;
    }
    if (!InTable()) return {kNoBlock, 0, 0};
    // Out of the table: on before it.
    floor_ = 0;
    end_ = table_.start;
  }
}

SetupBlocks FindSetupBlocks(const unsigned char* data, uint32_t size) {
  SetupBlocks found = {};
  BlockWalk walk(data, size);
  for (bool first = true;; first = false) {
    AppendedBlock block = walk.Next();
    if (first && block.kind == kParameterBlock) {
      found.hasParameters = true;
      found.parameters = block.start;
    }
    if (block.kind == kNoBlock) return found;
    if (block.kind != kPackageBlock) continue;
    if (walk.InTable()) {
      found.packageIgnored = true;
      continue;
    }
    found.hasPackage = true;
    found.packageStart = block.start;
    found.packageLength = block.dataLength;
    return found;
  }
}
