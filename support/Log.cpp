#include "support/Log.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "support/Handle.h"
#include "support/SystemLibrary.h"

namespace {

// Room kept for what must still fit once the file is near its limit: the header ahead of the lines held
// before the file opened, and the closing lines (the count of lines left out and the outcome).
constexpr uint32_t kHeaderRoom = 4096;
constexpr uint32_t kClosingRoom = 1024;
constexpr size_t kMaxOutcomeDetail = 200;  // characters
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr wchar_t kNamePrefix[] = L"Quillora Setup ";
constexpr wchar_t kNameSuffix[] = L".log";

bool IsSlash(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsSchemeChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'+' ||
         c == L'-' || c == L'.';
}

// Control characters (line breaks above all) would let a message, or a server's text quoted in one, start
// a line of its own that reads like ours.
bool IsLineBreaking(wchar_t c) { return c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029; }

std::wstring RedactUrlsIn(std::wstring text) {
  size_t pos = 0;
  while ((pos = text.find(L"://", pos)) != std::wstring::npos) {
    size_t start = pos;
    while (start > 0 && IsSchemeChar(text[start - 1])) --start;
    size_t end = text.find_first_of(L" \"'<>", pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring redacted = RedactUrl(text.substr(start, end - start));
    text.replace(start, end - start, redacted);
    pos = start + redacted.size();  // past "://" in the redacted URL, which keeps its scheme
  }
  return text;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                      nullptr);
  return bytes;
}

// The message as it goes into a line: on one line, without secrets in its URLs, in UTF-8.
std::string MessageText(const std::wstring& message) {
  std::wstring text = message;
  std::replace_if(text.begin(), text.end(), IsLineBreaking, L' ');
  return Utf8(RedactUrlsIn(std::move(text)));
}

const char* LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::Warning:
      return "WARN ";
    case LogLevel::Error:
      return "ERROR";
    default:
      return "INFO ";
  }
}

std::string LinePrefix(LogLevel level) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char prefix[64];
  snprintf(prefix, sizeof(prefix), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] %s ", now.wYear, now.wMonth,
           now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
           static_cast<unsigned long>(GetCurrentThreadId()), LevelName(level));
  return prefix;
}

const char* OutcomeWords(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Succeeded:
      return "SUCCEEDED";
    case RunOutcome::UpToDate:
      return "UP TO DATE";
    case RunOutcome::Failed:
      return "FAILED";
    case RunOutcome::Cancelled:
      return "CANCELLED";
    case RunOutcome::Closed:
      return "CLOSED";
    default:
      return "ENDED WITHOUT OUTCOME";
  }
}

// The real version: GetVersion answers what the program's manifest declares it knows, not what runs.
std::string WindowsLine() {
  char line[160] = "Windows: version unknown";
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  static const auto getVersion = SystemProc<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
  BOOL wow64 = FALSE;
#ifdef _WIN64
  wow64 = TRUE;  // a 64-bit program runs on 64-bit Windows only
#else
  IsWow64Process(GetCurrentProcess(), &wow64);
#endif
  if (getVersion && getVersion(&info) == 0) {
    snprintf(line, sizeof(line), "Windows: %lu.%lu build %lu%s%s, %s, %s, %d-bit Windows, %d-bit program",
             info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.szCSDVersion[0] ? ", " : "",
             Utf8(info.szCSDVersion).c_str(),
             info.wProductType == VER_NT_WORKSTATION ? "workstation" : "server",
             Utf8(L"process " + std::to_wstring(GetCurrentProcessId())).c_str(), wow64 ? 64 : 32,
             static_cast<int>(sizeof(void*) * 8));
  }
  return line;
}

std::string LanguageName(LANGID language) {
  wchar_t name[16] = L"", country[16] = L"";
  LCID locale = MAKELCID(language, SORT_DEFAULT);
  std::wstring text;
  if (GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, name, 16) &&
      GetLocaleInfoW(locale, LOCALE_SISO3166CTRYNAME, country, 16)) {
    text = std::wstring(name) + L"-" + country + L" ";
  }
  char id[16];
  snprintf(id, sizeof(id), "(0x%04X)", language);
  return Utf8(text) + id;
}

