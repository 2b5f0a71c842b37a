// Serialization of nodes and documents as XML text, into a CBuffer (UTF-16) or an IXMLStream.
//
// The output mirrors the parser's conventions so that it reads back: "&nbsp;" as an entity, "]]&gt;" inside
// CDATA, and indentation (a line feed and tabs) that a load with XML_LOAD_DROP_INDENT drops again.
// Elements are written by one loop over the tree, never by recursion, so the depth of a document does not
// reach the stack.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

#include "xml/CharClass.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNode.h"
#include "xml/XmlParser.h"
#include "xml/XmlStream.h"
#include "xml/XmlText.h"
#include "xml/Utf8.h"

namespace {

constexpr uint32_t kSourceChunk = 0x40000;  // units read from a text source per call
constexpr uint32_t kStreamBatch = 0x10000;  // units gathered before a stream write

// Where the text goes. A failed write is remembered and everything after it is skipped.
class CSink {
 public:
  virtual ~CSink() = default;
  virtual void Put(const wchar_t* units, uint32_t n) = 0;
  // Removes the line break written last, so that text follows the preceding markup directly.
  virtual void TakeBackLineBreak() = 0;
  virtual void Finish() = 0;
  void Put(const wchar_t* literal) { Put(literal, static_cast<uint32_t>(std::wcslen(literal))); }
  void Put(const std::wstring& text) { Put(text.data(), static_cast<uint32_t>(text.size())); }
  void Put(const CXMLString& text) { Put(text.data(), static_cast<uint32_t>(text.size())); }
  bool Failed() const { return failed; }
  void MarkFailed() { failed = true; }

 protected:
  bool failed = false;
};

class CBufferSink : public CSink {
 public:
  explicit CBufferSink(CBuffer& buffer) : buffer(buffer) {}
  void Put(const wchar_t* units, uint32_t n) override {
    if (failed || n == 0) return;
    if (n > UINT32_MAX / sizeof(wchar_t) || !buffer.Append(units, n * sizeof(wchar_t))) failed = true;
  }
  void TakeBackLineBreak() override {
    const uint32_t units = TextLength(buffer);
    buffer.SetLength(units < 3 ? 0 : buffer.Length() - 2 * sizeof(wchar_t));
  }
  void Finish() override {
    if (!buffer.Terminate()) failed = true;
  }

 private:
  CBuffer& buffer;
};

// Gathers text and writes it in large pieces: a file stream makes one system call per write. The last
// units stay gathered until the end, so a line break to be taken back is normally still here; a piece
// never ends between the two halves of a surrogate pair, which a UTF-8 stream could not join.
class CStreamSink : public CSink {
 public:
  explicit CStreamSink(IXMLStream* stream) : stream(stream) {}
  void Put(const wchar_t* units, uint32_t n) override {
    if (failed || n == 0) return;
    if (n > UINT32_MAX / sizeof(wchar_t) || !pending.Append(units, n * sizeof(wchar_t))) {
      failed = true;
      return;
    }
    if (TextLength(pending) >= kStreamBatch) WritePending(2);
  }
  void TakeBackLineBreak() override {
    const uint32_t units = TextLength(pending);
    if (units >= 2) {
      pending.SetLength((units - 2) * sizeof(wchar_t));
    } else {
      // The break went out before this sink began: move the stream back over its UTF-8 bytes.
      pending.SetLength(0);
      if (!failed) stream->Seek(-2, 1, nullptr);
    }
  }
  void Finish() override { WritePending(0); }

 private:
  void WritePending(uint32_t keep) {
    if (failed) return;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(pending.Data());
    const uint32_t units = TextLength(pending);
    if (units <= keep) return;
    uint32_t split = units - keep;
    if (split < units && xmlchar::IsHighSurrogate(text[split - 1])) --split;
    if (split == 0) return;
    uint32_t written = 0;
    if (!stream->Write(text, split * sizeof(wchar_t), &written)) {
      failed = true;
      return;
    }
    std::memmove(pending.Data(), text + split, (units - split) * sizeof(wchar_t));
    pending.SetLength((units - split) * sizeof(wchar_t));
  }

