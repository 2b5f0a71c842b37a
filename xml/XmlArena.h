// Memory for the nodes, attributes and texts that one load builds: carved from large blocks and given back
// all at once, instead of one heap block each. A node taken out of the tree, moved into another document or
// kept after its document was cleared stays valid: every object carved from an arena holds the arena, and
// the blocks go back only when the last such object is deleted and the load that filled it has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

class CXMLArena {
 public:
  // A new arena holding one reference (the loader's); null when memory runs out.
  static CXMLArena* Create();
  CXMLArena(const CXMLArena&) = delete;
  CXMLArena& operator=(const CXMLArena&) = delete;

  void AddRef() { ++references; }
  // Drops a reference; the last one frees every block.
  void Release() {
    if (--references == 0) delete this;
  }
  // Room for `bytes` bytes at a multiple of alignment (a power of two up to 8); null when memory runs out.
  // It lives as long as the arena, so it may only back the text of an object carved from the same arena.
  // What a load does for every node and text is inline here and in XmlNode.h: as calls into other files it
  // cost about a twentieth of a load, measured.
  void* Allocate(size_t bytes, size_t alignment) {
    // alignment is a power of two: a mask, not a division.
    const size_t room = static_cast<size_t>(limit - cursor);
    const size_t skip = (0 - reinterpret_cast<uintptr_t>(cursor)) & (alignment - 1);
    if (bytes == 0 || skip > room || bytes > room - skip) return AllocateInNewBlock(bytes, alignment);
    void* result = cursor + skip;
    cursor += skip + bytes;
    return result;
  }
  // Makes the `bytes` at last, the latest result of Allocate or Extend, `more` bytes longer: in place when
  // the block has room, else as a copy at the start of a new block with room for them to double (the old
  // room is not reused). Returns where they now are, or null (last unchanged) when memory runs out.
  void* Extend(void* last, size_t bytes, size_t more, size_t alignment);
  // Takes back the `bytes` at last when nothing was allocated after them; otherwise keeps them.
  void GiveBack(void* last, size_t bytes) {
    if (static_cast<char*>(last) + bytes == cursor) cursor = static_cast<char*>(last);
  }

 private:
  CXMLArena();
  ~CXMLArena();

  struct Block {
    Block* next;
    size_t bytes;  // after the header
  };
  // Allocate when the current block lacks room (or for 0 bytes, which take 1).
  void* AllocateInNewBlock(size_t bytes, size_t alignment);
  // A block of room bytes, not linked yet; null when memory runs out.
  Block* NewBlock(size_t room);
  // A block of room bytes becomes the one being filled; false when memory runs out.
  bool StartBlock(size_t room);
  Block* blocks = nullptr;
  char* cursor = nullptr;
  char* limit = nullptr;
  size_t nextBlockBytes;
  uint32_t references = 1;
};

// Base of the classes whose objects a load carves from its arena: `new (arena) T(...)` takes them from the
// arena, a plain `new` from the heap, and `delete` gives either back where it came from. Such objects are
// aligned to a pointer's size only: none of them holds a wider type.
class CXMLArenaObject {
 public:
  static void* operator new(size_t size);
  static void* operator new(size_t size, CXMLArena& arena) {
    void* block = size <= SIZE_MAX - kHeader ? arena.Allocate(size + kHeader, kHeader) : nullptr;
    if (!block) throw std::bad_alloc();
    *static_cast<CXMLArena**>(block) = &arena;
    arena.AddRef();
    return static_cast<char*>(block) + kHeader;
  }
  static void operator delete(void* object) {
    if (!object) return;
    if (CXMLArena* arena = *reinterpret_cast<CXMLArena**>(static_cast<char*>(object) - kHeader)) {
      arena->Release();
    } else {
      FreeFromHeap(object);
    }
  }
  // Used only when a constructor throws.
  static void operator delete(void* object, CXMLArena& arena);

 protected:
  CXMLArenaObject() = default;
  ~CXMLArenaObject() = default;

 private:
  // Every object starts just after its header, which names the arena it came from (null: the heap). A
  // pointer-sized header, not a wider one: a load makes hundreds of thousands of small objects.
  static constexpr size_t kHeader = sizeof(CXMLArena*);
  static void FreeFromHeap(void* object);
};
