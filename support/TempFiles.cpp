#include "support/TempFiles.h"

#include <ntsecapi.h>

#include <cwchar>

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
  const std::wstring base = GetTempDirectory();
  for (int attempt = 0; folder.empty() && attempt < 16; ++attempt) {
    // 64 random bits: nobody can prepare the folder (or a DLL inside it) before it exists.
    unsigned char random[8];
    if (!RtlGenRandom(random, sizeof(random))) return std::wstring();
    wchar_t name[32];
    swprintf(name, 32, L"Quillora-%02x%02x%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2], random[3],
             random[4], random[5], random[6], random[7]);
    std::wstring candidate = base + name;
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      folder = candidate + L"\\";
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      return std::wstring();
    }
  }
  if (folder.empty()) return std::wstring();
  std::wstring path = folder;
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
  // Fails, as it should, while anything is left inside: a kept file, or one still open.
  if (!folder.empty()) RemoveDirectoryW(folder.c_str());
}