  IXMLStream* stream;
  CBuffer pending;
};

const wchar_t* EntityFor(wchar_t c) {
  switch (c) {
    case L'>':
      return L"&gt;";
    case L'<':
      return L"&lt;";
    case L'\'':
      return L"&apos;";
    case L'"':
      return L"&quot;";
    case 0x00A0:
      return L"&nbsp;";
    case L'&':
      return L"&amp;";
    default:
      return nullptr;
  }
}

void PutReference(CSink& sink, wchar_t c) {
  wchar_t reference[16];
  int length = std::swprintf(reference, 16, L"&#x%x;", static_cast<unsigned>(c));
  sink.Put(reference, static_cast<uint32_t>(length));
}

// The six entity characters become their entity texts and a unit that is not a Char becomes "&#x..;", in
// one pass. Beyond that, units the parser would change on reading are written as references so that they
// read back as they are: a carriage return anywhere (read as a line feed), a control unit in text (a
// "&#1;" read earlier), and in attribute values the white space that normalization folds or trims (tab,
// line feed, the second space of a run, white space at either end).
void PutEscaped(CSink& sink, const wchar_t* text, uint32_t n, bool attribute) {
  uint32_t run = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const wchar_t c = text[i];
    const wchar_t* entity = EntityFor(c);
    bool reference = !entity && (!xmlchar::IsChar(c) || c == L'\r');
    if (attribute && !entity && !reference) {
      reference = c == L'\t' || c == L'\n' || (c == L' ' && i > 0 && text[i - 1] == L' ') ||
                  ((i == 0 || i + 1 == n) && c > L' ' && std::iswspace(c));
    }
    if (!entity && !reference) continue;
    sink.Put(text + run, i - run);
    if (entity) {
      sink.Put(entity);
    } else {
      PutReference(sink, c);
    }
    run = i + 1;
  }
  sink.Put(text + run, n - run);
}

// Writes text with every occurrence of pattern (two units) replaced by "..": "--" cannot stand in a comment
// nor "?>" in an instruction. With dotLast, a last unit equal to pattern[0] is written as '.' too: a comment
// ending in '-' would run into its terminator. (Instruction data ending in '?' reads back as it is.)
void PutDotted(CSink& sink, const wchar_t* text, uint32_t n, const wchar_t* pattern, bool dotLast) {
  uint32_t run = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (text[i] != pattern[0]) continue;
    if (i + 1 < n && text[i + 1] == pattern[1]) {
      sink.Put(text + run, i - run);
      sink.Put(L"..", 2);
      run = i + 2;
      ++i;
    } else if (i + 1 == n && dotLast) {
      sink.Put(text + run, i - run);
      sink.Put(L".", 1);
      run = n;
    }
  }
  sink.Put(text + run, n - run);
}

void PutTabs(CSink& sink, int depth) {
  static const wchar_t kTabs[] = L"\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";  // 24
  while (depth > 0 && !sink.Failed()) {
    const int n = depth < 24 ? depth : 24;
    sink.Put(kTabs, static_cast<uint32_t>(n));
    depth -= n;
  }
}

bool AtLineStart(unsigned flags) {
  return (flags & XML_WRITE_AT_LINE_START) != 0;
}

void Indent(CSink& sink, unsigned flags, int depth) {
  if ((flags & XML_WRITE_INDENT) && AtLineStart(flags) && depth > 0) PutTabs(sink, depth);
}

bool EndLine(CSink& sink, unsigned flags) {
  if (!(flags & (XML_WRITE_INDENT | XML_WRITE_NEWLINES))) return false;
  sink.Put(L"\r\n", 2);
  return true;
}

bool WriteContent(const CXMLContent& node, CSink& sink, unsigned flags) {
  if (AtLineStart(flags)) sink.TakeBackLineBreak();
  const wchar_t* text = node.GetText();
  uint32_t n = node.GetTextLength();
  if (IsIndentation(text, n)) {
    // Text of the indentation's shape is read back as content only when its line feed is a reference.
    PutReference(sink, text[0]);
    ++text;
    --n;
  }
  PutEscaped(sink, text, n, false);
  if (TextSource* source = node.GetSource()) {
    std::unique_ptr<wchar_t[]> chunk(new (std::nothrow) wchar_t[kSourceChunk]);
    if (!chunk) {
      sink.MarkFailed();
      return false;
    }
    source->Rewind();
    while (!sink.Failed()) {
      uint32_t n = source->Read(chunk.get(), kSourceChunk);
      if (n == 0) break;
      PutEscaped(sink, chunk.get(), n < kSourceChunk ? n : kSourceChunk, false);
    }
  }
  return false;  // text never ends a line: the parent's end tag follows on the same line
}

