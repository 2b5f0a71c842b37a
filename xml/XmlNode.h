// The XML document model: a polymorphic node tree (element, text, comment, DOCTYPE, CDATA, processing
// instruction), attributes in name order, navigation and typed attribute access.
//
// Ownership is by raw pointer: a list owns its nodes, an element owns its attributes and children, and the
// owner deletes through the virtual destructor. Trees are walked without recursion everywhere (deletion,
// Clone, text collection, search, writing), so a document nested a million levels deep is as safe as a
// flat one.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/Buffer.h"
#include "xml/CharClass.h"
#include "xml/XmlArena.h"

class CXMLElement;
class CXMLNode;
class IXMLStream;

// Write flags: one word passed down the tree when a node or document is written (XmlWriter.cpp).
enum : unsigned {
  XML_WRITE_INDENT = 0x01,         // CR LF after each node, lines indented with one tab per level
  XML_WRITE_NEWLINES = 0x02,       // CR LF after each node, no indentation
  XML_WRITE_SINGLE_QUOTES = 0x04,  // attribute values in apostrophes
  XML_WRITE_AT_LINE_START = 0x08,  // internal: the output is at the start of a line; callers pass it clear
  XML_WRITE_NO_COMMENTS = 0x10,
  XML_WRITE_NO_PINSTR = 0x20,
  XML_WRITE_NO_CDATA = 0x40,
  XML_WRITE_NO_DOCTYPE = 0x80,
};

// A shared producer of UTF-16 text that a text node writes after its own text. Reference counted: a text
// node takes a reference when it is made and drops it when it is destroyed.
class TextSource {
 public:
  void AddRef() { ++references; }
  // Drops a reference; the last one deletes the source.
  virtual void Release() {
    if (--references == 0) delete this;
  }
  // Copies up to maxUnits units into units; 0 means the end of the text.
  virtual uint32_t Read(wchar_t* units, uint32_t maxUnits) = 0;
  // Starts the text again from its beginning.
  virtual void Rewind() = 0;

 protected:
  TextSource() = default;
  virtual ~TextSource() = default;

 private:
  long references = 1;
};

// An owning, singly linked list of nodes in document order. Iterate with First() and GetNext() (null at the
// end) or a range-for. Deleting the list deletes its nodes and their subtrees without recursion.
class CXMLNodeList {
 public:
  class Iterator {
   public:
    explicit Iterator(CXMLNode* n) : node(n) {}
    CXMLNode* operator*() const { return node; }
    Iterator& operator++();
    bool operator!=(const Iterator& other) const { return node != other.node; }

   private:
    CXMLNode* node;
  };

  explicit CXMLNodeList(CXMLElement* owner) : owner(owner) {}
  CXMLNodeList(const CXMLNodeList&) = delete;
  CXMLNodeList& operator=(const CXMLNodeList&) = delete;
  ~CXMLNodeList() { Clear(); }

  CXMLNode* First() const { return head; }
  CXMLNode* Last() const { return tail; }
  bool IsEmpty() const { return head == nullptr; }
  size_t Count() const;
  Iterator begin() const { return Iterator(head); }
  Iterator end() const { return Iterator(nullptr); }

  // Takes ownership of a node that belongs to no list.
  inline void Append(CXMLNode* node);
  // Unlinks node, whose predecessor is previous (null for the first node); the caller owns it afterwards.
  void Unlink(CXMLNode* node, CXMLNode* previous);
  // Moves every node of other to the end of this list.
  void TakeAll(CXMLNodeList& other);
  // Deletes every node and everything below it.
  void Clear();

 private:
  CXMLElement* owner;  // set as the parent of appended nodes; null for a document's top-level list
  CXMLNode* head = nullptr;
  CXMLNode* tail = nullptr;
};

class CXMLNode : public CXMLArenaObject {
 public:
  CXMLNode() = default;
  CXMLNode(const CXMLNode&) = delete;
  CXMLNode& operator=(const CXMLNode&) = delete;
  virtual ~CXMLNode() = default;

  virtual bool IsElement() const { return false; }
  virtual bool IsContent() const { return false; }
  virtual bool IsComment() const { return false; }
  virtual bool IsPInstr() const { return false; }
  virtual bool IsDocType() const { return false; }
  virtual bool IsCData() const { return false; }
  // A new deep copy owned by the caller; null when memory runs out.
  virtual CXMLNode* Clone() const = 0;
  // Serialize this node (XmlWriter.cpp). Write and WriteToBuffer return true when the output ended with a
  // line break. SaveToFile creates the file anew and returns false when it cannot be created or written.
  virtual bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const = 0;
  virtual bool Write(IXMLStream* stream, unsigned flags, int depth) const = 0;
  virtual bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const = 0;

