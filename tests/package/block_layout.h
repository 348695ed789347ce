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

// A DER element with a definite length in its shortest form.
inline std::string Der(unsigned char tag, const std::string& content) {
  std::string length;
  for (size_t n = content.size(); n > 0; n >>= 8) length.insert(length.begin(), static_cast<char>(n & 0xff));
  if (content.size() < 0x80) length.assign(1, static_cast<char>(content.size()));
  else length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
  return std::string(1, static_cast<char>(tag)) + length + content;
}

// An attribute that a timestamp would add to the signer's unsigned ones.
inline std::string CountersignatureAttribute() {
  return Der(0x30, Der(0x06, "\x2a\x86\x48\x86\xf7\x0d\x01\x09\x06") + Der(0x31, Der(0x04, std::string(40, 'T'))));
}

// Signature data of the shape a signing tool writes: ContentInfo, [0]
// SignedData, one SignerInfo whose encrypted digest has digest bytes, and
// the given unsigned attributes. The outer length takes the short form up
// to 127 content bytes (digest 20), one byte (100), two (300).
inline std::string SignatureData(size_t digest, const std::string& unsigned_attributes = "") {
  std::string signer = Der(0x02, "\x01") + Der(0x30, "") + Der(0x30, "") + Der(0x30, "") +
                       Der(0x04, std::string(digest, 'S'));
  if (!unsigned_attributes.empty()) signer += Der(0xa1, unsigned_attributes);
  std::string content_type = Der(0x06, "\x2b\x06\x01\x04\x01\x82\x37\x02\x01\x04");
  std::string signed_data = Der(0x02, "\x01") + Der(0x31, "") + Der(0x30, content_type) + Der(0x31, Der(0x30, signer));
  return Der(0x30, Der(0x06, "\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02") + Der(0xa0, Der(0x30, signed_data)));
}

// The same with its outer length indefinite: 0x80, then end-of-content.
inline std::string Indefinite(const std::string& der) {
  size_t header = (der[1] & 0x80) ? 2 + (der[1] & 0x7f) : 2;
  return std::string("\x30\x80", 2) + der.substr(header) + std::string(2, '\0');
}

// What the signing tool does: zeros up to 8-byte alignment, then the table
// (length, revision 2.0, type PKCS#7, the signature data, zeros to 8).
inline void Sign(std::string& file, bool wide, const std::string& signature = SignatureData(300)) {
  file.append((8 - file.size() % 8) % 8, '\0');
  std::string table = Offset(0) + std::string("\x00\x02\x02\x00", 4) + signature;
  table.append((8 - table.size() % 8) % 8, '\0');
  Put32(table, 0, static_cast<uint32_t>(table.size()));
  Put32(file, SecurityEntryAt(wide), static_cast<uint32_t>(file.size()));
  Put32(file, SecurityEntryAt(wide) + 4, static_cast<uint32_t>(table.size()));
  file += table;
}

}  // namespace block_layout
