// File helpers over the Win32 file API, on wide-character paths: existence, deletion, path joining, a file
// object that keeps the platform's error code and text, and a mapped view of a whole file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/Buffer.h"
#include "support/Handle.h"

// True when the path names something GetFileAttributesExW can describe. With filesOnly, a directory is not
// an answer. A missing file is a normal "false", not a failure.
bool FileExists(const wchar_t* path, bool filesOnly);
// DeleteFileW; true when the file is gone because of this call.
bool FileDelete(const wchar_t* path);
// Appends a backslash (unless the path is non-empty and already ends in '\' or '/') and then name.
void PathAppendComponent(std::wstring& path, const wchar_t* name);
// Cuts the last component in place: C:\dir\file.exe -> C:\dir, C:\file.exe -> C:\ (a root keeps its
// backslash), \file -> \, \\server\share -> \\server, a bare name -> "" (true). False, path unchanged,
// when nothing follows the root (C:, C:\, \, \\, "").
bool PathRemoveLastComponent(std::wstring& path);

// A file handle with the last Win32 error and its system text. Every failing operation records the error
// and returns false (or -1 where a 32-bit size or position is returned). Not copyable.
class CFile {
 public:
  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile() { Close(); }

  // CreateFileW without security attributes or template. Closes a handle still open first. Stores
  // GetLastError() even on success, so a caller can see ERROR_ALREADY_EXISTS after CREATE_ALWAYS. The path
  // is kept whether the open succeeds or fails.
  bool Open(const wchar_t* path, DWORD access, DWORD shareMode, DWORD creationDisposition,
            DWORD flagsAndAttributes);
  // Releases the handle and forgets the path; the last error stays for the caller to read.
  void Close();
  bool IsOpen() const { return handle.IsValid(); }

  // A count of 0 succeeds without a platform call. *transferred (optional) receives the bytes moved.
  bool Read(void* buffer, uint32_t count, uint32_t* transferred);
  // A write that moves fewer bytes than asked fails with ERROR_DISK_FULL, although WriteFile succeeded.
  bool Write(const void* buffer, uint32_t count, uint32_t* transferred);

  // 32-bit size, or 0xFFFFFFFF on failure (and for a file of 4 GiB or more, with ERROR_FILE_TOO_LARGE).
  uint32_t GetSize();
  bool GetSize(uint64_t* size);
  // origin: FILE_BEGIN, FILE_CURRENT or FILE_END. newPosition is optional.
  bool Seek(int64_t offset, DWORD origin, uint64_t* newPosition);
  bool GetPosition(uint64_t* position) { return Seek(0, FILE_CURRENT, position); }
  // Moves to size from the start and makes that the end of the file.
  bool SetSize(uint64_t size);
  bool Flush();

  // Stores the code and, for a non-zero code, the system's message for it on one line; 0 empties the text.
  void SetError(DWORD code);
  DWORD GetLastError() const { return lastError; }
  const std::wstring& GetLastErrorText() const { return lastErrorText; }
  const std::wstring& GetPath() const { return path; }
  HANDLE GetHandle() const { return handle.Get(); }

 private:
  // Records GetLastError() of the call that just failed and returns false.
  bool Fail();

  CFileHandle handle;
  DWORD lastError = 0;
  std::wstring lastErrorText;
  std::wstring path;
};

struct MappedViewTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type view) noexcept { ::UnmapViewOfFile(view); }
};
using CMappedView = CUniqueT<MappedViewTraits>;

// A read or read-write view of a file. The view, the mapping and the file are released together.
class CMappedFile {
 public:
  CMappedFile() = default;
  CMappedFile(const CMappedFile&) = delete;
  CMappedFile& operator=(const CMappedFile&) = delete;
  ~CMappedFile() { Close(); }

  // Opens path through CFile and maps it. With GENERIC_WRITE and a requestedSize, the file is first set to
  // that size; otherwise its current size is used. window 0 maps the whole file; a window is rounded up to
  // the allocation granularity and never reaches past the end of the file. An empty file fails with
  // ERROR_INVALID_DATA; a file of 4 GiB or more with ERROR_FILE_TOO_LARGE.
  bool Open(const wchar_t* path, DWORD access, DWORD shareMode, DWORD creationDisposition,
            DWORD flagsAndAttributes, uint32_t requestedSize = 0, uint32_t window = 0);
  void Close();

  const uint8_t* GetData() const { return static_cast<const uint8_t*>(view.Get()); }
  uint8_t* GetWritableData() { return static_cast<uint8_t*>(view.Get()); }
  uint32_t GetSize() const { return size; }
  // Bytes visible through the view: the window, or the whole size when no window was asked for.
  uint32_t GetViewSize() const { return window ? window : size; }
  DWORD GetLastError() const { return file.GetLastError(); }
  const std::wstring& GetLastErrorText() const { return file.GetLastErrorText(); }

 private:
  bool Fail(DWORD code);

  CFile file;
  CHandle mapping;
  CMappedView view;
  uint32_t size = 0;
  DWORD access = FILE_MAP_READ;
  uint32_t offset = 0;
  uint32_t window = 0;
};

// Reads a whole file into buffer (replacing its content) through a read-only mapping. False for a missing,
// empty or unreadable file.
bool ReadWholeFile(const wchar_t* path, CBuffer& buffer);
