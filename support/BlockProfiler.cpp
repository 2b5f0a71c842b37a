#include "support/BlockProfiler.h"

#include <cstdio>
#include <vector>

namespace {

void WriteOut(const wchar_t* text) {
  // Read at whatever length it has: a long path (\\?\ form) is still the file the user asked for, and
  // the debugger is only for when no file was named at all.
  std::vector<wchar_t> path(MAX_PATH);
  DWORD length = GetEnvironmentVariableW(L"BLOCKPROFILE", path.data(), static_cast<DWORD>(path.size()));
  if (length >= path.size()) {
    path.resize(length);
    length = GetEnvironmentVariableW(L"BLOCKPROFILE", path.data(), static_cast<DWORD>(path.size()));
    if (length >= path.size()) return;  // it changed between the two reads: no file to trust
  }
  if (length > 0) {
    // Append as text; a file that cannot be opened just loses the line.
    if (FILE* file = _wfopen(path.data(), L"a+t")) {
      fputws(text, file);
      fclose(file);
    }
    return;
  }
  OutputDebugStringW(text);
}

}  // namespace

CBlockProfiler::CBlockProfiler(const wchar_t* prefixText, const wchar_t* suffixText, bool enabled)
    : enabled(enabled) {
  if (prefixText && *prefixText) prefix.AssignText(prefixText);
  if (suffixText && *suffixText) suffix.AssignText(suffixText);
  LARGE_INTEGER f;
  if (!QueryPerformanceFrequency(&f) || f.QuadPart == 0) {
    done = true;
    return;
  }
  frequency = f.QuadPart;
  Start();
}

CBlockProfiler::~CBlockProfiler() {
  if (enabled && !done) Report(prefix.GetText(), suffix.GetText());
}

void CBlockProfiler::Start() {
  done = false;
  startCount = 0;
  elapsedCount = 0;
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now)) {
    done = true;
    return;
  }
  startCount = now.QuadPart;
}

double CBlockProfiler::Stop() {
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now) || frequency == 0) {
    done = true;
    return 0;
  }
  elapsedCount = now.QuadPart - startCount;
  seconds = static_cast<double>(elapsedCount) / static_cast<double>(frequency);
  return seconds;
}

void CBlockProfiler::Format(const wchar_t* prefixText, const wchar_t* suffixText, CBuffer& out, bool newDone) {
  if (elapsedCount == 0) Stop();
  out.AppendFormat(L"%s%f sec%s", prefixText ? prefixText : L"", seconds, suffixText ? suffixText : L"");
  done = newDone;
}

void CBlockProfiler::Report(const wchar_t* prefixText, const wchar_t* suffixText) {
  CBuffer text;
  Format(prefixText, suffixText, text, true);
  WriteOut(text.GetText());
}
