#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LocalServer.h"
#include "net/RetryingLoader.h"
#include "net/UrlLoader.h"
#include "support/MessagePump.h"

namespace {

const DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

struct Event {
  char kind;  // 'b'egin, 'p'rogress, 'e'rror, 'E'nd
  DWORD a;    // progress: received; error: code; end: cancelled
  DWORD b;    // progress: content length
  DWORD at = GetTickCount();
};

// Records every call, and cancels at the progress report with the given index, or at the first report
// that many milliseconds after the begin (-1: never).
class CRecorder : public IUrlLoaderCallback {
 public:
  explicit CRecorder(int cancelAtProgress = -1, int cancelAfterMs = -1)
      : cancelAt(cancelAtProgress), cancelAfter(cancelAfterMs) {}
  void OnBegin(CUrlLoader*, const wchar_t*, DWORD flags) override {
    begin = GetTickCount();
    events.push_back({'b', flags, 0});
  }
  void OnProgress(CUrlLoader*, DWORD received, DWORD contentLength, bool* cancel) override {
    DWORD now = GetTickCount();
    longestGap = std::max(longestGap, now - (lastCall ? lastCall : begin));
    lastCall = now;
    if (progressCount++ == cancelAt || (cancelAfter >= 0 && now - begin >= static_cast<DWORD>(cancelAfter))) {
      *cancel = true;
      cancelledAt = now;
    }
    events.push_back({'p', received, contentLength});
  }
  void OnError(CUrlLoader*, DWORD error) override { events.push_back({'e', error, 0}); }
  void OnEnd(CUrlLoader*, bool cancelled) override {
    ended = GetTickCount();
    events.push_back({'E', cancelled, 0});
  }

  std::vector<DWORD> Errors() const {
    std::vector<DWORD> codes;
    for (const Event& e : events) {
      if (e.kind == 'e') codes.push_back(e.a);
    }
    return codes;
  }
  std::vector<Event> Progress() const {
    std::vector<Event> reports;
    for (const Event& e : events) {
      if (e.kind == 'p') reports.push_back(e);
    }
    return reports;
  }

  std::vector<Event> events;
  int cancelAt;
  int cancelAfter;
  int progressCount = 0;
  DWORD begin = 0, lastCall = 0, cancelledAt = 0, ended = 0;
  DWORD longestGap = 0;  // the longest time the callback had no chance to cancel
};

// A real window on the test's thread, asked for WM_NULL from another thread all the time it lives, the way
// the system decides whether a program hangs.
class CHangWatch {
 public:
  CHangWatch()
      : window(CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)),
        watcher([this] {
          while (!stop) {
            DWORD start = GetTickCount();
            DWORD_PTR answer;
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 100, &answer) && !stop) ++missed;
            slowest = std::max<DWORD>(slowest, GetTickCount() - start);
            Sleep(5);
          }
          done = true;
        }) {}
  ~CHangWatch() {
    stop = true;
    // The watcher may be waiting for this thread's answer: give it one.
    while (!done) {
      PumpMessages();
      Sleep(1);
    }
    watcher.join();
    DestroyWindow(window);
  }
  std::atomic<int> missed{0};
  std::atomic<DWORD> slowest{0};

 private:
  HWND window;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::thread watcher;
};

// Shortens the time a transfer may stay silent, for one test.
class CSilenceLimit {
 public:
  explicit CSilenceLimit(DWORD milliseconds) { CUrlLoader::SetSilenceLimitForTesting(milliseconds); }
  ~CSilenceLimit() { CUrlLoader::SetSilenceLimitForTesting(0); }
};

// The address space of the allocation that holds p: a finished body keeps no reservation far beyond itself.
SIZE_T AllocationSpan(const void* p) {
  MEMORY_BASIC_INFORMATION info;
  if (!p || !VirtualQuery(p, &info, sizeof(info))) return 0;
  const void* base = info.AllocationBase;
  SIZE_T span = 0;
  for (auto at = static_cast<const char*>(base); VirtualQuery(at, &info, sizeof(info)) && info.AllocationBase == base;
       at += info.RegionSize) {
    span += info.RegionSize;
  }
  return span;
}

DWORD HandleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

std::string Pattern(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7) % 26);
  return body;
}

class UrlLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
  }
};

