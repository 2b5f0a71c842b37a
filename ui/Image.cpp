#include "ui/Image.h"

#include <gdiplus.h>

#include <cstring>
#include <vector>

#include "support/File.h"
#include "support/Handle.h"
#include "support/SystemLibrary.h"

namespace {

using namespace Gdiplus;

// GDI+ from the system directory, started once on first use and kept for the process. The lock makes the
// start-up safe should a second thread ever load an image; everything else stays on the window's thread.
struct CGdiPlus {
  using StartupFn = Status(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, GdiplusStartupOutput*);
  using FromStreamFn = GpStatus(WINGDIPAPI*)(IStream*, GpBitmap**);
  using DisposeFn = GpStatus(WINGDIPAPI*)(GpImage*);
  using SizeFn = GpStatus(WINGDIPAPI*)(GpImage*, UINT*);
  using FormatFn = GpStatus(WINGDIPAPI*)(GpImage*, PixelFormat*);
  using LockFn = GpStatus(WINGDIPAPI*)(GpBitmap*, GDIPCONST GpRect*, UINT, PixelFormat, BitmapData*);
  using UnlockFn = GpStatus(WINGDIPAPI*)(GpBitmap*, BitmapData*);
  using PaletteSizeFn = GpStatus(WINGDIPAPI*)(GpImage*, INT*);
  using PaletteFn = GpStatus(WINGDIPAPI*)(GpImage*, ColorPalette*, INT);

  bool ready = false;
  FromStreamFn fromStream = nullptr;
  DisposeFn dispose = nullptr;
  SizeFn width = nullptr;
  SizeFn height = nullptr;
  FormatFn format = nullptr;
  LockFn lock = nullptr;
  UnlockFn unlock = nullptr;
  PaletteSizeFn paletteSize = nullptr;
  PaletteFn palette = nullptr;
};

CGdiPlus& GdiPlus() {
  static CRITICAL_SECTION lock = [] {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    return cs;
  }();
  static CGdiPlus gdiplus;
  static bool attempted = false;
  EnterCriticalSection(&lock);
  if (!attempted) {
    attempted = true;
    if (HMODULE module = SystemModule(L"gdiplus.dll")) {
      auto resolve = [module](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return fn != nullptr;
      };
      CGdiPlus::StartupFn startup = nullptr;
      ULONG_PTR token = 0;
      GdiplusStartupInput input;
      gdiplus.ready = resolve(startup, "GdiplusStartup") && resolve(gdiplus.fromStream, "GdipCreateBitmapFromStream") &&
                      resolve(gdiplus.dispose, "GdipDisposeImage") && resolve(gdiplus.width, "GdipGetImageWidth") &&
                      resolve(gdiplus.height, "GdipGetImageHeight") &&
                      resolve(gdiplus.format, "GdipGetImagePixelFormat") && resolve(gdiplus.lock, "GdipBitmapLockBits") &&
                      resolve(gdiplus.unlock, "GdipBitmapUnlockBits") &&
                      resolve(gdiplus.paletteSize, "GdipGetImagePaletteSize") &&
                      resolve(gdiplus.palette, "GdipGetImagePalette") && startup(&token, &input, nullptr) == Ok;
    }
  }
  LeaveCriticalSection(&lock);
  return gdiplus;
}

// The GDI depth and the GDI+ format the pixels are read in, per the decoding rule.
void ChooseFormat(PixelFormat source, int& bits, PixelFormat& read) {
  if (IsAlphaPixelFormat(source)) {
    bits = 32;
    read = PixelFormat32bppARGB;
    return;
  }
  switch (source) {
    case PixelFormat1bppIndexed: bits = 1; break;
    case PixelFormat4bppIndexed: bits = 4; break;
    case PixelFormat8bppIndexed: bits = 8; break;
    case PixelFormat16bppRGB555:
    case PixelFormat16bppRGB565: bits = 16; break;
    case PixelFormat24bppRGB: bits = 24; break;
    case PixelFormat32bppRGB: bits = 32; break;
    default:
      bits = 32;
      read = PixelFormat32bppRGB;
      return;
  }
  read = source;
}

}  // namespace

void CImage::Destroy() {
  ReleaseDC();
  if (bitmap) DeleteObject(bitmap);
  bitmap = nullptr;
  width = height = bitsPerPixel = 0;
}

