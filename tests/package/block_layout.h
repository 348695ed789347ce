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

}  // namespace block_layout