TEST_F(UrlLoader, ResponsesAndTheirCallbackSequences) {
  const std::string body = Pattern(50000);
  struct Case {
    const char* name;
    bool https;
    std::string served;
    std::string meta;
    DWORD maximumBytes;
    bool expectedResult;
    DWORD expectedStatus;
    size_t expectedLength;          // bytes left in the buffer
    std::vector<DWORD> expectedErrors;
    bool expectProgress;
    DWORD expectedContentLength;    // as reported in every progress call
  } cases[] = {
      {"plain 200", false, body, "", 0, true, 200, body.size(), {}, true, 50000},
      {"over https", true, body, "", 0, true, 200, body.size(), {}, true, 50000},
      {"chunked", false, body, R"({"mode": "chunked", "chunk": 4096})", 0, true, 200, body.size(), {12150}, true, 0},
      {"no length, closed", false, body, R"({"mode": "nolength"})", 0, true, 200, body.size(), {12150}, true, 0},
      {"empty with a length", false, "", "", 0, true, 200, 0, {}, true, 0},
      {"redirected", true, body, R"({"mode": "redirect", "location": "/loader/plain_200"})", 0, true, 200, body.size(),
       {}, true, 50000},
      {"204 without length", false, "", R"({"status": 204, "reason": "No Content"})", 0, true, 204, 0, {12150},
       false, 0},
      {"404 keeps its page", false, "<html>gone</html>", R"({"status": 404, "reason": "Not Found"})", 0, false,
       404, 17, {}, true, 17},
      {"500", true, "oops", R"({"status": 500, "reason": "Internal Server Error"})", 0, false, 500, 4, {}, true, 4},
      {"empty reason phrase", false, body, R"({"reason": ""})", 0, false, 200, body.size(), {}, true, 50000},
      {"capped below the body", false, body, "", 1000, true, 200, 1000, {}, true, 50000},
      {"cap above the body", false, body, "", 60000, true, 200, body.size(), {}, true, 50000},
      // The connection closes cleanly after fewer bytes than announced: a truncated body, not a success.
      {"short of its length", false, body, R"({"headers": {"Content-Length": "60000"}})", 0, false, 200, 50000,
       {12030}, true, 60000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = L"/loader/" + std::wstring(c.name, c.name + strlen(c.name));
    for (wchar_t& ch : path) {
      if (ch == L' ' || ch == L',') ch = L'_';
    }
    local_server::Put(path, c.served, c.meta);
    CRecorder recorder;
    CUrlLoader loader(&recorder, L"Quillora", 0, 0, 0, c.maximumBytes);
    CBuffer buffer;
    EXPECT_EQ(c.expectedResult, loader.Load(buffer, local_server::Url(c.https, path).c_str(), nullptr, kFlags));
    EXPECT_EQ(c.expectedStatus, loader.StatusCode());
    ASSERT_EQ(c.expectedLength, buffer.Length());
    EXPECT_EQ(0, memcmp(buffer.GetData(), c.served.data(), c.expectedLength));
    EXPECT_LT(AllocationSpan(buffer.Data()), 64u << 20) << "a small body holds no large reservation";
    EXPECT_EQ(c.expectedErrors, recorder.Errors());
    EXPECT_EQ(c.expectedErrors.empty() ? 0u : c.expectedErrors.back(), loader.LastError());

    // Begin first, end last and once; progress from 0, never backwards, the final read repeated.
    ASSERT_GE(recorder.events.size(), 2u);
    EXPECT_EQ('b', recorder.events.front().kind);
    EXPECT_EQ(kFlags, recorder.events.front().a);
    EXPECT_EQ('E', recorder.events.back().kind);
    EXPECT_EQ(0u, recorder.events.back().a);
    std::vector<Event> progress = recorder.Progress();
    EXPECT_EQ(c.expectProgress, !progress.empty());
    if (!progress.empty()) {
      EXPECT_EQ(0u, progress.front().a);
      for (size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1].a, progress[i].a);
      // While the answer is awaited (a slow handshake), the reports carry no length yet.
      size_t answered = 0;
      while (answered + 1 < progress.size() && progress[answered].b == 0 && progress[answered + 1].a == 0) ++answered;
      for (size_t i = answered; i < progress.size(); ++i) EXPECT_EQ(c.expectedContentLength, progress[i].b);
      EXPECT_EQ(c.expectedLength, progress.back().a);
      if (c.maximumBytes == 0) {
        ASSERT_GE(progress.size(), 2u);
        EXPECT_EQ(progress.back().a, progress[progress.size() - 2].a) << "the final empty read is reported";
      }
    }
  }
}

