#pragma once
#include "base/byte_string.h"

// A small file read whole as text, up to its first zero byte. A missing,
// unreadable or empty file gives the empty text.
class FileText : public ByteString {
 public:
  explicit FileText(const char* path);
};
