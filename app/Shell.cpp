#include "app/Shell.h"

#include <vector>

#include "app/StringIds.h"
#include "support/Boundary.h"
#include "support/Handle.h"

namespace {

// GetVersion is read exactly once, before the entry point runs.
const DWORD g_version = GetVersion();

}  // namespace

unsigned g_osMajor = LOBYTE(LOWORD(g_version));
unsigned g_osMinor = HIBYTE(LOWORD(g_version));

CAppModule g_module;

void CAppModule::Init(HINSTANCE module) {
  instance = module;
  resourceInstance = module;
}

void CAppModule::Term() {
  instance = nullptr;
  resourceInstance = nullptr;
}

HINSTANCE CAppModule::GetResourceInstance() const {
  return resourceInstance ? resourceInstance : GetModuleHandleW(nullptr);
}

std::wstring ProgramVersion() {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (!bytes) return std::wstring();
  // The fixed part follows the block's key on a 32-bit boundary; its signature finds it without
  // version.dll, which is no known DLL.
  const DWORD size = SizeofResource(module, found);
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    const auto* info = reinterpret_cast<const VS_FIXEDFILEINFO*>(bytes + at);
    if (info->dwSignature != 0xFEEF04BD) continue;
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
  }
  return std::wstring();
}

bool IsUserAdmin() {
  CHandle processToken;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, processToken.Put())) return false;

  BYTE sid[SECURITY_MAX_SID_SIZE];  // 68 bytes
  DWORD sidSize = sizeof(sid);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) return false;

  // A null token tests the thread's effective token, which honours impersonation.
  BOOL isMember = FALSE;
  if (CheckTokenMembership(nullptr, sid, &isMember) && isMember) return true;

  if (g_osMajor >= 6) {
    // Under UAC an administrator's effective token has the group only as deny-only; the linked token is
    // the full one. Failing to get it just means there is none.
    CHandle linkedToken;
    DWORD returned = 0;
    if (GetTokenInformation(processToken.Get(), TokenLinkedToken, linkedToken.Put(), sizeof(HANDLE),
                            &returned) &&
        CheckTokenMembership(linkedToken.Get(), sid, &isMember) && isMember) {
      return true;
    }
  }
  return false;
}

std::wstring LoadResString(UINT id) {
  // With a zero buffer size LoadStringW returns a pointer into the resource itself: no length limit.
  const wchar_t* text = nullptr;
  int length = LoadStringW(g_module.GetResourceInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length));
}

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  return RunAtBoundary([&] { reinterpret_cast<std::vector<LANGID>*>(languages)->push_back(language); });
}

}  // namespace

LANGID LoadedLanguage() {
  // The loader does not say which language it picked; the block it picks is the one that language's
  // lookup finds too. The caption's block is in every language.
  HMODULE module = g_module.GetResourceInstance();
  LPCWSTR block = MAKEINTRESOURCEW(kCaption / 16 + 1);
  HRSRC picked = FindResourceW(module, block, RT_STRING);
  if (!picked) return 0;
  std::vector<LANGID> languages;
  EnumResourceLanguagesW(module, RT_STRING, block, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
  ThrowKeptException();
  for (LANGID language : languages) {
    if (FindResourceExW(module, RT_STRING, block, language) == picked) return language;
  }
  return 0;
}

bool IsRightToLeftLanguage(LANGID language) {
  // Bit 123 of the locale's Unicode subsets marks a right-to-left layout. It answers from Windows XP on,
  // unlike LOCALE_IREADINGLAYOUT (Windows 7), and for languages added to the program later without a list
  // to keep up to date here.
  LOCALESIGNATURE signature = {};
  if (!language || !GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_FONTSIGNATURE,
                                   reinterpret_cast<LPWSTR>(&signature), sizeof(signature) / sizeof(WCHAR))) {
    return false;
  }
  return (signature.lsUsb[3] & (1u << (123 - 96))) != 0;
}

bool IsRightToLeftUi() { return IsRightToLeftLanguage(LoadedLanguage()); }
