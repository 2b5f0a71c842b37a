// The program's real msi.dll binding against a real package: tests/fixtures/msi.cmake builds one with
// Quillora's upgrade code, msiexec installs it into the prefix. Detection's rules are tested with a scripted
// msi.dll (Wine's does not filter MsiEnumProductsExW by product code); this shows the binding itself reaches
// msi.dll and finds the related product.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <string>

#include "install/Detection.h"
#include "support/Handle.h"
#include "ScriptedWindow.h"

namespace {

// From msi.cmake, which wrote it into the package.
const wchar_t kTestPackageCode[] = TEST_PACKAGE_PRODUCT_CODE;
const wchar_t kUnrelatedUpgradeCode[] = L"{00000000-0000-0000-0000-000000000001}";

// msiexec's exit code: 0 when it did what it was asked, else an msi.dll error.
DWORD RunMsiexec(const wchar_t* action, const std::wstring& package) {
  std::wstring command = L"msiexec.exe " + std::wstring(action) + L" \"" + package + L"\" /qn";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "msiexec did not start: " << GetLastError();
    return static_cast<DWORD>(-1);
  }
  CHandle process(info.hProcess), thread(info.hThread);
  if (WaitForSingleObject(process.Get(), 90000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "msiexec did not finish";
    TerminateProcess(process.Get(), 1);
    return static_cast<DWORD>(-1);
  }
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.Get(), &code);
  return code;
}

class SystemMsi : public ::testing::Test {
 protected:
  // Every other test expects a prefix where nothing related to Quillora is installed: leave it so, also
  // after a failure half way.
  void TearDown() override { RunMsiexec(L"/x", package); }

  const std::wstring package = BuildPath(L"fixtures\\QuilloraTestPackage.msi");
};

TEST_F(SystemMsi, BindingFindsTheInstalledRelatedProduct) {
  struct Query {
    const char* name;
    const wchar_t* upgradeCode;
    DWORD index;
    UINT result;
    const wchar_t* productCode;  // expected when the result is ERROR_SUCCESS
  };
  const Query whileInstalled[] = {
      {"the package", kQuilloraUpgradeCode, 0, ERROR_SUCCESS, kTestPackageCode},
      {"nothing after it", kQuilloraUpgradeCode, 1, ERROR_NO_MORE_ITEMS, nullptr},
      {"another upgrade code", kUnrelatedUpgradeCode, 0, ERROR_NO_MORE_ITEMS, nullptr},
  };
  const Query afterRemoval[] = {
      {"gone with the package", kQuilloraUpgradeCode, 0, ERROR_NO_MORE_ITEMS, nullptr},
  };
  auto check = [](const Query& q) {
    SCOPED_TRACE(q.name);
    wchar_t code[39] = {};
    ASSERT_EQ(q.result, SystemMsiApi().EnumRelatedProducts(q.upgradeCode, q.index, code));
    if (q.productCode) {
      EXPECT_STREQ(q.productCode, code);
    }
  };

  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(package.c_str()));
  for (const Query& q : afterRemoval) check(q);  // a clean start, or the results below prove nothing
  ASSERT_EQ(0u, RunMsiexec(L"/i", package));
  for (const Query& q : whileInstalled) check(q);
  // What detection reads next, by the code it was given: the version the package declares.
  wchar_t version[32] = {};
  DWORD length = 32;
  EXPECT_EQ(0u, SystemMsiApi().GetProductInfoEx(kTestPackageCode, MSIINSTALLCONTEXT_MACHINE, L"VersionString",
                                                version, &length));
  EXPECT_STREQ(L"5.8.1.0", version);
  ASSERT_EQ(0u, RunMsiexec(L"/x", package));
  for (const Query& q : afterRemoval) check(q);
}

}  // namespace
