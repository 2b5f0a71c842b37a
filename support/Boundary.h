// Where the system calls our code (window procedures, enumeration callbacks), an exception must not
// unwind through the system's frames: this compiler's unwinder cannot cross them, and the process would
// end there without a word. A boundary keeps the exception instead, and the code of ours that regains
// control after the system's call throws it again, where a handler can tell the user.
#pragma once

#include <exception>
#include <utility>

// Where an exception waits to be thrown again. The first one kept stays until it is thrown or forgotten;
// later ones are dropped (they are usually the first one's consequences).
class CKeptException {
 public:
  // Runs body; true when it returned, false when it threw (the exception then kept here).
  template <class Body>
  bool Run(Body&& body) noexcept {
    try {
      std::forward<Body>(body)();
      return true;
    } catch (...) {
      Keep(std::current_exception());
      return false;
    }
  }
  void Keep(std::exception_ptr failure) noexcept {
    if (!kept) kept = std::move(failure);
  }
  bool Holds() const { return kept != nullptr; }
  void Forget() { kept = nullptr; }
  // Throws the kept exception, and forgets it; does nothing when none is kept.
  void Throw() {
    if (!kept) return;
    std::rethrow_exception(std::exchange(kept, nullptr));
  }

 private:
  std::exception_ptr kept;
};

// The thread's own: what a window procedure or system callback kept, thrown by whoever regains control.
CKeptException& ThreadKeptException();

// Keeps an exception for this thread.
inline void KeepException(std::exception_ptr failure) noexcept { ThreadKeptException().Keep(std::move(failure)); }
// Throws the exception kept on this thread, and forgets it; does nothing when none is kept.
inline void ThrowKeptException() { ThreadKeptException().Throw(); }

// Runs body for a caller in the system. True when body returned; false when it threw, the exception then
// kept for this thread.
template <class Body>
bool RunAtBoundary(Body&& body) noexcept {
  return ThreadKeptException().Run(std::forward<Body>(body));
}