  // True only for an element named exactly name. A null name throws _com_error(E_FAIL).
  bool NameEquals(const wchar_t* name) const;

  // The next sibling in the owning list, null at the end.
  CXMLNode* GetNext() const { return next; }
  // The element whose child this is; null for a root or a document's top-level node.
  CXMLElement* GetParent() const { return parent; }

 private:
  friend class CXMLNodeList;
  friend class CXMLElement;
  CXMLElement* parent = nullptr;
  CXMLNode* next = nullptr;
};

inline void CXMLNodeList::Append(CXMLNode* node) {
  node->parent = owner;
  node->next = nullptr;
  if (tail) {
    tail->next = node;
  } else {
    head = node;
  }
  tail = node;
}

// An element's or attribute's name, or an attribute's value: one pointer to a counted run of UTF-16 units,
// the count in the 32 bits before the units and a 0 unit after them, so c_str() is also a C string. A run
// lives in the arena of the load that made the owner, where any number of strings of that load may share it
// (a load keeps one run per distinct name), or in a heap block of the string's own once the string is set
// outside a load; only such a block is ever freed. Converts to std::wstring_view (free) and to std::wstring
// (a copy).
class CXMLString {
 public:
  CXMLString() = default;
  CXMLString(const CXMLString&) = delete;
  CXMLString& operator=(const CXMLString&) = delete;
  ~CXMLString() { Release(); }

  const wchar_t* c_str() const { return units; }
  const wchar_t* data() const { return units; }
  size_t size() const { return Header(units) & kCountMask; }
  size_t length() const { return size(); }
  bool empty() const { return size() == 0; }
  wchar_t operator[](size_t i) const { return units[i]; }
  std::wstring_view view() const { return std::wstring_view(units, size()); }
  operator std::wstring_view() const { return view(); }
  operator std::wstring() const { return std::wstring(units, size()); }

  // A heap copy of the n units, which may not lie in this string; false (unchanged) when memory runs out.
  bool Assign(const wchar_t* text, uint32_t n);
  // The n units copied into arena, which must be the arena the string's owner was carved from.
  bool AssignIn(CXMLArena& arena, const wchar_t* text, uint32_t n) {
    const wchar_t* run = NewRun(arena, text, n);
    if (!run) return false;
    Share(run);
    return true;
  }
  // Exactly these n units.
  bool Equals(const wchar_t* text, uint32_t n) const { return RunEquals(units, text, n); }

  // For the loader. A run of the n units in arena, which any string whose owner was carved from arena may
  // share; null when memory runs out or n is too long for a run.
  static const wchar_t* NewRun(CXMLArena& arena, const wchar_t* text, uint32_t n) {
    const size_t bytes = RunBytes(n);
    return bytes ? FillRun(arena.Allocate(bytes, alignof(uint32_t)), text, n, 0) : nullptr;
  }
  // Whether run (from NewRun) holds exactly these n units.
  static bool RunEquals(const wchar_t* run, const wchar_t* text, uint32_t n) {
    if (n != (Header(run) & kCountMask)) return false;
    for (uint32_t i = 0; i < n; ++i) {
      if (run[i] != text[i]) return false;
    }
    return true;
  }
  // The string becomes run, which it shares and never frees.
  void Share(const wchar_t* run) {
    Release();
    units = run;
  }

  friend bool operator==(const CXMLString& a, const CXMLString& b) { return a.view() == b.view(); }
  friend bool operator==(const CXMLString& a, std::wstring_view b) { return a.view() == b; }
  friend bool operator==(std::wstring_view a, const CXMLString& b) { return a == b.view(); }
  friend bool operator!=(const CXMLString& a, const CXMLString& b) { return !(a == b); }
  friend bool operator!=(const CXMLString& a, std::wstring_view b) { return !(a == b); }
  friend bool operator!=(std::wstring_view a, const CXMLString& b) { return !(a == b); }