std::string UtcOffsetText() {
  TIME_ZONE_INFORMATION zone;
  DWORD mode = GetTimeZoneInformation(&zone);
  if (mode == TIME_ZONE_ID_INVALID) return "unknown";
  LONG bias = zone.Bias + (mode == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                           : mode == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                           : 0);
  LONG offset = -bias;  // the bias is what takes local time to UTC
  char text[16];
  snprintf(text, sizeof(text), "UTC%c%02ld:%02ld", offset < 0 ? '-' : '+', labs(offset) / 60,
           labs(offset) % 60);
  return text;
}

std::string HeaderText(const LogHeader& header) {
  std::string text = kByteOrderMark;
  text += CLog::kSignature;
  text += header.programVersion.empty() ? "unknown" : Utf8(header.programVersion);
  text += "\r\n" + WindowsLine() + "\r\n";
  text += std::string("Administrator: ") + (header.administrator ? "yes" : "no") + "\r\n";
  text += "Interface language: " + LanguageName(header.language) +
          "; the user's language: " + LanguageName(GetUserDefaultUILanguage()) + "\r\n";
  text += "Local time: " + UtcOffsetText() + "\r\n";
  text += "Each line: local date and time, [thread id], level (INFO, WARN, ERROR), message\r\n";
  if (text.size() > kHeaderRoom) text.resize(kHeaderRoom);  // cannot happen with these fields
  return text;
}

// True when the file starts with our header. Opened as whatever the name itself is, never through a link,
// and shared in every way so that a log another run is still writing can be read.
bool IsOurLog(const std::wstring& path) {
  CFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  std::string expected = std::string(kByteOrderMark) + CLog::kSignature;
  std::string start(expected.size(), '\0');
  DWORD read = 0;
  return ReadFile(file.Get(), &start[0], static_cast<DWORD>(start.size()), &read, nullptr) &&
         read == start.size() && start == expected;
}

// Deletes our oldest logs in folder so that, with the one just made (newLog), kKeptLogs remain. Oldest by
// last write: a name's local time can run backwards across a clock or time-zone change.
void DeleteOldLogs(const std::wstring& folder, const std::wstring& newLog) {
  struct Found {
    FILETIME written;
    std::wstring path;
  };
  std::vector<Found> ours;
  WIN32_FIND_DATAW data;
  CFindHandle find(FindFirstFileW((folder + kNamePrefix + L"*" + kNameSuffix).c_str(), &data));
  if (!find) return;
  do {
    std::wstring name = data.cFileName;
    // A link is never followed nor removed, and the pattern also matches short names: check the long one.
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (name.compare(0, wcslen(kNamePrefix), kNamePrefix) != 0 || name.size() < wcslen(kNameSuffix) ||
        name.compare(name.size() - wcslen(kNameSuffix), std::wstring::npos, kNameSuffix) != 0) {
      continue;
    }
    std::wstring path = folder + name;
    if (path != newLog && IsOurLog(path)) ours.push_back({data.ftLastWriteTime, path});
  } while (FindNextFileW(find.Get(), &data));
  if (ours.size() < static_cast<size_t>(CLog::kKeptLogs)) return;
  std::sort(ours.begin(), ours.end(), [](const Found& a, const Found& b) {
    LONG order = CompareFileTime(&a.written, &b.written);
    return order != 0 ? order < 0 : a.path < b.path;
  });
  size_t excess = ours.size() + 1 - CLog::kKeptLogs;
  // A log that another run still has open cannot be deleted; it stays, which is what it should do.
  for (size_t i = 0; i < excess; ++i) DeleteFileW(ours[i].path.c_str());
}

}  // namespace

std::wstring RedactUrl(const std::wstring& url) {
  size_t hostStart = 0;
  size_t colon = url.find(L':');
  if (colon != std::wstring::npos && colon + 2 < url.size() && IsSlash(url[colon + 1]) &&
      IsSlash(url[colon + 2])) {
    hostStart = colon + 3;
  }
  size_t pathStart = url.find_first_of(L"/\\", hostStart);
  if (pathStart == std::wstring::npos) pathStart = url.size();
  size_t at = url.find_last_of(L'@', pathStart == 0 ? 0 : pathStart - 1);
  size_t kept = at != std::wstring::npos && at >= hostStart && at < pathStart ? at + 1 : hostStart;
  size_t end = url.find_first_of(L"?#", kept);
  return url.substr(0, hostStart) +
         url.substr(kept, end == std::wstring::npos ? std::wstring::npos : end - kept);
}

