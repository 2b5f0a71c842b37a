// WinInet, loaded from the system directory on first use: it is not a known DLL, so importing it would let
// a wininet.dll planted beside the program be loaded before the program's first instruction.
#pragma once

#include <windows.h>
#include <wininet.h>

struct WinInetApi {
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::InternetOpenUrlW) InternetOpenUrlW;
  decltype(&::InternetOpenUrlA) InternetOpenUrlA;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
  decltype(&::InternetReadFile) InternetReadFile;
  decltype(&::InternetReadFileExA) InternetReadFileExA;
  decltype(&::InternetSetOptionW) InternetSetOptionW;
  decltype(&::InternetQueryOptionW) InternetQueryOptionW;
  decltype(&::InternetSetCookieW) InternetSetCookieW;
  decltype(&::HttpSendRequestW) HttpSendRequestW;
  decltype(&::InternetErrorDlg) InternetErrorDlg;
  decltype(&::InternetCombineUrlW) InternetCombineUrlW;
};

// The functions, or null (last error set) when wininet.dll or one of them cannot be had.
const WinInetApi* WinInet();

// Puts read in the place of the platform's InternetReadFileExA, for tests that play an older system;
// null puts the platform's back. Only while no transfer runs.
void SetReadFileExForTesting(decltype(&::InternetReadFileExA) read);
class ScopedReadFileEx {
 public:
  explicit ScopedReadFileEx(decltype(&::InternetReadFileExA) read) { SetReadFileExForTesting(read); }
  ScopedReadFileEx(const ScopedReadFileEx&) = delete;
  ScopedReadFileEx& operator=(const ScopedReadFileEx&) = delete;
  ~ScopedReadFileEx() { SetReadFileExForTesting(nullptr); }
};
