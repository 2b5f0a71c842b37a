#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include <windows.h>
#include <psapi.h>

#include "ui/Image.h"
#include "ui/Layout.h"
#include "ui/Painting.h"

namespace {

std::wstring BinFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

// The source tree's PNG fixtures, reached from the build tree through the path CMake gives the tests.
std::string ReadFixture(const char* name) {
  std::ifstream in((std::string(CORVANE_PNG_FIXTURES) + "/" + name).c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Views of files whose name ends in `name` mapped into this process (modules loaded as data among them).
int MappedViewsOf(const std::wstring& name) {
  int count = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const BYTE* p = nullptr; VirtualQuery(p, &region, sizeof(region));
       p = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
    wchar_t file[MAX_PATH * 2];
    DWORD length = region.State == MEM_COMMIT && region.BaseAddress == region.AllocationBase
                       ? GetMappedFileNameW(GetCurrentProcess(), region.BaseAddress, file, MAX_PATH * 2)
                       : 0;
    std::wstring mapped(file, length);
    if (mapped.size() >= name.size() && mapped.compare(mapped.size() - name.size(), name.size(), name) == 0)
      ++count;
  }
  return count;
}

TEST(AgreementResize, WidensLeftWithinItsLimits) {
  // Client 660 wide, start button 560..650 (margin 10, so the limit is 550), check box 300..313.
  const RECT start = {560, 500, 650, 520};
  struct Case {
    const char* name;
    RECT text;
    int requested;
    RECT box;
    bool changes;
    int shift;
  } cases[] = {
      {"already wide enough", {320, 500, 520, 515}, 200, {300, 500, 313, 515}, false, 0},
      {"narrower request", {320, 500, 520, 515}, 150, {300, 500, 313, 515}, false, 0},
      {"one pixel more: half of it truncates to nothing", {320, 500, 520, 515}, 201, {300, 500, 313, 515}, false, 0},
      {"half the growth", {320, 500, 520, 515}, 220, {300, 500, 313, 515}, true, 10},
      {"stopped by the start button's margin", {320, 500, 520, 515}, 300, {300, 500, 313, 515}, true, 70},
      {"stopped by the left edge", {20, 500, 220, 515}, 700, {5, 500, 18, 515}, true, 5},
  };
  for (const Case& c : cases) {
    int shift = -1;
    EXPECT_EQ(c.changes, DecideAgreementResize(c.text, c.requested, c.box, start, 660, shift)) << c.name;
    if (c.changes) {
      EXPECT_EQ(c.shift, shift) << c.name;
    }
  }
}

// Pixels of a 32-bit memory bitmap, for blending tests.
struct CPixels {
  explicit CPixels(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bitmap);
  }
  ~CPixels() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  BYTE* bits = nullptr;
};

TEST(AlphaComposite, BlendsWithAShiftOfEight) {
  struct Case {
    BYTE source, alpha, destination, expected;
  } cases[] = {
      {200, 0, 255, 254},    // transparent: the destination, one level darker
      {255, 255, 10, 254},   // opaque: the source, one level darker
      {0, 255, 255, 0},
      {100, 128, 200, 149},  // (100 x 128 + 200 x 127) >> 8
      {0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CPixels source(1, 1), destination(1, 1);
    source.bits[0] = source.bits[1] = source.bits[2] = c.source;
    source.bits[3] = c.alpha;
    destination.bits[0] = destination.bits[1] = destination.bits[2] = c.destination;
    ASSERT_TRUE(AlphaComposite(destination.dc, 0, 0, 1, 1, source.dc, 0, 0, 1, 1));
    GdiFlush();
    for (int channel = 0; channel < 3; ++channel) {
      EXPECT_EQ(c.expected, destination.bits[channel]) << int(c.source) << "/" << int(c.alpha) << "/" << int(c.destination);
    }
  }
}

TEST(DrawLabel, ReadingOrderDecidesWhichEndTheFullStopsStandAt) {
  HFONT font = CreateFontW(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
  for (bool rightToLeft : {false, true}) {
    CPixels pixels(200, 30);
    SetTextColor(pixels.dc, RGB(255, 255, 255));
    SetBkMode(pixels.dc, TRANSPARENT);
    RECT r = {0, 0, 200, 30};
    ASSERT_TRUE(DrawLabel(pixels.dc, font, L"W....", true, false, 0, r, false, rightToLeft));
    GdiFlush();
    // Only the W reaches the upper rows; the dots sit on the base line.
    int leftmost = 200, leftmostTall = 200;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 200; ++x) {
        if (!pixels.bits[(y * 200 + x) * 4]) continue;
        leftmost = std::min(leftmost, x);
        if (y < 12) leftmostTall = std::min(leftmostTall, x);
      }
    }
    ASSERT_LT(leftmostTall, 200);
    EXPECT_EQ(rightToLeft, leftmostTall > leftmost + 5)
        << "read right to left, the sentence ends on the left";
  }
  DeleteObject(font);
}

TEST(Images, DecodingKeepsWhatGdiHoldsAndUnpremultipliesAlpha) {
  struct Case {
    const char* file;
    int bits;
    BYTE firstBlue, firstAlpha;  // of the first pixel (alpha only for 32-bit)
  } cases[] = {
      {"rgba.png", 32, 0, 128},    // red at half alpha: straight, so red stays 255 and blue 0
      {"rgb.png", 24, 0xA0, 0},
      {"palette.png", 8, 0, 0},
  };
  for (const Case& c : cases) {
    std::string bytes = ReadFixture(c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    CBufferStream* stream = new CBufferStream();
    stream->Buffer().Assign(bytes.data(), static_cast<uint32_t>(bytes.size()));
    CImage image;
    EXPECT_EQ(0, image.Load(stream)) << c.file;
    stream->Release();
    EXPECT_EQ(4, image.Width());
    EXPECT_EQ(3, image.Height());
    EXPECT_EQ(c.bits, image.BitsPerPixel()) << c.file;
    DIBSECTION dib = {};
    ASSERT_NE(0, GetObjectW(reinterpret_cast<HBITMAP>(GetCurrentObject(image.GetDC(), OBJ_BITMAP)), sizeof(dib), &dib));
    const BYTE* first = static_cast<const BYTE*>(dib.dsBm.bmBits);
    if (c.bits == 32) {
      EXPECT_EQ(255, first[2]);  // red, not premultiplied down to half
      EXPECT_NEAR(c.firstAlpha, first[3], 1) << c.file;
    } else if (c.bits == 24) {
      EXPECT_EQ(c.firstBlue, first[0]);
    }
    image.ReleaseDC();
  }
  CBufferStream* garbage = new CBufferStream();
  garbage->Buffer().Assign("not a picture", 13);
  CImage image;
  EXPECT_NE(0, image.Load(garbage));
  EXPECT_TRUE(image.IsNull());
  garbage->Release();
}

TEST(Images, AFileBesideTheProgramReplacesTheResourceUnlessItIsEmpty) {
  const std::wstring installer = BinFolder() + L"\\Installer.exe/Install_Check.png";
  const void* data = nullptr;
  DWORD size = 0;
  CModule module;
  ASSERT_TRUE(LoadResourceData(installer.c_str(), &data, &size, module));  // another module's, by "module/name"
  EXPECT_GT(size, 100u);
  EXPECT_TRUE(module);
  EXPECT_FALSE(LoadResourceData(L"No_Such_Image.png", &data, &size, module));
  EXPECT_FALSE(module);
  // Once the bytes are copied, the module loaded for them is gone again.
  int mapped = MappedViewsOf(L"Installer.exe");
  CBuffer copied;
  EXPECT_TRUE(LoadNamedData(copied, installer.c_str(), false));
  EXPECT_EQ(mapped, MappedViewsOf(L"Installer.exe"));

  const std::wstring beside = BinFolder() + L"\\Override_Test.png";
  std::string png = ReadFixture("rgb.png");
  struct Case {
    const char* name;
    std::string content;
    bool found;
  } cases[] = {{"a real file", png, true}, {"an empty file", "", false}};
  for (const Case& c : cases) {
    { std::ofstream(beside.c_str(), std::ios::binary) << c.content; }
    CBuffer buffer;
    EXPECT_EQ(c.found, LoadNamedData(buffer, L"Override_Test.png", true)) << c.name;
    EXPECT_FALSE(LoadNamedData(buffer, L"Override_Test.png", false)) << c.name;  // files not allowed
    CImage image;
    EXPECT_EQ(c.found, LoadImageResource(image, L"Override_Test.png", true)) << c.name;
  }
  DeleteFileW(beside.c_str());
}

}  // namespace