// A resume is the rest of the same file, or the news that there is no rest: a server answers a range that
// starts at the end with 416 and the file's length, which is then what is held.
TEST_F(UrlLoader, AResumeTakesOnlyTheRestOfTheSameFile) {
  const std::string body = Pattern(50000);
  struct Case {
    const char* name;
    bool nginx;
    size_t held;  // the file's first bytes; past its end, as many more
    bool expected;
    DWORD expectedStatus;
    size_t expectedLength;
  } cases[] = {
      {"the rest", true, 30000, true, 206, body.size()},
      {"nothing left", true, body.size(), true, 416, body.size()},
      {"nothing left, our server", false, body.size(), true, 416, body.size()},
      // More than the file has: the held bytes are somebody else's, and the next try starts from nothing.
      {"more held than the file has", false, body.size() + 5, false, 416, 0},
  };
  local_server::Put(L"/loader/resumed", body, R"({"validator": "etag", "times": 0})");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring url = c.nginx ? local_server::NginxUrl(false, L"/loader/resumed")
                                     : local_server::Url(false, L"/loader/resumed");
    if (url.empty()) GTEST_SKIP() << "no nginx";
    CUrlLoader loader(nullptr, L"Quillora");
    CBuffer buffer;
    ASSERT_TRUE(loader.Load(buffer, url.c_str(), nullptr, kFlags));
    const std::wstring validator = loader.Validator();
    ASSERT_FALSE(validator.empty());
    std::string held = body + Pattern(c.held > body.size() ? c.held - body.size() : 0);
    buffer.Assign(held.data(), static_cast<uint32_t>(c.held));
    EXPECT_EQ(c.expected, loader.Resume(buffer, url.c_str(), validator, 0, kFlags));
    EXPECT_EQ(c.expectedStatus, loader.StatusCode());
    ASSERT_EQ(c.expectedLength, buffer.Length());
    EXPECT_EQ(0, memcmp(buffer.GetData(), body.data(), c.expectedLength));
  }
}

TEST_F(UrlLoader, CancelOnTheFirstReportReadsNothing) {
  local_server::Put(L"/loader/cancel", Pattern(100000));
  CRecorder recorder(0);
  CUrlLoader loader(&recorder, L"Quillora");
  CBuffer buffer;
  EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/cancel").c_str(), nullptr, kFlags));
  EXPECT_EQ(0u, buffer.Length());
  ASSERT_EQ(3u, recorder.events.size());  // begin, progress 0, end(cancelled)
  EXPECT_EQ('p', recorder.events[1].kind);
  EXPECT_EQ('E', recorder.events[2].kind);
  EXPECT_EQ(1u, recorder.events[2].a);
}

// What arrived stays only for a caller that asked for it (one that resumes), and then exactly what the
// reports told of.
TEST_F(UrlLoader, CancelMidwayKeepsWhatArrived) {
  // Sent in pieces, so the third report comes while the body is still on its way.
  const std::string body = Pattern(300000);
  local_server::Put(L"/loader/cancel-late", body, R"({"mode": "trickle", "chunk": 16384, "delay_ms": 40})");
  for (bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "kept" : "not kept");
    CRecorder recorder(2);
    CUrlLoader loader(&recorder, L"Quillora");
    loader.KeepPartialBody(keep);
    CBuffer buffer;
    EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/cancel-late").c_str(), nullptr, kFlags));
    EXPECT_EQ('E', recorder.events.back().kind);
    EXPECT_EQ(1u, recorder.events.back().a);
    ASSERT_EQ(recorder.Progress().size(), 3u);
    EXPECT_LT(buffer.Length(), 300000u);
    EXPECT_EQ(keep ? recorder.Progress().back().a : 0u, buffer.Length());
    EXPECT_EQ(buffer.Length(), loader.BytesReceived());
    EXPECT_EQ(0, memcmp(buffer.GetData(), body.data(), buffer.Length()));
  }
}