bool WriteCData(const CXMLCData& node, CSink& sink, unsigned flags) {
  // The line break is taken back even when the section is then omitted.
  if (AtLineStart(flags)) sink.TakeBackLineBreak();
  if (flags & XML_WRITE_NO_CDATA) return false;
  sink.Put(L"<![CDATA[", 9);
  const wchar_t* text = node.GetText();
  const uint32_t n = node.GetTextLength();
  uint32_t run = 0;
  for (uint32_t i = 0; i + 2 < n; ++i) {
    if (text[i] == L']' && text[i + 1] == L']' && text[i + 2] == L'>') {
      sink.Put(text + run, i + 2 - run);
      sink.Put(L"&gt;", 4);
      run = i + 3;
      i += 2;
    }
  }
  sink.Put(text + run, n - run);
  sink.Put(L"]]>", 3);
  return false;
}

bool WriteComment(const CXMLComment& node, CSink& sink, unsigned flags, int depth) {
  if (flags & XML_WRITE_NO_COMMENTS) return AtLineStart(flags);
  Indent(sink, flags, depth);
  sink.Put(L"<!--", 4);
  PutDotted(sink, node.GetText(), node.GetTextLength(), L"--", true);
  sink.Put(L"-->", 3);
  return EndLine(sink, flags);
}

bool WritePInstr(const CXMLPInstr& node, CSink& sink, unsigned flags, int depth) {
  if (flags & XML_WRITE_NO_PINSTR) return AtLineStart(flags);
  Indent(sink, flags, depth);
  if (node.GetName().empty() && node.GetTextLength() == 0) {
    // "<??>" reads as an instruction without target; "<? ?>" would not read at all.
    sink.Put(L"<?\?>", 4);
    return EndLine(sink, flags);
  }
  sink.Put(L"<?", 2);
  sink.Put(node.GetName());
  sink.Put(L" ", 1);  // written even when the data is empty
  PutDotted(sink, node.GetText(), node.GetTextLength(), L"?>", false);
  sink.Put(L"?>", 2);
  return EndLine(sink, flags);
}

bool WriteDocType(const CXMLDocType& node, CSink& sink, unsigned flags, int depth) {
  if (flags & XML_WRITE_NO_DOCTYPE) return AtLineStart(flags);
  Indent(sink, flags, depth);
  sink.Put(L"<!DOCTYPE ", 10);
  sink.Put(node.GetText(), node.GetTextLength());
  sink.Put(L">", 1);
  return EndLine(sink, flags);
}

void PutAttributes(const CXMLElement& element, CSink& sink, unsigned flags) {
  const wchar_t* quote = (flags & XML_WRITE_SINGLE_QUOTES) ? L"'" : L"\"";
  for (const CXMLAttribute* attribute : element.Attributes()) {
    sink.Put(L" ", 1);
    sink.Put(attribute->GetName());
    sink.Put(L"=", 1);
    sink.Put(quote, 1);
    // Space units at either end would be trimmed by the parser anyway.
    const CXMLString& value = attribute->GetValue();
    uint32_t begin = 0;
    uint32_t end = static_cast<uint32_t>(value.size());
    while (begin < end && xmlchar::IsSpace(value[begin])) ++begin;
    while (end > begin && xmlchar::IsSpace(value[end - 1])) --end;
    PutEscaped(sink, value.data() + begin, end - begin, true);
    sink.Put(quote, 1);
  }
}

bool WriteLeaf(const CXMLNode& node, CSink& sink, unsigned flags, int depth) {
  if (node.IsContent()) return WriteContent(static_cast<const CXMLContent&>(node), sink, flags);
  if (node.IsCData()) return WriteCData(static_cast<const CXMLCData&>(node), sink, flags);
  if (node.IsComment()) return WriteComment(static_cast<const CXMLComment&>(node), sink, flags, depth);
  if (node.IsPInstr()) return WritePInstr(static_cast<const CXMLPInstr&>(node), sink, flags, depth);
  if (node.IsDocType()) return WriteDocType(static_cast<const CXMLDocType&>(node), sink, flags, depth);
  return AtLineStart(flags);
}

unsigned Fold(unsigned flags, bool endedLine) {
  return endedLine ? (flags | XML_WRITE_AT_LINE_START) : (flags & ~XML_WRITE_AT_LINE_START);
}

