#include "tools/maker/cabinet_writer.h"

namespace {

// Uncompressed bytes per data block: the format's upper bound.
const size_t kBlockSize = 32768;
const size_t kHeaderSize = 36;
const size_t kFolderSize = 8;
const size_t kFileHeaderSize = 16;
const size_t kDataHeaderSize = 8;
// Readers build target paths from entry names in 256-byte buffers.
const size_t kMaxNameLength = 255;

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>((value >> 8) & 0xff);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xffff);
  Put16(out, value >> 16);
}

// The format's checksum: little-endian words XORed, the 1 to 3 bytes left
// over taken with the first of them highest.
uint32_t Checksum(const unsigned char* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = size / 4;
  for (size_t i = 0; i < words; ++i, data += 4)
    sum ^= data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  uint32_t tail = 0;
  switch (size % 4) {
    case 3: tail |= static_cast<uint32_t>(*data++) << 16; [[fallthrough]];
    case 2: tail |= static_cast<uint32_t>(*data++) << 8; [[fallthrough]];
    case 1: tail |= *data; break;
    default: break;
  }
  return sum ^ tail;
}

}  // namespace

bool BuildStoredCabinet(const std::vector<CabinetEntry>& entries, std::string* result, std::string* error) {
  if (entries.empty() || entries.size() > 0xffff) {
    *error = "a cabinet holds 1 to 65535 files";
    return false;
  }
  uint64_t total = 0;
  size_t namesSize = 0;
  for (const CabinetEntry& entry : entries) {
    if (entry.name.empty() || entry.name.size() > kMaxNameLength || entry.name.find('\0') != std::string::npos) {
      *error = "cabinet entry name must have 1 to 255 characters: \"" + entry.name + "\"";
      return false;
    }
    total += entry.bytes.size();
    namesSize += kFileHeaderSize + entry.name.size() + 1;
  }
  // All files share one folder; its offsets and block count are bounded.
  uint64_t blocks = (total + kBlockSize - 1) / kBlockSize;
  if (total > 0x7fff8000u || blocks > 0xffff) {
    *error = "the files are too large for one cabinet folder";
    return false;
  }
  if (blocks == 0) blocks = 1;  // one empty block keeps every reader content

  const uint32_t filesAt = static_cast<uint32_t>(kHeaderSize + kFolderSize);
  const uint32_t dataAt = static_cast<uint32_t>(filesAt + namesSize);
  const uint64_t size = dataAt + blocks * kDataHeaderSize + total;
  if (size > 0xffffffffu) {
    *error = "the cabinet would be over 4 GiB";
    return false;
  }

  std::string out;
  out.reserve(static_cast<size_t>(size));
  out += "MSCF";
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(size));
  Put32(out, 0);
  Put32(out, filesAt);
  Put32(out, 0);
  out += static_cast<char>(3);  // format version 1.3
  out += static_cast<char>(1);
  Put16(out, 1);  // folders
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, 0);  // flags: no reserve, no previous or next cabinet
  Put16(out, 0);  // set id
  Put16(out, 0);  // index in the set

  Put32(out, dataAt);
  Put16(out, static_cast<uint32_t>(blocks));
  Put16(out, 0);  // no compression

  uint32_t offset = 0;
  for (const CabinetEntry& entry : entries) {
    Put32(out, static_cast<uint32_t>(entry.bytes.size()));
    Put32(out, offset);
    Put16(out, 0);  // folder 0
    Put16(out, entry.dosDate);
    Put16(out, entry.dosTime);
    Put16(out, 0x20);  // archive
    out += entry.name;
    out += '\0';
    offset += static_cast<uint32_t>(entry.bytes.size());
  }

  // The files' bytes run on from one to the next across block boundaries.
  std::string data;
  data.reserve(static_cast<size_t>(total));
  for (const CabinetEntry& entry : entries) data += entry.bytes;
  size_t at = 0;
  do {
    size_t n = data.size() - at < kBlockSize ? data.size() - at : kBlockSize;
    // Some readers check every block's sum, even where 0 would mean none.
    std::string sizes;
    Put16(sizes, static_cast<uint32_t>(n));
    Put16(sizes, static_cast<uint32_t>(n));
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data()) + at;
    uint32_t sum = Checksum(bytes, n, 0);
    sum = Checksum(reinterpret_cast<const unsigned char*>(sizes.data()), sizes.size(), sum);
    Put32(out, sum);
    out += sizes;
    out.append(data, at, n);
    at += n;
  } while (at < data.size());

  if (out.size() != size) {
    *error = "internal error: cabinet size";
    return false;
  }
  result->swap(out);
  return true;
}