int CImage::Load(IStream* stream) {
  Destroy();
  CGdiPlus& gdiplus = GdiPlus();
  if (!gdiplus.ready) return ERROR_DLL_INIT_FAILED;
  GpBitmap* decoded = nullptr;
  GpStatus status = gdiplus.fromStream(stream, &decoded);
  if (status != Ok) return status;
  struct Disposer {
    CGdiPlus& g;
    GpBitmap* b;
    ~Disposer() { g.dispose(b); }
  } disposer{gdiplus, decoded};

  UINT w = 0, h = 0;
  PixelFormat source = 0;
  if ((status = gdiplus.width(decoded, &w)) != Ok || (status = gdiplus.height(decoded, &h)) != Ok ||
      (status = gdiplus.format(decoded, &source)) != Ok) {
    return status;
  }
  if (w == 0 || h == 0 || w > 0x7FFF || h > 0x7FFF) return InvalidParameter;
  int bits = 0;
  PixelFormat read = 0;
  ChooseFormat(source, bits, read);

  // A BITMAPINFO with room for a 256-entry palette or three 16-bit masks.
  std::vector<BYTE> infoBytes(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  BITMAPINFO* info = reinterpret_cast<BITMAPINFO*>(infoBytes.data());
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = static_cast<LONG>(w);
  info->bmiHeader.biHeight = -static_cast<LONG>(h);  // top-down, as GDI+ hands out the rows
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = static_cast<WORD>(bits);
  info->bmiHeader.biCompression = BI_RGB;
  if (bits <= 8) {
    INT size = 0;
    if ((status = gdiplus.paletteSize(decoded, &size)) != Ok || size < static_cast<INT>(sizeof(ColorPalette))) return status ? status : InvalidParameter;
    std::vector<BYTE> paletteBytes(static_cast<size_t>(size));
    ColorPalette* palette = reinterpret_cast<ColorPalette*>(paletteBytes.data());
    if ((status = gdiplus.palette(decoded, palette, size)) != Ok) return status;
    if (palette->Count < 1 || palette->Count > 256) return InvalidParameter;
    for (UINT i = 0; i < palette->Count; ++i) {
      ARGB c = palette->Entries[i];
      info->bmiColors[i] = {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0};
    }
    info->bmiHeader.biClrUsed = palette->Count;
  } else if (read == PixelFormat16bppRGB565) {
    info->bmiHeader.biCompression = BI_BITFIELDS;
    DWORD* masks = reinterpret_cast<DWORD*>(info->bmiColors);
    masks[0] = 0xF800;
    masks[1] = 0x07E0;
    masks[2] = 0x001F;
  }

  void* bits0 = nullptr;
  HBITMAP made = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits0, nullptr, 0);
  if (!made) return static_cast<int>(GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY);
  GpRect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
  BitmapData data = {};
  if ((status = gdiplus.lock(decoded, &all, ImageLockModeRead, read, &data)) != Ok) {
    DeleteObject(made);
    return status;
  }
  const size_t stride = ((static_cast<size_t>(w) * bits + 31) / 32) * 4;
  const size_t rowBytes = (static_cast<size_t>(w) * bits + 7) / 8;
  for (UINT y = 0; y < h; ++y) {
    std::memcpy(static_cast<BYTE*>(bits0) + y * stride, static_cast<const BYTE*>(data.Scan0) + y * data.Stride,
                rowBytes);
  }
  gdiplus.unlock(decoded, &data);
  bitmap = made;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  bitsPerPixel = bits;
  return 0;
}

HDC CImage::GetDC() {
  if (!bitmap) return nullptr;
  if (!dc) {
    dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    previous = SelectObject(dc, bitmap);
  }
  return dc;
}

void CImage::ReleaseDC() {
  if (!dc) return;
  SelectObject(dc, previous);
  DeleteDC(dc);
  dc = nullptr;
  previous = nullptr;
}

bool CImage::Draw(HDC target, int x, int y) {
  HDC source = GetDC();
  bool ok = source && BitBlt(target, x, y, width, height, source, 0, 0, SRCCOPY);
  ReleaseDC();
  return ok;
}

bool LoadResourceData(const wchar_t* name, const void** data, DWORD* size, CModule& loaded) {
  loaded.Reset();
  std::wstring copy = std::wstring(name).substr(0, MAX_PATH - 1);
  HMODULE self = GetModuleHandleW(nullptr);
  HMODULE module = self;
  std::wstring part = copy;
  size_t slash = copy.rfind(L'/');
  if (slash != std::wstring::npos) {
    std::wstring file = copy.substr(0, slash);
    part = copy.substr(slash + 1);
    if (FileExists(file.c_str(), true)) {
      loaded.Reset(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
      if (loaded) module = loaded.Get();
    }
  }
  std::wstring resourceName = part;
  std::wstring resourceType;
  size_t dot = part.rfind(L'.');
  if (dot != std::wstring::npos) {
    resourceName = part.substr(0, dot);
    resourceType = part.substr(dot + 1);
  }
  auto find = [&](HMODULE in) -> bool {
    // Resource names and types are matched without regard to case by the loader itself.
    HRSRC found = FindResourceW(in, resourceName.c_str(), resourceType.empty() ? RT_HTML : resourceType.c_str());
    if (!found) return false;
    DWORD bytes = SizeofResource(in, found);
    const void* locked = LockResource(LoadResource(in, found));
    if (!locked || bytes == 0) return false;
    *data = locked;
    *size = bytes;
    return true;
  };
  if (find(module)) return true;
  // Found in the program itself, the data needs no other module.
  bool found = module != self && find(self);
  loaded.Reset();
  return found;
}

bool LoadNamedData(CBuffer& buffer, const wchar_t* name, bool allowFile) {
  if (allowFile) {
    wchar_t exe[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, length < MAX_PATH ? length : 0);
    if (PathRemoveLastComponent(path)) {
      path += L'\\';
      path += name;
      CMappedFile file;
      if (FileExists(path.c_str(), true) &&
          file.Open(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0) && file.GetSize() > 0 &&
          file.GetData() && buffer.Assign(file.GetData(), file.GetSize())) {
        return true;
      }
    }
  }
  const void* data = nullptr;
  DWORD size = 0;
  // Copied while the module that holds the bytes is loaded, which is released on return.
  CModule module;
  return LoadResourceData(name, &data, &size, module) && buffer.Assign(data, size);
}

bool LoadImageResource(CImage& image, const wchar_t* name, bool allowFile) {
  image.Destroy();
  CBufferStream* stream = new CBufferStream();
  bool ok = LoadNamedData(stream->Buffer(), name, allowFile) && image.Load(stream) == 0;
  stream->Release();
  return ok;
}
