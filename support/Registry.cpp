#include "support/Registry.h"

#include <vector>

#include "support/Handle.h"

std::wstring RegGetString(HKEY root, const wchar_t* subKey, const wchar_t* valueName) {
  CRegKey key;
  // The shipped program is 32-bit: on 64-bit Windows it sees the 32-bit view, where 32-bit installers such as
  // the partner's register. A 64-bit build of it reads the same view, so both find the same entries.
  if (RegOpenKeyExW(root, subKey, 0, KEY_READ | KEY_WOW64_32KEY, key.Put()) != ERROR_SUCCESS) return std::wstring();
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0) {
    return std::wstring();
  }
  // One unit more than the value, zeroed: a stored string need not carry its terminator.
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD read = size;
  LONG status = RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &read);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::wstring();
  return std::wstring(text.data());
}
