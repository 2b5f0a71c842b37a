#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "LocalServer.h"
#include "ScriptedWindow.h"
#include "app/Shell.h"
#include "support/AtExit.h"

namespace {

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What another process of the same user could try on the verified installer: each attempt's last error, 0
// when it succeeded (a success is undone at once).
struct Attempts {
  DWORD write, rename, remove;
};

Attempts TryToChange(const std::wstring& path) {
  Attempts a = {};
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  a.write = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  std::wstring moved = path + L".moved";
  a.rename = MoveFileW(path.c_str(), moved.c_str()) ? 0 : GetLastError();
  if (!a.rename) MoveFileW(moved.c_str(), path.c_str());
  std::wstring copy = path + L".copy";
  CopyFileW(path.c_str(), copy.c_str(), FALSE);
  a.remove = DeleteFileW(path.c_str()) ? 0 : GetLastError();
  if (!a.remove) MoveFileW(copy.c_str(), path.c_str());
  DeleteFileW(copy.c_str());
  return a;
}

class InstallerHold : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
    wchar_t value[MAX_PATH];
    GetTempPathW(MAX_PATH, value);
    temp = std::wstring(value) + L"corvane-hold-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    DWORD length = GetEnvironmentVariableW(L"TMP", value, MAX_PATH);
    savedTmp = length ? std::wstring(value, length) : L"";
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    log = temp + L"\\installers.log";
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_LOG", log.c_str());
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_WAIT_MS", L"500");
    local_server::Put(L"/installers/QuilloraSetup.exe", ReadBytes(BuildPath(L"installers\\signed\\QuilloraSetup.exe")));
  }
  void TearDown() override {
    RunAtExitCalls();
    SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_LOG", nullptr);
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_WAIT_MS", nullptr);
    DeleteFileW(log.c_str());
    DeleteFileW((temp + L"\\local.exe").c_str());
    RemoveDirectoryW(temp.c_str());
  }
  std::wstring temp, savedTmp, log;
};

TEST_F(InstallerHold, TheVerifiedFileCannotChangeUntilItsProcessHasEnded) {
  struct Case {
    const char* name;
    bool fromUrl;
    bool elevate;  // "runas" from Vista on
  } cases[] = {
      {"downloaded, started with open", true, false},
      {"downloaded, started with runas", true, true},
      {"named by the manifest", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(log.c_str());
    CScriptedWindow window;
    CInstallSession session(window);
    ProductInfo& product = session.quillora;
    if (c.fromUrl) {
      product.location = local_server::Url(true, L"/installers/QuilloraSetup.exe");
    } else {
      ASSERT_TRUE(CopyFileW(BuildPath(L"installers\\signed\\QuilloraSetup.exe").c_str(),
                            (temp + L"\\local.exe").c_str(), FALSE));
      product.fromUrl = false;
      product.location = temp + L"\\local.exe";
    }
    std::wstring path, error;
    ASSERT_TRUE(session.DownloadProduct(product, path, error, nullptr)) << std::string(error.begin(), error.end());
    ASSERT_TRUE(product.installerHold);

    Attempts held = TryToChange(path);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), held.write);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), held.rename);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), held.remove);

    // It still runs, and its file stays as it is until its process has ended: a self-extracting installer
    // reads its payload from its own path while it runs.
    Attempts running = {};
    std::thread other([&] {
      while (ReadBytes(log).empty()) Sleep(10);
      running = TryToChange(path);
    });
    EXPECT_EQ(InstallerSucceeded, session.RunInstaller(path, L"/x", c.elevate, true, product.installerHold));
    other.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), running.rename);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), running.remove);
    EXPECT_EQ("QUILLORA|/x\n", ReadBytes(log));
    Attempts released = TryToChange(path);
    EXPECT_EQ(0u, released.write);
    EXPECT_EQ(0u, released.rename);

    // A new start verifies the file on disk again and holds it again.
    product.localFile = path;
    product.installerHold.reset();
    ASSERT_TRUE(session.DownloadProduct(product, path, error, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), TryToChange(path).write);
    product.installerHold.reset();
    if (c.fromUrl) DeleteFileW(path.c_str());  // the next download makes it anew
  }
}

// The hold ends with the session, so the temporary files can go at exit.
TEST_F(InstallerHold, TheTemporaryFileIsStillDeletedAtExit) {
  std::wstring path, error;
  {
    CScriptedWindow window;
    CInstallSession session(window);
    session.quillora.location = local_server::Url(false, L"/installers/QuilloraSetup.exe");
    ASSERT_TRUE(session.DownloadProduct(session.quillora, path, error, nullptr));
  }
  RunAtExitCalls();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

}  // namespace
