// Walks the real Installer.exe through a whole install the way a person would, for the demo on a screen
// nobody watches: agree, start, wait for the last page, photograph the first and the last page, close.
//   demo_driver <Installer.exe> <folder for screenshots>
// Exit code 0 when the last page was reached and the program ended with -1.
#include <cstdio>
#include <string>

#include "Driver.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring folder = argv[2];
  e2e::CInstallerProcess installer;
  if (!installer.Start(argv[1]) || !installer.WaitForWindow(L"Pagewing Quillora Edition", 30000)) {
    fwprintf(stderr, L"the window did not appear\n");
    return 1;
  }
  installer.Click(9002);
  e2e::WaitFor([&] { return installer.IsEnabled(IDOK); }, 5000);
  Sleep(500);
  installer.Screenshot(folder + L"\\demo-page0.bmp");
  installer.PostCommand(IDOK);
  // A message box means something went wrong: show what it says.
  bool done = e2e::WaitFor([&] { return installer.IsVisible(9001) || installer.WaitForMessageBox(0) != nullptr; },
                           180000);
  if (HWND box = installer.WaitForMessageBox(0)) {
    fwprintf(stderr, L"the program says: %ls\n", e2e::CInstallerProcess::MessageBoxText(box).c_str());
    e2e::CInstallerProcess::AnswerMessageBox(box, IDOK);
    return 1;
  }
  if (!done) {
    fwprintf(stderr, L"the last page did not come\n");
    return 1;
  }
  Sleep(500);
  installer.Screenshot(folder + L"\\demo-page5.bmp");
  installer.PostCommand(9001);
  DWORD exitCode = 0;
  return installer.WaitForExit(15000, &exitCode) && exitCode == 0xFFFFFFFF ? 0 : 1;
}
