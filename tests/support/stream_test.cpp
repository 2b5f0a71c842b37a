#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/Buffer.h"

namespace {

// The stream is reference counted; the test holds the first reference and releases it at the end.
struct StreamHolder {
  CBufferStream* s = new CBufferStream();
  ~StreamHolder() { s->Release(); }
  CBufferStream* operator->() { return s; }
};

ULARGE_INTEGER U64(uint64_t v) {
  ULARGE_INTEGER u;
  u.QuadPart = v;
  return u;
}
LARGE_INTEGER I64(int64_t v) {
  LARGE_INTEGER i;
  i.QuadPart = v;
  return i;
}

void Fill(StreamHolder& stream, const char* text) {
  ULONG written = 0;
  ASSERT_EQ(S_OK, stream->Write(text, static_cast<ULONG>(std::strlen(text)), &written));
  ASSERT_EQ(S_OK, stream->Seek(I64(0), STREAM_SEEK_SET, nullptr));
}

TEST(BufferStream, InterfacesAndReferenceCount) {
  StreamHolder stream;
  const IID* supported[] = {&IID_IUnknown, &IID_ISequentialStream, &IID_IStream};
  for (const IID* iid : supported) {
    void* out = nullptr;
    ASSERT_EQ(S_OK, stream->QueryInterface(*iid, &out));
    EXPECT_EQ(static_cast<IStream*>(stream.s), out);
    EXPECT_EQ(1u, static_cast<IUnknown*>(out)->Release());
  }
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(IID_IPersist, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(2u, stream->AddRef());
  EXPECT_EQ(1u, stream->Release());
}

TEST(BufferStream, Read) {
  struct Case {
    int64_t seekTo;
    ULONG asked;
    ULONG expectedRead;
    HRESULT expected;
  } cases[] = {
      {0, 4, 4, S_OK},        // within the data
      {0, 10, 10, S_OK},      // exactly all of it
      {6, 10, 4, S_FALSE},    // short read at the end
      {10, 1, 0, S_FALSE},    // at the end
      {25, 3, 0, S_FALSE},    // beyond the end: nothing, no wrap-around
      {0, 0, 0, S_OK},        // nothing asked, nothing read
  };
  for (const Case& c : cases) {
    StreamHolder stream;
    Fill(stream, "0123456789");
    ASSERT_EQ(S_OK, stream->Seek(I64(c.seekTo), STREAM_SEEK_SET, nullptr));
    char out[16] = {};
    ULONG read = 99;
    EXPECT_EQ(c.expected, stream->Read(out, c.asked, &read)) << c.seekTo << "/" << c.asked;
    EXPECT_EQ(c.expectedRead, read);
    EXPECT_EQ(0, std::memcmp(out, "0123456789" + (c.seekTo < 10 ? c.seekTo : 10), c.expectedRead));
  }
  StreamHolder stream;
  EXPECT_EQ(E_POINTER, stream->Read(nullptr, 1, nullptr));
}

TEST(BufferStream, WriteGrowsAndFillsGapsWithZeros) {
  StreamHolder stream;
  Fill(stream, "abc");
  ASSERT_EQ(S_OK, stream->Seek(I64(6), STREAM_SEEK_SET, nullptr));
  ULONG written = 0;
  ASSERT_EQ(S_OK, stream->Write("XY", 2, &written));
  EXPECT_EQ(2u, written);
  EXPECT_EQ(8u, stream->Buffer().Length());
  EXPECT_EQ(8u, stream->Position());
  EXPECT_EQ(0, std::memcmp(stream->Buffer().Data(), "abc\0\0\0XY", 8));

  // Overwriting inside the data keeps the length.
  ASSERT_EQ(S_OK, stream->Seek(I64(1), STREAM_SEEK_SET, nullptr));
  ASSERT_EQ(S_OK, stream->Write("B", 1, nullptr));
  EXPECT_EQ(8u, stream->Buffer().Length());
  EXPECT_EQ('B', stream->Buffer().Data()[1]);

  EXPECT_EQ(E_POINTER, stream->Write(nullptr, 1, nullptr));
  // A write that cannot have storage fails and writes nothing.
  ScopedCapacityLimit limit(1 << 20);
  ASSERT_EQ(S_OK, stream->Seek(I64(0xFFFFFFF0LL), STREAM_SEEK_SET, nullptr));
  EXPECT_EQ(STG_E_MEDIUMFULL, stream->Write("0123456789abcdefghij", 20, nullptr));
  EXPECT_EQ(STG_E_MEDIUMFULL, stream->Write("x", 1, nullptr));
  EXPECT_EQ(8u, stream->Buffer().Length());
}

TEST(BufferStream, Seek) {
  struct Case {
    DWORD origin;
    int64_t move;
    HRESULT expected;
    uint64_t expectedPosition;  // the position afterwards (unchanged on failure)
  } cases[] = {
      {STREAM_SEEK_SET, 3, S_OK, 3},
      {STREAM_SEEK_CUR, 2, S_OK, 6},  // from the starting position 4
      {STREAM_SEEK_END, -1, S_OK, 9},
      {STREAM_SEEK_END, 100, S_OK, 110},  // beyond the length is allowed
      {STREAM_SEEK_CUR, -5, STG_E_INVALIDFUNCTION, 4},  // before the start
      {STREAM_SEEK_SET, 0xFFFFFFFFLL, S_OK, 0xFFFFFFFFu},
      {STREAM_SEEK_SET, 0x100000000LL, STG_E_INVALIDFUNCTION, 4},  // 4 GiB does not fit
      {STREAM_SEEK_CUR, INT64_MAX, STG_E_INVALIDFUNCTION, 4},      // no signed overflow either
      {3, 0, STG_E_INVALIDFUNCTION, 4},                             // unknown origin
  };
  for (const Case& c : cases) {
    StreamHolder stream;
    Fill(stream, "0123456789");
    ASSERT_EQ(S_OK, stream->Seek(I64(4), STREAM_SEEK_SET, nullptr));
    ULARGE_INTEGER out = U64(12345);
    EXPECT_EQ(c.expected, stream->Seek(I64(c.move), c.origin, &out)) << c.origin << "/" << c.move;
    EXPECT_EQ(c.expectedPosition, stream->Position());
    if (c.expected == S_OK) {
      EXPECT_EQ(c.expectedPosition, out.QuadPart);
    }
  }
}

TEST(BufferStream, SetSize) {
  StreamHolder stream;
  Fill(stream, "0123456789");
  ASSERT_EQ(S_OK, stream->Seek(I64(8), STREAM_SEEK_SET, nullptr));
  ASSERT_EQ(S_OK, stream->SetSize(U64(5)));  // shrinking keeps the position...
  EXPECT_EQ(5u, stream->Buffer().Length());
  EXPECT_EQ(8u, stream->Position());
  char out[4];
  ULONG read = 9;
  EXPECT_EQ(S_FALSE, stream->Read(out, 4, &read));  // ...so nothing more is read
  EXPECT_EQ(0u, read);

  ASSERT_EQ(S_OK, stream->SetSize(U64(12)));  // growing zero-fills
  EXPECT_EQ(12u, stream->Buffer().Length());
  EXPECT_EQ(0, stream->Buffer().Data()[11]);

  EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->SetSize(U64(0x100000000ULL)));
  ScopedCapacityLimit limit(1 << 20);
  EXPECT_EQ(S_OK, stream->SetSize(U64(2 << 20)));  // cannot grow: size kept, still S_OK
  EXPECT_EQ(12u, stream->Buffer().Length());
}

TEST(BufferStream, CopyToGoesThroughBlocksAndStopsAtTheEnd) {
  struct Case {
    uint32_t sourceLength;
    int64_t startAt;
    uint64_t count;
    uint64_t expectedCopied;
  } cases[] = {
      {10000, 0, 10000, 10000},   // several 4096-byte blocks, the last one partial
      {10000, 0, 5000, 5000},     // count ends the copy
      {10000, 9000, 5000, 1000},  // a short read ends it; its bytes are still written
      {10000, 0, UINT64_MAX, 10000},
      {100, 200, 10, 0},          // nothing to read
  };
  for (const Case& c : cases) {
    StreamHolder source;
    std::vector<uint8_t> bytes(c.sourceLength);
    for (uint32_t i = 0; i < c.sourceLength; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(S_OK, source->Write(bytes.data(), c.sourceLength, nullptr));
    ASSERT_EQ(S_OK, source->Seek(I64(c.startAt), STREAM_SEEK_SET, nullptr));
    StreamHolder target;
    ULARGE_INTEGER read = U64(1), written = U64(1);
    ASSERT_EQ(S_OK, source->CopyTo(target.s, U64(c.count), &read, &written));
    EXPECT_EQ(c.expectedCopied, read.QuadPart);
    EXPECT_EQ(c.expectedCopied, written.QuadPart);
    ASSERT_EQ(c.expectedCopied, target->Buffer().Length());
    if (c.expectedCopied) {
      EXPECT_EQ(0, std::memcmp(target->Buffer().Data(), bytes.data() + c.startAt, c.expectedCopied));
    }
  }
}

TEST(BufferStream, StatAndUnsupportedOperations) {
  StreamHolder stream;
  Fill(stream, "abcdef");
  STATSTG stat;
  std::memset(&stat, 0xCC, sizeof(stat));
  ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_DEFAULT));
  EXPECT_EQ(nullptr, stat.pwcsName);
  EXPECT_EQ(static_cast<DWORD>(STGTY_STREAM), stat.type);
  EXPECT_EQ(6u, stat.cbSize.QuadPart);
  EXPECT_EQ(0u, stat.grfLocksSupported);
  EXPECT_EQ(S_OK, stream->Stat(nullptr, 0));

  IStream* clone = nullptr;
  EXPECT_EQ(E_NOTIMPL, stream->Clone(&clone));
  EXPECT_EQ(E_NOTIMPL, stream->Commit(0));
  EXPECT_EQ(E_NOTIMPL, stream->Revert());
  EXPECT_EQ(E_NOTIMPL, stream->LockRegion(U64(0), U64(1), 0));
  EXPECT_EQ(E_NOTIMPL, stream->UnlockRegion(U64(0), U64(1), 0));
}

}  // namespace
