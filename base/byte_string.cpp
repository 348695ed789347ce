#include "base/byte_string.h"

#include <string.h>

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>

static char* AllocateBytes(const char* data, size_t length) {
  if (length > 0x7ffffff0u) return nullptr;
  // Holds length bytes plus a terminating zero; the length prefix is the OLE one.
  return reinterpret_cast<char*>(SysAllocStringByteLen(data, static_cast<UINT>(length)));
}
static void FreeBytes(char* buffer) { SysFreeString(reinterpret_cast<BSTR>(buffer)); }
static size_t BytesLength(const char* buffer) {
  return SysStringByteLen(reinterpret_cast<BSTR>(const_cast<char*>(buffer)));
}
#else
#include <stdint.h>
#include <stdlib.h>

// Same shape as the OLE buffer: a 32-bit byte count before the text.
static char* AllocateBytes(const char* data, size_t length) {
  if (length > 0x7ffffff0u) return nullptr;
  char* block = static_cast<char*>(malloc(sizeof(uint32_t) + length + 2));
  if (!block) return nullptr;
  uint32_t n = static_cast<uint32_t>(length);
  memcpy(block, &n, sizeof n);
  char* text = block + sizeof n;
  if (data) memcpy(text, data, length);
  text[length] = 0;
  text[length + 1] = 0;
  return text;
}
static void FreeBytes(char* buffer) { free(buffer - sizeof(uint32_t)); }
static size_t BytesLength(const char* buffer) {
  uint32_t n;
  memcpy(&n, buffer - sizeof n, sizeof n);
  return n;
}
#endif

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
