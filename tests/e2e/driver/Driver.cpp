#include "Driver.h"

#include <vector>

namespace e2e {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring MakeTempFolder(const wchar_t* prefix) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  for (unsigned attempt = 0;; ++attempt) {
    std::wstring folder = std::wstring(base) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount() + attempt);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  }
}

void RemoveFolder(const std::wstring& folder) {
  if (folder.empty()) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveFolder(path);
      else DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(intervalMs);
  }
}

CInstallerProcess::~CInstallerProcess() {
  if (!process) return;
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, 5000);
  }
  CloseHandle(process);
}

bool CInstallerProcess::Start(const std::wstring& exe, const std::wstring& arguments,
                              const std::wstring& environment) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
  mutableCommandLine.push_back(0);

  // The child's environment: ours, with the extra settings replacing variables of the same name.
  std::vector<wchar_t> block;
  if (!environment.empty()) {
    std::wstring extraName = environment.substr(0, environment.find(L'='));
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p; p += wcslen(p) + 1) {
      std::wstring entry = p;
      if (_wcsnicmp(entry.c_str(), (extraName + L"=").c_str(), extraName.size() + 1) == 0) continue;
      block.insert(block.end(), entry.begin(), entry.end());
      block.push_back(0);
    }
    FreeEnvironmentStringsW(strings);
    block.insert(block.end(), environment.begin(), environment.end());
    block.push_back(0);
    block.push_back(0);
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(exe.c_str(), mutableCommandLine.data(), nullptr, nullptr, FALSE,
                      block.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT, block.empty() ? nullptr : block.data(),
                      nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process = info.hProcess;
  processId = info.dwProcessId;
  return true;
}

namespace {

struct WindowSearch {
  DWORD processId;
  const wchar_t* title;  // null: any dialog-class window other than `except`
  HWND except;
  HWND found;
  int count = 0;
  bool all = false;  // count every match instead of stopping at the first
};

BOOL CALLBACK FindProcessWindow(HWND candidate, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(candidate, &owner);
  if (owner != search->processId || candidate == search->except || !IsWindowVisible(candidate)) return TRUE;
  if (search->title) {
    wchar_t text[256] = {};
    GetWindowTextW(candidate, text, 256);
    if (wcscmp(text, search->title) != 0) return TRUE;
  } else {
    wchar_t className[64] = {};
    GetClassNameW(candidate, className, 64);
    if (wcscmp(className, L"#32770") != 0) return TRUE;
  }
  search->found = candidate;
  ++search->count;
  return search->all;
}

}  // namespace

HWND CInstallerProcess::WaitForWindow(const wchar_t* title, DWORD timeoutMs) {
  WindowSearch search = {processId, title, nullptr, nullptr};
  WaitFor([&] {
    EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  }, timeoutMs);
  window = search.found;
  return window;
}

bool CInstallerProcess::IsChecked(int id) const {
  return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CInstallerProcess::Click(int id) { SendMessageW(Control(id), BM_CLICK, 0, 0); }

void CInstallerProcess::PostCommand(int id) {
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void CInstallerProcess::PressKey(WORD key, bool shift) {
  // Input goes to the foreground window: a program the last key started may still hold it.
  WaitFor([&] {
    SetForegroundWindow(window);
    return GetForegroundWindow() == window;
  }, 5000);
  INPUT inputs[4] = {};
  UINT count = 0;
  auto add = [&](WORD vk, DWORD flags) {
    inputs[count].type = INPUT_KEYBOARD;
    inputs[count].ki.wVk = vk;
    inputs[count].ki.dwFlags = flags;
    ++count;
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(count, inputs, sizeof(INPUT));
}

int CInstallerProcess::FocusedControl() const {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || !info.hwndFocus) return 0;
  return GetParent(info.hwndFocus) == window ? GetDlgCtrlID(info.hwndFocus) : 0;
}

HWND CInstallerProcess::WaitForMessageBox(DWORD timeoutMs) {
  WindowSearch search = {processId, nullptr, window, nullptr};
  WaitFor([&] {
    EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  }, timeoutMs);
  return search.found;
}

int CInstallerProcess::CountMessageBoxes() const {
  WindowSearch search = {processId, nullptr, window, nullptr};
  search.all = true;
  EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

std::wstring CInstallerProcess::MessageBoxText(HWND box) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  return text;
}

void CInstallerProcess::AnswerMessageBox(HWND box, int answer) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

bool CInstallerProcess::Screenshot(const std::wstring& bmpPath) const {
  RECT r;
  if (!window || !GetWindowRect(window, &r)) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;

  // Read from the screen, so the picture is what a person sees, not what the window would repaint.
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    DWORD stride = ((width * 3) + 3) & ~3u;
    DWORD imageSize = stride * height;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(header) + sizeof(info.bmiHeader);
    header.bfSize = header.bfOffBits + imageSize;
    HANDLE file = CreateFileW(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ok = WriteFile(file, &header, sizeof(header), &written, nullptr) && written == sizeof(header) &&
           WriteFile(file, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
           written == sizeof(info.bmiHeader) && WriteFile(file, bits, imageSize, &written, nullptr) &&
           written == imageSize;
      ok = CloseHandle(file) && ok;
    }
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool CInstallerProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process || WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process, exitCode) != FALSE;
}

}  // namespace e2e
