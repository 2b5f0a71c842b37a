// The document loader (parser events to nodes) and the document's load operations.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "xml/XmlDocument.h"
#include "xml/XmlStream.h"
#include "xml/XmlText.h"

namespace {

constexpr uint32_t kStreamChunk = 0x80000;  // 512 KiB read per call when loading from a stream
// Texts up to this long are shared within a load: long enough for indentation and single words, short
// enough that looking one up costs less than storing it.
constexpr uint32_t kSharedTextUnits = 16;

std::wstring Printf(const wchar_t* format, ...) {
  CBuffer buffer;
  va_list args;
  va_start(args, format);
  buffer.AppendFormatV(format, args);
  va_end(args);
  return TextOf(buffer);
}

}  // namespace

// ---- CXMLDocumentLoader

CXMLDocumentLoader::~CXMLDocumentLoader() {
  EndLoad();
}

void CXMLDocumentLoader::Reset(CXMLDocument* newDocument, unsigned newFlags) {
  EndLoad();
  document = newDocument;
  flags = newFlags;
  pending = nullptr;
  current = nullptr;
  openCount = 0;
  textRun = nullptr;
  textLength = 0;
  textHasReference = false;
  std::fill(names.begin(), names.end(), NameSlot());
  std::fill(recentNames, recentNames + kRecentNames, nullptr);
  nameCount = 0;
  // Without an arena the load fails at its first node, as it would at the next allocation anyway.
  arena = CXMLArena::Create();
}

void CXMLDocumentLoader::EndLoad() {
  CommitAttributes();
  textRun = nullptr;
  textLength = 0;
  if (arena) arena->Release();
  arena = nullptr;
}

