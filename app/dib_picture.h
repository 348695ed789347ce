#pragma once
#include <windows.h>

// A device-independent bitmap resource, unpacked so that its colour table can
// take the button-face colour in place of the key colour RGB(0,128,128), and
// the logical palette made from that table. The resource (RCDATA) holds the
// bitmap's unpacked size as a 4-byte little-endian number, then the bitmap
// without its file header, LZNT1-compressed.
class DibPicture {
 public:
  DibPicture(HINSTANCE instance, int resource_id);
  // The same from the resource's bytes.
  DibPicture(const void* packed, DWORD packed_size);
  ~DibPicture();
  DibPicture(const DibPicture&) = delete;
  DibPicture& operator=(const DibPicture&) = delete;

  // False when the resource is missing, does not unpack to exactly its
  // declared size or holds no bitmap this class draws; Draw then draws nothing.
  bool IsValid() const { return data_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  HPALETTE Palette() const { return palette_; }
  const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(data_); }
  int ColourCount() const { return colours_; }

  // Draws the picture at x,y, scaled to dpi (96 draws it pixel for pixel).
  void Draw(HDC dc, int x, int y, UINT dpi = 96) const;

 private:
  void Load(const BYTE* packed, DWORD packed_size);
  void BuildPalette();

  BYTE* data_;  // header, colour table, bits
  const BYTE* bits_;
  int width_;
  int height_;
  int colours_;
  HPALETTE palette_;
};
