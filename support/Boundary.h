// Where the system calls our code (window procedures, enumeration callbacks), an exception must not
// unwind through the system's frames: this compiler's unwinder cannot cross them, and the process would
// end there without a word. A boundary keeps the exception for its thread instead, and the code of ours
// that regains control after the system's call throws it again, where a handler can tell the user.
#pragma once

#include <exception>
#include <utility>

// Keeps an exception for this thread. The first one kept stays until it is thrown; later ones are dropped
// (they are usually the first one's consequences).
void KeepException(std::exception_ptr failure) noexcept;
// Throws the exception kept on this thread, and forgets it; does nothing when none is kept.
void ThrowKeptException();

// Runs body for a caller in the system. True when body returned; false when it threw, the exception then
// kept for this thread.
template <class Body>
bool RunAtBoundary(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    KeepException(std::current_exception());
    return false;
  }
}
