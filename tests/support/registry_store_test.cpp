#include <gtest/gtest.h>

#include <vector>

#include "support/RegistryStore.h"

namespace {

const wchar_t kTestKey[] = L"Software\\Quillora\\CorvaneTest";

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

  // Writes a raw value behind the store's back, to give its readers wrong types and sizes.
  static void Raw(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    std::wstring path = std::wstring(kTestKey) + (subKey ? std::wstring(L"\\") + subKey : L"");
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                             key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size));
  }
  static bool ValueExists(const wchar_t* subKey, const wchar_t* name) {
    std::wstring path = std::wstring(kTestKey) + L"\\" + subKey;
    CRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(key.Get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  }

  CRegistryStore store{HKEY_CURRENT_USER, kTestKey};
};

TEST_F(RegistryStore, TypedValuesRoundTripAndMissesKeepTheCallersValue) {
  DWORD number = 7;
  EXPECT_FALSE(store.GetDword(nullptr, L"n", number));
  EXPECT_EQ(7u, number);
  EXPECT_FALSE(store.GetDword(nullptr, L"n", number, true));  // a miss can store the default
  number = 0;
  EXPECT_TRUE(store.GetDword(nullptr, L"n", number));
  EXPECT_EQ(7u, number);
  EXPECT_TRUE(store.SetDword(L"sub", L"n", 42));
  EXPECT_TRUE(store.GetDword(L"sub", L"n", number));
  EXPECT_EQ(42u, number);

  std::wstring text = L"default";
  EXPECT_FALSE(store.GetString(nullptr, L"s", text));
  EXPECT_EQ(L"default", text);
  EXPECT_TRUE(store.SetString(nullptr, L"s", L"stored"));
  EXPECT_TRUE(store.GetString(nullptr, L"s", text));
  EXPECT_EQ(L"stored", text);

  BYTE bytes[4] = {1, 2, 3, 4};
  EXPECT_TRUE(store.SetBytes(nullptr, L"b", bytes, 4, false));
  BYTE read[4] = {};
  EXPECT_TRUE(store.GetBytes(nullptr, L"b", read, 4));
  EXPECT_EQ(0, memcmp(bytes, read, 4));
  EXPECT_TRUE(store.SetBytes(nullptr, L"b", bytes, 4, true));  // identical: untouched, still a success

  EXPECT_TRUE(store.DeleteValue(nullptr, L"b"));
  EXPECT_FALSE(store.DeleteValue(nullptr, L"b"));
}

TEST_F(RegistryStore, WrongTypesAndSizesAreMisses) {
  const DWORD dword = 5;
  const BYTE three[3] = {1, 2, 3};
  const wchar_t unterminated[2] = {L'a', L'b'};
  struct Case {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;
    bool dwordHit, stringHit, bytes4Hit;
  } cases[] = {
      {"dword", REG_DWORD, &dword, 4, true, false, false},
      {"3-byte dword", REG_DWORD, three, 3, false, false, false},
      {"binary of 4", REG_BINARY, &dword, 4, false, false, true},
      {"binary of 3", REG_BINARY, three, 3, false, false, false},
      {"expand string", REG_EXPAND_SZ, L"%TEMP%", 14, false, true, false},
      {"string without terminator", REG_SZ, unterminated, 4, false, false, false},
      {"odd-sized string", REG_SZ, L"abc", 5, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Raw(nullptr, L"v", c.type, c.data, c.size);
    DWORD number = 99;
    std::wstring text = L"kept";
    BYTE four[4] = {9, 9, 9, 9};
    EXPECT_EQ(c.dwordHit, store.GetDword(nullptr, L"v", number));
    EXPECT_EQ(c.stringHit, store.GetString(nullptr, L"v", text));
    EXPECT_EQ(c.bytes4Hit, store.GetBytes(nullptr, L"v", four, 4));
    // A miss leaves the caller's value alone.
    EXPECT_EQ(c.dwordHit, number != 99u);
    EXPECT_EQ(c.stringHit, text != L"kept");
    EXPECT_EQ(c.bytes4Hit, four[0] != 9);
  }
}

TEST_F(RegistryStore, PlacementIsWrittenBackOnlyWhenItWasLoaded) {
  {
    // A clean profile: the keys appear, no value does.
    CWindowPlacementHolder holder(store);
    EXPECT_FALSE(holder.Loaded());
  }
  EXPECT_FALSE(ValueExists(L"WindowPlacement", L"MainFrameWindow"));
  CRegKey key;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\WindowPlacement").c_str(),
                                         0, KEY_READ, key.Put()));

  struct Case {
    const char* name;
    DWORD type;
    DWORD size;
    bool loaded;
  } cases[] = {
      {"43 bytes", REG_BINARY, 43, false},
      {"45 bytes", REG_BINARY, 45, false},
      {"a DWORD", REG_DWORD, 4, false},
      {"44 bytes", REG_BINARY, 44, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> value(c.size, 0x5A);
    Raw(L"WindowPlacement", L"MainFrameWindow", c.type, value.data(), c.size);
    {
      CWindowPlacementHolder holder(store);
      EXPECT_EQ(c.loaded, holder.Loaded());
      // Someone changes the stored value while the program runs: only a loaded record overwrites it.
      std::vector<BYTE> other(c.size, 0x11);
      Raw(L"WindowPlacement", L"MainFrameWindow", c.type, other.data(), c.size);
    }
    std::vector<BYTE> after(64);
    DWORD size = static_cast<DWORD>(after.size()), type = 0;
    CRegKey placement;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\WindowPlacement").c_str(),
                                           0, KEY_READ, placement.Put()));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(placement.Get(), L"MainFrameWindow", nullptr, &type, after.data(), &size));
    EXPECT_EQ(c.size, size);
    EXPECT_EQ(c.loaded ? 0x5A : 0x11, after[0]);
  }
}

}  // namespace