// A line that falls silent (before the answer, right after it, or in the middle of the body) never holds
// the caller's thread: its window answers throughout, the callback can cancel at any time and the cancel
// ends the transfer at once; left alone, the transfer fails when the silence reaches the limit.
TEST_F(UrlLoader, ASilentLineNeitherFreezesTheCallerNorOutlastsItsLimit) {
  const std::string body = Pattern(200000);
  struct Case {
    const char* name;
    const char* meta;
    DWORD heldBeforeSilence;
  } cases[] = {
      {"before the answer", R"({"mode": "stall", "stall_ms": 4000})", 0},
      {"after the answer", R"({"mode": "stall", "after": 0, "stall_ms": 4000})", 0},
      {"mid-body", R"({"mode": "stall", "after": 65536, "stall_ms": 4000})", 65536},
  };
  CSilenceLimit limit(1500);
  for (const Case& c : cases) {
    for (bool cancelling : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (cancelling ? ", cancelled" : ", timed out"));
      std::wstring path = L"/loader/silent-" + std::to_wstring(&c - cases);
      local_server::Put(path, body, c.meta);
      CRecorder recorder(-1, cancelling ? 400 : -1);
      CBuffer buffer;
      {
        CHangWatch watch;
        CUrlLoader loader(&recorder, L"Quillora");
        EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, path).c_str(), nullptr, kFlags));
        EXPECT_EQ(0, watch.missed);
        EXPECT_LT(watch.slowest, 100u);
        EXPECT_EQ(cancelling ? 0u : static_cast<DWORD>(ERROR_INTERNET_TIMEOUT), loader.LastError());
      }
      EXPECT_LE(recorder.longestGap, 150u) << "the callback had a chance to cancel at least every 100 ms";
      ASSERT_EQ('E', recorder.events.back().kind);
      EXPECT_EQ(cancelling ? 1u : 0u, recorder.events.back().a);
      if (cancelling) {
        EXPECT_LT(recorder.ended - recorder.cancelledAt, 1000u);
      } else {
        EXPECT_GE(recorder.ended - recorder.begin, 1500u);
        EXPECT_LT(recorder.ended - recorder.begin, 3000u);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_TIMEOUT), recorder.Errors().back());
      }
      // A read that was sized for a fast line may still hold what came just before the silence.
      EXPECT_LE(buffer.Length(), c.heldBeforeSilence);
      EXPECT_EQ(0, memcmp(buffer.GetData(), body.data(), buffer.Length()));
    }
  }
}

// A line that starts fast and then trickles: reads sized by the burst would wait for data the trickle takes
// many seconds to bring, freezing the bar and looking silent.
TEST_F(UrlLoader, ASlowLineAfterAFastStartIsNeverTakenForASilentOne) {
  const std::string body = Pattern(256 * 1024 + 40 * 1024);
  // All but 40 KB at once, the rest at 10 KB/s: four seconds, longer than the limit.
  local_server::Put(L"/loader/burst", body, R"({"mode": "trickle", "burst": 262144, "chunk": 1024, "delay_ms": 100})");
  CSilenceLimit limit(1500);
  for (bool https : {false, true}) {
    SCOPED_TRACE(https ? "https" : "http");
    CRecorder recorder;
    CBuffer buffer;
    CUrlLoader loader(&recorder, L"Quillora");
    EXPECT_TRUE(loader.Load(buffer, local_server::Url(https, L"/loader/burst").c_str(), nullptr, kFlags))
        << loader.LastError();
    ASSERT_EQ(body.size(), buffer.Length());
    EXPECT_EQ(0, memcmp(buffer.GetData(), body.data(), body.size()));
    DWORD longestStill = 0;  // the longest time the bar showed the same count
    DWORD count = 0, changed = recorder.begin;
    std::string timeline;
    for (const Event& e : recorder.Progress()) {
      if (e.a == count) continue;
      longestStill = std::max(longestStill, e.at - changed);
      timeline += std::to_string(e.at - recorder.begin) + ":" + std::to_string(e.a) + " ";
      count = e.a;
      changed = e.at;
    }
    // Every second, give or take the report interval of a silent line and a busy machine's scheduling.
    EXPECT_LT(longestStill, 1250u) << timeline;
  }
}

// A length the platform's number form cannot hold must not end the body early as if it were complete.
TEST_F(UrlLoader, AnAnnouncedLengthBeyond32BitsIsRefused) {
  local_server::Put(L"/loader/huge", "0123456789", R"({"headers": {"Content-Length": "4294967306"}})");
  CBuffer buffer;
  CUrlLoader loader(nullptr, L"Quillora");
  EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/huge").c_str(), nullptr, kFlags));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), loader.LastError());
}

// A time limit ends a load whose bytes keep coming, tries and waits included.
TEST_F(UrlLoader, ATimeLimitEndsEveryTryOfALoad) {
  local_server::Put(L"/loader/forever", "", R"({"mode": "endless", "chunk": 1, "delay_ms": 50})");
  CBuffer buffer;
  CRetryingLoader loader(nullptr, L"Quillora");
  loader.SetTimeLimit(1000);
  DWORD start = GetTickCount();
  EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/forever").c_str(), kFlags));
  EXPECT_LT(GetTickCount() - start, 2500u);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_TIMEOUT), loader.LastError());
}

