#include "ScriptedWindow.h"

#include <gtest/gtest.h>

#include "app/Shell.h"

namespace {

// The session loads its texts from the string table: point it at the real program's resources.
class CStringTableEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    module = LoadLibraryExW(BuildPath(L"bin\\Installer.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    g_module.SetResourceInstance(module);
  }
  void TearDown() override {
    g_module.SetResourceInstance(nullptr);
    if (module) FreeLibrary(module);
  }

 private:
  HMODULE module = nullptr;
};

::testing::Environment* const g_stringTable = ::testing::AddGlobalTestEnvironment(new CStringTableEnvironment);

}  // namespace

std::wstring BuildPath(const std::wstring& relative) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder = folder.substr(0, folder.find_last_of(L"\\/"));  // bin
  return folder.substr(0, folder.find_last_of(L"\\/")) + L"\\" + relative;
}

std::wstring English(UINT id) { return LoadResString(id); }
