#include "net/WinInet.h"

#include "support/SystemLibrary.h"

namespace {

WinInetApi g_table;
decltype(&::InternetReadFileExA) g_platformReadFileEx;

}  // namespace

const WinInetApi* WinInet() {
  static const WinInetApi* api = []() -> const WinInetApi* {
    const wchar_t dll[] = L"wininet.dll";
    bool complete =
        (g_table.InternetOpenW = SystemProc<decltype(g_table.InternetOpenW)>(dll, "InternetOpenW")) &&
        (g_table.InternetOpenUrlW = SystemProc<decltype(g_table.InternetOpenUrlW)>(dll, "InternetOpenUrlW")) &&
        (g_table.InternetOpenUrlA = SystemProc<decltype(g_table.InternetOpenUrlA)>(dll, "InternetOpenUrlA")) &&
        (g_table.InternetCloseHandle = SystemProc<decltype(g_table.InternetCloseHandle)>(dll, "InternetCloseHandle")) &&
        (g_table.HttpQueryInfoW = SystemProc<decltype(g_table.HttpQueryInfoW)>(dll, "HttpQueryInfoW")) &&
        (g_table.InternetQueryDataAvailable =
             SystemProc<decltype(g_table.InternetQueryDataAvailable)>(dll, "InternetQueryDataAvailable")) &&
        (g_table.InternetReadFile = SystemProc<decltype(g_table.InternetReadFile)>(dll, "InternetReadFile")) &&
        (g_table.InternetReadFileExA = SystemProc<decltype(g_table.InternetReadFileExA)>(dll, "InternetReadFileExA")) &&
        (g_table.InternetSetOptionW = SystemProc<decltype(g_table.InternetSetOptionW)>(dll, "InternetSetOptionW")) &&
        (g_table.InternetQueryOptionW = SystemProc<decltype(g_table.InternetQueryOptionW)>(dll, "InternetQueryOptionW")) &&
        (g_table.InternetSetCookieW = SystemProc<decltype(g_table.InternetSetCookieW)>(dll, "InternetSetCookieW")) &&
        (g_table.HttpSendRequestW = SystemProc<decltype(g_table.HttpSendRequestW)>(dll, "HttpSendRequestW")) &&
        (g_table.InternetErrorDlg = SystemProc<decltype(g_table.InternetErrorDlg)>(dll, "InternetErrorDlg")) &&
        (g_table.InternetCombineUrlW = SystemProc<decltype(g_table.InternetCombineUrlW)>(dll, "InternetCombineUrlW"));
    g_platformReadFileEx = g_table.InternetReadFileExA;
    return complete ? &g_table : nullptr;
  }();
  if (!api) SetLastError(ERROR_PROC_NOT_FOUND);
  return api;
}

void SetReadFileExForTesting(decltype(&::InternetReadFileExA) read) {
  if (WinInet()) g_table.InternetReadFileExA = read ? read : g_platformReadFileEx;
}
