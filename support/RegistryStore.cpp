#include "support/RegistryStore.h"

#include <cstring>
#include <vector>

namespace {

// Enough to read, create subkeys and write values; not the full KEY_ALL_ACCESS a limited user may lack.
const REGSAM kAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;

const wchar_t kPlacementKey[] = L"WindowPlacement";
const wchar_t kPlacementValue[] = L"MainFrameWindow";

}  // namespace

CRegKey CRegistryStore::Open(const wchar_t* subKey) const {
  std::wstring path = keyPath;
  if (subKey && *subKey) path += L'\\' + std::wstring(subKey);
  CRegKey key;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, kAccess, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
    key.Reset();
  return key;
}

bool CRegistryStore::CreateKey(const wchar_t* subKey) { return Open(subKey).IsValid(); }

bool CRegistryStore::GetDword(const wchar_t* subKey, const wchar_t* name, DWORD& value, bool writeDefault) {
  CRegKey key = Open(subKey);
  if (!key) return false;
  DWORD type = 0, read = 0, size = sizeof(read);
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof(read)) {
    value = read;
    return true;
  }
  if (writeDefault)
    RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  return false;
}

bool CRegistryStore::GetString(const wchar_t* subKey, const wchar_t* name, std::wstring& value, bool writeDefault) {
  CRegKey key = Open(subKey);
  if (!key) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size % sizeof(wchar_t) == 0 && size >= sizeof(wchar_t)) {
    std::vector<wchar_t> text(size / sizeof(wchar_t));
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size == text.size() * sizeof(wchar_t) && text.back() == 0) {
      value.assign(text.data(), text.size() - 1);
      return true;
    }
  }
  if (writeDefault) {
    RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  return false;
}

bool CRegistryStore::GetBytes(const wchar_t* subKey, const wchar_t* name, void* buffer, DWORD size,
                              bool writeDefault) {
  CRegKey key = Open(subKey);
  if (!key) return false;
  DWORD type = 0, stored = 0;
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &stored) == ERROR_SUCCESS && type == REG_BINARY &&
      stored == size) {
    // Read into a copy: the caller's value stays as it was if the second query fails.
    std::vector<BYTE> bytes(size ? size : 1);
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, bytes.data(), &stored) == ERROR_SUCCESS &&
        type == REG_BINARY && stored == size) {
      if (size) std::memcpy(buffer, bytes.data(), size);
      return true;
    }
  }
  if (writeDefault) RegSetValueExW(key.Get(), name, 0, REG_BINARY, static_cast<const BYTE*>(buffer), size);
  return false;
}

bool CRegistryStore::SetDword(const wchar_t* subKey, const wchar_t* name, DWORD value) {
  CRegKey key = Open(subKey);
  return key && RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof(value)) == ERROR_SUCCESS;
}

bool CRegistryStore::SetString(const wchar_t* subKey, const wchar_t* name, const std::wstring& value) {
  CRegKey key = Open(subKey);
  return key && RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool CRegistryStore::SetBytes(const wchar_t* subKey, const wchar_t* name, const void* buffer, DWORD size,
                              bool compareFirst) {
  CRegKey key = Open(subKey);
  if (!key) return false;
  if (compareFirst) {
    DWORD type = 0, stored = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &stored) == ERROR_SUCCESS && type == REG_BINARY &&
        stored == size) {
      std::vector<BYTE> bytes(size ? size : 1);
      if (RegQueryValueExW(key.Get(), name, nullptr, &type, bytes.data(), &stored) == ERROR_SUCCESS &&
          (size == 0 || std::memcmp(bytes.data(), buffer, size) == 0)) {
        return true;
      }
    }
  }
  return RegSetValueExW(key.Get(), name, 0, REG_BINARY, static_cast<const BYTE*>(buffer), size) == ERROR_SUCCESS;
}

bool CRegistryStore::DeleteValue(const wchar_t* subKey, const wchar_t* name) {
  CRegKey key = Open(subKey);
  return key && RegDeleteValueW(key.Get(), name) == ERROR_SUCCESS;
}

CWindowPlacementHolder::CWindowPlacementHolder(CRegistryStore& store) : store(store) {
  WINDOWPLACEMENT read = {};
  if (store.GetBytes(kPlacementKey, kPlacementValue, &read, sizeof(read))) {
    placement = read;
    loaded = true;
  }
}

CWindowPlacementHolder::~CWindowPlacementHolder() {
  if (loaded) store.SetBytes(kPlacementKey, kPlacementValue, &placement, sizeof(placement), false);
}
