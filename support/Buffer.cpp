#include "support/Buffer.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

namespace {

const wchar_t kEmptyText[1] = {0};

uint32_t g_capacityLimit = UINT32_MAX;

// Sizes are 32-bit; a sum that wraps would turn a huge request into a small allocation and a large write.
bool AddChecked(uint32_t a, uint32_t b, uint32_t* sum) {
  if (b > UINT32_MAX - a) return false;
  *sum = a + b;
  return true;
}

}  // namespace

CBuffer::CBuffer(CBuffer&& other) noexcept
    : data(std::exchange(other.data, nullptr)),
      capacity(std::exchange(other.capacity, 0)),
      length(std::exchange(other.length, 0)),
      reserved(std::exchange(other.reserved, 0)) {}

CBuffer& CBuffer::operator=(CBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    data = std::exchange(other.data, nullptr);
    capacity = std::exchange(other.capacity, 0);
    length = std::exchange(other.length, 0);
    reserved = std::exchange(other.reserved, 0);
  }
  return *this;
}

bool CBuffer::Grow(uint32_t n) {
  uint32_t step = capacity <= 128 ? 32 : capacity / 4 + 32;
  uint32_t needed;
  if (!AddChecked(n, 4, &needed)) return false;
  uint32_t newCapacity;
  if (reserved)
    return AddChecked(length, needed, &newCapacity) && newCapacity <= g_capacityLimit && GrowReserved(newCapacity);
  if (!AddChecked(length, step > needed ? step : needed, &newCapacity)) return false;
  if (newCapacity > g_capacityLimit) return false;
  void* grown = std::realloc(data, newCapacity);
  if (!grown) return false;
  data = static_cast<uint8_t*>(grown);
  capacity = newCapacity;
  return true;
}

void CBuffer::SetCapacityLimitForTesting(uint32_t bytes) { g_capacityLimit = bytes ? bytes : UINT32_MAX; }

bool CBuffer::ReserveAddressSpace(uint32_t bytes) {
  if (data || bytes == 0) return false;
  void* space = VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS);
  if (!space) return false;
  data = static_cast<uint8_t*>(space);
  reserved = bytes;
  return true;
}

bool CBuffer::GrowReserved(uint32_t needed) {
  if (needed <= reserved) {
    // Committed in steps of an eighth of what is there (at least 1 MB): few calls, and a body never costs
    // more than an eighth beyond its size.
    const uint32_t kMinimumStep = 1u << 20;
    uint32_t step = capacity / 8 > kMinimumStep ? capacity / 8 : kMinimumStep;
    uint32_t target = needed - capacity >= step ? needed : (reserved - capacity > step ? capacity + step : reserved);
    if (!VirtualAlloc(data + capacity, target - capacity, MEM_COMMIT, PAGE_READWRITE)) return false;
    capacity = target;
    return true;
  }
  // Past the reservation: an ordinary heap block from here on.
  void* moved = std::malloc(needed);
  if (!moved) return false;
  if (length) std::memcpy(moved, data, length);
  VirtualFree(data, 0, MEM_RELEASE);
  data = static_cast<uint8_t*>(moved);
  capacity = needed;
  reserved = 0;
  return true;
}

bool CBuffer::Reserve(uint32_t n) {
  uint32_t wanted;
  if (AddChecked(length, n, &wanted) && wanted <= capacity) return true;
  return Grow(n);
}

bool CBuffer::Append(const void* bytes, uint32_t n) {
  if (n == 0) return true;
  if (!Reserve(n)) return false;
  // memmove: the bytes may come from this buffer's own storage.
  std::memmove(data + length, bytes, n);
  length += n;
  return true;
}

bool CBuffer::Assign(const void* bytes, uint32_t n) {
  length = 0;
  return Append(bytes, n);
}

bool CBuffer::AssignText(const wchar_t* text) {
  length = 0;
  if (!text) {
    if (data && reinterpret_cast<wchar_t*>(data)[0] != 0) reinterpret_cast<wchar_t*>(data)[0] = 0;
    return true;
  }
  size_t characters = std::wcslen(text) + 1;
  if (characters > UINT32_MAX / sizeof(wchar_t)) return false;
  if (!Append(text, static_cast<uint32_t>(characters * sizeof(wchar_t)))) return false;
  length -= sizeof(wchar_t);
  return true;
}

bool CBuffer::Terminate() {
  static const wchar_t zero = 0;
  if (!Append(&zero, sizeof(zero))) return false;
  length -= sizeof(zero);
  return true;
}

bool CBuffer::AppendFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  bool ok = AppendFormatV(format, args);
  va_end(args);
  return ok;
}

