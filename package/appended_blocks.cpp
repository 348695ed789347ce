#include "package/appended_blocks.h"

#include <string.h>

#include "base/little_endian.h"
#include "package/signer_attribute.h"

static bool EndsWith(const unsigned char* data, uint32_t end, const char* marker, uint32_t length) {
  return end >= length && memcmp(data + end - length, marker, length) == 0;
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
  uint32_t offset = ReadLe32(data + end - 10);
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
  uint32_t pe = ReadLe32(data + 0x3c);
  if (pe > size - 26 || ReadLe32(data + pe) != 0x4550) return false;  // "PE\0\0"
  const unsigned char* optional = data + pe + 24;
  uint32_t optionalSize = ReadLe16(data + pe + 20);
  uint32_t magic = ReadLe16(optional);
  // The security entry is the fifth directory; the count of entries
  // comes just before the first.
  uint32_t entry = magic == 0x10b ? 128 : magic == 0x20b ? 144 : 0;
  if (entry == 0 || entry + 8 > optionalSize || entry + 8 > size - pe - 24 || ReadLe32(optional + entry - 36) < 5)
    return false;
  fields->checksumAt = pe + 24 + 64;
  fields->securityEntryAt = pe + 24 + entry;
  return true;
}

bool FindCertificateTable(const unsigned char* data, uint32_t size, CertificateTable* table) {
  PeHeaderFields fields;
  if (!FindPeHeaderFields(data, size, &fields)) return false;
  uint32_t start = ReadLe32(data + fields.securityEntryAt);
  uint32_t length = ReadLe32(data + fields.securityEntryAt + 4);
  // It ends the file and holds its header and a definite DER sequence.
  DerElement signature;
  if (length < 10 || start > size || size - start != length || !ReadDerElement(data, start + 8, size, &signature) ||
      signature.tag != 0x30)
    return false;
  table->start = start;
  table->signatureEnd = signature.end;
  return true;
}

BlockWalk::BlockWalk(const unsigned char* data, uint32_t size)
    : data_(data), end_(size), floor_(0), table_{0, 0}, signed_(false), place_(kAppended) {
  PeHeaderFields fields;
  if (!FindPeHeaderFields(data, size, &fields)) return;
  uint32_t start = ReadLe32(data + fields.securityEntryAt);
  signed_ = start != 0 || ReadLe32(data + fields.securityEntryAt + 4) != 0;
  if (!signed_) return;
  if (FindCertificateTable(data, size, &table_)) {
    floor_ = table_.signatureEnd;
    place_ = kAfterSignature;
  } else {
    // Where the signature ends is unknown: whatever follows the table's
    // start could be anything, so the walk begins before it. A table
    // claimed past the end leaves nothing known to be covered.
    table_ = {start <= size ? start : 0, 0};
    end_ = table_.start;
    place_ = kCovered;
  }
}

AppendedBlock BlockWalk::Next() {
  for (;;) {
    if (place_ == kInSignature) {
      place_ = kCovered;
      end_ = table_.start;
    }
    // The signing tool aligns the table and the maker aligns what it puts
    // into it, with up to 7 zeros; no marker ends in a zero byte.
    for (int i = 0; signed_ && i < 7 && end_ > 0 && data_[end_ - 1] == 0; ++i) --end_;
    AppendedBlock block = BlockEndingAt(data_, end_);
    // Each step moves strictly backwards (start < end), so the walk ends.
    if (block.kind != kNoBlock && block.start >= floor_) {
      end_ = block.start;
      return block;
    }
    if (place_ != kAfterSignature) return {kNoBlock, 0, 0};
    // Out of the table's tail: the signer's own block, then on before it.
    floor_ = 0;
    uint32_t at = 0;
    place_ = kCovered;
    end_ = table_.start;
    if (FindSignedParameterBlock(data_, table_.start + 8, table_.signatureEnd, &at) &&
        BlockEndingAt(data_, at + kParameterBlockSize).kind == kParameterBlock) {
      place_ = kInSignature;
      end_ = at;
      return {kParameterBlock, at, 0};
    }
  }
}

SetupBlocks FindSetupBlocks(const unsigned char* data, uint32_t size) {
  SetupBlocks found = {};
  BlockWalk walk(data, size);
  found.tableUnread = walk.TableUnread();
  for (bool first = true;; first = false) {
    AppendedBlock block = walk.Next();
    if (first && block.kind == kParameterBlock) {
      found.hasParameters = true;
      found.parameters = block.start;
    }
    if (block.kind == kNoBlock) return found;
    if (block.kind != kPackageBlock) continue;
    if (walk.Place() == kAfterSignature) {
      found.packageIgnored = true;
      continue;
    }
    found.hasPackage = true;
    found.packageStart = block.start;
    found.packageLength = block.dataLength;
    return found;
  }
}
