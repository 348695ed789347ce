#pragma once
// Appended blocks as the maker writes them, for tests on any platform.
#include <stdint.h>

#include <string>

namespace block_layout {

inline std::string Offset(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return bytes;
}

// The compound file, "Bulk", its start, "Suffix".
inline void AppendPackage(std::string& file, const std::string& compound) {
  uint32_t start = static_cast<uint32_t>(file.size());
  file += compound + "Bulk" + Offset(start) + "Suffix";
}

// An unrelated block: body, its start, "Suffix".
inline void AppendOther(std::string& file, const std::string& body) {
  uint32_t start = static_cast<uint32_t>(file.size());
  file += body + Offset(start) + "Suffix";
}

// 267 bytes: the text ends at position 258, its zero at 259, then "Cookies".
inline std::string ParameterBlock(const std::string& text) {
  std::string block(260, '\0');
  block.replace(259 - text.size(), text.size(), text);
  return block + "Cookies";
}

inline void AppendParameters(std::string& file, const std::string& text) { file += ParameterBlock(text); }

inline void Put32(std::string& file, size_t at, uint32_t value) { file.replace(at, 4, Offset(value)); }

// A PE image of headers only (PE32, or PE32+ when wide) and body bytes.
const uint32_t kPeAt = 0x40;
inline uint32_t OptionalAt() { return kPeAt + 24; }
inline uint32_t SecurityEntryAt(bool wide) { return OptionalAt() + (wide ? 144 : 128); }

inline std::string PeImage(bool wide, size_t body) {
  uint32_t optionalSize = wide ? 240 : 224;
  std::string file(OptionalAt() + optionalSize, '\0');
  file.replace(0, 2, "MZ");
  Put32(file, 0x3c, kPeAt);
  file.replace(kPeAt, 4, std::string("PE\0\0", 4));
  file[kPeAt + 20] = static_cast<char>(optionalSize);
  file[OptionalAt()] = 0x0b;
  file[OptionalAt() + 1] = wide ? 2 : 1;
  Put32(file, OptionalAt() + (wide ? 108 : 92), 16);  // entries in the directory
  return file + std::string(body, 'x');
}

// What the signing tool does: zeros up to 8-byte alignment, then the table
// (length, revision 2.0, type PKCS#7, the DER signature data, zeros to 8).
// The DER length takes the long form from 128 content bytes on.
inline void Sign(std::string& file, bool wide, size_t content = 300) {
  file.append((8 - file.size() % 8) % 8, '\0');
  std::string der = "\x30";
  if (content < 128) {
    der += static_cast<char>(content);
  } else if (content < 256) {
    der += "\x81" + std::string(1, static_cast<char>(content));
  } else {
    der += "\x82" + std::string(1, static_cast<char>(content >> 8)) + std::string(1, static_cast<char>(content));
  }
  der += std::string(content, 'S');
  std::string table = Offset(0) + std::string("\x00\x02\x02\x00", 4) + der;
  table.append((8 - table.size() % 8) % 8, '\0');
  Put32(table, 0, static_cast<uint32_t>(table.size()));
  Put32(file, SecurityEntryAt(wide), static_cast<uint32_t>(file.size()));
  Put32(file, SecurityEntryAt(wide) + 4, static_cast<uint32_t>(table.size()));
  file += table;
}

}  // namespace block_layout
