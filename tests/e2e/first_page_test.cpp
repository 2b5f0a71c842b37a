#include <gtest/gtest.h>

#include <oleacc.h>

#include "Driver.h"
#include "LocalServer.h"

namespace {

using e2e::CInstallerProcess;

const wchar_t kTitle[] = L"Pagewing Quillora Edition";
const DWORD kStartTimeoutMs = 30000;
const DWORD kExitTimeoutMs = 15000;
const DWORD kExitCodeMinusOne = 0xFFFFFFFF;

std::wstring InstallerPath() { return e2e::ProgramFolder() + L"\\Installer.exe"; }

TEST(FirstPage, StartButtonFollowsTheAgreementBox) {
  CInstallerProcess installer;
  ASSERT_TRUE(installer.Start(InstallerPath()));
  ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, kStartTimeoutMs));

  // The welcome page shows the agreement group and the start button, nothing of the later pages.
  struct Visibility {
    int id;
    bool visible;
  } controls[] = {{IDOK, true}, {9002, true}, {9000, true}, {9001, false}, {9100, false}};
  for (const Visibility& c : controls) EXPECT_EQ(c.visible, installer.IsVisible(c.id)) << "control " << c.id;

  // Screen readers: the box is named with the sentence beside it, and the window answers for its painted
  // texts (Wine cannot carry the answer to this process, but it must be there).
  wchar_t box[256] = {}, sentence[256] = {};
  GetWindowTextW(installer.Control(9002), box, 256);
  // From another process GetWindowTextW reads only a caption; the rich edit keeps its text itself.
  SendMessageW(installer.Control(9000), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(sentence));
  EXPECT_STREQ(L"I agree to the Quillora Terms of Service and the Pagewing Terms of Use.", box);
  EXPECT_STREQ(sentence, box);
  EXPECT_GT(SendMessageW(installer.Window(), WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT)), 0);

  EXPECT_FALSE(installer.IsChecked(9002));
  EXPECT_FALSE(installer.IsEnabled(IDOK));
  // A start command while the box is unchecked (any program can send one) fetches nothing.
  const size_t requests = local_server::Requests().size();
  installer.PostCommand(IDOK);
  Sleep(1500);
  EXPECT_EQ(requests, local_server::Requests().size());
  EXPECT_TRUE(installer.IsVisible(IDOK));
  installer.Click(9002);
  EXPECT_TRUE(installer.IsChecked(9002));
  EXPECT_TRUE(e2e::WaitFor([&] { return installer.IsEnabled(IDOK); }, 5000));
  installer.Click(9002);
  EXPECT_TRUE(e2e::WaitFor([&] { return !installer.IsEnabled(IDOK); }, 5000));
  installer.Click(9002);
  EXPECT_TRUE(e2e::WaitFor([&] { return installer.IsEnabled(IDOK); }, 5000));

  CreateDirectoryW((e2e::ProgramFolder() + L"\\..\\screenshots").c_str(), nullptr);
  EXPECT_TRUE(installer.Screenshot(e2e::ProgramFolder() + L"\\..\\screenshots\\page0-agreed.bmp"));

  installer.PostCommand(IDCANCEL);
  DWORD exitCode = 0;
  ASSERT_TRUE(installer.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(kExitCodeMinusOne, exitCode);
}

TEST(ExitCode, IsMinusOneWhateverTheCommandLineAndHowTheWindowCloses) {
  struct Case {
    const wchar_t* arguments;
    UINT closeMessage;  // WM_COMMAND IDCANCEL, WM_CLOSE (the close box) or WM_KEYDOWN (the Esc key itself)
  } cases[] = {
      {L"", WM_COMMAND},
      {L"/S /quiet --help", WM_COMMAND},
      {L"\"C:\\some path\\file.msi\" /PagewingSetup x", WM_CLOSE},
      {L"", WM_KEYDOWN},
  };
  for (const Case& c : cases) {
    CInstallerProcess installer;
    ASSERT_TRUE(installer.Start(InstallerPath(), c.arguments));
    ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, kStartTimeoutMs)) << c.arguments;
    if (c.closeMessage == WM_CLOSE) PostMessageW(installer.Window(), WM_CLOSE, 0, 0);
    else if (c.closeMessage == WM_KEYDOWN) installer.PressKey(VK_ESCAPE);
    else installer.PostCommand(IDCANCEL);
    DWORD exitCode = 0;
    ASSERT_TRUE(installer.WaitForExit(kExitTimeoutMs, &exitCode)) << c.arguments;
    EXPECT_EQ(kExitCodeMinusOne, exitCode) << c.arguments;
  }
}

// The run leaves its settings key and, when asked, one line with its running time.
TEST(ProcessTraces, SettingsKeyAndRunTime) {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Quillora\\Corvane");
  std::wstring folder = e2e::MakeTempFolder(L"profile");
  std::wstring profile = folder + L"\\run.txt";
  for (int run = 0; run < 2; ++run) {
    CInstallerProcess installer;
    ASSERT_TRUE(installer.Start(InstallerPath(), L"", L"BLOCKPROFILE=" + profile));
    ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, kStartTimeoutMs));
    installer.PostCommand(IDCANCEL);
    DWORD exitCode = 0;
    ASSERT_TRUE(installer.WaitForExit(kExitTimeoutMs, &exitCode));
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Quillora\\Corvane\\WindowPlacement", 0,
                                         KEY_READ, &key));
  DWORD values = 99;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  EXPECT_EQ(0u, values);  // a clean profile gets the keys, never a value

  FILE* file = _wfopen(profile.c_str(), L"rt");
  ASSERT_NE(nullptr, file);
  char line[128];
  int lines = 0;
  while (fgets(line, sizeof(line), file)) {
    double seconds = -1;
    EXPECT_EQ(1, sscanf(line, "%lf sec", &seconds)) << line;
    EXPECT_GT(seconds, 0.0);
    ++lines;
  }
  fclose(file);
  EXPECT_EQ(2, lines);  // one per run, appended
  e2e::RemoveFolder(folder);
}

}  // namespace