 private:
  // The header's top bit marks a heap block of the string's own; the rest is the count.
  static constexpr uint32_t kOwned = 0x80000000u;
  static constexpr uint32_t kCountMask = 0x7FFFFFFFu;
  static uint32_t Header(const wchar_t* run) { return reinterpret_cast<const uint32_t*>(run)[-1]; }
  // Bytes of a run of n units, or 0 when n is too long for a run's count.
  static size_t RunBytes(uint32_t n) {
    if (n > 0x7FFFFFFEu || n >= (SIZE_MAX - sizeof(uint32_t)) / sizeof(wchar_t) - 1) return 0;
    return sizeof(uint32_t) + (static_cast<size_t>(n) + 1) * sizeof(wchar_t);
  }
  // Fills room (a header and n + 1 units, null when it could not be had) and returns its units.
  static const wchar_t* FillRun(void* room, const wchar_t* text, uint32_t n, uint32_t ownedBit) {
    if (!room) return nullptr;
    *static_cast<uint32_t*>(room) = n | ownedBit;
    wchar_t* run = reinterpret_cast<wchar_t*>(static_cast<char*>(room) + sizeof(uint32_t));
    for (uint32_t i = 0; i < n; ++i) run[i] = text[i];
    run[n] = 0;
    return run;
  }
  void Release() {
    if (Header(units) & kOwned) FreeOwned();
    units = kEmpty.units;
  }
  void FreeOwned();  // frees the heap block of an owned run

  // A run laid out as it is in memory: the units start 4 bytes in.
  struct EmptyRun {
    uint32_t header;
    wchar_t units[1];
  };
  static const EmptyRun kEmpty;

  const wchar_t* units = kEmpty.units;
};

// The body of the leaf nodes: UTF-16 text, terminated but counted without the terminator. It lives on the
// heap, or in the arena of the load that made its node, until it is changed.
class CXMLTextBody {
 public:
  CXMLTextBody() = default;
  CXMLTextBody(const CXMLTextBody&) = delete;
  CXMLTextBody& operator=(const CXMLTextBody&) = delete;
  ~CXMLTextBody() {
    if (capacity) std::free(units);
  }

  const wchar_t* GetText() const { return units ? units : L""; }
  uint32_t GetLength() const { return length; }
  // False (text unchanged) when memory runs out.
  bool Assign(const wchar_t* text, uint32_t n);
  bool Append(const wchar_t* text, uint32_t n);
  // Takes n units followed by a 0 unit that already lie in the arena the body's node was carved from.
  // Other bodies of that arena may share them: text in an arena is only ever replaced, never changed.
  void Adopt(const wchar_t* arenaText, uint32_t n) {
    if (capacity) std::free(units);
    units = const_cast<wchar_t*>(arenaText);  // capacity 0: Replace never writes into it
    length = n;
    capacity = 0;
  }

 private:
  bool Replace(uint32_t keep, const wchar_t* text, uint32_t n);

  wchar_t* units = nullptr;
  uint32_t length = 0;
  uint32_t capacity = 0;  // units the heap block holds, terminator included; 0 for arena text
};

// Text. Holds decoded text: no entity references, line breaks as single line feeds.
class CXMLContent : public CXMLNode {
 public:
  CXMLContent() = default;

  bool IsContent() const override { return true; }
  CXMLNode* Clone() const override;  // the text only, never the source
  bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const override;
  bool Write(IXMLStream* stream, unsigned flags, int depth) const override;
  bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const override;

  const wchar_t* GetText() const { return body.GetText(); }
  uint32_t GetTextLength() const { return body.GetLength(); }
  CXMLTextBody& Body() { return body; }
  const CXMLTextBody& Body() const { return body; }
  // The source whose text is written after this node's own (see CXMLElement::AddTextSource); null for
  // plain text, which is every text a load makes.
  virtual TextSource* GetSource() const { return nullptr; }

 private:
  CXMLTextBody body;
};

class CXMLComment : public CXMLNode {
 public:
  bool IsComment() const override { return true; }
  CXMLNode* Clone() const override;
  bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const override;
  bool Write(IXMLStream* stream, unsigned flags, int depth) const override;
  bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const override;

  const wchar_t* GetText() const { return body.GetText(); }
  uint32_t GetTextLength() const { return body.GetLength(); }
  CXMLTextBody& Body() { return body; }
  const CXMLTextBody& Body() const { return body; }

 private:
  CXMLTextBody body;
};

// A DOCTYPE declaration: the text between "<!DOCTYPE" and its closing '>', trimmed, kept as it is.
class CXMLDocType : public CXMLNode {
 public:
  bool IsDocType() const override { return true; }
  CXMLNode* Clone() const override;
  bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const override;
  bool Write(IXMLStream* stream, unsigned flags, int depth) const override;
  bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const override;

