// The walk over the blocks appended to the executable, on any file tail and
// on signed images whose certificate table comes from the input: the PE
// fields and the table lie inside the file, the walk ends, every block lies
// inside the file before the one met earlier, blocks inside the table lie
// past the signature, and what Setup takes from its file is what the walk met.
#include "base/little_endian.h"
#include "install/parameter_merge.h"
#include "package/appended_blocks.h"
#include "fuzz_input.h"

namespace {

void CheckWalk(const unsigned char* file, uint32_t size) {
  PeHeaderFields fields;
  if (FindPeHeaderFields(file, size, &fields)) {
    FUZZ_CHECK(file[0] == 'M' && file[1] == 'Z');
    FUZZ_CHECK(fields.checksumAt <= size - 4 && fields.securityEntryAt <= size - 8);
  }
  CertificateTable table;
  bool is_signed = FindCertificateTable(file, size, &table);
  if (is_signed) {
    FUZZ_CHECK(table.start < size && table.start + 10 <= table.signatureEnd && table.signatureEnd <= size);
    FUZZ_CHECK(file[table.start + 8] == 0x30);
  }

  BlockWalk walk(file, size);
  FUZZ_CHECK(!is_signed || walk.Signed());
  // A file that claims a signature: nothing at or after the table's start
  // unless the signature's end is known.
  uint32_t claimed = size;
  if (walk.Signed() && !is_signed) {
    claimed = ReadLe32(file + fields.securityEntryAt);
    FUZZ_CHECK(walk.TableUnread());
  }
  SetupBlocks expected = {};
  uint32_t end = size;
  bool first = true, done = false;
  for (uint32_t steps = 0; steps <= size + 1 && !done; ++steps, first = false) {
    AppendedBlock block = walk.Next();
    if (block.kind == kNoBlock) break;
    // Each block lies inside the file and before the one met earlier.
    FUZZ_CHECK(block.start < end && walk.End() == block.start);
    end = block.start;
    bool in_table = walk.Place() == kAfterSignature;
    FUZZ_CHECK(!in_table || (is_signed && block.start >= table.signatureEnd));
    // The signer's attribute lies inside the signature data.
    FUZZ_CHECK(walk.Place() != kInSignature ||
               (is_signed && block.start > table.start + 8 && block.start + kParameterBlockSize <= table.signatureEnd));
    FUZZ_CHECK(walk.Place() >= kAfterSignature || !is_signed || block.start < table.start);
    FUZZ_CHECK(block.start < claimed);
    switch (block.kind) {
      case kParameterBlock: {
        FUZZ_CHECK(block.start <= size - kParameterBlockSize && block.dataLength == 0);
        FUZZ_CHECK(memcmp(file + block.start + kParameterBlockSize - 7, "Cookies", 7) == 0);
        char text[kTrailerTextSize];
        FUZZ_CHECK(TrailerParameterText(file + block.start, text, sizeof text) && strlen(text) < kTrailerTextSize);
        if (first) {
          expected.hasParameters = true;
          expected.parameters = block.start;
        }
        break;
      }
      case kPackageBlock:
        FUZZ_CHECK(block.dataLength <= size - block.start && size - block.start - block.dataLength >= 14);
        FUZZ_CHECK(memcmp(file + block.start + block.dataLength, "Bulk", 4) == 0);
        if (in_table) {
          expected.packageIgnored = true;
        } else {
          expected.hasPackage = true;
          expected.packageStart = block.start;
          expected.packageLength = block.dataLength;
          done = true;
        }
        break;
      default:
        FUZZ_CHECK(block.dataLength == 0);
        break;
    }
  }
  FUZZ_CHECK(done || walk.Next().kind == kNoBlock);

  SetupBlocks found = FindSetupBlocks(file, size);
  FUZZ_CHECK(found.hasParameters == expected.hasParameters && found.parameters == expected.parameters);
  FUZZ_CHECK(found.hasPackage == expected.hasPackage && found.packageStart == expected.packageStart &&
             found.packageLength == expected.packageLength && found.packageIgnored == expected.packageIgnored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned mode = in.Byte();
  size_t got;
  const unsigned char* rest = in.Bytes(in.Left(), &got);
  std::string bytes(reinterpret_cast<const char*>(rest), got);
  if (mode & 1) bytes = SignedImage(bytes, mode & 2);
  // An exact copy: a read past the file's end is caught.
  std::unique_ptr<unsigned char[]> file(new unsigned char[bytes.size() ? bytes.size() : 1]);
  memcpy(file.get(), bytes.data(), bytes.size());
  CheckWalk(file.get(), static_cast<uint32_t>(bytes.size()));
  return 0;
}