bool CBuffer::AppendFormatV(const wchar_t* format, va_list args) {
  size_t formatLength = std::wcslen(format);
  if (formatLength > (UINT32_MAX - 4) / 4 || !Reserve(static_cast<uint32_t>(formatLength * 4 + 4))) return false;
  for (;;) {
    // Two characters stay free: one for the terminator, one so the formatter never fills the room exactly.
    uint32_t room = (capacity - length) / sizeof(wchar_t) - 2;
    wchar_t* end = reinterpret_cast<wchar_t*>(data + length);
    va_list attempt;
    va_copy(attempt, args);
    int written = _vsnwprintf(end, room, format, attempt);
    va_end(attempt);
    if (written >= 0 && static_cast<uint32_t>(written) <= room) {
      length += static_cast<uint32_t>(written) * sizeof(wchar_t);
      end[written] = 0;
      return true;
    }
    // Overflow: double and retry, but give up when the buffer cannot grow rather than loop for ever.
    if (capacity > UINT32_MAX / 2 || !Grow(capacity * 2)) {
      if (data) reinterpret_cast<wchar_t*>(data + length)[0] = 0;
      return false;
    }
  }
}

void CBuffer::Free() {
  if (reserved) {
    VirtualFree(data, 0, MEM_RELEASE);
    reserved = 0;
  } else {
    std::free(data);
  }
  data = nullptr;
  capacity = 0;
  length = 0;
}

const void* CBuffer::GetData() const { return length ? static_cast<const void*>(data) : kEmptyText; }


HRESULT CBufferStream::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
    *object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CBufferStream::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references)); }

ULONG CBufferStream::Release() {
  LONG count = InterlockedDecrement(&references);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CBufferStream::Read(void* destination, ULONG count, ULONG* read) {
  if (!destination) return E_POINTER;
  uint32_t length = buffer.Length();
  uint32_t available = position < length ? length - position : 0;
  uint32_t n = count < available ? count : available;
  if (n) std::memcpy(destination, buffer.Data() + position, n);
  position += n;
  if (read) *read = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT CBufferStream::Write(const void* source, ULONG count, ULONG* written) {
  if (!source) return E_POINTER;
  uint32_t end;
  if (!AddChecked(position, count, &end)) return STG_E_MEDIUMFULL;
  uint32_t length = buffer.Length();
  if (end > length) {
    // A full buffer reports the medium as full and writes nothing, never past the storage.
    if (!buffer.Reserve(end - length)) return STG_E_MEDIUMFULL;
    if (position > length) std::memset(buffer.Data() + length, 0, position - length);
    buffer.SetLength(end);
  }
  if (count) std::memcpy(buffer.Data() + position, source, count);
  position = end;
  if (written) *written = count;
  return S_OK;
}

HRESULT CBufferStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  int64_t base;
  switch (origin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = position; break;
    case STREAM_SEEK_END: base = buffer.Length(); break;
    default: return STG_E_INVALIDFUNCTION;
  }
  // base is below 2^32, so only a move near the 64-bit limits could overflow the sum.
  if (move.QuadPart > INT64_MAX - base) return STG_E_INVALIDFUNCTION;
  int64_t target = base + move.QuadPart;
  if (target < 0 || target > UINT32_MAX) return STG_E_INVALIDFUNCTION;
  position = static_cast<uint32_t>(target);
  if (newPosition) newPosition->QuadPart = position;
  return S_OK;
}

HRESULT CBufferStream::SetSize(ULARGE_INTEGER size) {
  if (size.HighPart != 0) return STG_E_INVALIDFUNCTION;
  uint32_t length = buffer.Length();
  if (size.LowPart > length) {
    // Growth that fails leaves the size as it was; callers of this stream only ever shrink it.
    if (buffer.Reserve(size.LowPart - length)) {
      std::memset(buffer.Data() + length, 0, size.LowPart - length);
      buffer.SetLength(size.LowPart);
    }
  } else {
    buffer.SetLength(size.LowPart);
  }
  return S_OK;
}

HRESULT CBufferStream::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                              ULARGE_INTEGER* written) {
  if (!target) return E_POINTER;
  uint8_t block[4096];
  uint64_t remaining = count.QuadPart;
  uint64_t total = 0;
  HRESULT result = S_OK;
  while (remaining > 0) {
    ULONG asked = remaining < sizeof(block) ? static_cast<ULONG>(remaining) : sizeof(block);
    ULONG got = 0;
    HRESULT hr = Read(block, asked, &got);
    if (FAILED(hr)) {
      result = hr;
      break;
    }
    if (got) {
      ULONG put = 0;
      hr = target->Write(block, got, &put);
      if (FAILED(hr)) {
        result = hr;
        break;
      }
      total += got;
    }
    if (got < asked) break;
    remaining -= got;
  }
  if (read) read->QuadPart = total;
  if (written) written->QuadPart = total;
  return result;
}

HRESULT CBufferStream::Stat(STATSTG* record, DWORD) {
  if (!record) return S_OK;
  std::memset(record, 0, sizeof(*record));
  record->type = STGTY_STREAM;
  record->cbSize.QuadPart = buffer.Length();
  record->grfLocksSupported = 0;
  return S_OK;
}