  const wchar_t* GetText() const { return body.GetText(); }
  uint32_t GetTextLength() const { return body.GetLength(); }
  CXMLTextBody& Body() { return body; }
  const CXMLTextBody& Body() const { return body; }

 private:
  CXMLTextBody body;
};

class CXMLCData : public CXMLNode {
 public:
  bool IsCData() const override { return true; }
  CXMLNode* Clone() const override;
  bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const override;
  bool Write(IXMLStream* stream, unsigned flags, int depth) const override;
  bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const override;

  const wchar_t* GetText() const { return body.GetText(); }
  uint32_t GetTextLength() const { return body.GetLength(); }
  CXMLTextBody& Body() { return body; }
  const CXMLTextBody& Body() const { return body; }

 private:
  CXMLTextBody body;
};

// A processing instruction: a target and its data (possibly empty).
class CXMLPInstr : public CXMLNode {
 public:
  explicit CXMLPInstr(std::wstring target) : target(std::move(target)) {}

  bool IsPInstr() const override { return true; }
  CXMLNode* Clone() const override;
  bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const override;
  bool Write(IXMLStream* stream, unsigned flags, int depth) const override;
  bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const override;

  const std::wstring& GetName() const { return target; }
  // The data body.
  const wchar_t* GetText() const { return data.GetText(); }
  uint32_t GetTextLength() const { return data.GetLength(); }
  CXMLTextBody& Body() { return data; }
  const CXMLTextBody& Body() const { return data; }

 private:
  std::wstring target;
  CXMLTextBody data;
};

class CXMLAttribute : public CXMLArenaObject {
 public:
  // The loader's constructor: empty name and value, which it then stores in its arena.
  CXMLAttribute() = default;
  // Throws std::bad_alloc when memory runs out.
  CXMLAttribute(std::wstring_view name, std::wstring_view value);
  // A new attribute, or null when the name is not a valid name or memory runs out.
  static CXMLAttribute* Create(const wchar_t* name, const wchar_t* value);

  const CXMLString& GetName() const { return name; }
  const CXMLString& GetValue() const { return value; }
  // False (value unchanged) when memory runs out.
  bool SetValue(std::wstring_view newValue);

  // For the loader, which stores what it reads in its arena.
  CXMLString& MutableName() { return name; }
  CXMLString& MutableValue() { return value; }

 private:
  CXMLString name;
  CXMLString value;
};

// An element's attributes, ordered by the UTF-16 code units of their names (case-sensitive: "B" < "b" <
// "z"), in one flat array; iterate with a range-for. The set does not own the attributes: the element does.
class CXMLAttributeSet {
 public:
  using const_iterator = CXMLAttribute* const*;

  CXMLAttributeSet() = default;
  CXMLAttributeSet(const CXMLAttributeSet&) = delete;
  CXMLAttributeSet& operator=(const CXMLAttributeSet&) = delete;
  ~CXMLAttributeSet();

  const_iterator begin() const { return block ? Items() : nullptr; }
  const_iterator end() const { return block ? Items() + block->count : nullptr; }
  size_t size() const { return block ? block->count : 0; }
  bool empty() const { return size() == 0; }

  CXMLAttribute* Find(std::wstring_view name) const;
  // Inserts in name order; kDuplicate when the name is there, kNoMemory when the array cannot grow.
  enum class Result { kInserted, kDuplicate, kNoMemory };
  Result Insert(CXMLAttribute* attribute);
  // Takes the attribute with that name out of the set (the caller deletes it); null when there is none.
  CXMLAttribute* Remove(std::wstring_view name);
  // For the loader: the set becomes the n sorted, distinct attributes, in an array in arena, the arena
  // their element was carved from. The set must be empty. False when memory runs out.
  bool AdoptIn(CXMLArena& arena, CXMLAttribute* const* sorted, uint32_t n);

 private:
  // The counts and the array in one block, so that an element without attributes holds only a null
  // pointer. The array follows the header.
  struct Block {
    uint32_t count;
    uint32_t capacity;  // of a heap block; 0 for a block in an arena, which is never grown or freed
  };
  CXMLAttribute** Items() const { return reinterpret_cast<CXMLAttribute**>(block + 1); }
  // The index where name is or would go.
  uint32_t LowerBound(std::wstring_view name) const;
  bool MakeRoom();

