// Start-up time to the first painted frame: Installer.exe against a bare dialog program of the same size
// (BareDialog.exe), measured alternately in one run.
//   StartupBench <Installer.exe> <BareDialog.exe> [runs per program, default 10]
// A run starts the clock just before CreateProcessW and stops it when the program's dialog is visible and
// the screen shows its painted content at a client pixel: for the installer the green backdrop, for the
// bare dialog the button face. Polled every millisecond. The window is then closed with WM_CLOSE and the
// process waited for. Prints the median, minimum and maximum of each and the ratio of the medians.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const POINT kProbe = {4,
                      4};  // client pixel: backdrop without artwork in the installer, bare face in the other
const DWORD kTimeoutMs = 30000;

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (owner != search->processId || !IsWindowVisible(window) || wcscmp(name, L"#32770") != 0) return TRUE;
  search->found = window;
  return FALSE;
}

bool Green(COLORREF c) {
  return GetGValue(c) >= GetRValue(c) + 40 && GetGValue(c) >= GetBValue(c) + 40;
}

class CScreen {
 public:
  CScreen() : dc(GetDC(nullptr)) {}
  ~CScreen() { ReleaseDC(nullptr, dc); }
  COLORREF Pixel(POINT p) const { return GetPixel(dc, p.x, p.y); }

 private:
  HDC dc;
};

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One start of `program`; the milliseconds to its painted frame, or a negative value on failure.
double TimeToFirstFrame(const std::wstring& program, bool greenBackdrop, const CScreen& screen) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  auto painted = [&](COLORREF c) { return greenBackdrop ? Green(c) : c == face; };
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};

  const double start = Now();
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    fwprintf(stderr, L"cannot start %ls (%lu)\n", program.c_str(), GetLastError());
    return -1;
  }
  double elapsed = -1;
  Search search = {info.dwProcessId, nullptr};
  POINT probe = {};
  while (Now() - start < kTimeoutMs) {
    if (!search.found) {
      EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
      if (search.found) {
        probe = kProbe;
        ClientToScreen(search.found, &probe);
      }
    }
    if (search.found && painted(screen.Pixel(probe))) {
      elapsed = Now() - start;
      break;
    }
    Sleep(1);
  }
  if (elapsed < 0) fwprintf(stderr, L"%ls: no painted window within %lu ms\n", program.c_str(), kTimeoutMs);

  if (search.found) PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(info.hProcess, 10000) != WAIT_OBJECT_0) {
    fwprintf(stderr, L"%ls did not close; ended it\n", program.c_str());
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 5000);
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  // The next run must not see this one's pixels: wait until the screen behind has been restored.
  if (search.found) {
    const double closed = Now();
    while (painted(screen.Pixel(probe)) && Now() - closed < 3000) Sleep(1);
  }
  return elapsed;
}

struct Summary {
  double median, minimum, maximum;
};

Summary Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  size_t n = times.size();
  double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  return {median, times.front(), times.back()};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: StartupBench <Installer.exe> <BareDialog.exe> [runs]\n");
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 10;
  CScreen screen;
  // One start of each first, untimed: the first start of a program reads its files from disk.
  if (TimeToFirstFrame(argv[1], true, screen) < 0 || TimeToFirstFrame(argv[2], false, screen) < 0) return 1;
  std::vector<double> installer, bare;
  for (int i = 0; i < runs; ++i) {
    double a = TimeToFirstFrame(argv[1], true, screen);
    double b = TimeToFirstFrame(argv[2], false, screen);
    if (a < 0 || b < 0) return 1;
    installer.push_back(a);
    bare.push_back(b);
  }
  Summary ours = Summarise(installer), reference = Summarise(bare);
  printf("Installer.exe     median %7.1f ms  (min %.1f, max %.1f, %d runs)\n", ours.median, ours.minimum,
         ours.maximum, runs);
  printf("BareDialog.exe    median %7.1f ms  (min %.1f, max %.1f, %d runs)\n", reference.median,
         reference.minimum, reference.maximum, runs);
  printf("ratio Installer/bare      %.2f\n", ours.median / reference.median);
  return 0;
}
