// Our side of the XML benchmark: a file loaded from a UTF-8 buffer with CXMLDocument::LoadFromBuffer,
// document destroyed included. Prints the best of several runs in MB/s and what the tree holds.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "support/Buffer.h"
#include "support/File.h"
#include "xml/XmlDocument.h"

namespace {

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
    std::fwprintf(stderr, L"usage: XmlBench file [iterations] [flags]\n");
    return 2;
  }
  const int iterations = argc > 2 ? _wtoi(argv[2]) : 10;
  const unsigned flags = argc > 3 ? static_cast<unsigned>(_wtoi(argv[3])) : 0;
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
  for (int i = 0; i < iterations; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    {
      CXMLDocument document;
      if (!document.LoadFromBuffer(bytes, flags)) {
        std::fwprintf(stderr, L"load failed: %ls %ls\n", XMLErrorName(document.GetError()),
                      document.GetErrorText().c_str());
        return 1;
      }
      if (i == 0) {
        attributes = 0;
        elements = CountElements(document.GetRoot(), &attributes);
      }
    }
    QueryPerformanceCounter(&end);
    double elapsed = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (elapsed < best) best = elapsed;
  }
  std::printf("%.1f MB/s %u elements %u attributes\n", bytes.Length() / best / 1e6,
              static_cast<unsigned>(elements), static_cast<unsigned>(attributes));
  return 0;
}
