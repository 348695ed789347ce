#pragma once
#include <windows.h>

// A block the build's tools packed (the picture, the texts): its unpacked size
// (4 bytes, little-endian), then the LZNT1 data, unpacked with ntdll's
// RtlDecompressBuffer. A new buffer of that many bytes (size receives it), or
// null when the block declares less than min_size or more than max_size, is
// damaged, or unpacks to any other length.
BYTE* UnpackBlock(const BYTE* packed, DWORD packed_size, DWORD min_size, DWORD max_size, DWORD* size);
