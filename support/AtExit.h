// Process-wide services are made on first use and destroyed, newest first, when the main routine drains
// the at-exit queue after the window has closed, while COM and the platform libraries are still up.
// Static destructors would run too late for that.
#pragma once

#include <windows.h>

#include <list>
#include <new>

// A call that is run later. The queue owns it and releases it after running it (or unrun, at teardown).
class CDeferredProcCall {
 public:
  virtual ~CDeferredProcCall() = default;
  virtual void Invoke() = 0;
  virtual void Release() { delete this; }
};

// Everything the at-exit queue holds is a CAtExit.
class CAtExit : public CDeferredProcCall {};

class CDeferredCallQueue {
 public:
  explicit CDeferredCallQueue(CDeferredCallQueue* previous);
  CDeferredCallQueue(const CDeferredCallQueue&) = delete;
  CDeferredCallQueue& operator=(const CDeferredCallQueue&) = delete;
  // Releases every call still queued without invoking it.
  ~CDeferredCallQueue();

  // Takes ownership; the newest call runs first.
  void Add(CAtExit* call);
  // The newest call, removed from the queue; null when it is empty.
  CDeferredProcCall* Pop();
  bool IsEmpty();
  // Runs calls until the queue is empty, re-testing after each, so a call that queues another sees it
  // run in the same drain. Calls run without the lock held.
  void RunAll();
  CDeferredCallQueue* Previous() const { return previous; }

 private:
  std::list<CDeferredProcCall*> calls;
  CRITICAL_SECTION lock;
  CDeferredCallQueue* previous;
};

// The current at-exit queue, created on first request.
CDeferredCallQueue* GetAtExitQueue();

// Called once by the main routine after the main window object is gone: drains and destroys every queue.
void RunAtExitCalls();

// Base of every process-wide singleton T. T's instance is created by Instance() and destroyed by the
// at-exit queue; after the drain the pointer is null again.
template <class T>
class CSingletonT {
 public:
  virtual ~CSingletonT() = default;

  static T* Instance() {
    if (instance) return instance;
    instance = new T();
    // Without its at-exit call the singleton still works; it is just not destroyed at exit.
    if (CSingletonAtExit* call = new (std::nothrow) CSingletonAtExit()) GetAtExitQueue()->Add(call);
    return instance;
  }

  // The instance if one exists, without creating it.
  static T* Existing() { return instance; }

  class CSingletonAtExit : public CAtExit {
   public:
    void Invoke() override {
      delete static_cast<CSingletonT*>(instance);
      instance = nullptr;
    }
  };

 protected:
  CSingletonT() = default;

 private:
  static inline T* instance = nullptr;
};
