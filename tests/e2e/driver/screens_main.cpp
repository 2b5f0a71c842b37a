// Photographs every page of the real Installer.exe, for the screenshot check (tests/e2e/screens.sh):
//   screens_driver <Installer.exe> <output folder> <server request log> [installer wait ms]
// Writes page0.bmp ... page5.bmp, focus-box.bmp and focus-start.bmp (the first page with the focus on the
// agreement box and on the start button, focus cues shown) and page0.json (the window's geometry and whether it is mirrored, the
// agreement group's rectangles as the picture shows them, where the agreement sentence ends and where each of
// its characters stands, the program's language and colours, and the characters of its texts that the dialog
// font cannot draw) into the output folder. The server must offer both
// products with slow downloads, so each download page lasts long enough to be photographed.
//
// The pages are recognised from outside, without help from the program: a download page by the request
// for its installer in the server's log, a setup page by the line the fixture installer writes when it
// starts, the last page by its launch button. After each picture the driver makes sure the page had not
// moved on while it was being taken. Exit code 0, and "ok" in result.txt in the output folder, when all six
// pictures were taken and the program ended.
#include <cstdio>
#include <string>

#include "Driver.h"

namespace {

const wchar_t kTitle[] = L"Pagewing Quillora Edition";
const int kAgreementText = 9000;
const int kLaunch = 9001;
const int kAgreementBox = 9002;
// A page repaints within one message-loop turn; this leaves room for a slow one.
const DWORD kSettleMs = 400;
const DWORD kPageTimeoutMs = 60000;

// Bytes appended to a file since offset; empty when it cannot be read.
std::string ReadFrom(const std::wstring& path, LONGLONG offset) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  LARGE_INTEGER size = {}, start = {};
  start.QuadPart = offset;
  if (GetFileSizeEx(file, &size) && size.QuadPart > offset &&
      SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    text.resize(static_cast<size_t>(size.QuadPart - offset));
    DWORD read = 0;
    if (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr)) read = 0;
    text.resize(read);
  }
  CloseHandle(file);
  return text;
}

LONGLONG FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WriteTextFile(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  return CloseHandle(file) && ok;
}

std::string JsonString(const std::wstring& text) {
  std::string out = "\"";
  char escaped[8];
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != L'"' && c != L'\\') {
      out += static_cast<char>(c);
    } else {
      snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    }
  }
  return out + "\"";
}

std::string JsonRect(const RECT& r) {
  return "[" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
         std::to_string(r.bottom) + "]";
}

// The client area's top left corner on the screen. A mirrored window's client coordinates run from its
// right edge, so they are no use for finding things in a picture.
POINT ClientOrigin(HWND window) {
  WINDOWINFO info = {};
  info.cbSize = sizeof(info);
  GetWindowInfo(window, &info);
  return {info.rcClient.left, info.rcClient.top};
}

// Where a control appears in the client area, in pixels from its left edge whether mirrored or not.
RECT PictureRectOf(HWND dialog, int id) {
  RECT r = {};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  POINT origin = ClientOrigin(dialog);
  OffsetRect(&r, -origin.x, -origin.y);
  return r;
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, id, text, 256);
  return text;
}

// Every text the window paints, as the program loads it in this language: its string table entries and the
// names it never translates.
std::wstring PaintedTexts(const std::wstring& installerPath) {
  std::wstring texts = L"Pagewing Quillora Edition Pagewing Manager";
  HMODULE program = LoadLibraryExW(installerPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!program) return texts;
  for (UINT id : {31061u, 31063u, 31064u, 31065u, 31066u, 31067u, 31068u}) {
    const wchar_t* text = nullptr;
    int length = LoadStringW(program, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length > 0 && text) texts += L" " + std::wstring(text, static_cast<size_t>(length));
  }
  FreeLibrary(program);
  return texts;
}

// The characters of `texts` that the dialog font of this locale cannot draw. A machine without a font for
// the language gives boxes instead of letters, which no colour check notices. Line feeds and the
// invisible joiners and direction marks are not drawn, so they need no glyph.
std::string MissingGlyphs(const std::wstring& texts, std::wstring& face) {
  HDC dc = GetDC(nullptr);
  LOGFONTW description = {};
  description.lfHeight = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
  description.lfCharSet = DEFAULT_CHARSET;
  wcscpy(description.lfFaceName, L"MS Shell Dlg 2");
  HFONT font = CreateFontIndirectW(&description);
  HGDIOBJ old = SelectObject(dc, font);
  wchar_t name[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, name);
  face = name;
  std::string missing;
  for (wchar_t c : texts) {
    if (c < L' ' || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E)) continue;
    WORD glyph = 0;
    if (GetGlyphIndicesW(dc, &c, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF) continue;
    char code[16];
    snprintf(code, sizeof(code), "U+%04X", static_cast<unsigned>(c));
    if (missing.find(code) == std::string::npos) missing += (missing.empty() ? "" : " ") + std::string(code);
  }
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return missing;
}

