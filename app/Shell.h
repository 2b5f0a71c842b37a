// The process shell's services used everywhere: the OS version read at start, the administrator test, the
// localized string table and the message pump that keeps the window alive during long operations.
#pragma once

#include <windows.h>

#include <string>

#include "support/Format.h"
#include "support/MessagePump.h"

// Low and second byte of GetVersion, read once during static initialisation. Plain values so that tests
// can exercise the older-system branches.
extern unsigned g_osMajor;
extern unsigned g_osMinor;

// The application module: which module the string table and dialogs are loaded from.
class CAppModule {
 public:
  void Init(HINSTANCE instance);
  void Term();
  // The resource module; before Init (in tests) the running executable.
  HINSTANCE GetResourceInstance() const;
  // Tests point the string table at another module, such as Installer.exe loaded as a data file.
  void SetResourceInstance(HINSTANCE module) { resourceInstance = module; }

 private:
  HINSTANCE instance = nullptr;
  HINSTANCE resourceInstance = nullptr;
};

extern CAppModule g_module;

// The running program's file version from its version resource, as "1.1.0.0"; empty when it has none.
std::wstring ProgramVersion();

// True when the user is a member of the Administrators group, in the effective token or (Vista and later,
// where an administrator usually runs with a filtered token) in its linked full token.
bool IsUserAdmin();

// String `id` in the language the system's resource loader picks; an absent id gives an empty string.
std::wstring LoadResString(UINT id);

// The language of the string table the system's resource loader picks for this thread (the dialog comes
// from the same language file); 0 when the resource module has none.
LANGID LoadedLanguage();
// True when `language` is written right to left (its locale says so).
bool IsRightToLeftLanguage(LANGID language);
// The one answer to "is this user interface right to left": the loaded language's reading order. The
// window is then mirrored, as the system mirrors programs in such languages, and its texts read right to
// left; artwork is never mirrored.
bool IsRightToLeftUi();

// String `id` with its {0}..{9} placeholders filled (see Format).
template <class... Args>
std::wstring FormatResString(UINT id, const Args&... arguments) {
  return Format(LoadResString(id), arguments...);
}
