#include "xml/XmlStream.h"

#include "xml/Utf8.h"

bool CXMLFileStream::Read(void* buffer, uint32_t byteCount, uint32_t* bytesRead) {
  return file.Read(buffer, byteCount, bytesRead);
}

bool CXMLFileStream::Write(const void* data, uint32_t byteCount, uint32_t* bytesWritten) {
  if (mode & kRawWrites) return file.Write(data, byteCount, bytesWritten);
  if (bytesWritten) *bytesWritten = 0;
  scratch.SetLength(0);
  if (!AppendUtf8(scratch, static_cast<const wchar_t*>(data), byteCount / sizeof(wchar_t))) {
    file.SetError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return file.Write(scratch.Data(), scratch.Length(), bytesWritten);
}

bool CXMLFileStream::Seek(int64_t offset, int origin, uint64_t* newPosition) {
  static const DWORD kOrigins[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  if (origin < 0 || origin > 2) {
    file.SetError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return file.Seek(offset, kOrigins[origin], newPosition);
}