// Where the client area lies in a picture of the whole window, and the rectangles the check needs.
bool WriteGeometry(const e2e::CInstallerProcess& installer, const std::wstring& installerPath,
                   const std::wstring& path) {
  HWND window = installer.Window();
  RECT frame, client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  POINT origin = ClientOrigin(window);
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  std::string json = "{\n";
  json += "  \"client_origin\": [" + std::to_string(origin.x - frame.left) + ", " +
          std::to_string(origin.y - frame.top) + "],\n";
  json +=
      "  \"client_size\": [" + std::to_string(client.right) + ", " + std::to_string(client.bottom) + "],\n";
  json += "  \"ui_language\": " + std::to_string(GetUserDefaultUILanguage()) + ",\n";
  json += "  \"button_face\": [" + std::to_string(GetRValue(face)) + ", " + std::to_string(GetGValue(face)) +
          ", " + std::to_string(GetBValue(face)) + "],\n";
  std::wstring fontFace;
  std::string missing =
      MissingGlyphs(PaintedTexts(installerPath) + L" " + ControlText(window, IDOK), fontFace);
  json += "  \"font_face\": " + JsonString(fontFace) + ",\n";
  json += "  \"missing_glyphs\": \"" + missing + "\",\n";
  json += "  \"start_text\": " + JsonString(ControlText(window, IDOK)) + ",\n";
  json += std::string("  \"layout_rtl\": ") +
          ((GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) ? "true" : "false") + ",\n";
  json += "  \"start\": " + JsonRect(PictureRectOf(window, IDOK)) + ",\n";
  json += "  \"agreement_box\": " + JsonRect(PictureRectOf(window, kAgreementBox)) + ",\n";
  json += "  \"agreement_text\": " + JsonRect(PictureRectOf(window, kAgreementText)) + ",\n";
  // Where the sentence ends, from the rich edit itself: the edge of the control clips whatever lies past it,
  // and a clipped full stop or half a letter is easily missed in a picture.
  HWND text = GetDlgItem(window, kAgreementText);
  LRESULT length = SendMessageW(text, WM_GETTEXTLENGTH, 0, 0);
  LRESULT end = SendMessageW(text, EM_POSFROMCHAR, static_cast<WPARAM>(length), 0);
  RECT inner;
  GetClientRect(text, &inner);
  json += "  \"agreement_end\": " + std::to_string(static_cast<short>(LOWORD(end))) + ",\n";
  // Where each character of the sentence stands in the picture: its reading order shows in these.
  json += "  \"agreement_x\": [";
  for (LRESULT i = 0; i < length; ++i) {
    LRESULT at = SendMessageW(text, EM_POSFROMCHAR, static_cast<WPARAM>(i), 0);
    POINT p = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    MapWindowPoints(text, nullptr, &p, 1);
    json += (i ? ", " : "") + std::to_string(p.x - origin.x);
  }
  json += "],\n";
  json += "  \"agreement_client_width\": " + std::to_string(inner.right) + "\n}\n";
  return WriteTextFile(path, json);
}

class CPhotographer {
 public:
  CPhotographer(e2e::CInstallerProcess& installer, const std::wstring& folder)
      : installer(installer), folder(folder) {}

  // Waits until the page has come (or a message box says the run went wrong), lets it paint, photographs
  // it and checks that it was still showing afterwards.
  bool Take(int page, const std::function<bool()>& arrived, const std::function<bool()>& stillThere) {
    HWND box = nullptr;
    bool came = e2e::WaitFor([&] { return arrived() || (box = installer.WaitForMessageBox(0)) != nullptr; },
                             kPageTimeoutMs, 10);
    if (box) {
      fwprintf(stderr, L"page %d: the program says: %ls\n", page,
               e2e::CInstallerProcess::MessageBoxText(box).c_str());
      e2e::CInstallerProcess::AnswerMessageBox(box, IDOK);
      return false;
    }
    if (!came) {
      fwprintf(stderr, L"page %d never came\n", page);
      return false;
    }
    Sleep(kSettleMs);
    if (!installer.Screenshot(folder + L"\\page" + std::to_wstring(page) + L".bmp")) {
      fwprintf(stderr, L"page %d: the screenshot failed\n", page);
      return false;
    }
    if (!stillThere()) {
      fwprintf(stderr,
               L"page %d went by before its picture was taken: make the downloads or installers slower\n",
               page);
      return false;
    }
    return true;
  }

