#include "tools/maker/signed_image.h"

#include <string.h>

#include "base/little_endian.h"
#include "package/signer_attribute.h"

namespace {

const unsigned char* Data(const std::string& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

uint32_t Read32(const std::string& bytes, uint32_t at) { return ReadLe32(Data(bytes) + at); }

void Write32(std::string* bytes, uint32_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

}  // namespace

uint32_t PeChecksum(const std::string& image, uint32_t checksumAt) {
  const unsigned char* data = Data(image);
  size_t size = image.size();
  // The field's own four bytes count as zero; an odd last byte is padded.
  auto byte = [&](size_t i) -> uint32_t { return i >= size || i - checksumAt < 4 ? 0 : data[i]; };
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    sum += byte(i) | byte(i + 1) << 8;
    sum = (sum & 0xffff) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(size);
}

void UpdatePeChecksum(std::string* image) {
  PeHeaderFields fields;
  if (!FindPeHeaderFields(Data(*image), static_cast<uint32_t>(image->size()), &fields)) return;
  Write32(image, fields.checksumAt, PeChecksum(*image, fields.checksumAt));
}

std::string MakeParameterBlock(const std::string& text) {
  // The text ends at position 258 with its zero at 259; position 0 stays zero.
  std::string block(260, '\0');
  block.replace(259 - text.size(), text.size(), text);
  return block + "Cookies";
}

bool ReadCertificateTable(const std::string& image, CertificateTable* table, std::string* error) {
  uint32_t size = static_cast<uint32_t>(image.size());
  if (!FindCertificateTable(Data(image), size, table)) {
    *error = "its certificate table does not end the file or is damaged";
    return false;
  }
  // The checkers refuse a table whose length field and directory size
  // differ, or that is not 8-byte aligned; so does the maker.
  if (Read32(image, table->start) != size - table->start || (size - table->start) % 8 != 0) {
    *error = "its certificate table holds more than one entry or is misaligned";
    return false;
  }
  return true;
}

bool StampedParameterBlock(const std::string& image, uint32_t* start) {
  BlockWalk walk(Data(image), static_cast<uint32_t>(image.size()));
  AppendedBlock first = walk.Next();
  *start = first.start;
  return first.kind == kParameterBlock && (walk.Place() == kAfterSignature || walk.Place() == kInSignature);
}

// Sets the table's length field and the directory size to what now follows
// its start, and the checksum.
static void FinishTable(std::string* image, uint32_t start) {
  uint32_t length = static_cast<uint32_t>(image->size()) - start;
  PeHeaderFields fields;
  FindPeHeaderFields(Data(*image), static_cast<uint32_t>(image->size()), &fields);
  Write32(image, start, length);
  Write32(image, fields.securityEntryAt + 4, length);
  UpdatePeChecksum(image);
}

namespace {

// A tag and a definite length in its shortest form.
std::string DerHeader(unsigned char tag, uint64_t length) {
  std::string bytes;
  for (uint64_t n = length; n > 0; n >>= 8) bytes.insert(bytes.begin(), static_cast<char>(n & 0xff));
  if (length < 0x80) bytes.assign(1, static_cast<char>(length));
  else bytes.insert(bytes.begin(), static_cast<char>(0x80 | bytes.size()));
  return std::string(1, static_cast<char>(tag)) + bytes;
}

std::string DerElementOf(unsigned char tag, const std::string& content) {
  return DerHeader(tag, content.size()) + content;
}

// Whether e is an attribute of the parameter type, read as far as its type.
bool IsParameterAttribute(const unsigned char* d, const DerElement& e) {
  DerElement type;
  return e.tag == 0x30 && ReadDerElement(d, e.content, e.end, &type) && type.tag == 0x06 &&
         type.end - type.content == kParameterAttributeTypeSize &&
         memcmp(d + type.content, kParameterAttributeType, kParameterAttributeTypeSize) == 0;
}

// Puts bytes in place of [from, to) of der, which lies inside each of
// chain[0..depth) (outermost first), and encodes those elements' lengths
// anew, innermost first: a header that grows moves only what follows it.
std::string ReplaceInside(std::string der, const DerElement* chain, int depth, uint32_t from, uint32_t to,
                          const std::string& bytes) {
  der.replace(from, to - from, bytes);
  int64_t grown = static_cast<int64_t>(bytes.size()) - (to - from);
  for (int i = depth - 1; i >= 0; --i) {
    const DerElement& e = chain[i];
    std::string header = DerHeader(e.tag, static_cast<uint64_t>(e.end - e.content + grown));
    der.replace(e.at, e.content - e.at, header);
    grown += static_cast<int64_t>(header.size()) - (e.content - e.at);
  }
  return der;
}

}  // namespace

bool StampInSignature(std::string* image, const CertificateTable& table, const std::string& block, bool* replaced,
                      std::string* error) {
  const uint32_t at = table.start + 8;
  std::string der = image->substr(at, table.signatureEnd - at);
  const unsigned char* d = Data(der);
  SignerPath path;
  if (!FindSignerPath(d, 0, static_cast<uint32_t>(der.size()), &path)) {
    *error = "its signature data holds no signer the maker can read";
    return false;
  }
  std::string attribute = DerElementOf(
      0x30, DerElementOf(0x06, std::string(reinterpret_cast<const char*>(kParameterAttributeType),
                                           kParameterAttributeTypeSize)) +
                DerElementOf(0x31, DerElementOf(0x04, block)));
  *replaced = false;
  if (path.depth == 6) {
    // Every attribute of the parameter type goes, whatever its value holds:
    // Setup reads the first, so a second, or one it cannot read beside the
    // new one, would hide the stamp. A SET OF keeps its elements in the
    // order of their encodings.
    const DerElement& attributes = path.chain[5];
    std::string kept;
    bool placed = false;
    DerElement e;
    for (uint32_t p = attributes.content; p < attributes.end; p = e.end) {
      if (!ReadDerElement(d, p, attributes.end, &e)) {
        *error = "its signer's unsigned attributes do not read";
        return false;
      }
      if (IsParameterAttribute(d, e)) {
        *replaced = true;
        continue;
      }
      if (!placed && der.compare(e.at, e.end - e.at, attribute) > 0) {
        kept += attribute;
        placed = true;
      }
      kept.append(der, e.at, e.end - e.at);
    }
    if (!placed) kept += attribute;
    der = ReplaceInside(der, path.chain, 6, attributes.content, attributes.end, kept);
  } else {
    der = ReplaceInside(der, path.chain, 5, path.chain[4].end, path.chain[4].end, DerElementOf(0xa1, attribute));
  }
  image->resize(at);
  *image += der;
  image->append((8 - (image->size() - table.start) % 8) % 8, '\0');
  FinishTable(image, table.start);
  return true;
}

void DropSignature(std::string* image) {
  uint32_t size = static_cast<uint32_t>(image->size());
  PeHeaderFields fields;
  if (!FindPeHeaderFields(Data(*image), size, &fields)) return;
  uint32_t start = Read32(*image, fields.securityEntryAt);
  uint32_t length = Read32(*image, fields.securityEntryAt + 4);
  Write32(image, fields.securityEntryAt, 0);
  Write32(image, fields.securityEntryAt + 4, 0);
  if (length != 0 && start <= size && size - start == length) {
    uint32_t end = start;
    for (int i = 0; i < 7 && end > 0 && (*image)[end - 1] == 0; ++i) --end;
    image->resize(BlockEndingAt(Data(*image), end).kind != kNoBlock ? end : start);
  }
  UpdatePeChecksum(image);
}
