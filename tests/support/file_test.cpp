#include <gtest/gtest.h>

#include <string>

#include "support/File.h"

namespace {

std::wstring TempDirectory() {
  wchar_t directory[MAX_PATH];
  GetTempPathW(MAX_PATH, directory);
  return directory;
}

// A file in the temporary directory, deleted at the end of the test.
struct TempFile {
  explicit TempFile(const wchar_t* name) : path(TempDirectory() + name) { FileDelete(path.c_str()); }
  ~TempFile() { FileDelete(path.c_str()); }
  std::wstring path;
};

TEST(FilePaths, AppendComponent) {
  struct Case {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"", L"\\x"}, {L"C:\\tmp", L"C:\\tmp\\x"}, {L"C:\\tmp\\", L"C:\\tmp\\x"}, {L"C:\\tmp/", L"C:\\tmp/x"}};
  for (const Case& c : cases) {
    std::wstring path = c.path;
    PathAppendComponent(path, L"x");
    EXPECT_EQ(c.expected, path);
  }
}

TEST(FilePaths, RemoveLastComponent) {
  struct Case {
    const wchar_t* path;
    bool removed;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\dir\\file.exe", true, L"C:\\dir"},
      {L"C:\\file.exe", true, L"C:\\"},
      {L"C:file", true, L"C:"},
      {L"\\file", true, L"\\"},
      {L"\\\\server\\share", true, L"\\\\server"},
      {L"\\\\server", true, L"\\\\"},
      {L"file.exe", true, L""},
      {L"C:\\dir\\", true, L"C:\\dir"},
      {L"C:", false, L"C:"},
      {L"C:\\", false, L"C:\\"},
      {L"\\", false, L"\\"},
      {L"\\\\", false, L"\\\\"},
      {L"", false, L""},
  };
  for (const Case& c : cases) {
    std::wstring path = c.path;
    EXPECT_EQ(c.removed, PathRemoveLastComponent(path)) << c.path;
    EXPECT_EQ(c.expected, path) << c.path;
  }
}

TEST(FileHelpers, ExistsAndDelete) {
  TempFile file(L"file_test_exists.txt");
  EXPECT_FALSE(FileExists(file.path.c_str(), false));
  {
    CFile f;
    ASSERT_TRUE(f.Open(file.path.c_str(), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  }
  const std::wstring directory = TempDirectory();
  struct Case {
    const std::wstring& path;
    bool filesOnly;
    bool exists;
  } cases[] = {
      {file.path, true, true}, {file.path, false, true}, {directory, true, false}, {directory, false, true}};
  for (const Case& c : cases) EXPECT_EQ(c.exists, FileExists(c.path.c_str(), c.filesOnly));
  EXPECT_TRUE(FileDelete(file.path.c_str()));
  EXPECT_FALSE(FileDelete(file.path.c_str()));
  EXPECT_FALSE(FileExists(file.path.c_str(), false));
}

TEST(FileObject, ReadWriteSeekAndErrors) {
  TempFile file(L"file_test_rw.bin");
  CFile f;
  ASSERT_TRUE(
      f.Open(file.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  uint32_t moved = 99;
  EXPECT_TRUE(f.Write("hello world", 11, &moved));
  EXPECT_EQ(11u, f.GetSize());
  uint64_t position = 0;
  EXPECT_TRUE(f.Seek(-5, FILE_END, &position));
  EXPECT_EQ(6u, position);
  char buffer[16] = {};
  EXPECT_TRUE(f.Read(buffer, sizeof(buffer), &moved));
  EXPECT_STREQ("world", buffer);
  EXPECT_TRUE(f.SetSize(5));
  EXPECT_EQ(5u, f.GetSize());
  EXPECT_FALSE(f.Seek(-1, FILE_BEGIN, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), f.GetLastError());
  EXPECT_FALSE(f.GetLastErrorText().empty());
  EXPECT_EQ(std::wstring::npos, f.GetLastErrorText().find_first_of(L"\r\n"));  // one line
  f.Close();
  EXPECT_TRUE(f.GetPath().empty());
  // Re-creating an existing file succeeds and says that it existed.
  ASSERT_TRUE(f.Open(file.path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), f.GetLastError());
  const std::wstring missing = TempDirectory() + L"no such dir\\x";
  EXPECT_FALSE(f.Open(missing.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), f.GetLastError());
  EXPECT_EQ(missing, f.GetPath());  // what an error message names
}

TEST(FileObject, ShortWriteIsDiskFull) {
  // A non-blocking pipe takes only what fits in its buffer and still reports success, as a full volume
  // does: the file object must call that a failure.
  const wchar_t* name = L"\\\\.\\pipe\\corvane_file_test_short_write";
  CFileHandle server(
      CreateNamedPipeW(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(server.IsValid());
  CFile client;
  ASSERT_TRUE(client.Open(name, GENERIC_WRITE, 0, OPEN_EXISTING, 0));
  DWORD mode = PIPE_NOWAIT;
  ASSERT_TRUE(SetNamedPipeHandleState(client.GetHandle(), &mode, nullptr, nullptr));
  std::string big(1 << 20, 'x');
  uint32_t moved = 0;
  EXPECT_FALSE(client.Write(big.data(), static_cast<uint32_t>(big.size()), &moved));
  EXPECT_LT(moved, big.size());
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), client.GetLastError());
}

TEST(MappedFile, WholeFilesAndWindows) {
  TempFile file(L"file_test_map.bin");
  CMappedFile mapped;
  // Mapping an empty file fails with ERROR_INVALID_DATA and maps nothing.
  {
    CFile f;
    ASSERT_TRUE(f.Open(file.path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  }
  EXPECT_FALSE(
      mapped.Open(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), mapped.GetLastError());
  EXPECT_EQ(nullptr, mapped.GetData());

  // Written through a read-write mapping of a requested size, read back through a read-only one.
  ASSERT_TRUE(mapped.Open(file.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, 100000));
  EXPECT_EQ(100000u, mapped.GetSize());
  memset(mapped.GetWritableData(), 'q', 100000);
  mapped.GetWritableData()[99999] = 'z';
  mapped.Close();
  CBuffer whole;
  ASSERT_TRUE(ReadWholeFile(file.path.c_str(), whole));
  ASSERT_EQ(100000u, whole.Length());
  EXPECT_EQ('z', static_cast<const char*>(whole.GetData())[99999]);
  EXPECT_EQ(0u, mapped.GetLastError());

  // A window is rounded up to the allocation granularity, and never beyond the file.
  ASSERT_TRUE(mapped.Open(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, 0, 1000));
  EXPECT_EQ(65536u, mapped.GetViewSize());
  EXPECT_EQ('q', mapped.GetData()[65535]);
  ASSERT_TRUE(mapped.Open(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, 0, 70000));
  EXPECT_EQ(100000u, mapped.GetViewSize());
  mapped.Close();
  EXPECT_FALSE(ReadWholeFile((TempDirectory() + L"missing_file_test.bin").c_str(), whole));
}

}  // namespace