TEST_F(UrlLoader, RequestsGoThroughTheSystemsProxy) {
  const std::string body = Pattern(100000);
  local_server::Put(L"/loader/proxied", body);
  local_server::Remove(L"/_proxy.json");  // no password
  local_server::CThroughProxy proxy;
  for (bool https : {false, true}) {
    SCOPED_TRACE(https ? "https" : "http");
    size_t before = local_server::Requests().size();
    CBuffer buffer;
    CUrlLoader loader(nullptr, L"Quillora");
    EXPECT_TRUE(loader.Load(buffer, local_server::Url(https, L"/loader/proxied").c_str(), nullptr, kFlags))
        << loader.LastError() << " status " << loader.StatusCode();
    EXPECT_EQ(body, std::string(static_cast<const char*>(buffer.GetData()), buffer.Length()));
    std::vector<std::string> requests = local_server::Requests();
    size_t proxied = 0;
    for (size_t i = before; i < requests.size(); ++i) {
      if (requests[i].find(https ? "\"method\": \"CONNECT\"" : "\"scheme\": \"proxy\"") != std::string::npos) ++proxied;
    }
    EXPECT_EQ(1u, proxied) << (requests.size() > before ? requests.back() : "no request");
  }
}

// Answers the system's proxy password dialogs of this process from another thread, one answer each, in
// order: a name and password, or an empty name for Cancel (as is every dialog beyond the answers).
class CCredentialAnswerer {
 public:
  // delayMs: how long the user takes to answer each dialog.
  explicit CCredentialAnswerer(std::vector<std::pair<std::wstring, std::wstring>> answers, DWORD delayMs = 0)
      : answers(std::move(answers)), delayMs(delayMs), worker([this] { Run(); }) {}
  ~CCredentialAnswerer() {
    stop = true;
    worker.join();
  }
  std::atomic<int> prompts{0};
  std::wstring texts;  // the edit controls and static texts of the first dialog seen, for the failure message

 private:
  static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[16];
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetClassNameW(window, name, 16) &&
        wcscmp(name, L"#32770") == 0) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }
  static BOOL CALLBACK CollectEdits(HWND child, LPARAM edits) {
    wchar_t name[16];
    if (GetClassNameW(child, name, 16) && _wcsicmp(name, L"Edit") == 0 && IsWindowVisible(child))
      reinterpret_cast<std::vector<HWND>*>(edits)->push_back(child);
    return TRUE;
  }
  void Run() {
    HWND last = nullptr;
    while (!stop) {
      HWND dialog = nullptr;
      EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
      if (dialog && dialog != last) {
        last = dialog;
        // A dialog beyond the answers is counted and cancelled, so a test fails instead of waiting forever.
        const size_t index = static_cast<size_t>(prompts++);
        const auto answer = index < answers.size() ? answers[index] : std::make_pair(std::wstring(), std::wstring());
        Sleep(delayMs);
        std::vector<HWND> edits;
        EnumChildWindows(dialog, CollectEdits, reinterpret_cast<LPARAM>(&edits));
        if (answer.first.empty() || edits.size() < 2) {
          PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
          SendMessageW(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(answer.first.c_str()));
          SendMessageW(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(answer.second.c_str()));
          PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        }
      }
      Sleep(50);
    }
  }
  std::vector<std::pair<std::wstring, std::wstring>> answers;
  DWORD delayMs;
  std::atomic<bool> stop{false};
  std::thread worker;
};

