// The window's artwork: PNG images from the program's resources (or from files of the same name beside the
// executable), decoded by GDI+ into GDI bitmaps that the painting code draws.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "support/Buffer.h"
#include "support/Handle.h"

// A decoded bitmap. Images with an alpha channel become 32-bit bitmaps of blue, green, red and straight
// (not premultiplied) alpha; formats that GDI holds directly (1/4/8-bit palette, 16/24/32-bit colour)
// keep their depth (a palette must have 1 to 256 entries); anything else becomes 32-bit without alpha.
class CImage {
 public:
  CImage() = default;
  CImage(const CImage&) = delete;
  CImage& operator=(const CImage&) = delete;
  ~CImage() { Destroy(); }

  bool IsNull() const { return bitmap == nullptr; }
  // 0 on success, else a GDI+ status or a Win32 error code.
  int Load(IStream* stream);
  void Destroy();

  int Width() const { return width; }
  int Height() const { return height; }
  int BitsPerPixel() const { return bitsPerPixel; }
  // A memory context with the bitmap selected; give it back with ReleaseDC. Null when there is no bitmap.
  HDC GetDC();
  void ReleaseDC();
  // Opaque copy at (x, y), at the image's own size.
  bool Draw(HDC target, int x, int y);

 private:
  HBITMAP bitmap = nullptr;
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;
};

// Resource "name.type" of the program (matched without regard to case; without a "." the type is RT_HTML),
// or "module/name.type" of another module file. The data belongs to the module: `module` receives the one
// loaded for a "module/name" lookup (empty otherwise) and must outlive every use of the data. False when
// missing or empty.
bool LoadResourceData(const wchar_t* name, const void** data, DWORD* size, CModule& module);
// The named bytes: a non-empty file of that name beside the executable when allowed, else the resource.
bool LoadNamedData(CBuffer& buffer, const wchar_t* name, bool allowFile);
// Decodes the named PNG into image; false leaves the image empty.
bool LoadImageResource(CImage& image, const wchar_t* name, bool allowFile);
