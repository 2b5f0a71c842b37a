// The XML document: top-level nodes, the root element, and the result of the last load (error code, error
// text, line). Loading from a UTF-8 buffer, a UTF-16 string, a stream or a file; writing to a buffer, a
// string, a stream or a file.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "support/Buffer.h"
#include "xml/XmlNode.h"
#include "xml/XmlParser.h"

class IXMLStream;

enum XMLError : int {
  XML_ERROR_NONE = 0,
  XML_ERROR_NO_MEMORY = 1,        // a node could not be made, or memory ran out while reading
  XML_ERROR_INVALID_REF = 2,      // never set by this library
  XML_ERROR_INVALID_DOC = 3,      // second root, end tag that does not match, stray attribute, no root
  XML_ERROR_INVALID_ROOT = 4,     // never set by this library
  XML_ERROR_INCOMPLETE_DOC = 5,   // the input ended inside open elements
  XML_ERROR_UNEXPECTED_CHAR = 6,  // the parser rejected a unit
  XML_ERROR_DUPLICATE_ATTR = 7,   // an attribute name repeats within one start tag
  XML_ERROR_UNKNOWN_ERROR = 8,    // never set by this library
  XML_ERROR_CANCELLED = 9,        // a nested element was met while loading with XML_LOAD_ROOT_ONLY
  XML_ERROR_CANT_OPEN_FILE = 10,
  XML_ERROR_CANT_SEEK_FILE = 11,
  XML_ERROR_CANT_SIZE_FILE = 12,
  XML_ERROR_CANT_READ_FILE = 13,
  XML_ERROR_CANT_WRITE_FILE = 14,  // never set by this library
  XML_ERROR_INVALID_UTF8_DATA = 15,
};

// "NONE", "NO_MEMORY", ... "INVALID_UTF8_DATA"; "<unknown>" for any other value.
const wchar_t* XMLErrorName(int code);

class CXMLDocument;

// Builds a document from parser events. A caller may pass its own (derived) loader to a load; every load
// binds it to the document being loaded and to the load's flags.
class CXMLDocumentLoader : public IXMLParserCallback {
 public:
  CXMLDocumentLoader(CXMLDocument* document, unsigned flags) : document(document), flags(flags) {}
  CXMLDocumentLoader(const CXMLDocumentLoader&) = delete;
  CXMLDocumentLoader& operator=(const CXMLDocumentLoader&) = delete;
  virtual ~CXMLDocumentLoader();

  // Forgets the open elements and the pending attribute of an earlier load.
  void Reset(CXMLDocument* newDocument, unsigned newFlags);
  // The load is over: what it built keeps the arena it was carved from, the loader lets go of it.
  void EndLoad();
  // Places the text gathered since the last markup (see OnText). The loader calls it before every other
  // event; a load calls it at the end. With XML_LOAD_DROP_INDENT a run that is a literal line feed
  // followed only by literal tabs is dropped; an empty run adds nothing.
  bool FlushText();
  // The innermost open element, null when none is open.
  CXMLElement* GetCurrent() const { return current; }
  size_t GetOpenCount() const { return openCount; }

  bool OnStartElement(CXMLParser& parser) override;
  bool OnStartTagEnd(CXMLParser& parser) override;
  bool OnEndElement(CXMLParser& parser) override;
  bool OnAttributeName(CXMLParser& parser) override;
  bool OnAttributeValue(CXMLParser& parser) override;
  bool OnText(CXMLParser& parser) override;
  bool OnUnresolvedEntity(CXMLParser& parser) override;
  bool OnBadCharRef(CXMLParser& parser) override;
  bool OnComment(CXMLParser& parser) override;
  bool OnPInstrTarget(CXMLParser& parser) override;
  bool OnPInstrData(CXMLParser& parser) override;
  bool OnCData(CXMLParser& parser) override;
  bool OnDocType(CXMLParser& parser) override;
  bool OnNewLine(CXMLParser& parser) override;

 private:
  // Where a text, comment, instruction or CDATA goes: the open element, the top-level list before the
  // root, nowhere (null) after the root has closed.
  CXMLNodeList* Placement() const;
  bool Error(XMLError code, const wchar_t* message, uint32_t length);
  // new T(args...) from the load's arena; null when there is none or memory runs out.
  template <class T, class... Args>
  T* Make(Args&&... args);
  // The load's one run of these units in its arena, shared by every name spelt so; null when memory runs
  // out. Inline in XmlLoader.cpp, where it is called for every name.
  inline const wchar_t* Intern(const wchar_t* units, uint32_t n);
  // Intern's path for a name that is not in its slot of recentNames: the table, and recent updated.
  const wchar_t* InternInTable(const wchar_t* units, uint32_t n, const wchar_t*& recent);
  // Gives the attributes of the start tag read so far to their element, in name order.
  bool CommitAttributes();

