#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/Buffer.h"

namespace {

// Grows a buffer to a given capacity and length through its public operations only.
void Shape(CBuffer& b, uint32_t length) {
  std::vector<uint8_t> bytes(length, 0xAB);
  ASSERT_TRUE(b.Append(bytes.data(), length));
}

TEST(BufferGrowth, FollowsTheStepRule) {
  struct Case {
    uint32_t initialLength;  // appended first, in one piece
    uint32_t growBy;
    uint32_t expectedCapacity;
  } cases[] = {
      {0, 10, 32},      // empty: step 32 beats 10 + 4
      {0, 28, 32},      // 28 + 4 = 32, equal to the step
      {0, 29, 33},      // 29 + 4 exceeds the step
      {0, 1000, 1004},  // a large request gets exactly what it needs plus 4
  };
  for (const Case& c : cases) {
    CBuffer b;
    if (c.initialLength) Shape(b, c.initialLength);
    ASSERT_TRUE(b.Grow(c.growBy));
    EXPECT_EQ(c.expectedCapacity, b.Capacity()) << c.initialLength << "+" << c.growBy;
  }
}

TEST(BufferGrowth, LargeBufferGrowsByAQuarterPlus32) {
  CBuffer b;
  Shape(b, 396);  // capacity 400 (396 + 4), length 396
  ASSERT_EQ(400u, b.Capacity());
  uint8_t more[4] = {};
  ASSERT_TRUE(b.Append(more, 4));  // fills exactly, no growth
  ASSERT_EQ(400u, b.Capacity());
  ASSERT_EQ(400u, b.Length());
  ASSERT_TRUE(b.Append(more, 1));  // step 400 / 4 + 32 = 132
  EXPECT_EQ(532u, b.Capacity());
  EXPECT_EQ(401u, b.Length());
}

TEST(BufferGrowth, SizesThatWouldWrapFailAndLeaveTheBufferAlone) {
  CBuffer b;
  Shape(b, 100);
  uint32_t capacity = b.Capacity();
  EXPECT_FALSE(b.Grow(UINT32_MAX - 2));       // n + 4 wraps
  EXPECT_FALSE(b.Grow(UINT32_MAX - 100));     // length + n + 4 wraps
  EXPECT_FALSE(b.Reserve(UINT32_MAX - 50));   // length + n wraps before the capacity test
  uint8_t byte = 1;
  EXPECT_FALSE(b.Append(&byte, UINT32_MAX));  // never a small allocation followed by a huge copy
  EXPECT_EQ(capacity, b.Capacity());
  EXPECT_EQ(100u, b.Length());
}

TEST(BufferGrowth, AllocationFailureIsReportedNotWritten) {
  CBuffer b;
  Shape(b, 16);
  ScopedCapacityLimit limit(1 << 20);
  EXPECT_FALSE(b.Reserve(2 << 20));
  EXPECT_EQ(16u, b.Length());
  EXPECT_EQ(0xAB, b.Data()[15]);
}

TEST(BufferContent, AppendAssignAndTerminate) {
  CBuffer b;
  EXPECT_TRUE(b.Append("abc", 0));  // nothing to do, nothing allocated
  EXPECT_EQ(nullptr, b.Data());
  EXPECT_STREQ(L"", b.GetText());   // an empty buffer still reads as an empty text

  ASSERT_TRUE(b.Append("abc", 3));
  ASSERT_TRUE(b.Append("de", 2));
  EXPECT_EQ(5u, b.Length());
  EXPECT_EQ(0, std::memcmp(b.GetData(), "abcde", 5));

  ASSERT_TRUE(b.Assign("xy", 2));
  EXPECT_EQ(2u, b.Length());
  EXPECT_EQ(0, std::memcmp(b.GetData(), "xy", 2));

  ASSERT_TRUE(b.Terminate());
  EXPECT_EQ(2u, b.Length());
  EXPECT_EQ(0, b.Data()[2]);
  EXPECT_EQ(0, b.Data()[3]);

  // Appending from the buffer's own storage survives the move that growth makes.
  CBuffer self;
  ASSERT_TRUE(self.Append("0123456789", 10));
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(self.Append(self.Data(), self.Length()));
  EXPECT_EQ(640u, self.Length());
  EXPECT_EQ(0, std::memcmp(self.Data() + 630, "0123456789", 10));

  b.Free();
  EXPECT_EQ(nullptr, b.Data());
  EXPECT_EQ(0u, b.Capacity());
  EXPECT_EQ(0u, b.Length());
}

TEST(BufferContent, AssignTextStoresTheTerminatorWithoutCountingIt) {
  CBuffer b;
  ASSERT_TRUE(b.AssignText(L"hello"));
  EXPECT_EQ(10u, b.Length());
  EXPECT_STREQ(L"hello", b.GetText());

  ASSERT_TRUE(b.AssignText(L""));
  EXPECT_EQ(0u, b.Length());
  EXPECT_EQ(0, reinterpret_cast<const wchar_t*>(b.Data())[0]);

  ASSERT_TRUE(b.AssignText(L"again"));
  ASSERT_TRUE(b.AssignText(nullptr));  // null: empty, and the old text no longer reads
  EXPECT_EQ(0u, b.Length());
  EXPECT_EQ(0, reinterpret_cast<const wchar_t*>(b.Data())[0]);

  CBuffer never;
  ASSERT_TRUE(never.AssignText(nullptr));  // nothing allocated for nothing
  EXPECT_EQ(nullptr, never.Data());
}

TEST(BufferContent, AppendFormat) {
  struct Case {
    const wchar_t* prefix;
    const wchar_t* expected;
  } cases[] = {
      {L"", L"1.500000 sec\n"},
      {L"run: ", L"run: 1.500000 sec\n"},
  };
  for (const Case& c : cases) {
    CBuffer b;
    ASSERT_TRUE(b.AppendFormat(L"%s%f sec%s", c.prefix, 1.5, L"\n"));
    EXPECT_STREQ(c.expected, b.GetText());
    EXPECT_EQ(std::wcslen(c.expected) * 2, b.Length());
  }

  // Output far longer than the format: the buffer doubles until it fits, and appends after what is there.
  CBuffer b;
  ASSERT_TRUE(b.AppendFormat(L"<%d>", 7));
  std::wstring longText(5000, L'x');
  ASSERT_TRUE(b.AppendFormat(L"%s|", longText.c_str()));
  EXPECT_EQ(L"<7>" + longText + L"|", std::wstring(b.GetText()));
  EXPECT_EQ((3 + 5000 + 1) * 2u, b.Length());
}

}  // namespace
