#include "support/File.h"

bool FileExists(const wchar_t* path, bool filesOnly) {
  if (!path) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  return !(filesOnly && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
}

bool FileDelete(const wchar_t* path) {
  return path && ::DeleteFileW(path) != FALSE;
}

void PathAppendComponent(std::wstring& path, const wchar_t* name) {
  if (path.empty() || (path.back() != L'\\' && path.back() != L'/')) path += L'\\';
  if (name) path += name;
}

bool PathRemoveLastComponent(std::wstring& path) {
  // cut: where the path ends once the last component is gone. A drive ("C:") keeps the backslash that
  // follows it, so "C:\file" leaves the root "C:\" rather than the drive-relative "C:".
  size_t cut = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == L'\\') {
      cut = i;
    } else if (path[i] == L':') {
      if (i + 1 < path.size() && path[i + 1] == L'\\') {
        cut = i + 2;
        ++i;
      } else {
        cut = i + 1;
      }
    }
  }
  if (cut >= path.size()) return false;
  size_t keep = 0;
  if (cut == 0 && path[0] == L'\\') {
    keep = 1;  // "\file": the root of the current drive stays
  } else if (cut == 1 && path.size() > 1 && path[0] == L'\\' && path[1] == L'\\') {
    keep = 2;  // "\\name": the UNC prefix stays
  }
  if (keep) {
    if (path.size() == keep) return false;
    path.resize(keep);
    return true;
  }
  path.resize(cut);
  return true;
}

bool CFile::Open(const wchar_t* newPath, DWORD access, DWORD shareMode, DWORD creationDisposition,
                 DWORD flagsAndAttributes) {
  Close();
  path = newPath ? newPath : L"";
  handle.Reset(::CreateFileW(path.c_str(), access, shareMode, nullptr, creationDisposition,
                             flagsAndAttributes, nullptr));
  // Kept on success too: CREATE_ALWAYS and OPEN_ALWAYS report ERROR_ALREADY_EXISTS this way.
  SetError(::GetLastError());
  // The path stays after a failure too: it is what a caller names when it reports the error.
  return handle.IsValid();
}

void CFile::Close() {
  handle.Reset();
  path.clear();
}

bool CFile::Fail() {
  SetError(::GetLastError());
  return false;
}

bool CFile::Read(void* buffer, uint32_t count, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  if (count == 0) return true;
  DWORD done = 0;
  if (!::ReadFile(handle.Get(), buffer, count, &done, nullptr)) return Fail();
  if (transferred) *transferred = done;
  return true;
}

bool CFile::Write(const void* buffer, uint32_t count, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  if (count == 0) return true;
  DWORD done = 0;
  if (!::WriteFile(handle.Get(), buffer, count, &done, nullptr)) return Fail();
  if (transferred) *transferred = done;
  if (done != count) {
    // WriteFile reports success for a short write on a full volume; a caller must not think it is done.
    SetError(ERROR_DISK_FULL);
    return false;
  }
  return true;
}

uint32_t CFile::GetSize() {
  uint64_t size;
  if (!GetSize(&size)) return INVALID_FILE_SIZE;
  if (size > 0xFFFFFFFEu) {
    // A 32-bit answer would wrap; 0xFFFFFFFF is the failure value, never a size.
    SetError(ERROR_FILE_TOO_LARGE);
    return INVALID_FILE_SIZE;
  }
  return static_cast<uint32_t>(size);
}

bool CFile::GetSize(uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(handle.Get(), &value)) return Fail();
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool CFile::Seek(int64_t offset, DWORD origin, uint64_t* newPosition) {
  LARGE_INTEGER move;
  move.QuadPart = offset;
  LARGE_INTEGER reached;
  if (!::SetFilePointerEx(handle.Get(), move, &reached, origin)) return Fail();
  if (newPosition) *newPosition = static_cast<uint64_t>(reached.QuadPart);
  return true;
}

bool CFile::SetSize(uint64_t size) {
  if (size > static_cast<uint64_t>(INT64_MAX)) {
    SetError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!Seek(static_cast<int64_t>(size), FILE_BEGIN, nullptr)) return false;
  if (!::SetEndOfFile(handle.Get())) return Fail();
  return true;
}

bool CFile::Flush() {
  if (!::FlushFileBuffers(handle.Get())) return Fail();
  return true;
}

void CFile::SetError(DWORD code) {
  lastError = code;
  lastErrorText.clear();
  if (code == 0) return;
  wchar_t message[1024];
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), message, 1024, nullptr);
  // System messages end in CR LF and some span lines; the text is shown inside other texts, on one line.
  for (DWORD i = 0; i < length && i < 1024; ++i) {
    if (message[i] != L'\r' && message[i] != L'\n') lastErrorText += message[i];
  }
}

bool CMappedFile::Fail(DWORD code) {
  file.SetError(code);
  view.Reset();
  mapping.Reset();
  file.Close();
  size = 0;
  return false;
}

void CMappedFile::Close() {
  view.Reset();
  mapping.Reset();
  file.Close();
  size = 0;
  offset = 0;
  window = 0;
}

bool CMappedFile::Open(const wchar_t* path, DWORD fileAccess, DWORD shareMode, DWORD creationDisposition,
                       DWORD flagsAndAttributes, uint32_t requestedSize, uint32_t requestedWindow) {
  Close();
  if (!file.Open(path, fileAccess, shareMode, creationDisposition, flagsAndAttributes)) return false;
  const bool writable = (fileAccess & GENERIC_WRITE) != 0;
  if (writable && requestedSize) {
    if (!file.SetSize(requestedSize)) return Fail(file.GetLastError());
    size = requestedSize;
  } else {
    uint64_t fileSize;
    if (!file.GetSize(&fileSize)) return Fail(file.GetLastError());
    // The size is kept in 32 bits: a larger file must not be taken for its low half.
    if (fileSize > UINT32_MAX) return Fail(ERROR_FILE_TOO_LARGE);
    size = static_cast<uint32_t>(fileSize);
  }
  if (size == 0) return Fail(ERROR_INVALID_DATA);  // a view of nothing cannot be made
  access = writable ? FILE_MAP_WRITE : FILE_MAP_READ;
  offset = 0;
  window = 0;
  if (requestedWindow) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    uint64_t granularity = info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536;
    uint64_t rounded = (requestedWindow + granularity - 1) / granularity * granularity;
    // A view longer than the file fails to map; past the end there is nothing to see anyway.
    window = rounded >= size ? 0 : static_cast<uint32_t>(rounded);
  }
  mapping.Reset(::CreateFileMappingW(file.GetHandle(), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY, 0,
                                     0, nullptr));
  if (!mapping) return Fail(::GetLastError());
  view.Reset(::MapViewOfFile(mapping.Get(), access, 0, offset, window));
  if (!view) return Fail(::GetLastError());
  file.SetError(0);
  return true;
}

bool ReadWholeFile(const wchar_t* path, CBuffer& buffer) {
  CMappedFile mapped;
  if (!mapped.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) return false;
  return buffer.Assign(mapped.GetData(), mapped.GetSize());
}
