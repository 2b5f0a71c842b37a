// Starting an installer or the application through the shell, with what the workflow makes of the end.
#pragma once

#include <windows.h>
#include <shellapi.h>

// What RunInstaller tells the workflow.
enum InstallerResult : int {
  InstallerSucceeded = 0,  // ended with exit code 0, or started without waiting
  InstallerFailedStop = 1,  // failed, and the user did not choose to continue (or was not asked)
  InstallerFailedRetry = 2,  // failed, and the user wants to continue from the first page
};

// How RunInstaller starts a program: the shell's ShellExecuteExW, unless a test put a scripted start in its
// place for its lifetime (Wine has no elevation prompt, so none can be refused there).
using ShellStartFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW* info);
class CShellStartOverride {
 public:
  explicit CShellStartOverride(ShellStartFunction start);
  CShellStartOverride(const CShellStartOverride&) = delete;
  CShellStartOverride& operator=(const CShellStartOverride&) = delete;
  ~CShellStartOverride();

 private:
  ShellStartFunction previous;
};