TEST_F(UrlLoader, AProxyThatAsksForAPasswordIsAnsweredThroughTheSystemsDialog) {
  const std::string body = Pattern(50000);
  local_server::Put(L"/loader/behind-proxy", body);
  local_server::Put(L"/loader/asks-itself", "", R"({"status": 407, "reason": "Proxy Authentication Required",
      "headers": {"Proxy-Authenticate": "Basic realm=\"anything\""}})");
  struct CForgetPassword {
    ~CForgetPassword() { local_server::Remove(L"/_proxy.json"); }
  } forget;
  HWND owner = CreateWindowW(L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  // A dialog left open longer than this is no silence of the line.
  CSilenceLimit limit(3000);
  enum Route { OurProxy, Tinyproxy, Direct };
  struct Case {
    const char* name;
    bool https;
    std::vector<std::pair<std::wstring, std::wstring>> answers;  // {L"", L""}: Cancel
    bool expected;
    Route route = OurProxy;
    const char* path = "/loader/behind-proxy";
    std::string proxySettings = "";  // more for our proxy's _proxy.json
    int loads = 1;              // one after the other, each with a loader of its own, as an install does
    int expectedPrompts = -1;   // -1: one per answer, at most kCredentialTries
    DWORD expectedError = 0;    // when not 0
    DWORD answerDelayMs = 0;
  } cases[] = {
      {"right at once", false, {{L"right", L"password"}}, true},
      {"wrong, then right", false, {{L"wrong", L"guess"}, {L"right", L"password"}}, true},
      {"cancelled", false, {{L"", L""}}, false},
      {"wrong every time", false, {{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}, {L"d", L"4"}}, false},
      // Wine 8 takes a 407 to its CONNECT for the tunnel itself: after the dialog it sends the request in the
      // clear on the proxy's connection, with no new CONNECT, and the proxy refuses it. On Windows the
      // tunnel is asked for again and this row loads. Either way nothing but the real body may pass.
      {"a tunnel, right at once", true, {{L"right", L"password"}}, false},
      // ... and whoever is on that leg may answer the request in clear: no https answer without TLS.
      {"a tunnel, answered in clear by the proxy", true, {{L"right", L"password"}}, false, OurProxy,
       "/loader/behind-proxy", R"(, "answer_plain": "forged")", 1, -1, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
      {"typed after the silence limit", false, {{L"right", L"password"}}, true, OurProxy, "/loader/behind-proxy", "",
       1, -1, 0, 4000},
      // Its body is never read to its end: the dialog comes, and the request goes again on a new connection.
      {"a refusal without end", false, {{L"right", L"password"}}, true, OurProxy, "/loader/behind-proxy",
       R"(, "endless_refusal": true)"},
      // The real thing asks for every request, and the platform forgets the answer with each session.
      {"tinyproxy, several downloads", false, {{L"right", L"password"}}, true, Tinyproxy, "/loader/behind-proxy", "",
       4, 1},
      // Anybody on the path can answer 407 to a plain request: without a proxy nobody is asked (Wine's
      // dialog crashes on it, having no proxy name to show). Last: Wine keeps a direct connection for later
      // requests to the same server, even those meant for a proxy.
      {"a 407 with no proxy in use", false, {{L"right", L"password"}}, false, Direct, "/loader/asks-itself", "", 1, 0},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.route == Tinyproxy && local_server::TinyproxyAddress().empty()) {
      ADD_FAILURE() << "tinyproxy did not start";
      continue;
    }
    CUrlLoader::ForgetProxyCredentials();
    std::unique_ptr<local_server::CThroughProxy> proxy(
        c.route == Direct ? nullptr
                          : new local_server::CThroughProxy(c.route == Tinyproxy ? local_server::TinyproxyAddress()
                                                                                 : local_server::ProxyAddress()));
    // A user of its own for every row, so nothing a platform remembers of an earlier row answers for it.
    std::wstring user = L"right" + std::to_wstring(++row);
    std::wstring password = L"password";
    if (c.route == Tinyproxy) {
      user = local_server::kTinyproxyUser;
      password = local_server::kTinyproxyPassword;
    }
    local_server::Put(L"/_proxy.json", "{\"user\": \"right" + std::to_string(row) + "\", \"password\": \"password\"" +
                                           c.proxySettings + "}");
    std::vector<std::pair<std::wstring, std::wstring>> answers = c.answers;
    for (auto& answer : answers) {
      if (answer.first == L"right") answer = {user, password};
    }
    CCredentialAnswerer answerer(answers, c.answerDelayMs);
    const std::wstring path(c.path, c.path + strlen(c.path));
    for (int load = 0; load < c.loads; ++load) {
      SCOPED_TRACE(load);
      CBuffer buffer;
      CUrlLoader loader(nullptr, L"Quillora");
      loader.SetCredentialOwner(owner);
      bool loaded = loader.Load(buffer, local_server::Url(c.https, path).c_str(), nullptr, kFlags);
      EXPECT_EQ(c.expected, loaded) << loader.LastError() << " status " << loader.StatusCode();
      if (c.expectedError || c.route == Direct) {
        EXPECT_EQ(c.expectedError, loader.LastError()) << "not the proxy's answer";
      }
      if (c.expected) {
        EXPECT_EQ(body, std::string(static_cast<const char*>(buffer.GetData()), buffer.Length()));
      } else {
        EXPECT_EQ(std::string::npos, std::string(static_cast<const char*>(buffer.GetData()), buffer.Length()).find("forged"));
      }
    }
    EXPECT_EQ(c.expectedPrompts >= 0 ? c.expectedPrompts
                                     : static_cast<int>(std::min<size_t>(answers.size(), CUrlLoader::kCredentialTries)),
              answerer.prompts);
  }
  CUrlLoader::ForgetProxyCredentials();
  DestroyWindow(owner);
}

