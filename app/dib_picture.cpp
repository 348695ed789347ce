#include "app/dib_picture.h"

#include <string.h>

#include "base/diagnostic_log.h"
#include "base/unpack.h"

// The most a picture may unpack to.
static const DWORD kMaxUnpackedSize = 65536;

DibPicture::DibPicture(HINSTANCE instance, int resource_id)
    : data_(nullptr), bits_(nullptr), width_(0), height_(0), colours_(0), palette_(nullptr) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(resource_id), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
  const BYTE* resource = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (!resource) {
    LogPrint("Picture %d missing\n", resource_id);
    return;
  }
  Load(resource, SizeofResource(instance, found));
}

DibPicture::DibPicture(const void* packed, DWORD packed_size)
    : data_(nullptr), bits_(nullptr), width_(0), height_(0), colours_(0), palette_(nullptr) {
  Load(static_cast<const BYTE*>(packed), packed_size);
}

void DibPicture::Load(const BYTE* packed, DWORD packed_size) {
  DWORD size = 0;
  BYTE* data = UnpackBlock(packed, packed_size, sizeof(BITMAPINFOHEADER), kMaxUnpackedSize, &size);
  if (!data) {
    LogPrint("Picture malformed\n");
    return;
  }
  BITMAPINFOHEADER header;
  memcpy(&header, data, sizeof header);
  int colours = 0;
  if (header.biClrUsed) {
    colours = header.biClrUsed <= 256 ? static_cast<int>(header.biClrUsed) : -1;
  } else if (header.biBitCount <= 8) {
    colours = 1 << header.biBitCount;
  }
  // Only headers this program can draw: the table and some bits must lie
  // inside the bitmap, and the size must be sane.
  DWORD table_end = header.biSize + static_cast<DWORD>(colours) * sizeof(RGBQUAD);
  if (header.biSize < sizeof header || header.biSize > size || colours < 0 || table_end >= size ||
      header.biWidth <= 0 || header.biWidth > 4096 || header.biHeight == 0 || header.biHeight > 4096 ||
      header.biHeight < -4096) {
    LogPrint("Picture malformed\n");
    delete[] data;
    return;
  }
  // The key colour is replaced in this, the picture's own copy.
  data_ = data;
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

void DibPicture::Draw(HDC dc, int x, int y, UINT dpi) const {
  if (!data_) return;
  HPALETTE old = nullptr;
  if (palette_) {
    old = SelectPalette(dc, palette_, TRUE);
    RealizePalette(dc);
  }
  // Scaled with the halftone filter, which averages the source's pixels:
  // plain stretching would double some pixels and not others, and the
  // outline would come out jagged.
  int mode = SetStretchBltMode(dc, dpi == 96 ? COLORONCOLOR : HALFTONE);
  POINT origin;
  SetBrushOrgEx(dc, 0, 0, &origin);
  StretchDIBits(dc, x, y, MulDiv(width_, dpi, 96), MulDiv(height_, dpi, 96), 0, 0, width_, height_, bits_, Info(),
                DIB_RGB_COLORS, SRCCOPY);
  SetBrushOrgEx(dc, origin.x, origin.y, nullptr);
  SetStretchBltMode(dc, mode);
  if (old) SelectPalette(dc, old, TRUE);
}
