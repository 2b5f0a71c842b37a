#include "support/TempFiles.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cwchar>

#include "support/File.h"
#include "support/Handle.h"

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

// The current user's SID as text; empty when the token cannot tell.
std::wstring CurrentUserSid() {
  CHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return std::wstring();
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size)) return std::wstring();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return std::wstring();
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// Owns a security descriptor that the system allocated with LocalAlloc.
struct LocalMemoryTraits {
  using Type = PSECURITY_DESCRIPTOR;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type memory) noexcept { LocalFree(memory); }
};

// The private folder's access list: full control for the user, SYSTEM and the administrators, passed on
// to everything made inside, and nothing inherited from the temporary folder above. That folder may be
// shared between users (a machine-wide TEMP), and whoever else may write there must not be able to put a
// DLL, or a link named like an installer, into ours.
bool PrivateFolderDescriptor(CUniqueT<LocalMemoryTraits>& descriptor) {
  const std::wstring user = CurrentUserSid();
  if (user.empty()) return false;
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made, nullptr))
    return false;
  descriptor.Reset(made);
  return true;
}

}  // namespace

std::wstring GetTempDirectory() {
  wchar_t buffer[260];
  DWORD length = GetTempPathW(259, buffer);
  // A result of 259 or more is the size the path would need, with nothing written.
  std::wstring directory = length > 0 && length < 259 ? std::wstring(buffer, length) : std::wstring();
  if (directory.empty()) directory = EnvironmentValue(L"TEMP");
  if (directory.empty()) directory = EnvironmentValue(L"TMP");
  // No fallback to the root of a drive: every user may create files there.
  if (directory.empty()) return directory;
  if (directory.back() != L'\\') directory += L'\\';
  return directory;
}

std::wstring CTempFileProvider::MakeTempPath(const wchar_t* fileName, bool keep) {
  const std::wstring base = GetTempDirectory();
  CUniqueT<LocalMemoryTraits> descriptor;
  if (folder.empty() && (base.empty() || !PrivateFolderDescriptor(descriptor))) return std::wstring();
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
  for (int attempt = 0; folder.empty() && attempt < 16; ++attempt) {
    // 64 random bits: nobody can prepare the folder (or a DLL inside it) before it exists.
    unsigned char random[8];
    if (!RtlGenRandom(random, sizeof(random))) return std::wstring();
    wchar_t name[32];
    swprintf(name, 32, L"Quillora-%02x%02x%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2], random[3],
             random[4], random[5], random[6], random[7]);
    std::wstring candidate = base + name;
    if (CreateDirectoryW(candidate.c_str(), &attributes)) {
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
