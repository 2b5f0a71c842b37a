// Drives the real Installer.exe from outside, the way a person would: starts it, finds its window, reads and
// clicks controls by id, reads and answers message boxes, waits for conditions with a time limit and
// photographs the window. Runs in its own process under the same Wine prefix as the program.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace e2e {

// Folder of the running test program (the build's bin folder, where Installer.exe is built too).
std::wstring ProgramFolder();
// A new empty folder under the temporary directory; removed by RemoveFolder.
std::wstring MakeTempFolder(const wchar_t* prefix);
void RemoveFolder(const std::wstring& folder);
bool FileExists(const std::wstring& path);

// Polls condition every interval until it holds or the time is up; true when it held.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs = 25);

class CInstallerProcess {
 public:
  CInstallerProcess() = default;
  CInstallerProcess(const CInstallerProcess&) = delete;
  CInstallerProcess& operator=(const CInstallerProcess&) = delete;
  // Kills the process if it is still running, so a failed test leaves nothing behind.
  ~CInstallerProcess();

  // Starts exe with the given command-line arguments. environment: extra NAME=VALUE settings for the
  // child only (empty for none).
  bool Start(const std::wstring& exe, const std::wstring& arguments = L"",
             const std::wstring& environment = L"");
  // Waits for the process's top-level window with this title; null when it did not appear in time.
  HWND WaitForWindow(const wchar_t* title, DWORD timeoutMs);
  HWND Window() const { return window; }

  HWND Control(int id) const { return GetDlgItem(window, id); }
  bool IsEnabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  bool IsVisible(int id) const { return IsWindowVisible(Control(id)) != FALSE; }
  bool IsChecked(int id) const;
  // Clicks a button and returns when the program has handled the click.
  void Click(int id);
  // Sends WM_COMMAND id without waiting: for commands that open a modal box or close the window.
  void PostCommand(int id);
  // Presses and releases a key (with Shift held when asked) as the user would: the system's input goes to
  // the window, brought to the foreground first. Returns at once; the program handles it in its own time.
  void PressKey(WORD key, bool shift = false);
  // The id of the program's control with the keyboard focus; 0 when none of its controls has it.
  int FocusedControl() const;

  // A visible message box (#32770) of this process other than the main window; null when none in time.
  HWND WaitForMessageBox(DWORD timeoutMs);
  int CountMessageBoxes() const;
  static std::wstring MessageBoxText(HWND box);
  static void AnswerMessageBox(HWND box, int answer);

  // Photographs the window (frame included) into a 24-bit BMP file.
  bool Screenshot(const std::wstring& bmpPath) const;

  // Waits for the process to end; true with its exit code when it did in time.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  DWORD ProcessId() const { return processId; }

 private:
  HANDLE process = nullptr;
  DWORD processId = 0;
  HWND window = nullptr;
};

}  // namespace e2e
