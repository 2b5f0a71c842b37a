#include "support/Boundary.h"

CKeptException& ThreadKeptException() {
  thread_local CKeptException kept;
  return kept;
}
