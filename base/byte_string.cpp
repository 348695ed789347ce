#include "base/byte_string.h"

#include <stdint.h>
#include <string.h>

#include <new>

// A 32-bit byte count before the text, and two zeros after it. The
// program's own allocator: no system library is needed for a text.
static char* AllocateBytes(const char* data, size_t length) {
  if (length > 0x7ffffff0u) return nullptr;
  char* block = new (std::nothrow) char[sizeof(uint32_t) + length + 2];
  if (!block) return nullptr;
  uint32_t n = static_cast<uint32_t>(length);
  memcpy(block, &n, sizeof n);
  char* text = block + sizeof n;
  if (data) memcpy(text, data, length);
  text[length] = 0;
  text[length + 1] = 0;
  return text;
}
static void FreeBytes(char* buffer) { delete[] (buffer - sizeof(uint32_t)); }
static size_t BytesLength(const char* buffer) {
  uint32_t n;
  memcpy(&n, buffer - sizeof n, sizeof n);
  return n;
}

void ByteString::Assign(const char* text) { Assign(text ? text : "", text ? strlen(text) : 0); }

void ByteString::Assign(const char* data, size_t length) {
  char* fresh = AllocateBytes(data, length);
  if (fresh && !data) fresh[0] = 0;
  Release();
  buffer_ = fresh;
}

void ByteString::AssignJoined(const char* a, const char* b) {
  if (!a) a = "";
  if (!b) b = "";
  size_t la = strlen(a), lb = strlen(b);
  char* fresh = AllocateBytes(nullptr, la + lb);
  if (fresh) {
    memcpy(fresh, a, la);
    memcpy(fresh + la, b, lb);
    fresh[la + lb] = 0;
  }
  Release();
  buffer_ = fresh;
}

void ByteString::Release() {
  if (buffer_) FreeBytes(buffer_);
  buffer_ = nullptr;
}

size_t ByteString::Length() const { return buffer_ ? BytesLength(buffer_) : 0; }

void ByteString::CopyFrom(const ByteString& other) {
  if (!other.buffer_) {
    Release();
    return;
  }
  Assign(other.buffer_, other.Length());
}
