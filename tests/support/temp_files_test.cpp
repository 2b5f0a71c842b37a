#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

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

// When GetTempPathW has no answer, %TEMP%, then %TMP%, then none (an empty variable is no answer): never
// the root of a drive, where every user may create files.
TEST_F(TempFiles, WithoutTheSystemsAnswerTempThenTmpThenNone) {
  // GetTempPathW reads TMP first: too long for its buffer once it gets its backslash, it gives up. The one
  // of 258 characters is still short enough to read as a variable.
  const std::wstring longest = L"C:\\" + std::wstring(255, L'y');
  const std::wstring tooLong = L"C:\\" + std::wstring(300, L'z');
  struct Case {
    const char* name;
    const wchar_t* tmp;
    const wchar_t* temp;  // null: unset
    std::wstring expected;
  } cases[] = {
      {"TEMP first", longest.c_str(), folder.c_str(), folder + L"\\"},
      {"then TMP", longest.c_str(), nullptr, longest + L"\\"},
      {"an empty TEMP is no answer", longest.c_str(), L"", longest + L"\\"},
      {"then none", tooLong.c_str(), nullptr, L""},
  };
  for (const Case& c : cases) {
    SetEnvironmentVariableW(L"TMP", c.tmp);
    SetEnvironmentVariableW(L"TEMP", c.temp);
    EXPECT_EQ(c.expected, GetTempDirectory()) << c.name;
  }
  CTestProvider provider;
  EXPECT_EQ(L"", provider.MakeTempPath(L"setup.exe"));
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// Whom an object's access list names, and whether it is shut off from its parent's.
struct Access {
  bool isProtected = false;
  std::vector<std::wstring> allowed;  // SIDs of the allowing entries, in order
  size_t others = 0;                  // entries of any other kind
};

Access AccessOf(const std::wstring& path) {
  Access access;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return access;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  access.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
    if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE)
      access.allowed.push_back(SidText(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
    else
      ++access.others;
  }
  LocalFree(descriptor);
  return access;
}

std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = 0;
  std::wstring sid;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size))
    sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  CloseHandle(token);
  return sid;
}

// The private folder grants the user, SYSTEM and the administrators, and nobody who merely has rights on
// the shared temporary folder above it. Windows reads the list back as given; Wine keeps it as Unix
// permissions and reads back what they allow (the user, SYSTEM), still nobody else.
TEST_F(TempFiles, ThePrivateFolderGrantsOnlyTheUserSystemAndAdministrators) {
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  CTestProvider provider;
  provider.MakeTempPath(L"setup.exe");
  privateFolder = provider.Folder();
  const std::vector<std::wstring> expected = {CurrentUserSid(), L"S-1-5-18", L"S-1-5-32-544"};
  Access access = AccessOf(privateFolder);
  for (const std::wstring& sid : access.allowed)
    EXPECT_NE(expected.end(), std::find(expected.begin(), expected.end(), sid)) << std::string(sid.begin(), sid.end());
  EXPECT_NE(access.allowed.end(), std::find(access.allowed.begin(), access.allowed.end(), expected[0]));
  EXPECT_EQ(0u, access.others);
  if (access.allowed.size() == expected.size()) {
    EXPECT_EQ(expected, access.allowed);
    EXPECT_TRUE(access.isProtected) << "the folder inherits nothing";
  }
  provider.Cleanup();
  EXPECT_FALSE(FileExists(privateFolder.c_str(), false));
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
