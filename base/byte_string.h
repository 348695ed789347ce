#pragma once
#include <stddef.h>

// A narrow text in an OLE byte-length buffer. Absent (no buffer) differs from
// present-and-empty: several transport decisions test presence, not length.
class ByteString {
 public:
  ByteString() : buffer_(nullptr) {}
  explicit ByteString(const char* text) : buffer_(nullptr) { Assign(text); }
  ByteString(const ByteString& other) : buffer_(nullptr) { CopyFrom(other); }
  ByteString& operator=(const ByteString& other) {
    if (this != &other) CopyFrom(other);
    return *this;
  }
  ~ByteString() { Release(); }

  // Stores a copy; no text stores the empty text (present). When memory runs
  // out the string is left absent.
  void Assign(const char* text);
  void Assign(const char* data, size_t length);
  // Stores a new buffer holding a followed by b.
  void AssignJoined(const char* a, const char* b);
  // Back to absent.
  void Release();

  bool IsPresent() const { return buffer_ != nullptr; }
  // The text, or the empty text when absent: then the null pointer's own
  // zero bytes, valid while the string lives and stays absent (a literal
  // would cost an address and its relocation at every inlined call).
  const char* Text() const { return buffer_ ? buffer_ : reinterpret_cast<const char*>(&buffer_); }
  size_t Length() const;
  bool IsEmpty() const { return Length() == 0; }

 private:
  void CopyFrom(const ByteString& other);
  char* buffer_;
};
