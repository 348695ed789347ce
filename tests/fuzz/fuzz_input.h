#pragma once
// What the harnesses share: the input cut into fields, exact-size buffers
// (so a byte read or written past the end is caught), and the check that
// keeps an input breaking a property.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                         \
    }                                                                                  \
  } while (0)

// A block of exactly cap bytes, filled with a mark the code under test must
// not rely on.
class FuzzBuffer {
 public:
  explicit FuzzBuffer(size_t cap) : cap_(cap), bytes_(new char[cap ? cap : 1]) { memset(bytes_.get(), 0x5a, cap); }
  char* get() { return bytes_.get(); }
  size_t cap() const { return cap_; }
  // The text is terminated inside the buffer.
  bool Terminated() const { return memchr(bytes_.get(), 0, cap_) != nullptr; }
  std::string Text() const { return bytes_.get(); }
  std::string Bytes() const { return std::string(bytes_.get(), cap_); }

 private:
  size_t cap_;
  std::unique_ptr<char[]> bytes_;
};

// The input read front to back: fixed bytes first, then texts that end at a
// zero byte. Past the end, bytes read as 0 and texts as empty.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size), at_(0) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Uint32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }
  uint64_t Uint64() { return Uint32() | static_cast<uint64_t>(Uint32()) << 32; }

  // The next text, in a block of its own exact size; valid as long as the input.
  const char* Text() {
    const uint8_t* start = data_ + at_;
    size_t n = 0;
    while (at_ + n < size_ && start[n] != 0) ++n;
    at_ += n + (at_ + n < size_ ? 1 : 0);
    return Keep(reinterpret_cast<const char*>(start), n);
  }
  // Up to n raw bytes (fewer at the end of the input), in an exact block.
  const unsigned char* Bytes(size_t n, size_t* got) {
    *got = n < size_ - at_ ? n : size_ - at_;
    const char* kept = Keep(reinterpret_cast<const char*>(data_ + at_), *got);
    at_ += *got;
    return reinterpret_cast<const unsigned char*>(kept);
  }
  size_t Left() const { return size_ - at_; }

 private:
  const char* Keep(const char* bytes, size_t n) {
    std::unique_ptr<char[]> block(new char[n + 1]);
    if (n) memcpy(block.get(), bytes, n);
    block[n] = 0;
    kept_.push_back(std::move(block));
    return kept_.back().get();
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_;
  std::vector<std::unique_ptr<char[]>> kept_;
};

// Base64 written another way than the product's (a bit accumulator), for
// the harnesses that compare against it.
inline std::string ReferenceBase64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (unsigned char c : bytes) {
    bits = (bits << 8 | c) & 0xffff;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += kAlphabet[(bits >> count) & 63];
    }
  }
  if (count) out += kAlphabet[(bits << (6 - count)) & 63];
  while (out.size() % 4) out += '=';
  return out;
}

inline void Put32(std::string& image, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>(v >> (8 * i));
}

// A PE32 or PE32+ header whose security entry names a table from 0x200 to
// the end of the file; the input is the table (8-byte header, DER, blocks).
inline std::string SignedImage(const std::string& table, bool wide) {
  std::string image(0x200, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3c, 0x40);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  uint32_t optional = 0x40 + 24, entry = wide ? 144 : 128;
  image[0x40 + 20] = static_cast<char>(wide ? 240 : 224);
  image[optional] = 0x0b;
  image[optional + 1] = wide ? 0x02 : 0x01;
  Put32(image, optional + entry - 36, 16);
  Put32(image, optional + entry, 0x200);
  Put32(image, optional + entry + 4, static_cast<uint32_t>(table.size()));
  return image + table;
}
