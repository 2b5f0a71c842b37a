// CBuffer: the program's growable byte buffer (response bodies, installers, UTF-16 texts, file contents).
// CBufferStream: a COM IStream over a CBuffer, for decoders that read from a stream.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdarg>
#include <cstdint>
#include <utility>

class CBuffer {
 public:
  CBuffer() = default;
  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;
  CBuffer(CBuffer&& other) noexcept;
  CBuffer& operator=(CBuffer&& other) noexcept;
  ~CBuffer() { Free(); }

  // Adds room for n more bytes beyond the length: step = 32 up to a capacity of 128, else capacity / 4
  // + 32; the new capacity is length + max(step, n + 4). False (buffer unchanged) when the size does not
  // fit 32 bits or the memory cannot be had.
  bool Grow(uint32_t n);
  // True when the capacity already holds length + n bytes, else Grow(n).
  bool Reserve(uint32_t n);
  // For a body of unknown size: reserves address space for up to `bytes` and commits it as the data grows,
  // so growing never copies the data into a larger block and never holds two copies at once. Beyond the
  // reservation the buffer moves to the heap as usual. Only on a buffer without storage; false (nothing
  // changed, heap growth as usual) when the address space cannot be had.
  bool ReserveAddressSpace(uint32_t bytes);
  bool Append(const void* bytes, uint32_t n);
  bool Assign(const void* bytes, uint32_t n);
  // Stores text with its terminator and counts it without; null text empties the buffer.
  bool AssignText(const wchar_t* text);
  // Stores a 2-byte zero after the data without counting it, so the data reads as a C string.
  bool Terminate();
  // Appends printf-style wide text (msvcrt rules: %s takes a wide string) and a terminator that is not
  // counted. False when the buffer cannot grow enough; what was there before stays.
  bool AppendFormat(const wchar_t* format, ...);
  bool AppendFormatV(const wchar_t* format, va_list args);
  void Free();
  // Makes every growth past `bytes` of capacity fail as if the memory could not be had, in every buffer of
  // the process, so tests see what callers do then on any address space; 0 lifts the limit.
  static void SetCapacityLimitForTesting(uint32_t bytes);

  // The data, or a static empty text when the length is 0, so a reader can always dereference it.
  const void* GetData() const;
  const wchar_t* GetText() const { return static_cast<const wchar_t*>(GetData()); }
  // Raw storage for writers that filled room made by Reserve; null when nothing was allocated.
  uint8_t* Data() { return data; }
  uint32_t Capacity() const { return capacity; }
  uint32_t Length() const { return length; }
  // Sets the count of bytes in use; n must not exceed the capacity.
  void SetLength(uint32_t n) { length = n <= capacity ? n : capacity; }
  // Exchanges the contents, storage and all, without copying a byte.
  void Swap(CBuffer& other) noexcept {
    std::swap(data, other.data);
    std::swap(capacity, other.capacity);
    std::swap(length, other.length);
    std::swap(reserved, other.reserved);
  }

 private:
  bool GrowReserved(uint32_t needed);

  uint8_t* data = nullptr;
  uint32_t capacity = 0;
  uint32_t length = 0;
  uint32_t reserved = 0;  // address space reserved at data (committed up to capacity); 0 for heap storage
};

// Holds CBuffer's capacity limit for a test's scope.
class ScopedCapacityLimit {
 public:
  explicit ScopedCapacityLimit(uint32_t bytes) { CBuffer::SetCapacityLimitForTesting(bytes); }
  ScopedCapacityLimit(const ScopedCapacityLimit&) = delete;
  ScopedCapacityLimit& operator=(const ScopedCapacityLimit&) = delete;
  ~ScopedCapacityLimit() { CBuffer::SetCapacityLimitForTesting(0); }
};

class CBufferStream final : public IStream {
 public:
  CBufferStream() = default;  // reference count 1: the creator holds the first reference
  CBuffer& Buffer() { return buffer; }
  uint32_t Position() const { return position; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Read(void* destination, ULONG count, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE Write(const void* source, ULONG count, ULONG* written) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* record, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  ~CBufferStream() = default;  // only Release destroys

  CBuffer buffer;
  LONG references = 1;
  uint32_t position = 0;  // may lie beyond the length; a write there fills the gap with zeros
};