  CXMLDocument* document;
  unsigned flags;
  CXMLAttribute* pending = nullptr;  // made by the last OnAttributeName, waiting for its value
  // The open elements: the innermost one, whose parent chain holds the others (outermost last).
  CXMLElement* current = nullptr;
  size_t openCount = 0;
  CXMLArena* arena = nullptr;
  // The attributes of the start tag being read, in document order, and a look-up of their names once
  // there are many.
  std::vector<CXMLAttribute*> tagAttributes;
  std::unordered_set<const wchar_t*> tagNames;
  // The current run of text: the arena's latest allocation, terminated.
  wchar_t* textRun = nullptr;
  uint32_t textLength = 0;
  bool textHasReference = false;  // some of the run came from a reference: it is content, never indentation
  // The names of this load, open addressing by hash, at most half full.
  struct NameSlot {
    const wchar_t* run = nullptr;
    uint32_t hash = 0;
  };
  std::vector<NameSlot> names;
  size_t nameCount = 0;
  // Runs found lately, by length and three units; nulls or runs of this load only.
  static constexpr uint32_t kRecentBits = 8;
  static constexpr uint32_t kRecentNames = 1u << kRecentBits;
  const wchar_t* recentNames[kRecentNames] = {};
};

class CXMLDocument {
 public:
  CXMLDocument() = default;
  // The top-level nodes and the root are cloned; error code, text and line are copied. Throws
  // std::bad_alloc when memory runs out.
  CXMLDocument(const CXMLDocument& other);
  CXMLDocument& operator=(const CXMLDocument& other);
  ~CXMLDocument() { DeleteNodes(); }

  // Every load first clears the document (nodes, root, error, line 1). A failed load keeps the nodes built
  // so far with the error code and text: check the result before navigating.
  // bytes: UTF-8, no byte-order-mark handling (a leading U+FEFF is text in the top-level list).
  bool LoadFromBuffer(const void* bytes, uint32_t byteCount, unsigned flags = 0,
                      CXMLDocumentLoader* loader = nullptr);
  bool LoadFromBuffer(const CBuffer& buffer, unsigned flags = 0, CXMLDocumentLoader* loader = nullptr) {
    return LoadFromBuffer(buffer.GetData(), buffer.Length(), flags, loader);
  }
  // units: UTF-16, taken as they are; a 0 unit is rejected.
  bool LoadFromString(const wchar_t* units, uint32_t unitCount, unsigned flags = 0,
                      CXMLDocumentLoader* loader = nullptr);
  bool LoadFromString(const std::wstring& text, unsigned flags = 0, CXMLDocumentLoader* loader = nullptr);
  // UTF-8 read in chunks of at most 512 KiB; a sequence cut by a chunk boundary is read again whole.
  bool LoadFromStream(IXMLStream* stream, unsigned flags = 0, CXMLDocumentLoader* loader = nullptr);
  bool LoadFromFile(const wchar_t* path, unsigned flags = 0, CXMLDocumentLoader* loader = nullptr);

  CXMLElement* GetRoot() const { return root; }
  XMLError GetError() const { return error; }
  const std::wstring& GetErrorText() const { return errorText; }
  int GetLine() const { return line; }
  // Nodes before the root (declaration, comments, DOCTYPE, text) and any DOCTYPE after it.
  const CXMLNodeList& GetNodes() const { return nodes; }
  CXMLNodeList& MutableNodes() { return nodes; }

  bool IsRoot(const wchar_t* name) const { return root && root->NameEquals(name); }
  // Deletes the old root and takes ownership of element (which may be null).
  void SetRoot(CXMLElement* element);
  // The same with a new element; false, leaving no root, when name is not a valid name.
  bool SetRoot(const wchar_t* name);
  // Deletes every node and resets the error state and line as a load does.
  void Clear();

  // Writing (XmlWriter.cpp): the top-level nodes in order, then the root, all at depth 0. Each returns false
  // when something could not be written (memory, disk) or the file could not be created.
  bool WriteToBuffer(CBuffer& buffer, unsigned flags = 0) const;
  bool Write(IXMLStream* stream, unsigned flags = 0) const;
  bool SaveToFile(const wchar_t* path, unsigned flags = 0) const;
  bool WriteToString(std::wstring& out, unsigned flags = 0) const;
  // Serializes into a temporary UTF-16 buffer and appends its UTF-8 form to out.
  bool WriteToUtf8(CBuffer& out, unsigned flags = 0) const;

  // For loaders: records an error (the code and its text).
  void SetError(XMLError code, std::wstring text);
  void CountLine() {
    if (line < INT_MAX) ++line;  // saturates: a stream can hold more line breaks than an int counts
  }

 private:
  friend class CXMLDocumentLoader;
  class CLoad;

  void DeleteNodes();
  void CopyFrom(const CXMLDocument& other);
  bool FinishLoad(bool fed, CXMLParser& parser, CXMLDocumentLoader& loader);
  // Reads up to room bytes; records CANT_READ_FILE when the stream fails.
  bool ReadSome(IXMLStream* stream, uint8_t* buffer, uint32_t room, uint32_t* got);

  CXMLNodeList nodes{nullptr};
  CXMLElement* root = nullptr;
  XMLError error = XML_ERROR_NONE;
  std::wstring errorText;
  int line = 1;
};