 private:
  e2e::CInstallerProcess& installer;
  std::wstring folder;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fwprintf(stderr, L"usage: screens_driver <Installer.exe> <folder> <server log> [installer wait ms]\n");
    return 2;
  }
  const std::wstring folder = argv[2], serverLog = argv[3];
  const std::wstring installerLog = folder + L"\\installers.log";
  DeleteFileW(installerLog.c_str());
  // Inherited by Installer.exe and through it by the fixture installers.
  SetEnvironmentVariableW(L"CORVANE_INSTALLER_LOG", installerLog.c_str());
  SetEnvironmentVariableW(L"CORVANE_INSTALLER_WAIT_MS", argc > 4 ? argv[4] : L"1500");
  // An earlier run installed the partner's program: without its entry both products are needed again.
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Wingquill.exe", KEY_WOW64_32KEY, 0);

  const LONGLONG logStart = FileSize(serverLog);
  auto requested = [&](const char* name) {
    return ReadFrom(serverLog, logStart).find(name) != std::string::npos;
  };
  auto installerStarted = [&](const char* name) {
    return ReadFrom(installerLog, 0).find(name) != std::string::npos;
  };

  e2e::CInstallerProcess installer;
  if (!installer.Start(argv[1]) || !installer.WaitForWindow(kTitle, 30000)) {
    fwprintf(stderr, L"the window did not appear\n");
    return 1;
  }
  CPhotographer camera(installer, folder);
  installer.Click(kAgreementBox);
  bool ok = camera.Take(
      0, [&] { return installer.IsEnabled(IDOK); }, [&] { return installer.IsVisible(IDOK); });
  ok = ok && WriteGeometry(installer, argv[1], folder + L"\\page0.json");
  // The focus cues, shown as once the keyboard is used: on the box (drawn around its sentence), then on
  // the start button.
  if (ok) {
    HWND window = installer.Window();
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    const struct {
      int id;
      const wchar_t* name;
    } focusShots[] = {{kAgreementBox, L"focus-box"}, {IDOK, L"focus-start"}};
    for (const auto& shot : focusShots) {
      SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(installer.Control(shot.id)), TRUE);
      Sleep(kSettleMs);
      if (installer.FocusedControl() != shot.id ||
          !installer.Screenshot(folder + L"\\" + shot.name + L".bmp")) {
        fwprintf(stderr, L"%ls: no picture with that focus\n", shot.name);
        ok = false;
      }
    }
  }
  if (ok) installer.PostCommand(IDOK);
  ok =
      ok && camera.Take(
                1, [&] { return requested("/QuilloraSetup.exe"); }, [&] { return !requested("/setup.exe"); });
  ok = ok && camera.Take(
                 2, [&] { return requested("/setup.exe"); }, [&] { return !installerStarted("QUILLORA|"); });
  ok = ok &&
       camera.Take(
           3, [&] { return installerStarted("QUILLORA|"); }, [&] { return !installerStarted("PAGEWING|"); });
  ok = ok &&
       camera.Take(
           4, [&] { return installerStarted("PAGEWING|"); }, [&] { return !installer.IsVisible(kLaunch); });
  ok = ok &&
       camera.Take(
           5, [&] { return installer.IsVisible(kLaunch); }, [&] { return installer.IsVisible(kLaunch); });

  // Windows Installer knows no Quillora under Wine: the launch button starts nothing and closes the window.
  installer.PostCommand(ok ? kLaunch : IDCANCEL);
  DWORD exitCode = 0;
  if (!installer.WaitForExit(15000, &exitCode)) {
    fwprintf(stderr, L"the program did not end\n");
    ok = false;
  }
  // Wine's desktop (explorer /desktop), which runs this driver, does not pass its exit code on.
  WriteTextFile(folder + L"\\result.txt", ok ? "ok\n" : "failed\n");
  return ok ? 0 : 1;
}
