#include "support/Boundary.h"

namespace {

thread_local std::exception_ptr t_kept;

}  // namespace

void KeepException(std::exception_ptr failure) noexcept {
  if (!t_kept) t_kept = std::move(failure);
}

void ThrowKeptException() {
  if (!t_kept) return;
  std::exception_ptr failure = std::move(t_kept);
  t_kept = nullptr;
  std::rethrow_exception(failure);
}
