#include "support/TempFiles.h"

#include "support/File.h"

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

}  // namespace

std::wstring GetTempDirectory() {
  wchar_t buffer[260];
  DWORD length = GetTempPathW(259, buffer);
  // A result of 259 or more is the size the path would need, with nothing written.
  std::wstring directory = length > 0 && length < 259 ? std::wstring(buffer, length) : std::wstring();
  if (directory.empty()) directory = EnvironmentValue(L"TEMP");
  if (directory.empty()) directory = EnvironmentValue(L"TMP");
  if (directory.empty()) directory = L"C:\\";
  if (directory.back() != L'\\') directory += L'\\';
  return directory;
}

std::wstring CTempFileProvider::MakeTempPath(const wchar_t* fileName, bool keep) {
  std::wstring path = GetTempDirectory();
  PathAppendComponent(path, fileName);
  Register(path, keep);
  return path;
}

void CTempFileProvider::Register(const std::wstring& path, bool keep) { files.push_back({path, keep}); }

void CTempFileProvider::Cleanup() {
  for (const Entry& entry : files) {
    if (!entry.keep && FileExists(entry.path.c_str(), true)) DeleteFileW(entry.path.c_str());
  }
  files.clear();
}
