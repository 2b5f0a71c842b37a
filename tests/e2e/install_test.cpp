#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "Driver.h"
#include "LocalServer.h"
#include "SampleProducts.h"

namespace {

using e2e::CInstallerProcess;

const wchar_t kTitle[] = L"Pagewing Quillora Edition";

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The build tree's folder of signed installer fixtures, beside bin/.
std::wstring Installers() { return e2e::ProgramFolder() + L"\\..\\installers\\signed"; }

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Wingquill.exe");
    folder = e2e::MakeTempFolder(L"e2e-install");
    log = folder + L"\\installers.log";
    ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
  }
  void TearDown() override { e2e::RemoveFolder(folder); }

  // One run of the real program through to its last page; the pages it showed are read off its controls.
  void InstallToTheLastPage(const char* shotName) {
    CInstallerProcess installer;
    // The environment of the child: its own temporary folder and the fixture installers' log.
    std::wstring environment = L"TMP=" + folder;
    ASSERT_TRUE(installer.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"",
                                environment + std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOG=" + log));
    ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
    installer.Click(9002);
    ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsEnabled(IDOK); }, 5000));
    installer.PostCommand(IDOK);
    ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsVisible(9001); }, 120000)) << "the last page never came";
    EXPECT_FALSE(installer.IsVisible(IDOK));
    EXPECT_FALSE(installer.IsVisible(9100));
    CreateDirectoryW((e2e::ProgramFolder() + L"\\..\\screenshots").c_str(), nullptr);
    installer.Screenshot(e2e::ProgramFolder() + L"\\..\\screenshots\\" + std::wstring(shotName, shotName + strlen(shotName)));
    // Windows Installer knows no Quillora under Wine, so the launch button starts nothing and closes.
    installer.PostCommand(9001);
    DWORD exitCode = 0;
    ASSERT_TRUE(installer.WaitForExit(15000, &exitCode));
    EXPECT_EQ(0xFFFFFFFFu, exitCode);
    // Installers are deleted when the program ends.
    EXPECT_FALSE(e2e::FileExists(folder + L"\\QuilloraSetup.exe"));
    EXPECT_FALSE(e2e::FileExists(folder + L"\\setup.exe"));
  }

  std::wstring folder, log;
};

TEST_F(EndToEnd, BothProductsAreInstalledThenThePartnersIsDetected) {
  InstallToTheLastPage("page5-installed.bmp");
  EXPECT_EQ("QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n", ReadBytes(log));

  // The partner's installer registered its program: the next run installs only the main product.
  DeleteFileW(log.c_str());
  InstallToTheLastPage("page5-second-run.bmp");
  EXPECT_EQ("QUILLORA|/passive /suppressclient\n", ReadBytes(log));
}

}  // namespace
