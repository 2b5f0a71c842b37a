// Our side of the download benchmark: one URL loaded several times with CUrlLoader, as the program loads an
// installer (no cache write, always from the server), each time into a fresh buffer. Prints the best
// throughput and the process's peak working set against the body size, with the working set before the
// first load so what the body costs can be told from what the process costs anyway.
// Under Wine the working set is the Linux process's resident set: it counts the pages of every library the
// process has touched, and the first request brings in the network and TLS libraries (17-23 MB on the 64-bit
// flavour), a fixed cost that no loader can change. So the peak is also given above the "settled" working
// set, taken once the first load has ended and its body is freed: what a load costs beyond what the process
// holds anyway, the body included.
//
// Each load is logged as the program logs it, into a run log of the bench's own in the temporary folder;
// with DOWNLOAD_BENCH_NO_LOG set (to anything) logging is off from the start, for telling what it costs.
//
// Last it prints what one log line costs (0 with logging off).
//
// Usage: DownloadBench url iterations expected-bytes [piece-KB | retry warm-up-url [silence-ms]]
// Prints: "<MB/s> MB/s <peak/body> peak/body <peak MB> MB peak <before MB> MB before <ms> ms answer
//          <(peak-settled)/body> over-settled/body <settled MB> MB settled <us> us/log-line
//          <MB> MB largest-free"
// The "answer" figure is the longest the loading thread took to answer a WM_NULL sent to its window from another
// thread while the loads ran (the system calls a window that takes 5 s "not responding").
// With piece-KB the loader is left out: plain WinInet reads of that fixed size into a buffer reserved once,
// what the platform itself delivers, for telling the loader's cost from Wine's.
// With "retry" the program's own download loader (tries and resume) loads url, which the server breaks once
// (the bench script scripts that); warm-up-url is loaded first, so "settled" is taken before the timed load.
// silence-ms shortens the time a silent line is waited for, for a break that is a line falling silent.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <thread>

#include "net/RetryingLoader.h"
#include "net/UrlLoader.h"
#include "support/Buffer.h"
#include "support/Log.h"

namespace {

constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

PROCESS_MEMORY_COUNTERS MemoryCounters() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

// The server's pattern (byte i is i % 251): a loader that dropped, repeated or reordered reads fails here.
bool HoldsPattern(const CBuffer& buffer) {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer.GetData());
  for (uint32_t i = 0; i < buffer.Length(); ++i) {
    if (bytes[i] != i % 251) return false;
  }
  return true;
}

bool LoadInPieces(const wchar_t* url, DWORD pieceBytes, DWORD expected, CBuffer& body) {
  CUniqueT<InternetHandleTraits> internet(
      InternetOpenW(L"Quillora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  CUniqueT<InternetHandleTraits> request(InternetOpenUrlW(internet.Get(), url, nullptr, 0, kFlags, 0));
  if (!request || !body.Reserve(expected)) return false;
  for (;;) {
    // Never grown: a full buffer asks for one byte more, which must not come.
    DWORD room = body.Capacity() - body.Length();
    uint8_t extra;
    DWORD read = 0;
    if (!InternetReadFile(request.Get(), room ? body.Data() + body.Length() : &extra,
                          room ? std::min(room, pieceBytes) : 1, &read)) {
      return false;
    }
    if (read == 0) return true;
    if (room == 0) return false;
    body.SetLength(body.Length() + read);
  }
}

// Asks the window for WM_NULL over and over from another thread and keeps the slowest answer.
class CAnswerWatch {
 public:
  explicit CAnswerWatch(HWND window)
      : watcher([this, window] {
          LARGE_INTEGER frequency;
          QueryPerformanceFrequency(&frequency);
          while (!stop) {
            LARGE_INTEGER start, end;
            // A question asked between loads waits for the body check; only ones asked during a load count.
            bool counted = measuring;
            QueryPerformanceCounter(&start);
            DWORD_PTR answer;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer);
            QueryPerformanceCounter(&end);
            double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
            if (counted && measuring && ms > slowest) slowest = ms;
            // Often enough to catch any stall a user would notice, seldom enough not to slow the load.
            Sleep(20);
          }
          done = true;
        }) {}
  ~CAnswerWatch() { Stop(); }
  // Only answers given while a load runs count: between loads the program checks the body without pumping.
  void Measure(bool on) { measuring = on; }
  // On the window's thread: answers the watcher's last question while it stops.
  double Stop() {
    stop = true;
    while (!done) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(1);
    }
    if (watcher.joinable()) watcher.join();
    return slowest;
  }

 private:
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::atomic<bool> measuring{false};
  double slowest = 0;  // written by the watcher only until done
  std::thread watcher;
};

