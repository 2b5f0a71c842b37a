// Our side of the XML benchmark: a file loaded from a UTF-8 buffer with CXMLDocument::LoadFromBuffer,
// document destroyed included. Prints the best of several runs in MB/s, the share of that run spent
// destroying the document, what the tree holds and the heap bytes the loaded document holds per input byte.
// With "parse" as the fourth argument only the parser runs (no callback, no tree), which tells the state
// machine's share of the load from the tree's; with "events" the parser calls a callback that builds
// nothing, which adds the cost of the events themselves.
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

// Takes every event and keeps nothing.
class CIgnoreEvents : public IXMLParserCallback {
 public:
  bool OnStartElement(CXMLParser&) override { return true; }
  bool OnStartTagEnd(CXMLParser&) override { return true; }
  bool OnEndElement(CXMLParser&) override { return true; }
  bool OnAttributeName(CXMLParser&) override { return true; }
  bool OnAttributeValue(CXMLParser&) override { return true; }
  bool OnText(CXMLParser&) override { return true; }
  bool OnUnresolvedEntity(CXMLParser&) override { return true; }
  bool OnBadCharRef(CXMLParser&) override { return true; }
  bool OnComment(CXMLParser&) override { return true; }
  bool OnPInstrTarget(CXMLParser&) override { return true; }
  bool OnPInstrData(CXMLParser&) override { return true; }
  bool OnCData(CXMLParser&) override { return true; }
  bool OnDocType(CXMLParser&) override { return true; }
  bool OnNewLine(CXMLParser&) override { return true; }
};

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
    std::fwprintf(stderr, L"usage: XmlBench file [iterations] [flags] [parse|events]\n");
    return 2;
  }
  const int iterations = argc > 2 ? _wtoi(argv[2]) : 10;
  const unsigned flags = argc > 3 ? static_cast<unsigned>(_wtoi(argv[3])) : 0;
  const bool events = argc > 4 && std::wcscmp(argv[4], L"events") == 0;
  const bool parseOnly = events || (argc > 4 && std::wcscmp(argv[4], L"parse") == 0);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  CBuffer bytes;
  if (!ReadWholeFile(argv[1], bytes)) {
    std::fwprintf(stderr, L"cannot read %ls\n", argv[1]);
    return 1;
  }
  double best = 1e30;
  double bestDestroy = 0;  // of the best run
  size_t elements = 0;
  size_t attributes = 0;
  double heapPerByte = 0;
  double firstLoad = 0;
  if (!parseOnly) {
    // A first load for what the tree holds and what it costs in memory, before any other load has left
    // memory behind; its time (load only) is that of a process's first load, on pages never used before.
    const uint64_t heapBefore = HeapBytesInUse();
    CXMLDocument document;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    document.LoadFromBuffer(bytes, flags);
    QueryPerformanceCounter(&end);
    firstLoad = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    heapPerByte = static_cast<double>(HeapBytesInUse() - heapBefore) / bytes.Length();
    elements = CountElements(document.GetRoot(), &attributes);
  }
  for (int i = 0; i < iterations; ++i) {
    LARGE_INTEGER start, loaded, end;
    QueryPerformanceCounter(&start);
    loaded = start;
    if (parseOnly) {
      CIgnoreEvents ignore;
      CXMLParser parser(events ? &ignore : nullptr, flags);
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
      QueryPerformanceCounter(&loaded);
    }
    QueryPerformanceCounter(&end);
    double elapsed = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (elapsed < best) {
      best = elapsed;
      bestDestroy = static_cast<double>(end.QuadPart - loaded.QuadPart) / frequency.QuadPart;
    }
  }
  if (parseOnly) {
    std::printf("%.1f MB/s parser only%s\n", bytes.Length() / best / 1e6, events ? ", events ignored" : "");
  } else {
    std::printf(
        "%.1f MB/s %u elements %u attributes, heap %.2f bytes per input byte, destruction %.0f%%, "
        "first load %.1f MB/s\n",
        bytes.Length() / best / 1e6, static_cast<unsigned>(elements), static_cast<unsigned>(attributes),
        heapPerByte, 100 * bestDestroy / best, bytes.Length() / firstLoad / 1e6);
  }
  return 0;
}
