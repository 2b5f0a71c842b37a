// The program's own per-user settings in the registry: a root and key path, typed get and set of DWORD,
// string and REG_BINARY values, each optionally in a subkey. Every call opens (creating if missing) and
// closes its key; all failures are answers (false), never reported to the user.
#pragma once

#include <windows.h>

#include <string>

#include "support/Handle.h"

class CRegistryStore {
 public:
  CRegistryStore(HKEY root, std::wstring keyPath) : keyPath(std::move(keyPath)), root(root) {}

  bool CreateKey(const wchar_t* subKey = nullptr);
  // A missing value, or one of another type or size, leaves `value` as it was; with writeDefault the
  // current `value` is then stored.
  bool GetDword(const wchar_t* subKey, const wchar_t* name, DWORD& value, bool writeDefault = false);
  // REG_SZ or REG_EXPAND_SZ (not expanded), with an even size and its terminator.
  bool GetString(const wchar_t* subKey, const wchar_t* name, std::wstring& value, bool writeDefault = false);
  // REG_BINARY of exactly `size` bytes.
  bool GetBytes(const wchar_t* subKey, const wchar_t* name, void* buffer, DWORD size, bool writeDefault = false);
  bool SetDword(const wchar_t* subKey, const wchar_t* name, DWORD value);
  bool SetString(const wchar_t* subKey, const wchar_t* name, const std::wstring& value);
  // compareFirst: an identical stored value is left untouched (and counts as success).
  bool SetBytes(const wchar_t* subKey, const wchar_t* name, const void* buffer, DWORD size, bool compareFirst);
  bool DeleteValue(const wchar_t* subKey, const wchar_t* name);

  const std::wstring& KeyPath() const { return keyPath; }

 private:
  CRegKey Open(const wchar_t* subKey) const;

  std::wstring keyPath;
  HKEY root;
};

// The main window's placement, read from "WindowPlacement\MainFrameWindow" when it is made and written back,
// if it was read, when it is destroyed. Nothing applies it to the window: a run keeps what it found.
class CWindowPlacementHolder {
 public:
  explicit CWindowPlacementHolder(CRegistryStore& store);
  CWindowPlacementHolder(const CWindowPlacementHolder&) = delete;
  CWindowPlacementHolder& operator=(const CWindowPlacementHolder&) = delete;
  ~CWindowPlacementHolder();

  bool Loaded() const { return loaded; }
  const WINDOWPLACEMENT& Placement() const { return placement; }

 private:
  CRegistryStore& store;
  WINDOWPLACEMENT placement = {};
  bool loaded = false;
};
