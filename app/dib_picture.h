#pragma once
#include <windows.h>

// A device-independent bitmap resource, copied so that its colour table can
// take the button-face colour in place of the key colour RGB(0,128,128), and
// the logical palette made from that table.
class DibPicture {
 public:
  DibPicture(HINSTANCE instance, int resource_id);
  ~DibPicture();
  DibPicture(const DibPicture&) = delete;
  DibPicture& operator=(const DibPicture&) = delete;

  // False when the resource is missing or malformed; Draw then draws nothing.
  bool IsValid() const { return data_ != nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  HPALETTE Palette() const { return palette_; }
  const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(data_); }
  int ColourCount() const { return colours_; }

  void Draw(HDC dc, int x, int y) const;

 private:
  void BuildPalette();

  BYTE* data_;  // header, colour table, bits
  const BYTE* bits_;
  int width_;
  int height_;
  int colours_;
  HPALETTE palette_;
};
