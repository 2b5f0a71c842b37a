#include "support/AtExit.h"

namespace {

CDeferredCallQueue* g_currentQueue = nullptr;

class CLock {
 public:
  explicit CLock(CRITICAL_SECTION& cs) : section(cs) { EnterCriticalSection(&section); }
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;
  ~CLock() { LeaveCriticalSection(&section); }

 private:
  CRITICAL_SECTION& section;
};

}  // namespace

CDeferredCallQueue::CDeferredCallQueue(CDeferredCallQueue* previousQueue) : previous(previousQueue) {
  InitializeCriticalSection(&lock);
}

CDeferredCallQueue::~CDeferredCallQueue() {
  for (CDeferredProcCall* call : calls) call->Release();
  DeleteCriticalSection(&lock);
}

void CDeferredCallQueue::Add(CAtExit* call) {
  CLock hold(lock);
  try {
    calls.push_front(call);
  } catch (const std::bad_alloc&) {
    call->Release();  // cannot be queued: the caller's object is simply not destroyed at exit
  }
}

CDeferredProcCall* CDeferredCallQueue::Pop() {
  CLock hold(lock);
  if (calls.empty()) return nullptr;
  CDeferredProcCall* call = calls.front();
  calls.pop_front();
  return call;
}

bool CDeferredCallQueue::IsEmpty() {
  CLock hold(lock);
  return calls.empty();
}

void CDeferredCallQueue::RunAll() {
  while (!IsEmpty()) {
    if (CDeferredProcCall* call = Pop()) {
      call->Invoke();
      call->Release();
    }
  }
}

CDeferredCallQueue* GetAtExitQueue() {
  if (!g_currentQueue) g_currentQueue = new CDeferredCallQueue(nullptr);
  return g_currentQueue;
}

void RunAtExitCalls() {
  while (CDeferredCallQueue* queue = g_currentQueue) {
    queue->RunAll();
    g_currentQueue = queue->Previous();
    delete queue;
  }
}
