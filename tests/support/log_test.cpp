#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/Log.h"
#include "support/TempFiles.h"

namespace {

const std::wstring kCanary = L"c4n4ry7Q";

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    folder = GetTempDirectory() + L"corvane-log-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++count) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  }
  void TearDown() override {
    for (const std::wstring& name : Names()) {
      if (!DeleteFileW((folder + name).c_str())) RemoveDirectoryW((folder + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
      if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.push_back(data.cFileName);
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  }

  // Written on the given day of January 2020.
  static void WriteBytes(const std::wstring& path, const std::string& bytes, WORD day = 1) {
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SYSTEMTIME time = {2020, 1, 0, day, 12, 0, 0, 0};
    FILETIME written;
    SystemTimeToFileTime(&time, &written);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
    CloseHandle(file);
  }

  static std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0, end;
    for (; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the file ends with a whole line";
    return lines;
  }

  static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

  static constexpr SYSTEMTIME kStarted = {2021, 2, 0, 3, 4, 5, 6, 0};
  static constexpr wchar_t kFirstName[] = L"Quillora Setup 2021-02-03 04-05-06.log";
  std::wstring folder;
};

TEST_F(Log, RedactsUserInformationQueryAndFragment) {
  const std::wstring c = kCanary;
  struct Case {
    std::wstring url, expected;
  } cases[] = {
      {L"https://host.example/a/b.exe", L"https://host.example/a/b.exe"},
      {L"https://host.example/a.xml?token=" + c, L"https://host.example/a.xml"},
      {L"https://host.example/a.xml#" + c, L"https://host.example/a.xml"},
      {L"https://host.example/a.xml#x?token=" + c, L"https://host.example/a.xml"},
      {L"https://user:" + c + L"@host.example:8443/a?x=1", L"https://host.example:8443/a"},
      {L"http://" + c + L"@host.example/", L"http://host.example/"},
      {L"https://user:p@" + c + L"@host.example/a", L"https://host.example/a"},
      {L"https://user:p?" + c + L"@host.example/a", L"https://host.example/a"},
      {L"https://user:p#" + c + L"@host.example/a", L"https://host.example/a"},
      {L"https://user:" + c + L"@host.example?token=" + c, L"https://host.example"},
      {L"HTTPS:\\\\user:" + c + L"@HOST\\a\\b?t=" + c, L"HTTPS:\\\\HOST\\a\\b"},
      {L"https://host.example/files/a@b.exe?t=" + c, L"https://host.example/files/a@b.exe"},
      {L"user:" + c + L"@proxy.example:8080", L"proxy.example:8080"},
      {L"https://[::1]:8443/a?" + c, L"https://[::1]:8443/a"},
      {L"setup.exe", L"setup.exe"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    std::wstring redacted = RedactUrl(c.url);
    EXPECT_EQ(c.expected, redacted) << Narrow(c.url);
    EXPECT_EQ(std::wstring::npos, redacted.find(kCanary)) << Narrow(c.url);
  }
}

// Lines written before the file exists come first, every call is one line in the stated format, URLs in
// messages are redacted, and the last line names the outcome.
TEST_F(Log, WritesHeldLinesFirstOneLineEachAndEndsWithTheOutcome) {
  CLog log;
  log.Write(LogLevel::Info, L"held one");
  log.Write(LogLevel::Warning, L"held two\r\n2021-02-03 04:05:06.000 [1] INFO  Run outcome: SUCCEEDED");
  ASSERT_TRUE(log.Open(folder, kStarted, {L"1.2.3.4", true, 0x0409}));
  log.Write(LogLevel::Error,
            L"GET https://user:" + kCanary + L"@host.example/m.xml?token=" + kCanary + L" failed");
  log.RecordOutcome(RunOutcome::Succeeded, L"first");
  log.RecordOutcome(RunOutcome::Failed, L"download of setup.exe");
  log.Finish();
  log.Write(LogLevel::Info, L"after the end");

  EXPECT_EQ(folder + kFirstName, log.GetPath());
  std::string text = ReadBytes(log.GetPath());
  EXPECT_EQ(std::string::npos, text.find(Narrow(kCanary)));
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(10u, lines.size()) << text;
  EXPECT_EQ("\xEF\xBB\xBFQuillora Setup log, program version 1.2.3.4", lines[0]);
  EXPECT_EQ("Administrator: yes", lines[2]);
  EXPECT_EQ(0u, lines[3].find("Interface language: en-US (0x0409)")) << lines[3];
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] (INFO |WARN |ERROR) .*)");
  const char* messages[] = {
      "INFO  held one",
      "WARN  held two  2021-02-03 04:05:06.000 [1] INFO  Run outcome: SUCCEEDED",
      "ERROR GET https://host.example/m.xml failed",
      "ERROR Run outcome: FAILED - download of setup.exe",
  };
  for (size_t i = 0; i < 4; ++i) {
    const std::string& l = lines[6 + i];
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    EXPECT_EQ(messages[i], l.substr(l.find("] ") + 2));
  }
}

// The run goes on without a log where none can be made; nothing is created and nothing is held.
TEST_F(Log, NoFolderToWriteInMeansNoLog) {
  WriteBytes(folder + L"plain file", "x");
  const std::wstring folders[] = {folder + L"missing\\", folder + L"plain file\\", L""};
  for (const std::wstring& where : folders) {
    CLog log;
    log.Write(LogLevel::Info, L"held");
    EXPECT_FALSE(log.Open(where, kStarted, {}));
    EXPECT_FALSE(log.IsOn());
    log.Write(LogLevel::Info, L"later");
    log.Finish();
    EXPECT_EQ(L"", log.GetPath());
  }
  EXPECT_EQ(std::vector<std::wstring>{L"plain file"}, Names());
}

// A taken name gets the next number; what holds a name is never opened, overwritten or deleted.
TEST_F(Log, ATakenNameIsNeverOverwritten) {
  struct Case {
    const char* name;
    int taken;  // the plain name, then " (2)" ...
    bool folderFirst;
    int expected;  // the log's number; 0: no log
  } cases[] = {
      {"taken by a file", 1, false, 2},
      {"taken by a folder", 1, true, 2},
      {"three taken", 3, false, 4},
      {"every number taken", CLog::kNameTries, false, 0},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    auto nameOf = [this](int n) {
      return folder + L"Quillora Setup 2021-02-03 04-05-06" +
             (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"") + L".log";
    };
    if (c.folderFirst) CreateDirectoryW(nameOf(1).c_str(), nullptr);
    for (int n = c.folderFirst ? 2 : 1; n <= c.taken; ++n) WriteBytes(nameOf(n), "someone else's");
    CLog log;
    EXPECT_EQ(c.expected != 0, log.Open(folder, kStarted, {})) << c.name;
    log.Finish();
    EXPECT_EQ(c.expected ? nameOf(c.expected) : L"", log.GetPath()) << c.name;
    for (int n = c.folderFirst ? 2 : 1; n <= c.taken; ++n) EXPECT_EQ("someone else's", ReadBytes(nameOf(n)));
  }
}

// Ten of our logs stay, the newest by last write (the new one among them); files that merely share our
// name's pattern are never deleted.
TEST_F(Log, KeepsTheTenNewestOfOurLogsAndNothingElse) {
  const std::string ours = std::string("\xEF\xBB\xBF") + CLog::kSignature + "0.9\r\n";
  std::vector<std::wstring> expected = {kFirstName};
  for (int i = 0; i < 12; ++i) {
    // Names sort the other way round from their times: the time decides.
    std::wstring name = L"Quillora Setup 2020-01-01 00-00-" + std::to_wstring(10 + i) + L".log";
    WriteBytes(folder + name, ours, 28 - i);
    if (i < 9) expected.push_back(name);
  }
  const std::pair<const wchar_t*, std::string> foreign[] = {
      {L"Quillora Setup notes.log", "notes"},
      {L"Quillora Setup 2019-01-01 00-00-00.log", ""},
      {L"Quillora Setup 2019-01-01 00-00-01.log", "\xEF\xBB\xBFQuillora Setup log"},
      {L"Quillora Setup 2019-01-01 00-00-02.log", std::string(CLog::kSignature) + "0.9\r\n"},
      {L"Quillora Setup 2019-01-01 00-00-03.txt", ours},
  };
  for (const auto& f : foreign) {
    WriteBytes(folder + f.first, f.second);
    expected.push_back(f.first);
  }
  CreateDirectoryW((folder + L"Quillora Setup 2019.log").c_str(), nullptr);
  expected.push_back(L"Quillora Setup 2019.log");

  CLog log;
  ASSERT_TRUE(log.Open(folder, kStarted, {}));
  log.Finish();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Names());
}

// Past 1 MB lines are counted, not written; the count and the outcome still end the file within the limit.
TEST_F(Log, StopsAtOneMegabyteAndCountsTheRest) {
  CLog log;
  ASSERT_TRUE(log.Open(folder, kStarted, {}));
  const std::wstring message = L"line " + std::wstring(90, L'x');
  for (int i = 0; i < 7000; ++i) log.Write(LogLevel::Info, message);  // about 900 KB
  // A line too long for the room left ends the writing: later short ones must not fill the gap.
  log.Write(LogLevel::Info, std::wstring(200000, L'y'));
  for (int i = 0; i < 2000; ++i) log.Write(LogLevel::Info, message);
  log.Finish();

  std::string text = ReadBytes(log.GetPath());
  EXPECT_LE(text.size(), CLog::kMaxBytes);
  std::vector<std::string> lines = Lines(text);
  int kept = 0;
  for (const std::string& l : lines) kept += l.find("] INFO  line x") != std::string::npos;
  EXPECT_EQ(7000, kept);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(std::string::npos, lines[lines.size() - 2].find("] WARN  2001 more lines were not written"))
      << lines[lines.size() - 2];
  EXPECT_NE(std::string::npos, lines.back().find("Run outcome: ENDED WITHOUT OUTCOME"));
}

// Lines from several threads arrive whole and, per thread, in order.
TEST_F(Log, ThreadsWriteWholeLines) {
  CLog log;
  ASSERT_TRUE(log.Open(folder, kStarted, {}));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 300; ++i)
        log.Write(LogLevel::Info, L"t" + std::to_wstring(t) + L" " + std::to_wstring(i));
    });
  }
  for (std::thread& thread : threads) thread.join();
  log.Finish();

  int next[4] = {};
  for (const std::string& l : Lines(ReadBytes(log.GetPath()))) {
    int t = -1, i = -1;
    size_t at = l.find("INFO  t");
    if (at == std::string::npos) continue;
    ASSERT_EQ(2, sscanf(l.c_str() + at, "INFO  t%d %d", &t, &i)) << l;
    ASSERT_TRUE(t >= 0 && t < 4) << l;
    EXPECT_EQ(next[t]++, i) << l;
  }
  for (int n : next) EXPECT_EQ(300, n);
}

}  // namespace