std::wstring HexCode(uint32_t code) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08X", static_cast<unsigned>(code));
  return text;
}

CLog::~CLog() {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool CLog::Open(const std::wstring& folder, const SYSTEMTIME& started, const LogHeader& header) {
  std::lock_guard<std::mutex> guard(lock);
  if (opened || !IsOn()) return false;
  opened = true;
  if (folder.empty()) {
    SwitchOff();
    return false;
  }
  wchar_t stamp[32];
  swprintf(stamp, 32, L"%04u-%02u-%02u %02u-%02u-%02u", started.wYear, started.wMonth, started.wDay,
           started.wHour, started.wMinute, started.wSecond);
  const std::wstring base = folder + kNamePrefix + stamp;
  for (int number = 1; number <= kNameTries && file == INVALID_HANDLE_VALUE; ++number) {
    std::wstring candidate = base + (number > 1 ? L" (" + std::to_wstring(number) + L")" : L"") + kNameSuffix;
    // CREATE_NEW never opens what is there, and with FILE_FLAG_OPEN_REPARSE_POINT a link planted under the
    // name counts as taken instead of being followed to a file of someone else's choosing. Readers may
    // look while the run goes on; nobody else may write or delete.
    file = CreateFileW(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      path = candidate;
      break;
    }
    DWORD error = GetLastError();
    bool taken =
        error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
        // a folder of that name answers "access denied"
        (error == ERROR_ACCESS_DENIED && GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES);
    if (!taken) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    SwitchOff();
    return false;
  }
  std::string lines = HeaderText(header) + held;
  held.clear();
  held.shrink_to_fit();
  DWORD done = 0;
  if (!WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &done, nullptr) ||
      done != lines.size()) {
    SwitchOff();
    return false;
  }
  written = static_cast<uint32_t>(lines.size());
  DeleteOldLogs(folder, path);
  return true;
}

void CLog::Write(LogLevel level, const std::wstring& message) {
  if (!IsOn()) return;
  std::string text = MessageText(message);
  std::lock_guard<std::mutex> guard(lock);
  // The time is taken under the lock, so lines from several threads stay in time order.
  if (IsOn()) Put(LinePrefix(level) + text + "\r\n", false);
}

void CLog::Put(const std::string& line, bool closing) {
  uint32_t limit = kMaxBytes - (closing ? 0 : kClosingRoom) - (opened || closing ? 0 : kHeaderRoom);
  // Once a line has been left out, so is every later one: a log with a hole in its middle would mislead.
  if ((dropped && !closing) || line.size() > limit - std::min(written, limit)) {
    ++dropped;
    return;
  }
  if (!opened) {
    held += line;
  } else {
    DWORD done = 0;
    if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &done, nullptr) ||
        done != line.size()) {
      SwitchOff();
      return;
    }
  }
  written += static_cast<uint32_t>(line.size());
}

void CLog::RecordOutcome(RunOutcome newOutcome, const std::wstring& detail) {
  std::lock_guard<std::mutex> guard(lock);
  outcome = newOutcome;
  outcomeDetail = detail.substr(0, kMaxOutcomeDetail);
}

RunOutcome CLog::GetOutcome() {
  std::lock_guard<std::mutex> guard(lock);
  return outcome;
}

void CLog::Finish() {
  std::lock_guard<std::mutex> guard(lock);
  if (IsOn() && file != INVALID_HANDLE_VALUE) {
    if (dropped) {
      Put(LinePrefix(LogLevel::Warning) + std::to_string(dropped) +
              " more lines were not written: the log reached its limit of 1 MB\r\n",
          true);
    }
    std::string last = LinePrefix(outcome == RunOutcome::Failed ? LogLevel::Error : LogLevel::Info) +
                       "Run outcome: " + OutcomeWords(outcome);
    if (!outcomeDetail.empty()) last += " - " + MessageText(outcomeDetail);
    Put(last + "\r\n", true);
  }
  SwitchOff();
}

std::wstring CLog::GetPath() {
  std::lock_guard<std::mutex> guard(lock);
  return path;
}

void CLog::SwitchOff() {
  on.store(false, std::memory_order_relaxed);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  held.clear();
  held.shrink_to_fit();
}

CLog& RunLog() {
  static CLog* const log = new CLog;
  return *log;
}