// A transfer given up in any phase leaves its worker behind; the load that follows at once gets a fresh
// request, and the stale worker never reads from it, whatever number the platform gives the new handle.
TEST_F(UrlLoader, ALoadRightAfterAnAbandonedOneGetsItsOwnBody) {
  const std::string second = Pattern(200000);
  local_server::Put(L"/loader/second", second);
  struct Case {
    const char* name;
    const char* meta;
    int cancelAt;  // the progress report that cancels
  } cases[] = {
      {"connecting", R"({"mode": "stall", "stall_ms": 1500})", 0},
      {"headers", R"({"mode": "stall", "after": 0, "stall_ms": 1500})", 0},
      {"body", R"({"mode": "trickle", "chunk": 4096, "delay_ms": 2})", 2},
  };
  {
    CUrlLoader warm(nullptr, L"Quillora");
    CBuffer buffer;
    warm.Load(buffer, local_server::Url(false, L"/loader/second").c_str(), nullptr, kFlags);
  }
  const DWORD before = HandleCount();
  for (const Case& c : cases) {
    std::wstring path = L"/loader/abandoned-" + std::to_wstring(&c - cases);
    local_server::Put(path, Pattern(300000), c.meta);
    for (int i = 0; i < 50; ++i) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(i));
      CRecorder recorder(c.cancelAt);
      CUrlLoader loader(&recorder, L"Quillora");
      CBuffer buffer;
      EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, path).c_str(), nullptr, kFlags));
      ASSERT_EQ(1u, recorder.events.back().a);
      CUrlLoader next(nullptr, L"Quillora");
      ASSERT_TRUE(next.Load(buffer, local_server::Url(false, L"/loader/second").c_str(), nullptr, kFlags))
          << next.LastError();
      ASSERT_EQ(second.size(), buffer.Length());
      ASSERT_EQ(0, memcmp(buffer.GetData(), second.data(), second.size()));
    }
  }
  DWORD after = HandleCount();
  for (int wait = 0; wait < 100 && after > before + 2; ++wait) {
    Sleep(100);
    after = HandleCount();
  }
  EXPECT_LE(after, before + 2);
}

// Cancelled transfers are abandoned to workers that end by themselves: doing it again and again neither
// fails nor leaves handles behind.
TEST_F(UrlLoader, AbandonedTransfersCleanUpAfterThemselves) {
  local_server::Put(L"/loader/stall-often", Pattern(100000), R"({"mode": "stall", "after": 1000, "stall_ms": 1500})");
  { // the first transfer loads what every later one shares
    CUrlLoader loader(nullptr, L"Quillora");
    CBuffer buffer;
    loader.Load(buffer, local_server::Url(false, L"/loader/headers").c_str(), nullptr, kFlags);
  }
  DWORD before = HandleCount();
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    CRecorder recorder(-1, 150);
    CUrlLoader loader(&recorder, L"Quillora");
    CBuffer buffer;
    EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/stall-often").c_str(), nullptr, kFlags));
    EXPECT_EQ(1u, recorder.events.back().a);
    EXPECT_LT(recorder.ended - recorder.cancelledAt, 1000u);
  }
  // The workers end once the server gives up on them.
  DWORD after = HandleCount();
  for (int wait = 0; wait < 100 && after > before + 2; ++wait) {
    Sleep(100);
    after = HandleCount();
  }
  EXPECT_LE(after, before + 2);
}

// A quit message means the thread's loop is ending: a request gives up at once, even one without a
// callback, and leaves the message for the loop.
TEST_F(UrlLoader, AQuitMessageEndsAWaitingRequest) {
  local_server::Put(L"/loader/stall-quit", "", R"({"mode": "stall", "stall_ms": 3000})");
  CUrlLoader loader(nullptr, L"Quillora");
  CBuffer buffer;
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists before the post
  std::thread([thread = GetCurrentThreadId()] {
    Sleep(200);
    PostThreadMessageW(thread, WM_QUIT, 0, 0);
  }).detach();
  DWORD start = GetTickCount();
  EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/stall-quit").c_str(), nullptr, kFlags));
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), loader.LastError());
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(UrlLoader, ConnectionFailuresAreReportedOnce) {
  struct Case {
    const char* name;
    std::wstring url;
    DWORD expectedError;
  } cases[] = {
      // Port 1 on loopback: nothing listens there.
      {"refused", L"http://127.0.0.1:1/x", ERROR_INTERNET_CANNOT_CONNECT},
      {"not http", L"notaurl", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {"name unresolved", L"http://update.invalid/x", ERROR_INTERNET_NAME_NOT_RESOLVED},
      // nginx: a redirect to itself, and one from https to plain http.
      {"redirects without end", local_server::NginxUrl(false, L"/_nginx/loop"), ERROR_HTTP_REDIRECT_FAILED},
      {"from https to http", local_server::NginxUrl(true, L"/_nginx/to-http/loader/headers"),
       ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR},
  };
  local_server::Put(L"/loader/headers", "ok");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.url.empty()) << "nginx did not start";
    CRecorder recorder;
    CUrlLoader loader(&recorder, L"Quillora");
    CBuffer buffer;
    EXPECT_FALSE(loader.Load(buffer, c.url.c_str(), nullptr, kFlags));
    EXPECT_EQ(std::vector<DWORD>{c.expectedError}, recorder.Errors());
    EXPECT_EQ(c.expectedError, loader.LastError());
    // No byte of a body is reported. Silence is (every 100 ms, so the user can cancel), and ten redirects
    // on a busy machine take longer than that.
    for (const auto& report : recorder.Progress()) EXPECT_EQ(0u, report.a);
    EXPECT_EQ('E', recorder.events.back().kind);
  }
}