// An element and its subtree. Walks down through first children and back up through parents; each node's
// result (whether it ended a line) sets or clears the line-start bit for whatever is written next.
bool WriteElement(const CXMLElement& top, CSink& sink, unsigned flags, int depth) {
  const CXMLNode* node = &top;
  int level = depth;
  for (;;) {
    bool ended;
    if (node->IsElement()) {
      const CXMLElement& element = static_cast<const CXMLElement&>(*node);
      Indent(sink, flags, level);
      sink.Put(L"<", 1);
      sink.Put(element.GetName());
      PutAttributes(element, sink, flags);
      if (element.GetFirstChild()) {
        sink.Put(L">", 1);
        flags = Fold(flags, EndLine(sink, flags));
        node = element.GetFirstChild();
        ++level;
        continue;
      }
      sink.Put(L"/>", 2);
      ended = EndLine(sink, flags);
    } else {
      ended = WriteLeaf(*node, sink, flags, level);
    }
    for (;;) {
      flags = Fold(flags, ended);
      if (node == &top) return ended;
      if (node->GetNext()) {
        node = node->GetNext();
        break;
      }
      node = node->GetParent();
      --level;
      const CXMLElement& element = static_cast<const CXMLElement&>(*node);
      Indent(sink, flags, level);
      sink.Put(L"</", 2);
      sink.Put(element.GetName());
      sink.Put(L">", 1);
      ended = EndLine(sink, flags);
    }
  }
}

bool WriteAny(const CXMLNode& node, CSink& sink, unsigned flags, int depth) {
  if (node.IsElement()) return WriteElement(static_cast<const CXMLElement&>(node), sink, flags, depth);
  return WriteLeaf(node, sink, flags, depth);
}

bool WriteToBufferImpl(const CXMLNode& node, CBuffer& buffer, unsigned flags, int depth) {
  CBufferSink sink(buffer);
  bool ended = WriteAny(node, sink, flags, depth);
  sink.Finish();
  return ended;
}

bool WriteImpl(const CXMLNode& node, IXMLStream* stream, unsigned flags, int depth) {
  if (!stream) return false;
  CStreamSink sink(stream);
  bool ended = WriteAny(node, sink, flags, depth);
  sink.Finish();
  return ended;
}

bool SaveToFileImpl(const CXMLNode& node, const wchar_t* path, unsigned flags, int depth) {
  CXMLFileStream stream;
  if (!stream.OpenForSaving(path)) return false;
  CStreamSink sink(&stream);
  WriteAny(node, sink, flags, depth);
  sink.Finish();
  return !sink.Failed();
}

void WriteDocument(const CXMLDocument& document, CSink& sink, unsigned flags) {
  for (const CXMLNode* node : document.GetNodes()) flags = Fold(flags, WriteAny(*node, sink, flags, 0));
  if (document.GetRoot()) WriteAny(*document.GetRoot(), sink, flags, 0);
  sink.Finish();
}

}  // namespace

#define XML_NODE_WRITERS(Class)                                                  \
  bool Class::SaveToFile(const wchar_t* path, unsigned flags, int depth) const { \
    return SaveToFileImpl(*this, path, flags, depth);                            \
  }                                                                              \
  bool Class::Write(IXMLStream* stream, unsigned flags, int depth) const {       \
    return WriteImpl(*this, stream, flags, depth);                               \
  }                                                                              \
  bool Class::WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const {  \
    return WriteToBufferImpl(*this, buffer, flags, depth);                       \
  }

XML_NODE_WRITERS(CXMLElement)
XML_NODE_WRITERS(CXMLContent)
XML_NODE_WRITERS(CXMLComment)
XML_NODE_WRITERS(CXMLDocType)
XML_NODE_WRITERS(CXMLCData)
XML_NODE_WRITERS(CXMLPInstr)

#undef XML_NODE_WRITERS

bool CXMLDocument::WriteToBuffer(CBuffer& buffer, unsigned flags) const {
  CBufferSink sink(buffer);
  WriteDocument(*this, sink, flags);
  return !sink.Failed();
}

bool CXMLDocument::Write(IXMLStream* stream, unsigned flags) const {
  if (!stream) return false;
  CStreamSink sink(stream);
  WriteDocument(*this, sink, flags);
  return !sink.Failed();
}

bool CXMLDocument::SaveToFile(const wchar_t* path, unsigned flags) const {
  CXMLFileStream stream;
  if (!stream.OpenForSaving(path)) return false;
  return Write(&stream, flags);
}

bool CXMLDocument::WriteToString(std::wstring& out, unsigned flags) const {
  CBuffer buffer;
  if (!WriteToBuffer(buffer, flags)) return false;
  try {
    out.assign(buffer.GetText(), TextLength(buffer));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CXMLDocument::WriteToUtf8(CBuffer& out, unsigned flags) const {
  CBuffer text;
  return WriteToBuffer(text, flags) && AppendUtf8(out, text.GetText(), TextLength(text));
}
