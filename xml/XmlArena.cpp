#include "xml/XmlArena.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Blocks double from the first size to the last: a small document takes one small block, a large one a
// few dozen large blocks instead of hundreds of small ones.
constexpr size_t kFirstBlockBytes = 64 * 1024;
constexpr size_t kLastBlockBytes = 1024 * 1024;

size_t RoundUp(size_t bytes) {
  return (bytes + 7) & ~static_cast<size_t>(7);
}

// Full-size blocks of released arenas, kept for the next load instead of going back to the heap. Under
// Wine a block that large goes back to the system when it is freed, so every load wrote only fresh pages
// and paid a page fault for each: two thirds of the time of a 10 MB load, measured. What is kept stays
// counted as heap in use; it is never more than the largest load needed at once, and at most kKeptBytes.
constexpr size_t kKeptBytes = 64 * 1024 * 1024;
SRWLOCK g_keptLock = SRWLOCK_INIT;
void* g_kept = nullptr;  // a list linked through each block's first word
size_t g_keptCount = 0;

void* TakeKeptBlock() {
  AcquireSRWLockExclusive(&g_keptLock);
  void* block = g_kept;
  if (block) {
    g_kept = *static_cast<void**>(block);
    --g_keptCount;
  }
  ReleaseSRWLockExclusive(&g_keptLock);
  return block;
}

// A glance, without the lock: at worst a block is asked for that is no longer there, and comes from the heap.
bool HasKeptBlocks() {
  return *static_cast<void* volatile*>(&g_kept) != nullptr;
}

// False when the reserve is full: the caller frees the block.
bool KeepBlock(void* block) {
  AcquireSRWLockExclusive(&g_keptLock);
  const bool kept = g_keptCount < kKeptBytes / kLastBlockBytes;
  if (kept) {
    *static_cast<void**>(block) = g_kept;
    g_kept = block;
    ++g_keptCount;
  }
  ReleaseSRWLockExclusive(&g_keptLock);
  return kept;
}

}  // namespace

CXMLArena* CXMLArena::Create() {
  return new (std::nothrow) CXMLArena();
}

CXMLArena::CXMLArena() : nextBlockBytes(kFirstBlockBytes) {}

CXMLArena::~CXMLArena() {
  while (blocks) {
    Block* next = blocks->next;
    if (blocks->bytes != kLastBlockBytes || !KeepBlock(blocks)) std::free(blocks);
    blocks = next;
  }
}

void* CXMLArena::AllocateInNewBlock(size_t bytes, size_t alignment) {
  if (bytes > SIZE_MAX / 2) return nullptr;
  if (bytes == 0) bytes = 1;
  const size_t skip = (0 - reinterpret_cast<uintptr_t>(cursor)) & (alignment - 1);
  if (static_cast<size_t>(limit - cursor) < skip + bytes) {
    if (bytes > nextBlockBytes / 4) {
      // A request larger than a quarter block gets a block of its own, behind the current block, which
      // stays the one being filled.
      Block* block = NewBlock(bytes);
      if (!block) return nullptr;
      if (blocks) {
        block->next = blocks->next;
        blocks->next = block;
      } else {
        block->next = nullptr;
        blocks = block;
      }
      return reinterpret_cast<char*>(block) + RoundUp(sizeof(Block));
    }
    if (!StartBlock(nextBlockBytes)) return nullptr;
  }
  cursor += (0 - reinterpret_cast<uintptr_t>(cursor)) & (alignment - 1);
  void* result = cursor;
  cursor += bytes;
  return result;
}

void* CXMLArena::Extend(void* last, size_t bytes, size_t more, size_t alignment) {
  char* end = static_cast<char*>(last) + bytes;
  if (end == cursor && static_cast<size_t>(limit - cursor) >= more) {
    cursor += more;
    return last;
  }
  if (bytes > SIZE_MAX / 4 - more - alignment) return nullptr;
  // Moved into a block of its own that becomes the current one, with room for the run to double: a run
  // that keeps growing (a long text, one event per reference) is then copied a few times, not once per
  // piece.
  const size_t needed = bytes + more;
  if (!StartBlock(2 * needed + alignment > nextBlockBytes ? 2 * needed + alignment : nextBlockBytes)) {
    return nullptr;
  }
  cursor += (0 - reinterpret_cast<uintptr_t>(cursor)) & (alignment - 1);
  void* moved = cursor;
  cursor += needed;
  std::memcpy(moved, last, bytes);
  return moved;
}

CXMLArena::Block* CXMLArena::NewBlock(size_t room) {
  void* memory = room == kLastBlockBytes ? TakeKeptBlock() : nullptr;
  if (!memory) memory = std::malloc(RoundUp(sizeof(Block)) + room);
  if (!memory) return nullptr;
  Block* block = static_cast<Block*>(memory);
  block->bytes = room;
  return block;
}

bool CXMLArena::StartBlock(size_t room) {
  // While full-size blocks are kept, a load grows straight into them: the smaller first blocks would be
  // fresh pages again (the largest of them goes back to the system when freed).
  if (room == nextBlockBytes && room < kLastBlockBytes && HasKeptBlocks()) room = nextBlockBytes = kLastBlockBytes;
  Block* block = NewBlock(room);
  if (!block) return false;
  block->next = blocks;
  blocks = block;
  cursor = reinterpret_cast<char*>(block) + RoundUp(sizeof(Block));
  limit = cursor + room;
  if (nextBlockBytes < kLastBlockBytes) nextBlockBytes *= 2;
  return true;
}

void* CXMLArenaObject::operator new(size_t size) {
  void* block = size <= SIZE_MAX - kHeader ? std::malloc(size + kHeader) : nullptr;
  if (!block) throw std::bad_alloc();
  *static_cast<CXMLArena**>(block) = nullptr;
  return static_cast<char*>(block) + kHeader;
}

void CXMLArenaObject::FreeFromHeap(void* object) {
  std::free(static_cast<char*>(object) - kHeader);
}

void CXMLArenaObject::operator delete(void* object, CXMLArena&) {
  operator delete(object);
}
