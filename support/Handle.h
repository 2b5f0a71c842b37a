// One move-only owner for every kind of platform handle, so no exit path has to remember a Close call.
#pragma once

#include <windows.h>

#include <utility>

// Traits: Type, Invalid() and Close(Type). Closing keeps the thread's last error, so an owner that goes
// out of scope on a failure path does not overwrite the error the caller is about to read.
template <class Traits>
class CUniqueT {
 public:
  using Type = typename Traits::Type;

  CUniqueT() noexcept : value(Traits::Invalid()) {}
  explicit CUniqueT(Type v) noexcept : value(v) {}
  CUniqueT(const CUniqueT&) = delete;
  CUniqueT& operator=(const CUniqueT&) = delete;
  CUniqueT(CUniqueT&& other) noexcept : value(other.Detach()) {}
  CUniqueT& operator=(CUniqueT&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  ~CUniqueT() { Reset(); }

  Type Get() const noexcept { return value; }
  bool IsValid() const noexcept { return value != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Address for out-parameters of platform calls; releases what was held first.
  Type* Put() noexcept {
    Reset();
    return &value;
  }

  Type Detach() noexcept { return std::exchange(value, Traits::Invalid()); }

  void Reset(Type v = Traits::Invalid()) noexcept {
    if (value != Traits::Invalid()) {
      DWORD error = ::GetLastError();
      Traits::Close(value);
      ::SetLastError(error);
    }
    value = v;
  }

 private:
  Type value;
};

struct KernelHandleTraits {  // process, thread, token, event, mapping: null when absent
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FileHandleTraits {  // CreateFileW reports failure as INVALID_HANDLE_VALUE, not null
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {  // FindFirstFileW: INVALID_HANDLE_VALUE when nothing matched, closed by FindClose
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct IconTraits {
  using Type = HICON;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::DestroyIcon(h); }
};

using CHandle = CUniqueT<KernelHandleTraits>;
using CFileHandle = CUniqueT<FileHandleTraits>;
using CFindHandle = CUniqueT<FindHandleTraits>;
using CModule = CUniqueT<ModuleTraits>;
using CRegKey = CUniqueT<RegKeyTraits>;
using CIconHandle = CUniqueT<IconTraits>;
