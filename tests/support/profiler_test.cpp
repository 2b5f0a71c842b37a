#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "support/BlockProfiler.h"

namespace {

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the process says to a debugger: OutputDebugString raises it as an exception, which a vectored
// handler sees before anybody else.
std::string g_debugOutput;
LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != DBG_PRINTEXCEPTION_C) return EXCEPTION_CONTINUE_SEARCH;
  g_debugOutput += reinterpret_cast<const char*>(exception->ExceptionRecord->ExceptionInformation[1]);
  return EXCEPTION_CONTINUE_EXECUTION;
}

class BlockProfiler : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    path = std::wstring(folder) + L"corvane-profile-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(path.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"BLOCKPROFILE", nullptr);
    DeleteFileW(path.c_str());
  }
  std::wstring path;
};

TEST_F(BlockProfiler, AppendsOneLinePerRunToTheNamedFile) {
  // Also a path longer than MAX_PATH, in the \\?\ form that reaches it: still a file, not the debugger.
  const std::wstring deep = L"\\\\?\\" + path.substr(0, path.rfind(L'\\')) + L"\\" + std::wstring(150, L'd');
  const std::wstring longPath = deep + L"\\" + std::wstring(150, L'p') + L".txt";
  ASSERT_GE(longPath.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  for (const std::wstring& file : {path, longPath}) {
    SetEnvironmentVariableW(L"BLOCKPROFILE", file.c_str());
    { std::ofstream(file.c_str()) << "earlier line\n"; }
    { CBlockProfiler run(nullptr, L"\n", true); }
    { CBlockProfiler run(L"setup: ", L"\n", true); }
    std::string text = ReadAll(file);
    EXPECT_TRUE(std::regex_match(text, std::regex("earlier line\n[0-9]+\\.[0-9]{6} sec\nsetup: [0-9]+\\.[0-9]{6} sec\n")))
        << text;
  }
  DeleteFileW(longPath.c_str());
  RemoveDirectoryW(deep.c_str());
}

TEST_F(BlockProfiler, DisabledOrAlreadyReportedStaysSilent) {
  SetEnvironmentVariableW(L"BLOCKPROFILE", path.c_str());
  { CBlockProfiler run(nullptr, L"\n", false); }
  EXPECT_EQ("", ReadAll(path));
  {
    CBlockProfiler run(L"x", L"\n", true);
    run.Report(L"explicit ", L"\n");
    EXPECT_TRUE(run.Done());
  }
  std::string text = ReadAll(path);
  EXPECT_TRUE(std::regex_match(text, std::regex("explicit [0-9]+\\.[0-9]{6} sec\n"))) << text;
}

TEST_F(BlockProfiler, WithoutTheVariableTheFileIsUntouched) {
  PVOID handler = AddVectoredExceptionHandler(1, CatchDebugOutput);
  for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {  // unset, then empty
    SetEnvironmentVariableW(L"BLOCKPROFILE", value);
    g_debugOutput.clear();
    { CBlockProfiler run(nullptr, L"\n", true); }  // goes to the debugger instead
    EXPECT_TRUE(std::regex_match(g_debugOutput, std::regex("[0-9]+\\.[0-9]{6} sec\n"))) << g_debugOutput;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
  }
  RemoveVectoredExceptionHandler(handler);

  CBlockProfiler timed(nullptr, nullptr, false);
  Sleep(20);
  double seconds = timed.Stop();
  EXPECT_GE(seconds, 0.015);
  EXPECT_LT(seconds, 5.0);
  CBuffer text;
  timed.Format(L"[", L"]", text, false);
  EXPECT_TRUE(std::regex_match(std::wstring(text.GetText()), std::wregex(L"\\[[0-9]+\\.[0-9]{6} sec\\]")));
  EXPECT_FALSE(timed.Done());
}

}  // namespace
