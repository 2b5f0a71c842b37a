#include "net/WinInet.h"

#include "support/SystemLibrary.h"

const WinInetApi* WinInet() {
  static const WinInetApi* api = []() -> const WinInetApi* {
    static WinInetApi table;
    const wchar_t dll[] = L"wininet.dll";
    bool complete =
        (table.InternetOpenW = SystemProc<decltype(table.InternetOpenW)>(dll, "InternetOpenW")) &&
        (table.InternetOpenUrlW = SystemProc<decltype(table.InternetOpenUrlW)>(dll, "InternetOpenUrlW")) &&
        (table.InternetOpenUrlA = SystemProc<decltype(table.InternetOpenUrlA)>(dll, "InternetOpenUrlA")) &&
        (table.InternetCloseHandle = SystemProc<decltype(table.InternetCloseHandle)>(dll, "InternetCloseHandle")) &&
        (table.HttpQueryInfoW = SystemProc<decltype(table.HttpQueryInfoW)>(dll, "HttpQueryInfoW")) &&
        (table.InternetQueryDataAvailable =
             SystemProc<decltype(table.InternetQueryDataAvailable)>(dll, "InternetQueryDataAvailable")) &&
        (table.InternetReadFile = SystemProc<decltype(table.InternetReadFile)>(dll, "InternetReadFile")) &&
        (table.InternetReadFileExW = SystemProc<decltype(table.InternetReadFileExW)>(dll, "InternetReadFileExW")) &&
        (table.InternetSetOptionW = SystemProc<decltype(table.InternetSetOptionW)>(dll, "InternetSetOptionW")) &&
        (table.InternetQueryOptionW = SystemProc<decltype(table.InternetQueryOptionW)>(dll, "InternetQueryOptionW")) &&
        (table.InternetSetCookieW = SystemProc<decltype(table.InternetSetCookieW)>(dll, "InternetSetCookieW")) &&
        (table.HttpSendRequestW = SystemProc<decltype(table.HttpSendRequestW)>(dll, "HttpSendRequestW")) &&
        (table.InternetErrorDlg = SystemProc<decltype(table.InternetErrorDlg)>(dll, "InternetErrorDlg")) &&
        (table.InternetCombineUrlW = SystemProc<decltype(table.InternetCombineUrlW)>(dll, "InternetCombineUrlW"));
    return complete ? &table : nullptr;
  }();
  if (!api) SetLastError(ERROR_PROC_NOT_FOUND);
  return api;
}
