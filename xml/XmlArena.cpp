#include "xml/XmlArena.h"

#include <cstdlib>
#include <new>

namespace {

constexpr size_t kBlockBytes = 64 * 1024;
// Every object starts just after its header, which names the arena it came from (null: the heap). A
// pointer-sized header, not a wider one: a load makes hundreds of thousands of small objects.
constexpr size_t kHeader = sizeof(CXMLArena*);

size_t RoundUp(size_t bytes) {
  return (bytes + 7) & ~static_cast<size_t>(7);
}

}  // namespace

CXMLArena* CXMLArena::Create() {
  return new (std::nothrow) CXMLArena();
}

CXMLArena::~CXMLArena() {
  while (blocks) {
    Block* next = blocks->next;
    std::free(blocks);
    blocks = next;
  }
}

void CXMLArena::Release() {
  if (--references == 0) delete this;
}

void* CXMLArena::Allocate(size_t bytes, size_t alignment) {
  if (bytes > SIZE_MAX / 2) return nullptr;
  if (bytes == 0) bytes = 1;
  const size_t skip = (alignment - reinterpret_cast<uintptr_t>(cursor) % alignment) % alignment;
  if (static_cast<size_t>(limit - cursor) < skip + bytes) {
    // A request larger than a quarter block gets a block of its own, so the current block's room is kept.
    const size_t room = bytes > kBlockBytes / 4 ? bytes : kBlockBytes;
    Block* block = static_cast<Block*>(std::malloc(RoundUp(sizeof(Block)) + room));
    if (!block) return nullptr;
    char* start = reinterpret_cast<char*>(block) + RoundUp(sizeof(Block));
    if (room == bytes && blocks) {
      // Behind the current block, which stays the one being filled.
      block->next = blocks->next;
      blocks->next = block;
      return start;
    }
    block->next = blocks;
    blocks = block;
    cursor = start;
    limit = start + room;
  }
  cursor += (alignment - reinterpret_cast<uintptr_t>(cursor) % alignment) % alignment;
  void* result = cursor;
  cursor += bytes;
  return result;
}

void* CXMLArenaObject::operator new(size_t size) {
  void* block = size <= SIZE_MAX - kHeader ? std::malloc(size + kHeader) : nullptr;
  if (!block) throw std::bad_alloc();
  *static_cast<CXMLArena**>(block) = nullptr;
  return static_cast<char*>(block) + kHeader;
}

void* CXMLArenaObject::operator new(size_t size, CXMLArena& arena) {
  void* block = size <= SIZE_MAX - kHeader ? arena.Allocate(size + kHeader, kHeader) : nullptr;
  if (!block) throw std::bad_alloc();
  *static_cast<CXMLArena**>(block) = &arena;
  arena.AddRef();
  return static_cast<char*>(block) + kHeader;
}

void CXMLArenaObject::operator delete(void* object) {
  if (!object) return;
  void* block = static_cast<char*>(object) - kHeader;
  CXMLArena* arena = *static_cast<CXMLArena**>(block);
  if (arena) {
    arena->Release();
  } else {
    std::free(block);
  }
}

void CXMLArenaObject::operator delete(void* object, CXMLArena&) {
  operator delete(object);
}