  Block* block = nullptr;
};

class CXMLElement : public CXMLNode {
 public:
  // The loader's constructor: no name yet; the loader stores the one the parser accepted. Use Create or
  // AddElement for a checked name.
  CXMLElement() = default;
  ~CXMLElement() override;
  // A new element, or null when name is not a valid name or memory runs out.
  static CXMLElement* Create(const wchar_t* name);

  bool IsElement() const override { return true; }
  // Name, attributes and the whole subtree; null when memory runs out.
  CXMLNode* Clone() const override;
  bool SaveToFile(const wchar_t* path, unsigned flags, int depth) const override;
  bool Write(IXMLStream* stream, unsigned flags, int depth) const override;
  bool WriteToBuffer(CBuffer& buffer, unsigned flags, int depth) const override;

  const CXMLString& GetName() const { return name; }

  // Children in document order.
  const CXMLNodeList& Children() const { return children; }
  CXMLNode* GetFirstChild() const { return children.First(); }
  CXMLNode* GetLastChild() const { return children.Last(); }

  // The index-th (0-based) child element named name; null when there are fewer.
  CXMLElement* FindChild(const wchar_t* name, size_t index = 0) const;
  CXMLContent* GetChildContent(size_t index = 0) const;
  CXMLComment* GetChildComment(size_t index = 0) const;
  CXMLPInstr* GetChildPInstr(size_t index = 0) const;
  CXMLCData* GetChildCData(size_t index = 0) const;
  // The index-th child element whose "id" attribute equals id.
  CXMLElement* FindChildById(const wchar_t* id, size_t index = 0) const;
  // Appends every descendant element named name, depth first in document order (a match before its own
  // descendants). Returns whether found is non-empty afterwards.
  bool FindDescendants(const wchar_t* name, std::vector<CXMLElement*>& found) const;

  // Appends the text children in document order (CDATA, comments and instructions are skipped); with
  // recursive, child elements are descended into where they stand. Returns whether out is non-empty after
  // the call, counting what it held before.
  bool GetText(std::wstring& out, bool recursive = false) const;
  bool GetText(CBuffer& out, bool recursive = false) const;
  // The same for CDATA children.
  bool GetCDataText(std::wstring& out, bool recursive = false) const;
  bool GetCDataText(CBuffer& out, bool recursive = false) const;
  // GetText without recursion on FindChild(name, index); false when there is no such child or no text.
  bool GetChildText(std::wstring& out, const wchar_t* name, size_t index = 0) const;
  bool GetChildText(CBuffer& out, const wchar_t* name, size_t index = 0) const;

  // Attributes in name order.
  const CXMLAttributeSet& Attributes() const { return attributes; }
  CXMLAttribute* FindAttribute(const wchar_t* name) const;

  // Typed reads (value formats in XmlValue.h). Each returns false and leaves out untouched when the
  // attribute is missing or its text does not convert.
  bool GetAttribute(const wchar_t* name, std::wstring& out) const;
  bool GetAttribute(const wchar_t* name, int& out) const;
  bool GetAttribute(const wchar_t* name, unsigned& out) const;
  // Any value other than "1" reads as false and is still a success.
  bool GetAttribute(const wchar_t* name, bool& out) const;
  bool GetAttribute(const wchar_t* name, GUID& out) const;
  bool GetAttributeColor(const wchar_t* name, COLORREF& out) const;
  // A day number (1.0 = 1 January of year 1, 00:00 UTC).
  bool GetAttributeDate(const wchar_t* name, double& out) const;
  bool AttributeEquals(const wchar_t* name, const wchar_t* text) const;
  bool IsAttributeTrue(const wchar_t* name) const;
  // The same reads giving the value directly, or an empty or zero value when they fail.
  std::wstring GetAttributeText(const wchar_t* name) const;
  int GetAttributeInt(const wchar_t* name) const;
  unsigned GetAttributeUnsigned(const wchar_t* name) const;
  bool GetAttributeBool(const wchar_t* name) const { return IsAttributeTrue(name); }
  COLORREF GetAttributeColor(const wchar_t* name) const;
  double GetAttributeDate(const wchar_t* name) const;
  GUID GetAttributeGuid(const wchar_t* name) const;

