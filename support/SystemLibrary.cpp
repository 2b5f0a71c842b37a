#include "support/SystemLibrary.h"

#include <map>
#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

bool RestrictDllSearchToSystem() {
  // Resolved at run time: a static import would keep the program from starting where it is missing.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  SetDllDirectoryW(L"");
  return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Systems without KB2533623 reject the flag as an invalid parameter: name the file by its full path.
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  wchar_t directory[MAX_PATH];
  UINT length = GetSystemDirectoryW(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(directory, length);
  path += L'\\';
  path += name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE SystemModule(const wchar_t* dll) {
  // One thread uses this, and modules are never unloaded: the map only grows, by a handful of entries.
  static std::map<std::wstring, HMODULE>* modules = new std::map<std::wstring, HMODULE>();
  auto found = modules->find(dll);
  if (found != modules->end()) return found->second;
  HMODULE module = LoadSystemLibrary(dll);
  (*modules)[dll] = module;
  return module;
}
