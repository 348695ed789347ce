#include "base/unpack.h"

#include <string.h>

BYTE* UnpackBlock(const BYTE* packed, DWORD packed_size, DWORD min_size, DWORD max_size, DWORD* size) {
  *size = 0;
  DWORD declared;
  if (!packed || packed_size <= sizeof declared) return nullptr;
  memcpy(&declared, packed, sizeof declared);
  if (declared < min_size || declared > max_size) return nullptr;
  // ntdll is in every process; looked up, as the import libraries of older
  // systems lack the function.
  typedef LONG(WINAPI * Decompress)(USHORT, BYTE*, ULONG, const BYTE*, ULONG, ULONG*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  Decompress decompress =
      ntdll ? reinterpret_cast<Decompress>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDecompressBuffer")))
            : nullptr;
  if (!decompress) return nullptr;
  // One byte more than declared: a stream that is damaged or unpacks to any
  // other length than declared, longer included, is refused whole.
  BYTE* data = new BYTE[declared + 1];
  if (!data) return nullptr;
  ULONG unpacked = 0;
  if (decompress(2 /* COMPRESSION_FORMAT_LZNT1 */, data, declared + 1, packed + sizeof declared,
                 packed_size - sizeof declared, &unpacked) < 0 ||
      unpacked != declared) {
    delete[] data;
    return nullptr;
  }
  *size = declared;
  return data;
}