// The server goes away in the middle of the body: a failure, and what arrived stays in the buffer.
TEST_F(UrlLoader, AConnectionClosedMidBodyFails) {
  local_server::Put(L"/loader/drop", Pattern(50000), R"({"mode": "drop", "drop_after": 20000})");
  CRecorder recorder;
  CUrlLoader loader(&recorder, L"Quillora");
  CBuffer buffer;
  EXPECT_FALSE(loader.Load(buffer, local_server::Url(false, L"/loader/drop").c_str(), nullptr, kFlags));
  EXPECT_EQ(1u, recorder.Errors().size());
  EXPECT_NE(0u, loader.LastError());
  EXPECT_LE(buffer.Length(), 20000u);
  EXPECT_EQ(Pattern(buffer.Length()), std::string(static_cast<const char*>(buffer.GetData()), buffer.Length()));
  EXPECT_EQ('E', recorder.events.back().kind);
  EXPECT_EQ(0u, recorder.events.back().a);
}

// A body that never ends is stopped by the size cap, with what the cap allowed.
TEST_F(UrlLoader, TheCapEndsABodyThatNeverEnds) {
  local_server::Put(L"/loader/endless", Pattern(4096), R"({"mode": "endless", "delay_ms": 1})");
  CUrlLoader loader(nullptr, L"Quillora", 0, 0, 0, 100000);
  CBuffer buffer;
  EXPECT_TRUE(loader.Load(buffer, local_server::Url(false, L"/loader/endless").c_str(), nullptr, kFlags));
  EXPECT_EQ(100000u, buffer.Length());
}

TEST_F(UrlLoader, SendsTheAgentAndExtraHeadersAndWorksWithoutCallback) {
  local_server::Put(L"/loader/headers", "ok");
  CUrlLoader loader(nullptr, L"Quillora");
  CBuffer buffer;
  size_t before = local_server::Requests().size();
  ASSERT_TRUE(loader.Load(buffer, local_server::Url(true, L"/loader/headers?q=1").c_str(),
                          L"X-Corvane-Test: yes\r\n", kFlags));
  EXPECT_EQ(L"OK", loader.StatusText());
  std::vector<std::string> requests = local_server::Requests();
  ASSERT_EQ(before + 1, requests.size());
  const std::string& logged = requests.back();
  EXPECT_NE(std::string::npos, logged.find("/loader/headers?q=1"));
  EXPECT_NE(std::string::npos, logged.find("\"Quillora\""));
  EXPECT_NE(std::string::npos, logged.find("X-Corvane-Test"));
}

TEST(InternetErrorName, NamesKnownCodesAndNumbersTheRest) {
  struct Case {
    DWORD code;
    const wchar_t* name;
  } cases[] = {
      {12001, L"INTERNET_OUT_OF_HANDLES"}, {12002, L"INTERNET_TIMEOUT"},
      {12029, L"INTERNET_CANNOT_CONNECT"}, {12057, L"INTERNET_SEC_CERT_REV_FAILED"},
      {12150, L"HTTP_HEADER_NOT_FOUND"},   {12172, L"INTERNET_NOT_INITIALIZED"},
      {12035, L"12035"},                   {12051, L"12051"},  // gaps in the table
      {12110, L"12110"},                   {0, L"0"},          // FTP codes are not named
      {4294967295u, L"4294967295"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.name, InternetErrorName(c.code)) << c.code;
}

}  // namespace
