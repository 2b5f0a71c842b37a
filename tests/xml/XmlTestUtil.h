// Helpers shared by the XML tests: a structural dump of a tree (independent of the writer, so round trips
// compare trees and not texts), and conversions between the wide texts of the library and test strings.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "xml/XmlDocument.h"
#include "xml/XmlStream.h"

namespace xmltest {

// Printable ASCII as itself; everything else, and the dump's own punctuation, as \uXXXX.
inline std::string Escape(const wchar_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    wchar_t c = text[i];
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof(hex), "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}
inline std::string Escape(const std::wstring& s) {
  return Escape(s.data(), s.size());
}

// One node without its children: E:name{a=v,...}  T"..."  C"..."  P:target"data"  D"..."  Y"..."
inline std::string DumpNode(const CXMLNode& node) {
  auto body = [](const char* kind, const auto& leaf) {
    return kind + ("\"" + Escape(leaf.GetText(), leaf.GetTextLength()) + "\"");
  };
  if (node.IsContent()) return body("T", static_cast<const CXMLContent&>(node));
  if (node.IsComment()) return body("C", static_cast<const CXMLComment&>(node));
  if (node.IsCData()) return body("D", static_cast<const CXMLCData&>(node));
  if (node.IsDocType()) return body("Y", static_cast<const CXMLDocType&>(node));
  if (node.IsPInstr()) {
    const auto& instruction = static_cast<const CXMLPInstr&>(node);
    return body(("P:" + Escape(instruction.GetName())).c_str(), instruction);
  }
  const auto& e = static_cast<const CXMLElement&>(node);
  std::string out = "E:" + Escape(e.GetName());
  const char* separator = "{";
  for (const CXMLAttribute* a : e.Attributes()) {
    out += separator + Escape(a->GetName()) + "=" + Escape(a->GetValue());
    separator = ",";
  }
  return e.Attributes().empty() ? out : out + "}";
}

// A node and its subtree, children in brackets; walked without recursion, so deep trees dump too.
inline std::string Dump(const CXMLNode& top) {
  std::string out;
  const CXMLNode* node = &top;
  for (;;) {
    out += DumpNode(*node);
    if (node->IsElement() && static_cast<const CXMLElement*>(node)->GetFirstChild()) {
      out += '[';
      node = static_cast<const CXMLElement*>(node)->GetFirstChild();
      continue;
    }
    while (node != &top && !node->GetNext()) {
      node = node->GetParent();
      out += ']';
    }
    if (node == &top) return out;
    out += ' ';
    node = node->GetNext();
  }
}

// The whole document: top-level nodes, then "|" and the root.
inline std::string Dump(const CXMLDocument& document) {
  std::string out;
  for (const CXMLNode* node : document.GetNodes()) out += Dump(*node) + " ";
  out += "|";
  if (document.GetRoot()) out += Dump(*document.GetRoot());
  return out;
}

inline std::wstring Widen(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}
inline std::string Narrow(const std::wstring& s) {
  return Escape(s);
}

inline std::wstring TextOfBuffer(const CBuffer& b) {
  return std::wstring(b.GetText(), b.Length() / sizeof(wchar_t));
}

// A stream over bytes in memory whose reads can be cut short and whose operations can be made to fail.
class MemoryStream : public IXMLStream {
 public:
  explicit MemoryStream(std::string bytes, uint32_t maxRead = UINT32_MAX)
      : data(std::move(bytes)), maxRead(maxRead) {}
  bool Read(void* buffer, uint32_t byteCount, uint32_t* bytesRead) override {
    if (failRead) return false;
    uint64_t left = position < data.size() ? data.size() - position : 0;
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>({byteCount, maxRead, left}));
    std::memcpy(buffer, data.data() + position, n);
    position += n;
    *bytesRead = n;
    return true;
  }
  bool Write(const void* bytes, uint32_t byteCount, uint32_t* bytesWritten) override {
    data.replace(position, byteCount, static_cast<const char*>(bytes), byteCount);
    position += byteCount;
    if (bytesWritten) *bytesWritten = byteCount;
    return true;
  }
  bool Seek(int64_t offset, int origin, uint64_t* newPosition) override {
    ++seeks;
    int64_t base = origin == 0   ? 0
                   : origin == 1 ? static_cast<int64_t>(position)
                                 : static_cast<int64_t>(data.size());
    if (failSeek || base + offset < 0) return false;
    position = static_cast<uint64_t>(base + offset);
    if (newPosition) *newPosition = position;
    return true;
  }
  bool SetSize(uint64_t size) override {
    data.resize(size);
    position = size;
    return true;
  }
  bool GetSize(uint64_t* size) override {
    *size = data.size();
    return !failSize;
  }
  bool GetPosition(uint64_t* p) override {
    *p = position;
    return true;
  }
  bool Flush() override { return true; }
  std::wstring GetName() const override { return L"memory"; }
  std::wstring GetErrorText() const override { return L"injected"; }

  std::string data;
  uint32_t maxRead;
  uint64_t position = 0;
  bool failSize = false;
  bool failRead = false;
  bool failSeek = false;
  int seeks = 0;
};

}  // namespace xmltest
