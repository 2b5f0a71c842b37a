// The run's log, for support: one file per run in the user's temporary folder, which tells the story of the
// run in lines a person reads (what was asked, what answered, what the user saw) and ends with the run's
// outcome in plain words.
//
// What callers may put in a message: facts about the run. Never a password, proxy credentials, a header
// value, a cookie or any other free-form text that could carry a secret; a URL only through RedactUrl (the
// log redacts whatever looks like a URL in a message once more, but that is a safety net, not the rule).
//
// The log never hurts the run: when its folder cannot be written, its name is taken, the disk is full or a
// write fails, logging switches itself off and nothing else changes. Every operation is safe from any
// thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

enum class LogLevel { Info, Warning, Error };

// How a run ended. The last line of a log names it as "Run outcome: <WORDS>", with these words:
enum class RunOutcome {
  Unknown,    // ENDED WITHOUT OUTCOME: nothing recorded how the run ended
  Succeeded,  // SUCCEEDED: every needed product installed (or the user launched Quillora)
  UpToDate,   // UP TO DATE: nothing needed installing
  Failed,     // FAILED: a step failed and the run stopped (the detail says which)
  Cancelled,  // CANCELLED: the user cancelled a download or declined to go on
  Closed,     // CLOSED: the user closed the window before anything was installed
};

// The URL without its user information, query and fragment: scheme, host, port and path stay. An '@'
// anywhere before the path ends the user information, even behind a '?' or '#', so that a password holding
// one of those characters is dropped too. Text without "://" is treated as starting with the host.
std::wstring RedactUrl(const std::wstring& url);

// A code as support looks it up: "0x80096010" (HRESULTs, trust results).
std::wstring HexCode(uint32_t code);

// What the program knows about itself that the platform cannot tell the log.
struct LogHeader {
  std::wstring programVersion;  // "1.1.0.0"
  bool administrator = false;
  LANGID language = 0;  // the interface language the string table was loaded in
};

class CLog {
 public:
  // The file's limit, closing lines included; past it lines are counted instead of written.
  static constexpr uint32_t kMaxBytes = 1024 * 1024;
  // How many of our logs a folder keeps, the new one included.
  static constexpr int kKeptLogs = 10;
  // How many names Open tries: the plain one, then " (2)" up to " (kNameTries)".
  static constexpr int kNameTries = 20;
  // Every log of ours starts with this; only files that do are ever deleted.
  static constexpr char kSignature[] = "Quillora Setup log, program version ";

  CLog() = default;
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;
  // Closes the file without an outcome line.
  ~CLog();

  // Creates "Quillora Setup <yyyy-MM-dd HH-mm-ss>.log" (started, local time) in folder, or with " (2)",
  // " (3)", ... when the name is taken (kNameTries names in all), never opening an existing file or following
  // a link; writes the header, then the lines held so far, and deletes our oldest logs beyond kKeptLogs.
  // False, with logging switched off and the held lines dropped, when no file could be made. Once only.
  bool Open(const std::wstring& folder, const SYSTEMTIME& started, const LogHeader& header);

  // One line: local time to the millisecond, thread id, level, message. Line breaks and other control
  // characters in the message become spaces, so one call is one line; URLs in it are redacted. Before
  // Open the line is held in memory (within kMaxBytes).
  void Write(LogLevel level, const std::wstring& message);
  // False once logging is off (failed open or write, or finished): a caller may skip building a message.
  bool IsOn() const { return on.load(std::memory_order_relaxed); }

  // The run's outcome; the last one recorded is the one the log ends with.
  void RecordOutcome(RunOutcome outcome, const std::wstring& detail);
  RunOutcome GetOutcome();
  // Writes how many lines did not fit, then the outcome line, and closes the file. Later calls do nothing.
  void Finish();

  // The file's path, also after Finish; empty when no file was made.
  std::wstring GetPath();

 private:
  // Appends a finished line to the file or the held lines; the caller holds the lock.
  void Put(const std::string& line, bool closing);
  void SwitchOff();

  std::mutex lock;
  std::atomic<bool> on{true};
  HANDLE file = INVALID_HANDLE_VALUE;
  bool opened = false;  // Open was called, whatever its result
  std::wstring path;
  std::string held;      // lines before Open, already formatted
  uint32_t written = 0;  // bytes in the file, or held
  uint32_t dropped = 0;  // lines past the limit
  RunOutcome outcome = RunOutcome::Unknown;
  std::wstring outcomeDetail;
};

// The process's log: made on first use and never destroyed, since download threads may still write when
// the main routine has returned. The entry point opens it and finishes it.
CLog& RunLog();

inline void Log(LogLevel level, const std::wstring& message) { RunLog().Write(level, message); }
inline void LogInfo(const std::wstring& message) { RunLog().Write(LogLevel::Info, message); }
inline void LogWarning(const std::wstring& message) { RunLog().Write(LogLevel::Warning, message); }
inline void LogError(const std::wstring& message) { RunLog().Write(LogLevel::Error, message); }
