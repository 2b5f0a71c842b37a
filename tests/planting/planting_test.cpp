#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Driver.h"
#include "LocalServer.h"
#include "SampleProducts.h"

namespace {

using e2e::CInstallerProcess;

const wchar_t kTitle[] = L"Pagewing Quillora Edition";
const DWORD kExitCodeMinusOne = 0xFFFFFFFF;

// Every DLL the program or the system on its behalf loads that is not a known DLL. This program runs with
// Wine told to prefer native DLLs of these names (see CMakeLists.txt), which makes Wine look beside the
// program first, as Windows does for any DLL that is not a known DLL. Wine reads that setting from the
// environment it starts with, so it cannot be set for a child process alone.
//
// version.dll is the one exception, and only under Wine: Wine's own user32.dll imports it, so every window
// program there loads a version.dll planted beside it before its first instruction runs (Windows' user32
// does not). The program itself loads version.dll like the others, from the system directory.
const wchar_t* const kPlanted[] = {L"RICHED20.DLL", L"wininet.dll", L"msi.dll",     L"wintrust.dll",
                                   L"crypt32.dll",  L"gdiplus.dll", L"msimg32.dll", L"comctl32.dll"};

class DllPlanting : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = e2e::MakeTempFolder(L"planted");
    ASSERT_FALSE(folder.empty());
    for (const wchar_t* dll : kPlanted) {
      ASSERT_TRUE(CopyFileW((bin + L"\\planted_dll.dll").c_str(), (folder + L"\\" + dll).c_str(), FALSE)) << dll;
    }
  }
  // The probe for ordinary imports needs a planted version.dll of its own.
  void PlantVersionDll() {
    ASSERT_TRUE(CopyFileW((bin + L"\\planted_dll.dll").c_str(), (folder + L"\\version.dll").c_str(), FALSE));
  }
  void TearDown() override { e2e::RemoveFolder(folder); }

  // The planted DLLs that something loaded (version.dll included when a test planted it).
  std::vector<std::wstring> Markers() const {
    std::vector<std::wstring> found;
    for (const wchar_t* dll : kPlanted) {
      if (e2e::FileExists(folder + L"\\" + dll + L".loaded")) found.push_back(dll);
    }
    if (e2e::FileExists(folder + L"\\version.dll.loaded")) found.push_back(L"version.dll");
    return found;
  }

  const std::wstring bin = e2e::ProgramFolder();
  std::wstring folder;
};

// The controls: a default search from that folder, and an ordinary import, do pick the planted DLLs, so
// the test below can fail.
TEST_F(DllPlanting, PlantedDllsAreFoundByDefaultSearchAndByImports) {
  struct Case {
    const wchar_t* program;
    const wchar_t* arguments;
    const wchar_t* expectedMarker;
  } cases[] = {
      {L"bare_name_loader.exe", L"RICHED20.DLL", L"RICHED20.DLL"},
      {L"static_import_probe.exe", L"", L"version.dll"},
  };
  PlantVersionDll();
  for (const Case& c : cases) {
    ASSERT_TRUE(CopyFileW((bin + L"\\" + c.program).c_str(), (folder + L"\\" + c.program).c_str(), FALSE));
    {
      // The planted DLL exports nothing, so the probe may crash once it is in: the marker is what counts.
      CInstallerProcess probe;
      ASSERT_TRUE(probe.Start(folder + L"\\" + c.program, c.arguments));
      EXPECT_TRUE(e2e::WaitFor([&] { return !Markers().empty(); }, 15000)) << c.program;
      EXPECT_EQ(std::vector<std::wstring>{c.expectedMarker}, Markers()) << c.program;
    }
    DeleteFileW((folder + L"\\" + c.expectedMarker + L".loaded").c_str());
  }
}

// The whole install, from the first page to the launch button, from a folder full of planted DLLs.
TEST_F(DllPlanting, TheWholeInstallLoadsNoneOfThem) {
  if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
  ASSERT_TRUE(local_server::PublishSampleProducts(bin + L"\\..\\installers\\signed"));
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Wingquill.exe",
                  KEY_WOW64_32KEY, 0);
  ASSERT_TRUE(CopyFileW((bin + L"\\Installer.exe").c_str(), (folder + L"\\Installer.exe").c_str(), FALSE));

  // The installers are written to and run from a temporary folder of their own, not the planted one.
  std::wstring temp = folder + L"\\temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  CInstallerProcess installer;
  ASSERT_TRUE(installer.Start(folder + L"\\Installer.exe", L"", L"TMP=" + temp));
  // The dialog only exists when the real rich-edit library registered its window class.
  ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
  installer.Click(9002);
  ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsEnabled(IDOK); }, 5000));
  installer.PostCommand(IDOK);
  ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsVisible(9001) || installer.WaitForMessageBox(0); }, 120000));
  ASSERT_EQ(nullptr, installer.WaitForMessageBox(0)) << "the install failed";
  installer.PostCommand(9001);
  DWORD exitCode = 0;
  ASSERT_TRUE(installer.WaitForExit(15000, &exitCode));
  EXPECT_EQ(kExitCodeMinusOne, exitCode);
  EXPECT_EQ(std::vector<std::wstring>{}, Markers()) << "Installer.exe loaded a planted DLL";
}

}  // namespace
