// Registry reads that check what Win32 leaves to the caller: the value's type and its terminator.
#pragma once

#include <windows.h>

#include <string>

// The text of a REG_SZ value (valueName null: the key's default value). Empty when the key or value is
// missing, of another type (REG_EXPAND_SZ included) or empty: callers treat all of those as "not found".
std::wstring RegGetString(HKEY root, const wchar_t* subKey, const wchar_t* valueName);
