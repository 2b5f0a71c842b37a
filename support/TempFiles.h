// Paths for files that must not outlive the program, the downloaded installers: in a folder of this run's
// own inside the user's temporary folder, so no file of anybody else's is overwritten or deleted, two runs
// never share a file, and an installer never starts from the shared folder where any program can plant a
// DLL beside it. The controller remembers each path and deletes the files, then the folder, when the at-exit
// queue destroys it, after the main window has closed and every installer has finished.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/AtExit.h"

// The temporary folder, always ending in a backslash: GetTempPathW, else %TEMP%, else %TMP%; empty when none
// of them answers (a path too long for the platform's buffer, or an empty variable, counts as no answer).
std::wstring GetTempDirectory();

class CTempFileProvider {
 public:
  // The private folder plus fileName, registered for deletion at exit unless keep is set. The folder is
  // made inside the temporary folder on first use, under a random name, by a call that fails when the name
  // is taken (another name is then tried), with an access list of its own: the user, SYSTEM and the
  // administrators, inherited by what is made inside, nothing inherited from above. Empty when no folder
  // can be made.
  std::wstring MakeTempPath(const wchar_t* fileName, bool keep = false);
  // The same path may be registered more than once; it is deleted once.
  void Register(const std::wstring& path, bool keep);
  // The private folder with its final backslash; empty before the first path was made.
  const std::wstring& Folder() const { return folder; }

 protected:
  // Deletes every registered file that is not kept, in registration order, then the private folder if
  // nothing else is left in it. Directories and files that are still open stay where they are.
  void Cleanup();

 private:
  struct Entry {
    std::wstring path;
    bool keep;
  };
  std::vector<Entry> files;
  std::wstring folder;
};

class CTempFileController final : public CSingletonT<CTempFileController>, public CTempFileProvider {
 public:
  ~CTempFileController() override { Cleanup(); }

 private:
  friend class CSingletonT<CTempFileController>;
  CTempFileController() = default;
};