template <class T, class... Args>
T* CXMLDocumentLoader::Make(Args&&... args) {
  if (!arena) return nullptr;
  try {
    return new (*arena) T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

inline const wchar_t* CXMLDocumentLoader::Intern(const wchar_t* units, uint32_t n) {
  // A document repeats a few names over and over: those are found by their length and three of their units,
  // without hashing them all. A miss costs one comparison, and the table below still finds every name. The
  // units are mixed by a multiply, whose top bits pick the slot: a sum of them put a third of the calls on
  // slots that two frequent names share (measured on the bench document: 39% misses, now under 1%).
  uint32_t slot = 0;
  if (n) {
    const uint32_t mixed = (units[0] * 31u + units[n - 1]) * 31u + units[n >> 1] + n * 0x10001u;
    slot = mixed * 0x9E3779B1u >> (32 - kRecentBits);
  }
  const wchar_t* recent = recentNames[slot];
  if (recent && CXMLString::RunEquals(recent, units, n)) return recent;
  return InternInTable(units, n, recentNames[slot]);
}

const wchar_t* CXMLDocumentLoader::InternInTable(const wchar_t* units, uint32_t n, const wchar_t*& recent) {
  if (!arena) return nullptr;
  uint32_t hash = 2166136261u;  // FNV-1a: names are short, and one multiply per unit is cheap
  for (uint32_t i = 0; i < n; ++i) hash = (hash ^ units[i]) * 16777619u;
  if (nameCount >= names.size() / 2) {
    // Half full at most, so a probe for a name that is not there ends soon.
    std::vector<NameSlot> grown;
    try {
      grown.resize(names.empty() ? 64 : names.size() * 2);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    const size_t mask = grown.size() - 1;
    for (const NameSlot& slot : names) {
      if (!slot.run) continue;
      size_t at = slot.hash & mask;
      while (grown[at].run) at = (at + 1) & mask;
      grown[at] = slot;
    }
    names.swap(grown);
  }
  const size_t mask = names.size() - 1;
  size_t at = hash & mask;
  for (; names[at].run; at = (at + 1) & mask) {
    if (names[at].hash == hash && CXMLString::RunEquals(names[at].run, units, n)) {
      recent = names[at].run;
      return recent;
    }
  }
  const wchar_t* run = CXMLString::NewRun(*arena, units, n);
  if (run) {
    names[at] = NameSlot{run, hash};
    ++nameCount;
    recent = run;
  }
  return run;
}

bool CXMLDocumentLoader::CommitAttributes() {
  if (tagAttributes.empty()) return true;
  if (tagAttributes.size() > 1) {
    // Compared by hand: a comparison of views calls into the C runtime, which costs more than a short
    // name.
    std::sort(tagAttributes.begin(), tagAttributes.end(), [](const CXMLAttribute* a, const CXMLAttribute* b) {
      const wchar_t* x = a->GetName().c_str();
      const wchar_t* y = b->GetName().c_str();
      while (*x && *x == *y) ++x, ++y;
      return *x < *y;
    });
  }
  CXMLAttributeSet& set = current->MutableAttributes();
  bool inserted = true;
  if (!arena || !set.empty() ||
      !set.AdoptIn(*arena, tagAttributes.data(), static_cast<uint32_t>(tagAttributes.size()))) {
    for (CXMLAttribute* attribute : tagAttributes) {
      if (current->TryInsertAttribute(attribute) != CXMLElement::InsertResult::kInserted) inserted = false;
    }
  }
  tagAttributes.clear();
  tagNames.clear();
  return inserted || Error(XML_ERROR_NO_MEMORY, L"", 0);
}

bool CXMLDocumentLoader::Error(XMLError code, const wchar_t* message, uint32_t length) {
  try {
    document->SetError(code, std::wstring(message, length));
  } catch (const std::bad_alloc&) {
    document->SetError(code, std::wstring());
  }
  return false;
}

CXMLNodeList* CXMLDocumentLoader::Placement() const {
  if (current) return &current->MutableChildren();
  return document->root ? nullptr : &document->nodes;
}

bool CXMLDocumentLoader::OnStartElement(CXMLParser& parser) {
  if (!FlushText()) return false;
  const wchar_t* name = Intern(parser.GetToken(), parser.GetTokenLength());
  CXMLElement* element = name ? Make<CXMLElement>() : nullptr;
  if (element) element->MutableName().Share(name);
  if (!element) return Error(XML_ERROR_NO_MEMORY, parser.GetToken(), parser.GetTokenLength());
  if (current) {
    if (flags & XML_LOAD_ROOT_ONLY) {
      delete element;
      return Error(XML_ERROR_CANCELLED, parser.GetToken(), parser.GetTokenLength());
    }
    current->AppendChild(element);
  } else if (!document->root) {
    document->root = element;
  } else {
    delete element;
    return Error(XML_ERROR_INVALID_DOC, parser.GetToken(), parser.GetTokenLength());
  }
  current = element;
  ++openCount;
  return true;
}

bool CXMLDocumentLoader::OnStartTagEnd(CXMLParser&) {
  return CommitAttributes();
}

bool CXMLDocumentLoader::OnEndElement(CXMLParser& parser) {
  if (!FlushText()) return false;
  if (current && current->GetName().Equals(parser.GetToken(), parser.GetTokenLength())) {
    current = current->GetParent();  // the root's parent is null: nothing is open any more
    --openCount;
    return true;
  }
  Error(XML_ERROR_INVALID_DOC, parser.GetToken(), parser.GetTokenLength());
  return (flags & XML_LOAD_TOLERATE_END_TAGS) != 0;
}

bool CXMLDocumentLoader::OnAttributeName(CXMLParser& parser) {
  if (!current) return Error(XML_ERROR_INVALID_DOC, parser.GetToken(), parser.GetTokenLength());
  const wchar_t* name = Intern(parser.GetToken(), parser.GetTokenLength());
  if (!name) return Error(XML_ERROR_NO_MEMORY, parser.GetToken(), parser.GetTokenLength());
  // Every name of this load is interned, so a repeated name is the same run. The tag's attributes are
  // sorted once, when it ends; until then a name is looked for among those read before it, through a hash
  // once there are many, so a tag with thousands of attributes stays linear.
  constexpr size_t kHashFrom = 16;
  bool duplicate = false;
  try {
    if (tagAttributes.size() < kHashFrom) {
      for (const CXMLAttribute* a : tagAttributes) duplicate = duplicate || a->GetName().data() == name;
    } else {
      if (tagNames.empty()) {
        for (const CXMLAttribute* a : tagAttributes) tagNames.insert(a->GetName().data());
      }
      duplicate = tagNames.count(name) != 0;
    }
    if (!duplicate && !current->Attributes().empty() && current->FindAttribute(name)) duplicate = true;
  } catch (const std::bad_alloc&) {
    return Error(XML_ERROR_NO_MEMORY, parser.GetToken(), parser.GetTokenLength());
  }
  if (duplicate) return Error(XML_ERROR_DUPLICATE_ATTR, parser.GetToken(), parser.GetTokenLength());
  CXMLAttribute* attribute = Make<CXMLAttribute>();
  if (!attribute) return Error(XML_ERROR_NO_MEMORY, parser.GetToken(), parser.GetTokenLength());
  attribute->MutableName().Share(name);
  try {
    tagAttributes.push_back(attribute);
    if (!tagNames.empty()) tagNames.insert(name);
  } catch (const std::bad_alloc&) {
    if (tagAttributes.empty() || tagAttributes.back() != attribute) delete attribute;
    return Error(XML_ERROR_NO_MEMORY, parser.GetToken(), parser.GetTokenLength());
  }
  pending = attribute;
  return true;
}

bool CXMLDocumentLoader::OnAttributeValue(CXMLParser& parser) {
  if (!pending) return true;
  if (!arena || !pending->MutableValue().AssignIn(*arena, parser.GetToken(), parser.GetTokenLength())) {
    return Error(XML_ERROR_NO_MEMORY, parser.GetToken(), parser.GetTokenLength());
  }
  pending = nullptr;
  return true;
}

bool CXMLDocumentLoader::OnText(CXMLParser& parser) {
  // Gathered in the arena until the next markup: a run of text may come in several events (text, a
  // reference, more text), and only the whole run tells whether it is indentation. The run is the arena's
  // latest allocation until then, so it grows in place and is given back when it is dropped.
  if (parser.InReference()) textHasReference = true;
  const uint32_t n = parser.GetTokenLength();
  if (n == 0) return true;
  void* room = nullptr;
  if (arena && n < UINT32_MAX / sizeof(wchar_t) - 1 - textLength) {
    room = textRun ? arena->Extend(textRun, (textLength + 1) * sizeof(wchar_t), n * sizeof(wchar_t),
                                   alignof(wchar_t))
                   : arena->Allocate((n + 1) * sizeof(wchar_t), alignof(wchar_t));
  }
  if (!room) return Error(XML_ERROR_NO_MEMORY, L"root content", 12);
  textRun = static_cast<wchar_t*>(room);
  CopyUnits(textRun + textLength, parser.GetToken(), n);
  textLength += n;
  textRun[textLength] = 0;
  return true;
}

bool CXMLDocumentLoader::FlushText() {
  if (!CommitAttributes()) return false;
  if (textLength == 0) return true;
  wchar_t* const run = textRun;
  const uint32_t length = textLength;
  const size_t runBytes = (length + 1) * sizeof(wchar_t);
  textRun = nullptr;
  textLength = 0;
  const bool literal = !textHasReference;
  textHasReference = false;
  CXMLNodeList* list = Placement();
  if (!list || ((flags & XML_LOAD_DROP_INDENT) && literal && IsIndentation(run, length))) {
    arena->GiveBack(run, runBytes);
    return true;
  }
  CXMLNode* last = list->Last();
  if (last && last->IsContent() && !static_cast<CXMLContent*>(last)->GetSource()) {
    // Text on both sides of a dropped comment or instruction joins into one node, as AddText joins it.
    const bool appended = static_cast<CXMLContent*>(last)->Body().Append(run, length);
    arena->GiveBack(run, runBytes);
    return appended || Error(XML_ERROR_NO_MEMORY, L"root content", 12);
  }
  const wchar_t* units = run;
  if (length <= kSharedTextUnits) {
    // Short texts repeat (indentation above all), so they share one run per distinct text as names do.
    // Copied aside first: the gathered run is given back, and a new shared run may take its place.
    wchar_t aside[kSharedTextUnits];
    CopyUnits(aside, run, length);
    arena->GiveBack(run, runBytes);
    units = Intern(aside, length);
    if (!units) return Error(XML_ERROR_NO_MEMORY, L"root content", 12);
  }
  CXMLContent* node = Make<CXMLContent>();
  if (!node) {
    if (units == run) arena->GiveBack(run, runBytes);
    return Error(XML_ERROR_NO_MEMORY, L"root content", 12);
  }
  node->Body().Adopt(units, length);
  list->Append(node);
  return true;
}

bool CXMLDocumentLoader::OnUnresolvedEntity(CXMLParser&) {
  return true;
}
bool CXMLDocumentLoader::OnBadCharRef(CXMLParser&) {
  return true;
}

bool CXMLDocumentLoader::OnComment(CXMLParser& parser) {
  if (!FlushText()) return false;
  if (flags & XML_LOAD_NO_COMMENTS) return true;
  CXMLNodeList* list = Placement();
  if (!list) return true;
  CXMLComment* comment = NewOrNull<CXMLComment>();
  if (!comment || !comment->Body().Assign(parser.GetToken(), parser.GetTokenLength())) {
    delete comment;
    return Error(XML_ERROR_NO_MEMORY, L"root comment", 12);
  }
  list->Append(comment);
  return true;
}

bool CXMLDocumentLoader::OnPInstrTarget(CXMLParser& parser) {
  if (!FlushText()) return false;
  if (flags & XML_LOAD_NO_PINSTR) return true;
  CXMLNodeList* list = Placement();
  if (!list) return true;
  CXMLPInstr* instruction = NewOrNull<CXMLPInstr>(std::wstring(parser.GetToken(), parser.GetTokenLength()));
  if (!instruction) return Error(XML_ERROR_NO_MEMORY, L"root PInstr", 11);
  list->Append(instruction);
  return true;
}

bool CXMLDocumentLoader::OnPInstrData(CXMLParser& parser) {
  if (flags & XML_LOAD_NO_PINSTR) return true;
  CXMLNodeList* list = Placement();
  if (!list) return true;
  CXMLNode* last = list->Last();
  if (!last || !last->IsPInstr()) return false;
  if (!static_cast<CXMLPInstr*>(last)->Body().Assign(parser.GetToken(), parser.GetTokenLength())) {
    return Error(XML_ERROR_NO_MEMORY, L"root PInstr", 11);
  }
  return true;
}

bool CXMLDocumentLoader::OnCData(CXMLParser& parser) {
  if (!FlushText()) return false;
  if (flags & XML_LOAD_NO_CDATA) return true;
  CXMLNodeList* list = Placement();
  if (!list) return true;
  CXMLCData* section = NewOrNull<CXMLCData>();
  if (!section || !section->Body().Assign(parser.GetToken(), parser.GetTokenLength())) {
    delete section;
    return Error(XML_ERROR_NO_MEMORY, L"root CDATA", 10);
  }
  list->Append(section);
  return true;
}

bool CXMLDocumentLoader::OnDocType(CXMLParser& parser) {
  if (!FlushText()) return false;
  if (flags & XML_LOAD_NO_DOCTYPE) return true;
  CXMLDocType* docType = NewOrNull<CXMLDocType>();
  if (!docType || !docType->Body().Assign(parser.GetToken(), parser.GetTokenLength())) {
    delete docType;
    return Error(XML_ERROR_NO_MEMORY, L"root DocType", 12);
  }
  document->nodes.Append(docType);  // before or after the root, always at the top level
  return true;
}

bool CXMLDocumentLoader::OnNewLine(CXMLParser&) {
  document->CountLine();
  return true;
}

// ---- Load operations

// One load: the loader (the caller's or a private one) bound to the document, and the parser.
class CXMLDocument::CLoad {
 public:
  CLoad(CXMLDocument* document, unsigned flags, CXMLDocumentLoader* callerLoader)
      : own(document, flags), loader(callerLoader ? *callerLoader : own), parser(&loader, flags) {
    document->Clear();
    loader.Reset(document, flags);
    parser.JoinReferences(true);  // the loader gathers a run of text from its pieces anyway
  }
  ~CLoad() { loader.EndLoad(); }

  CXMLDocumentLoader own;
  CXMLDocumentLoader& loader;
  CXMLParser parser;
};

bool CXMLDocument::FinishLoad(bool fed, CXMLParser& parser, CXMLDocumentLoader& loader) {
  // Text read before the end or the failure belongs to the tree that is kept.
  if (!parser.FinishText() || !loader.FlushText()) fed = false;
  if (!fed) {
    if (error == XML_ERROR_NONE) SetError(XML_ERROR_UNEXPECTED_CHAR, parser.GetTokenText());
    return false;
  }
  if (!root) {
    SetError(XML_ERROR_INVALID_DOC, L"no root element");
    return false;
  }
  if (loader.GetOpenCount()) {
    // "/outer /inner": collected innermost first along the parent chain, written outermost first.
    std::vector<const CXMLElement*> open;
    for (const CXMLElement* e = loader.GetCurrent(); e; e = e->GetParent()) open.push_back(e);
    std::wstring text;
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
      if (!text.empty()) text += L' ';
      text += L'/';
      text += (*it)->GetName();
    }
    SetError(XML_ERROR_INCOMPLETE_DOC, std::move(text));
    return false;
  }
  return error == XML_ERROR_NONE;
}

bool CXMLDocument::LoadFromBuffer(const void* bytes, uint32_t byteCount, unsigned flags,
                                  CXMLDocumentLoader* loader) {
  try {
    CLoad load(this, flags, loader);
    bool fed = byteCount == 0 || load.parser.FeedUtf8(static_cast<const uint8_t*>(bytes), byteCount);
    if (!fed && load.parser.GetState() == CXMLParser::kOutOfMemory && error == XML_ERROR_NONE) {
      SetError(XML_ERROR_NO_MEMORY, Printf(L"%u", byteCount));
    }
    return FinishLoad(fed, load.parser, load.loader);
  } catch (const std::bad_alloc&) {
    SetError(XML_ERROR_NO_MEMORY, std::wstring());
    return false;
  }
}

bool CXMLDocument::LoadFromString(const wchar_t* units, uint32_t unitCount, unsigned flags,
                                  CXMLDocumentLoader* loader) {
  try {
    CLoad load(this, flags, loader);
    bool fed = unitCount == 0 || load.parser.Feed(units, unitCount);
    if (!fed && load.parser.GetState() == CXMLParser::kOutOfMemory && error == XML_ERROR_NONE) {
      SetError(XML_ERROR_NO_MEMORY, Printf(L"%u", unitCount));
    }
    return FinishLoad(fed, load.parser, load.loader);
  } catch (const std::bad_alloc&) {
    SetError(XML_ERROR_NO_MEMORY, std::wstring());
    return false;
  }
}

bool CXMLDocument::LoadFromString(const std::wstring& text, unsigned flags, CXMLDocumentLoader* loader) {
  if (text.size() > UINT32_MAX) {
    Clear();
    SetError(XML_ERROR_NO_MEMORY, std::wstring());
    return false;
  }
  return LoadFromString(text.data(), static_cast<uint32_t>(text.size()), flags, loader);
}

bool CXMLDocument::LoadFromFile(const wchar_t* path, unsigned flags, CXMLDocumentLoader* loader) {
  CXMLFileStream stream;
  if (!stream.OpenForLoading(path)) {
    Clear();
    SetError(XML_ERROR_CANT_OPEN_FILE, stream.GetErrorText());
    return false;
  }
  return LoadFromStream(&stream, flags, loader);
}

namespace {

// True when bytes hold nothing but the beginning of one multi-byte sequence.
bool StartsIncompleteSequence(const uint8_t* bytes, uint32_t count) {
  const uint8_t lead = bytes[0];
  uint32_t length = lead >= 0xFC   ? 6
                    : lead >= 0xF8 ? 5
                    : lead >= 0xF0 ? 4
                    : lead >= 0xE0 ? 3
                    : lead >= 0xC0 ? 2
                                   : 0;
  if (lead >= 0xFE || length <= count) return false;
  for (uint32_t i = 1; i < count; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return false;
  }
  return true;
}

}  // namespace

bool CXMLDocument::ReadSome(IXMLStream* stream, uint8_t* buffer, uint32_t room, uint32_t* got) {
  *got = 0;
  if (!stream->Read(buffer, room, got)) {
    SetError(XML_ERROR_CANT_READ_FILE, stream->GetErrorText());
    return false;
  }
  if (*got > room) *got = room;  // never trust a count beyond the room given
  return true;
}

bool CXMLDocument::LoadFromStream(IXMLStream* stream, unsigned flags, CXMLDocumentLoader* loader) {
  try {
    CLoad load(this, flags, loader);
    if (!stream) {
      SetError(XML_ERROR_CANT_READ_FILE, std::wstring());
      return false;
    }
    uint64_t size = 0;
    if (!stream->GetSize(&size)) {
      SetError(XML_ERROR_CANT_SIZE_FILE, stream->GetErrorText());
      return false;
    }
    const std::wstring sizeText = Printf(L"%u", static_cast<uint32_t>(size));
    const uint32_t chunk = size < kStreamChunk ? static_cast<uint32_t>(size) : kStreamChunk;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[chunk ? chunk : 1]);
    if (!buffer) {
      SetError(XML_ERROR_NO_MEMORY, sizeText);
      return false;
    }

    // Whatever ends the load early, the text read before it stays with the partial tree, the parser's held
    // part (before a reference it was joining) included, as when a buffer is loaded.
    auto stop = [&] {
      load.parser.FinishText();
      load.loader.FlushText();
      return false;
    };
    uint64_t consumed = 0;  // bytes fed; a tail handed back is not counted until it is read again
    while (consumed < size) {
      uint32_t got = 0;
      if (!ReadSome(stream, buffer.get(), chunk, &got)) return stop();
      if (got == 0) break;
      // A stream may deliver fewer bytes than asked. When all it gave is the start of one sequence, read on
      // until the sequence is whole: handing it back would only get the same bytes again.
      while (got < chunk && StartsIncompleteSequence(buffer.get(), got)) {
        uint32_t more = 0;
        if (!ReadSome(stream, buffer.get() + got, chunk - got, &more)) return stop();
        if (more == 0) break;
        got += more;
      }
      uint32_t use = got;
      if (buffer[got - 1] & 0x80) {
        // The chunk may end inside a sequence: hand the tail from its last lead byte back to the stream,
        // so the next read starts with a whole sequence.
        uint32_t start = got;
        uint32_t seen = 0;
        bool lead = false;
        while (start > 0 && seen < 6 && (buffer[start - 1] & 0x80)) {
          --start;
          ++seen;
          if (buffer[start] >= 0xC0) {
            lead = true;
            break;
          }
        }
        if (lead) {
          if (start > 0) {
            use = start;
            if (!stream->Seek(-static_cast<int64_t>(got - start), 1, nullptr)) {
              SetError(XML_ERROR_CANT_SEEK_FILE, stream->GetErrorText());
              return stop();
            }
          }
        } else if (start == 0 || seen == 6) {
          SetError(XML_ERROR_INVALID_UTF8_DATA, stream->GetErrorText());
          return stop();
        }
        // Otherwise a plain byte came first: the bytes after it are stray and the decoder reports them.
      }
      CXMLParser::Utf8Failure failure;
      if (!load.parser.FeedUtf8(buffer.get(), use, &failure)) {
        stop();
        if (failure.badSequence) {
          SetError(XML_ERROR_INVALID_UTF8_DATA, stream->GetName());
        } else if (load.parser.GetState() == CXMLParser::kOutOfMemory) {
          SetError(XML_ERROR_NO_MEMORY, sizeText);
        } else if (error == XML_ERROR_NONE) {
          const std::wstring token = load.parser.GetTokenText();
          if (failure.unitCount == 2) {
            SetError(XML_ERROR_UNEXPECTED_CHAR,
                     Printf(L"0x%x 0x%x -- \"%s\"", failure.units[0], failure.units[1], token.c_str()));
          } else if (failure.units[0] < 0x20) {
            // A control unit (0 above all) printed as itself would cut or garble the message.
            SetError(XML_ERROR_UNEXPECTED_CHAR, Printf(L"0x%x -- \"%s\"", failure.units[0], token.c_str()));
          } else {
            SetError(XML_ERROR_UNEXPECTED_CHAR, Printf(L"'%c' -- \"%s\"", failure.units[0], token.c_str()));
          }
        }
        return false;
      }
      consumed += use;
    }
    return FinishLoad(true, load.parser, load.loader);
  } catch (const std::bad_alloc&) {
    SetError(XML_ERROR_NO_MEMORY, std::wstring());
    return false;
  }
}
