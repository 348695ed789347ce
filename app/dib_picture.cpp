#include "app/dib_picture.h"

#include <string.h>

#include "base/diagnostic_log.h"

DibPicture::DibPicture(HINSTANCE instance, int resource_id)
    : data_(nullptr), bits_(nullptr), width_(0), height_(0), colours_(0), palette_(nullptr) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(resource_id), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
  const BYTE* resource = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  DWORD size = found ? SizeofResource(instance, found) : 0;
  if (!resource || size < sizeof(BITMAPINFOHEADER)) {
    LogPrint("Picture %d missing\r\n", resource_id);
    return;
  }
  BITMAPINFOHEADER header;
  memcpy(&header, resource, sizeof header);
  int colours = 0;
  if (header.biClrUsed) {
    colours = header.biClrUsed <= 256 ? static_cast<int>(header.biClrUsed) : -1;
  } else if (header.biBitCount <= 8) {
    colours = 1 << header.biBitCount;
  }
  // Only headers this program can draw: the table and some bits must lie
  // inside the resource, and the size must be sane.
  DWORD table_end = header.biSize + static_cast<DWORD>(colours) * sizeof(RGBQUAD);
  if (header.biSize < sizeof header || header.biSize > size || colours < 0 || table_end >= size ||
      header.biWidth <= 0 || header.biWidth > 4096 || header.biHeight == 0 || header.biHeight > 4096 ||
      header.biHeight < -4096) {
    LogPrint("Picture %d malformed\r\n", resource_id);
    return;
  }
  // A copy, since the key colour is replaced in the picture's own table.
  data_ = new BYTE[size];
  if (!data_) return;
  memcpy(data_, resource, size);
  // The platform reads biSizeImage bytes of compressed bits: keep it inside.
  BITMAPINFOHEADER* own = reinterpret_cast<BITMAPINFOHEADER*>(data_);
  if (own->biSizeImage > size - table_end) own->biSizeImage = size - table_end;
  bits_ = data_ + table_end;
  width_ = header.biWidth;
  height_ = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  colours_ = colours;
  BuildPalette();
}

DibPicture::~DibPicture() {
  if (palette_) DeleteObject(palette_);
  delete[] data_;
}

void DibPicture::BuildPalette() {
  if (!colours_) return;
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  RGBQUAD* table = reinterpret_cast<RGBQUAD*>(data_ + reinterpret_cast<BITMAPINFOHEADER*>(data_)->biSize);
  // LOGPALETTE with room for 256 entries, the most a colour table holds.
  struct {
    WORD version;
    WORD count;
    PALETTEENTRY entries[256];
  } palette;
  palette.version = 0x300;
  palette.count = static_cast<WORD>(colours_);
  for (int i = 0; i < colours_; ++i) {
    RGBQUAD& entry = table[i];
    if (entry.rgbRed == 0 && entry.rgbGreen == 128 && entry.rgbBlue == 128) {
      entry.rgbRed = GetRValue(face);
      entry.rgbGreen = GetGValue(face);
      entry.rgbBlue = GetBValue(face);
    }
    palette.entries[i].peRed = entry.rgbRed;
    palette.entries[i].peGreen = entry.rgbGreen;
    palette.entries[i].peBlue = entry.rgbBlue;
    palette.entries[i].peFlags = 0;
  }
  palette_ = CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette));
}

void DibPicture::Draw(HDC dc, int x, int y) const {
  if (!data_) return;
  HPALETTE old = nullptr;
  if (palette_) {
    old = SelectPalette(dc, palette_, TRUE);
    RealizePalette(dc);
  }
  SetDIBitsToDevice(dc, x, y, width_, height_, 0, 0, 0, height_, bits_, Info(), DIB_RGB_COLORS);
  if (old) SelectPalette(dc, old, TRUE);
}
