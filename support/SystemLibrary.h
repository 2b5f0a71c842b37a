// Loading platform DLLs without DLL planting: the program is usually started from a Downloads folder, where
// a web page can leave a DLL named like a system one, and the default search looks beside the program first.
#pragma once

#include <windows.h>

// Restricts the process's DLL search to the system directory for every later load, including the loads
// that the platform makes on the program's behalf. Call it first thing. Uses SetDefaultDllDirectories
// where the system has it (Windows 8, or Vista/7 with KB2533623); elsewhere removes the current folder
// from the search with SetDllDirectoryW(L""). True when the strict mode is in force.
bool RestrictDllSearchToSystem();

// Loads a DLL from the system directory only. name is a bare file name such as L"RICHED20.DLL".
// Null (with the last error set) when it is not there; never looks anywhere else.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The system DLL `dll` (bare file name), loaded from the system directory on first use and kept for the
// process; null when it cannot be loaded. Everything the program needs beyond the known DLLs of every
// supported Windows version (kernel32, user32, gdi32, advapi32, shell32, ole32, msvcrt) comes this way, so
// the import table holds nothing a planted file beside the program could stand in for.
HMODULE SystemModule(const wchar_t* dll);

// A function of a system DLL as a typed pointer, or null when the DLL or the function is missing:
//   static const auto open = SystemProc<decltype(&::InternetOpenW)>(L"wininet.dll", "InternetOpenW");
template <class Fn>
Fn SystemProc(const wchar_t* dll, const char* name) {
  HMODULE module = SystemModule(dll);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
