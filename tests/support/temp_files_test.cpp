#include <gtest/gtest.h>

#include <string>

#include "support/File.h"
#include "support/TempFiles.h"

namespace {

// A provider whose cleanup a test can run without the at-exit queue.
class CTestProvider : public CTempFileProvider {
 public:
  using CTempFileProvider::Cleanup;
};

class TempFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t value[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TMP", value, MAX_PATH);
    savedTmp = length ? std::wstring(value, length) : L"";
    length = GetEnvironmentVariableW(L"TEMP", value, MAX_PATH);
    savedTemp = length ? std::wstring(value, length) : L"";
    GetTempPathW(MAX_PATH, value);
    folder = std::wstring(value) + L"corvane-temp-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    SetEnvironmentVariableW(L"TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
    RemoveDirectoryW((folder + L"\\sub").c_str());
    DeleteFileW((privateFolder + L"kept.exe").c_str());
    RemoveDirectoryW(privateFolder.c_str());
    DeleteFileW((folder + L"\\setup.exe").c_str());
    RemoveDirectoryW(folder.c_str());
  }
  static void Touch(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
  }
  std::wstring savedTmp, savedTemp, folder, privateFolder;
};

TEST_F(TempFiles, TheFolderEndsInOneBackslash) {
  for (const std::wstring& given : {folder, folder + L"\\"}) {
    // GetTempPathW looks at TMP first, then TEMP.
    SetEnvironmentVariableW(L"TMP", given.c_str());
    EXPECT_EQ(folder + L"\\", GetTempDirectory());
  }
}

TEST_F(TempFiles, RegisteredFilesGoAtCleanupButKeptOnesAndFoldersStay) {
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  Touch(folder + L"\\setup.exe");  // somebody else's, beside the private folder: never touched
  CTestProvider provider;
  std::wstring installer = provider.MakeTempPath(L"setup.exe");
  privateFolder = provider.Folder();
  ASSERT_EQ(0u, privateFolder.find(folder + L"\\Quillora-"));
  EXPECT_EQ(folder.size() + 1 + 9 + 16 + 1, privateFolder.size());
  EXPECT_EQ(privateFolder + L"setup.exe", installer);
  provider.Register(installer, false);  // twice: deleted once, the second attempt finds nothing
  std::wstring kept = provider.MakeTempPath(L"kept.exe", true);
  std::wstring directory = folder + L"\\sub";
  CreateDirectoryW(directory.c_str(), nullptr);
  provider.Register(directory, false);
  Touch(installer);
  Touch(kept);

  provider.Cleanup();
  EXPECT_FALSE(FileExists(installer.c_str(), false));
  EXPECT_TRUE(FileExists(kept.c_str(), true));
  EXPECT_TRUE(FileExists(directory.c_str(), false));
  EXPECT_TRUE(FileExists((folder + L"\\setup.exe").c_str(), true));
}

// Two runs at once each write their own files and each clean up only their own.
TEST_F(TempFiles, TwoRunsNeverShareAFile) {
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  CTestProvider first, second;
  std::wstring mine = first.MakeTempPath(L"setup.exe"), theirs = second.MakeTempPath(L"setup.exe");
  EXPECT_NE(mine, theirs);
  Touch(mine);
  Touch(theirs);
  first.Cleanup();
  EXPECT_FALSE(FileExists(first.Folder().c_str(), false));
  EXPECT_TRUE(FileExists(theirs.c_str(), true));
  second.Cleanup();
  EXPECT_FALSE(FileExists(second.Folder().c_str(), false));
}

TEST_F(TempFiles, TheControllerDeletesAtExitDrain) {
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  std::wstring installer = CTempFileController::Instance()->MakeTempPath(L"QuilloraSetup.exe");
  std::wstring privateFolder = CTempFileController::Instance()->Folder();
  Touch(installer);
  RunAtExitCalls();
  EXPECT_FALSE(FileExists(installer.c_str(), false));
  EXPECT_FALSE(FileExists(privateFolder.c_str(), false));
  EXPECT_EQ(nullptr, CTempFileController::Existing());
}

}  // namespace
