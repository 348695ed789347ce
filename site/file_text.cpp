#include "site/file_text.h"

#include <windows.h>
#include <string.h>

#include "base/file_utils.h"

FileText::FileText(const char* path) {
  Assign("");
  MappedFile file(path, true, 0);
  const char* bytes = static_cast<const char*>(file.View());
  if (!bytes) return;  // also an empty file: it cannot be mapped
  DWORD size = file.Size();
  const void* zero = memchr(bytes, 0, size);
  size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : size;
  Assign(bytes, length);
}