  // Setters. Each returns true when the attribute set changed: an existing attribute with the same text is
  // left alone (false); otherwise the old one goes and the new one is inserted. The "empty" value of each
  // type (empty or null text, 0, false, 0.0, the null GUID) removes the attribute instead.
  bool SetAttribute(const wchar_t* name, const wchar_t* value);
  // format: a printf-style format for one int or unsigned, such as L"%d" or L"%u".
  bool SetAttributeInt(const wchar_t* name, int value, const wchar_t* format = L"%d");
  bool SetAttributeUnsigned(const wchar_t* name, unsigned value, const wchar_t* format = L"%u");
  bool SetAttributeBool(const wchar_t* name, bool value);
  bool SetAttributeColor(const wchar_t* name, COLORREF value);
  bool SetAttributeDate(const wchar_t* name, double dayNumber);
  bool SetAttributeGuid(const wchar_t* name, const GUID& value);
  // Inserts a new attribute; false when the name exists or is not valid.
  bool AddAttribute(const wchar_t* name, const wchar_t* value);
  bool AddAttributeFormat(const wchar_t* name, const wchar_t* format, ...);
  // Takes ownership of attribute; false (and the attribute deleted) when its name exists.
  bool InsertAttribute(CXMLAttribute* attribute);
  // The same, telling a name that exists from memory running out.
  enum class InsertResult { kInserted, kDuplicate, kNoMemory };
  InsertResult TryInsertAttribute(CXMLAttribute* attribute);
  bool RemoveAttribute(const wchar_t* name);

  // Child editing. AddChild takes ownership of a node that belongs to no list; it refuses (false, node
  // not taken) null, this element and an element that holds this one.
  bool AddChild(CXMLNode* node);
  // A new child element, or null when name is not valid.
  CXMLElement* AddElement(const wchar_t* name);
  // Appends to the last child when it is a plain text node, else adds a text node.
  bool AddText(const wchar_t* text);
  bool AddText(const wchar_t* units, uint32_t n);
  bool AddTextFormat(const wchar_t* format, ...);
  CXMLComment* AddComment(const wchar_t* text);
  CXMLComment* AddCommentFormat(const wchar_t* format, ...);
  CXMLPInstr* AddPInstr(const wchar_t* target, const wchar_t* data);
  CXMLPInstr* AddPInstrFormat(const wchar_t* target, const wchar_t* format, ...);
  CXMLDocType* AddDocType(const wchar_t* text);
  CXMLDocType* AddDocTypeFormat(const wchar_t* format, ...);
  CXMLCData* AddCData(const wchar_t* text);
  CXMLCData* AddCDataFormat(const wchar_t* format, ...);
  // A text node that writes the source's text after its own (takes a reference).
  CXMLContent* AddTextSource(TextSource* source);
  // Deletes every child.
  void Clear();
  // Appends clones of other's children (clones that fail are skipped). Works when other is this element,
  // an ancestor or a descendant.
  void CopyChildren(const CXMLElement& other, bool clearFirst);
  // Moves other's children to the end of this element. False (nothing moved) when other holds this
  // element, since the tree would then contain itself.
  bool MoveChildren(CXMLElement& other, bool clearFirst);
  // With at least two children: moves every child element named in names (up to count names, or to a null
  // entry) to the end, grouped in the order of names, keeping their order within a group.
  void MoveChildrenToEnd(const wchar_t* const* names, size_t count);

  // Appends a node without any check; for the loader, which builds trees from parser events.
  void AppendChild(CXMLNode* node) { children.Append(node); }
  CXMLNodeList& MutableChildren() { return children; }
  CXMLAttributeSet& MutableAttributes() { return attributes; }
  CXMLString& MutableName() { return name; }

 private:
  friend class CXMLNodeList;  // deletes subtrees by taking the children over
  // An element named by n units, taken as they are; null when memory runs out.
  static CXMLElement* MakeNamed(const wchar_t* units, uint32_t n);
  bool ReplaceAttribute(const wchar_t* name, const std::wstring* value);
  bool Contains(const CXMLNode* node) const;

  CXMLString name;
  CXMLAttributeSet attributes;
  CXMLNodeList children{this};
};

// new T(args...), or null when memory runs out: the model answers exhausted memory with a result.
template <class T, class... Args>
T* NewOrNull(Args&&... args) {
  try {
    return new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Appends text to a list the way CXMLElement::AddText does: onto a last plain text node, or as a new one.
bool AppendTextToList(CXMLNodeList& list, const wchar_t* units, uint32_t n);
// Throws _com_error(E_FAIL) for a null name: a programming error, never an input error.
void RequireName(const wchar_t* name);
