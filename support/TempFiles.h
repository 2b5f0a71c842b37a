// Paths in the user's temporary folder for files that must not outlive the program: the downloaded
// installers. The controller remembers each path and deletes the files when the at-exit queue destroys it,
// after the main window has closed and every installer has finished.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/AtExit.h"

// The temporary folder, always ending in a backslash: GetTempPathW, else %TEMP%, else %TMP%, else "C:\". A
// path too long for the platform's buffer, or an empty variable, counts as unavailable.
std::wstring GetTempDirectory();

class CTempFileProvider {
 public:
  // The temporary folder plus fileName, registered for deletion at exit unless keep is set.
  std::wstring MakeTempPath(const wchar_t* fileName, bool keep = false);
  // The same path may be registered more than once; it is deleted once.
  void Register(const std::wstring& path, bool keep);

 protected:
  // Deletes every registered file that is not kept, in registration order. Directories and files that
  // are still open stay where they are.
  void Cleanup();

 private:
  struct Entry {
    std::wstring path;
    bool keep;
  };
  std::vector<Entry> files;
};

class CTempFileController final : public CSingletonT<CTempFileController>, public CTempFileProvider {
 public:
  ~CTempFileController() override { Cleanup(); }

 private:
  friend class CSingletonT<CTempFileController>;
  CTempFileController() = default;
};
