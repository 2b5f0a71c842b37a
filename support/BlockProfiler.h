// Times a block with the performance counter and reports one line ("<prefix>1.234567 sec<suffix>") to the
// debugger, or appends it to the file named by the environment variable BLOCKPROFILE (of any length; a
// file that cannot be opened loses the line). The program times its whole run with one instance made
// during static initialisation.
#pragma once

#include <windows.h>

#include "support/Buffer.h"

class CBlockProfiler {
 public:
  // Starts at once. A machine without a usable counter reports nothing.
  CBlockProfiler(const wchar_t* prefix, const wchar_t* suffix, bool enabled);
  CBlockProfiler(const CBlockProfiler&) = delete;
  CBlockProfiler& operator=(const CBlockProfiler&) = delete;
  // Reports, unless disabled or already reported.
  ~CBlockProfiler();

  void Start();
  // Seconds since Start; 0 when the counter cannot be read.
  double Stop();
  // Writes the report into `out` and sets the done flag to `done`; stops first if not stopped yet.
  void Format(const wchar_t* prefix, const wchar_t* suffix, CBuffer& out, bool done);
  // Reports now; the destructor is then silent.
  void Report(const wchar_t* prefix, const wchar_t* suffix);

  bool Done() const { return done; }

 private:
  bool enabled;
  bool done = false;
  CBuffer prefix;
  CBuffer suffix;
  LONGLONG startCount = 0;
  LONGLONG elapsedCount = 0;
  LONGLONG frequency = 0;
  double seconds = 0;
};
