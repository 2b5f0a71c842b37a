// Our side of the XML benchmark: a file loaded from a UTF-8 buffer with CXMLDocument::LoadFromBuffer,
// document destroyed included. Prints the best of several runs in MB/s, what the tree holds and the heap
// bytes the loaded document holds per input byte. With "parse" as the fourth argument only the parser runs
// (no callback, no tree), which tells the state machine's share of the load from the tree's.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "support/Buffer.h"
#include "support/File.h"
#include "xml/XmlDocument.h"
#include "xml/XmlParser.h"

namespace {

// Bytes in use in every heap of the process: what the C runtime and the platform have handed out.
uint64_t HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  uint64_t total = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    PROCESS_HEAP_ENTRY entry = {};
    if (!HeapLock(heaps[i])) continue;
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

size_t CountElements(const CXMLElement* top, size_t* attributes) {
  size_t elements = 0;
  const CXMLNode* node = top;
  while (node) {
    if (node->IsElement()) {
      ++elements;
      *attributes += static_cast<const CXMLElement*>(node)->Attributes().size();
      if (const CXMLNode* first = static_cast<const CXMLElement*>(node)->GetFirstChild()) {
        node = first;
        continue;
      }
    }
    while (node != top && !node->GetNext()) node = node->GetParent();
    node = node == top ? nullptr : node->GetNext();
  }
  return elements;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: XmlBench file [iterations] [flags] [parse]\n");
    return 2;
  }
  const int iterations = argc > 2 ? _wtoi(argv[2]) : 10;
  const unsigned flags = argc > 3 ? static_cast<unsigned>(_wtoi(argv[3])) : 0;
  const bool parseOnly = argc > 4 && std::wcscmp(argv[4], L"parse") == 0;
  CBuffer bytes;
  if (!ReadWholeFile(argv[1], bytes)) {
    std::fwprintf(stderr, L"cannot read %ls\n", argv[1]);
    return 1;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  size_t elements = 0;
  size_t attributes = 0;
  double heapPerByte = 0;
  if (!parseOnly) {
    // One untimed load for what the tree holds and what it costs in memory.
    const uint64_t heapBefore = HeapBytesInUse();
    CXMLDocument document;
    document.LoadFromBuffer(bytes, flags);
    heapPerByte = static_cast<double>(HeapBytesInUse() - heapBefore) / bytes.Length();
    elements = CountElements(document.GetRoot(), &attributes);
  }
  for (int i = 0; i < iterations; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (parseOnly) {
      CXMLParser parser(nullptr, flags);
      if (!parser.FeedUtf8(static_cast<const uint8_t*>(bytes.GetData()), bytes.Length())) {
        std::fwprintf(stderr, L"parse failed\n");
        return 1;
      }
    } else {
      CXMLDocument document;
      if (!document.LoadFromBuffer(bytes, flags)) {
        std::fwprintf(stderr, L"load failed: %ls %ls\n", XMLErrorName(document.GetError()),
                      document.GetErrorText().c_str());
        return 1;
      }
    }
    QueryPerformanceCounter(&end);
    double elapsed = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (elapsed < best) best = elapsed;
  }
  if (parseOnly) {
    std::printf("%.1f MB/s parser only\n", bytes.Length() / best / 1e6);
  } else {
    std::printf("%.1f MB/s %u elements %u attributes, heap %.2f bytes per input byte\n",
                bytes.Length() / best / 1e6, static_cast<unsigned>(elements), static_cast<unsigned>(attributes),
                heapPerByte);
  }
  return 0;
}
