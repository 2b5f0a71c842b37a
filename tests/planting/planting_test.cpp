#include <gtest/gtest.h>

#include "Driver.h"

namespace {

using e2e::CInstallerProcess;

const wchar_t kTitle[] = L"Pagewing Quillora Edition";
const DWORD kStartTimeoutMs = 30000;
const DWORD kExitTimeoutMs = 15000;
const DWORD kExitCodeMinusOne = 0xFFFFFFFF;

// This program runs with Wine told to prefer native DLLs of the names under test (see CMakeLists.txt): Wine
// reads that from the environment it starts with, so it cannot be set for a child process alone.
// Wine loads a DLL from the program's folder when told to prefer native DLLs, as Windows does for any DLL
// that is not a known DLL. A DLL planted there under the rich-edit library's name must not be loaded.
TEST(DllPlanting, ARichEditDllBesideTheProgramIsNotLoaded) {
  std::wstring folder = e2e::MakeTempFolder(L"planted");
  ASSERT_FALSE(folder.empty());
  std::wstring bin = e2e::ProgramFolder();
  ASSERT_TRUE(CopyFileW((bin + L"\\Installer.exe").c_str(), (folder + L"\\Installer.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((bin + L"\\planted_dll.dll").c_str(), (folder + L"\\RICHED20.DLL").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((bin + L"\\bare_name_loader.exe").c_str(), (folder + L"\\loader.exe").c_str(), FALSE));
  const std::wstring marker = folder + L"\\RICHED20.DLL.loaded";

  // The control: a default search from that folder does pick the planted DLL, so this test can fail.
  {
    CInstallerProcess loader;
    ASSERT_TRUE(loader.Start(folder + L"\\loader.exe", L"RICHED20.DLL"));
    DWORD exitCode = 1;
    ASSERT_TRUE(loader.WaitForExit(kExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
    ASSERT_TRUE(e2e::FileExists(marker)) << "the planted DLL was not picked up by a default search";
    ASSERT_TRUE(DeleteFileW(marker.c_str()));
  }

  CInstallerProcess installer;
  ASSERT_TRUE(installer.Start(folder + L"\\Installer.exe"));
  // The dialog only exists when the real rich-edit library registered its window class.
  ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, kStartTimeoutMs));
  installer.PostCommand(IDCANCEL);
  DWORD exitCode = 0;
  ASSERT_TRUE(installer.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(kExitCodeMinusOne, exitCode);
  EXPECT_FALSE(e2e::FileExists(marker)) << "Installer.exe loaded the planted RICHED20.DLL";
  e2e::RemoveFolder(folder);
}

}  // namespace
