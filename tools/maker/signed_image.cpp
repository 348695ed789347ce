#include "tools/maker/signed_image.h"

namespace {

const unsigned char* Data(const std::string& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

uint32_t Read32(const std::string& bytes, uint32_t at) {
  const unsigned char* p = Data(bytes) + at;
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

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
  return first.kind == kParameterBlock && walk.InTable();
}

uint32_t PlaceInCertificateTable(std::string* image, const CertificateTable& table, uint32_t keep,
                                 const std::string& block) {
  uint32_t pad = (8 - (keep - table.start + block.size()) % 8) % 8;
  image->resize(keep);
  image->append(pad, '\0');
  image->append(block);
  uint32_t length = static_cast<uint32_t>(image->size()) - table.start;
  PeHeaderFields fields;
  FindPeHeaderFields(Data(*image), static_cast<uint32_t>(image->size()), &fields);
  Write32(image, table.start, length);
  Write32(image, fields.securityEntryAt + 4, length);
  UpdatePeChecksum(image);
  return keep + pad;
}

void StampInCertificateTable(std::string* image, const CertificateTable& table, const std::string& block,
                             bool* replaced) {
  uint32_t start = 0;
  *replaced = StampedParameterBlock(*image, &start);
  PlaceInCertificateTable(image, table, *replaced ? start : static_cast<uint32_t>(image->size()), block);
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