// The largest block of free address space: how large a body this process could hold at all (a 32-bit
// one has 2 GB, or 4 GB when large-address-aware on 64-bit Windows, split by the DLLs it loaded).
double LargestFreeBlock() {
  SIZE_T largest = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);) {
    if (region.State == MEM_FREE && region.RegionSize > largest) largest = region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return static_cast<double>(largest);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fwprintf(stderr, L"usage: DownloadBench url iterations expected-bytes [piece-KB | retry warm-up-url [silence-ms]]\n");
    return 2;
  }
  const wchar_t* url = argv[1];
  const int iterations = _wtoi(argv[2]);
  const DWORD expected = wcstoul(argv[3], nullptr, 10);
  const bool retrying = argc > 5 && wcscmp(argv[4], L"retry") == 0;
  const DWORD pieceBytes = argc > 4 && !retrying ? wcstoul(argv[4], nullptr, 10) * 1024 : 0;
  const double before = static_cast<double>(MemoryCounters().WorkingSetSize);
  const double largestFree = LargestFreeBlock();
  if (GetEnvironmentVariableW(L"DOWNLOAD_BENCH_NO_LOG", nullptr, 0) > 0) {
    RunLog().Finish();
  } else {
    wchar_t temp[MAX_PATH + 1] = {};
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!GetTempPathW(MAX_PATH + 1, temp) || !RunLog().Open(temp, now, {L"bench", false, 0})) {
      std::fwprintf(stderr, L"no log could be opened in the temporary folder\n");
      return 1;
    }
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  double settled = 0;
  HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) {
    std::fwprintf(stderr, L"no window to ask (is there a display?)\n");
    return 1;
  }
  CAnswerWatch watch(window);
  if (retrying) {
    if (argc > 6) CUrlLoader::SetSilenceLimitForTesting(wcstoul(argv[6], nullptr, 10));
    CUrlLoader warmUp(nullptr, L"Quillora");
    CBuffer small;
    warmUp.Load(small, argv[5], nullptr, kFlags);
  }
  for (int i = 0; i < iterations; ++i) {
    CUrlLoader loader(nullptr, L"Quillora");
    CRetryingLoader tries(nullptr, L"Quillora");
    CBuffer body;
    LARGE_INTEGER start, end;
    if (retrying && i == 0) settled = static_cast<double>(MemoryCounters().WorkingSetSize);
    watch.Measure(true);
    QueryPerformanceCounter(&start);
    bool loaded = pieceBytes ? LoadInPieces(url, pieceBytes, expected, body)
                  : retrying ? tries.Load(body, url, kFlags)
                             : loader.Load(body, url, nullptr, kFlags);
    QueryPerformanceCounter(&end);
    watch.Measure(false);
    if (!loaded || body.Length() != expected) {
      std::fwprintf(stderr, L"load %d failed: %u bytes of %lu, status %lu, error %ls\n", i + 1, body.Length(),
                    expected, loader.StatusCode(), InternetErrorName(loader.LastError()).c_str());
      return 1;
    }
    if (i == 0 && !HoldsPattern(body)) {
      std::fwprintf(stderr, L"the body is not what the server sent\n");
      return 1;
    }
    double elapsed = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (elapsed < best) best = elapsed;
    if (retrying && tries.Tries() < 2) {
      std::fwprintf(stderr, L"the load was not resumed (%d tries)\n", tries.Tries());
      return 1;
    }
    if (i == 0 && !retrying) {
      body.Free();
      settled = static_cast<double>(MemoryCounters().WorkingSetSize);
    }
  }
  const double slowestAnswer = watch.Stop();
  // What one line costs, formatted, redacted and written as a load's closing line is: the loads' own
  // difference is within a shared machine's noise, this is not.
  const int lines = 1000;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < lines; ++i) {
    LogInfo(std::wstring(L"GET ") + url + L": proxy none, TLS yes, status 200, length " + std::to_wstring(expected) +
            L", received " + std::to_wstring(expected));
  }
  QueryPerformanceCounter(&end);
  const double lineUs = 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart / lines;
  RunLog().RecordOutcome(RunOutcome::Succeeded, L"benchmark");
  RunLog().Finish();
  const double peak = static_cast<double>(MemoryCounters().PeakWorkingSetSize);
  std::printf("%.1f MB/s %.3f peak/body %.1f MB peak %.1f MB before %.1f ms answer %.3f over-settled/body %.1f MB "
              "settled %.1f us/log-line %.0f MB largest-free\n",
              expected / best / 1e6, peak / expected, peak / 1e6, before / 1e6, slowestAnswer,
              (peak - settled) / expected, settled / 1e6, lineUs, largestFree / 1e6);
  return 0;
}
