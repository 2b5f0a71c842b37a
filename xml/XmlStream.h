// Byte streams for the XML library: IXMLStream with 64-bit positions, and the file stream that turns the
// library's UTF-16 text into UTF-8 on the way out.
#pragma once

#include <cstdint>
#include <string>

#include "support/Buffer.h"
#include "support/File.h"

class IXMLStream {
 public:
  // Reads up to byteCount bytes; *bytesRead 0 means the end.
  virtual bool Read(void* buffer, uint32_t byteCount, uint32_t* bytesRead) = 0;
  virtual bool Write(const void* data, uint32_t byteCount, uint32_t* bytesWritten) = 0;
  // origin: 0 start, 1 current position, 2 end. newPosition is optional.
  virtual bool Seek(int64_t offset, int origin, uint64_t* newPosition) = 0;
  // Moves to size and makes it the end of the stream.
  virtual bool SetSize(uint64_t size) = 0;
  virtual bool GetSize(uint64_t* size) = 0;
  virtual bool GetPosition(uint64_t* position) = 0;
  virtual bool Flush() = 0;
  // A name for messages (a file stream: its path).
  virtual std::wstring GetName() const = 0;
  // What the last failure was.
  virtual std::wstring GetErrorText() const = 0;

  virtual ~IXMLStream() = default;
};

// The conventions the library opens files with.
enum : DWORD {
  XML_SAVE_ACCESS = GENERIC_WRITE,
  XML_SAVE_SHARE = 0,
  XML_SAVE_DISPOSITION = CREATE_ALWAYS,
  XML_LOAD_ACCESS = GENERIC_READ,
  XML_LOAD_SHARE = FILE_SHARE_READ,
  XML_LOAD_DISPOSITION = OPEN_EXISTING,
};

class CXMLFileStream : public IXMLStream {
 public:
  enum : unsigned { kRawWrites = 0x1 };

  // mode bit 0 (kRawWrites) writes bytes unchanged; clear, the default, Write takes UTF-16 text and writes
  // its UTF-8 form.
  explicit CXMLFileStream(unsigned mode = 0) : mode(mode) {}

  bool Open(const wchar_t* path, DWORD access, DWORD shareMode, DWORD creationDisposition,
            DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL) {
    return file.Open(path, access, shareMode, creationDisposition, flagsAndAttributes);
  }
  bool OpenForLoading(const wchar_t* path) {
    return Open(path, XML_LOAD_ACCESS, XML_LOAD_SHARE, XML_LOAD_DISPOSITION);
  }
  bool OpenForSaving(const wchar_t* path) {
    return Open(path, XML_SAVE_ACCESS, XML_SAVE_SHARE, XML_SAVE_DISPOSITION);
  }
  CFile& File() { return file; }

  bool Read(void* buffer, uint32_t byteCount, uint32_t* bytesRead) override;
  // Text mode: byteCount / 2 UTF-16 units are written as UTF-8 and *bytesWritten is the UTF-8 byte count.
  // A surrogate pair split across two calls cannot be joined, so callers write whole pairs.
  bool Write(const void* data, uint32_t byteCount, uint32_t* bytesWritten) override;
  bool Seek(int64_t offset, int origin, uint64_t* newPosition) override;
  bool SetSize(uint64_t size) override { return file.SetSize(size); }
  bool GetSize(uint64_t* size) override { return file.GetSize(size); }
  bool GetPosition(uint64_t* position) override { return file.GetPosition(position); }
  bool Flush() override { return file.Flush(); }
  std::wstring GetName() const override { return file.GetPath(); }
  std::wstring GetErrorText() const override { return file.GetLastErrorText(); }

 private:
  CFile file;
  unsigned mode;
  CBuffer scratch;  // UTF-8 form of the text being written
};
