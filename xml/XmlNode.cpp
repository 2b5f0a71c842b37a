#include "xml/XmlNode.h"

#include <comdef.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string_view>
#include <utility>

#include "xml/XmlText.h"
#include "xml/XmlValue.h"

namespace {

bool FormatToString(std::wstring& out, const wchar_t* format, va_list args) {
  CBuffer buffer;
  if (!buffer.AppendFormatV(format, args)) return false;
  try {
    out.assign(buffer.GetText(), TextLength(buffer));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The next node of a pre-order walk that stays below top (null when the walk is over). With descend
// false, the children of node are skipped.
const CXMLNode* NextInWalk(const CXMLNode* node, const CXMLElement* top, bool descend) {
  if (descend && node->IsElement()) {
    const CXMLNode* first = static_cast<const CXMLElement*>(node)->GetFirstChild();
    if (first) return first;
  }
  while (node != top) {
    if (node->GetNext()) return node->GetNext();
    node = node->GetParent();
  }
  return nullptr;
}

template <class T>
T* NthChild(const CXMLNodeList& list, size_t index, bool (CXMLNode::*test)() const) {
  for (CXMLNode* child : list) {
    if ((child->*test)()) {
      if (index == 0) return static_cast<T*>(child);
      --index;
    }
  }
  return nullptr;
}

// Collects the bodies of the children that test accepts, walking into child elements when recursive.
template <class Out>
bool CollectText(const CXMLElement& top, Out& out, bool recursive, bool (CXMLNode::*test)() const,
                 bool (*append)(Out&, const CXMLNode&)) {
  const CXMLNode* node = top.GetFirstChild();
  while (node) {
    if ((node->*test)() && !append(out, *node)) return false;
    node = NextInWalk(node, &top, recursive);
  }
  return true;
}

bool AppendContent(std::wstring& out, const CXMLNode& node) {
  const auto& text = static_cast<const CXMLContent&>(node);
  out.append(text.GetText(), text.GetTextLength());
  return true;
}
bool AppendContent(CBuffer& out, const CXMLNode& node) {
  const auto& text = static_cast<const CXMLContent&>(node);
  return AppendUnits(out, text.GetText(), text.GetTextLength());
}
bool AppendCData(std::wstring& out, const CXMLNode& node) {
  const auto& text = static_cast<const CXMLCData&>(node);
  out.append(text.GetText(), text.GetTextLength());
  return true;
}
bool AppendCData(CBuffer& out, const CXMLNode& node) {
  const auto& text = static_cast<const CXMLCData&>(node);
  return AppendUnits(out, text.GetText(), text.GetTextLength());
}

bool IsEmpty(const std::wstring& s) {
  return s.empty();
}
bool IsEmpty(const CBuffer& b) {
  return b.Length() == 0;
}

}  // namespace

void RequireName(const wchar_t* name) {
  if (!name) _com_issue_error(E_FAIL);
}

// ---- CXMLNodeList

CXMLNodeList::Iterator& CXMLNodeList::Iterator::operator++() {
  node = node->GetNext();
  return *this;
}

size_t CXMLNodeList::Count() const {
  size_t n = 0;
  for (CXMLNode* node = head; node; node = node->next) ++n;
  return n;
}

void CXMLNodeList::Unlink(CXMLNode* node, CXMLNode* previous) {
  if (previous) {
    previous->next = node->next;
  } else {
    head = node->next;
  }
  if (tail == node) tail = previous;
  node->next = nullptr;
  node->parent = nullptr;
}

void CXMLNodeList::TakeAll(CXMLNodeList& other) {
  if (&other == this || !other.head) return;
  for (CXMLNode* node = other.head; node; node = node->next) node->parent = owner;
  if (tail) {
    tail->next = other.head;
  } else {
    head = other.head;
  }
  tail = other.tail;
  other.head = other.tail = nullptr;
}

void CXMLNodeList::Clear() {
  // A work list instead of recursion: the children of each element are spliced onto the front of the
  // work list before the element is deleted, so its destructor finds nothing left to delete and the depth
  // of the tree never reaches the stack. Front, not end: nodes go in document order, the order a load
  // carved them from its arena in, so the walk reads memory front to back.
  CXMLNode* work = head;
  head = tail = nullptr;
  while (work) {
    CXMLNode* node = work;
    work = node->next;
    if (node->IsElement()) {
      CXMLNodeList& children = static_cast<CXMLElement*>(node)->children;
      if (children.head) {
        children.tail->next = work;
        work = children.head;
        children.head = children.tail = nullptr;
      }
    }
    delete node;
  }
}

// ---- CXMLNode

bool CXMLNode::NameEquals(const wchar_t* name) const {
  RequireName(name);
  return IsElement() && static_cast<const CXMLElement*>(this)->GetName() == name;
}

// ---- CXMLString

const CXMLString::EmptyRun CXMLString::kEmpty = {0, {0}};

void CXMLString::FreeOwned() {
  std::free(const_cast<wchar_t*>(units) - sizeof(uint32_t) / sizeof(wchar_t));
}

bool CXMLString::Assign(const wchar_t* text, uint32_t n) {
  const size_t bytes = RunBytes(n);
  const wchar_t* run = bytes ? FillRun(std::malloc(bytes), text, n, kOwned) : nullptr;
  if (!run) return false;
  Release();
  units = run;
  return true;
}

// ---- Leaf nodes

bool CXMLTextBody::Replace(uint32_t keep, const wchar_t* text, uint32_t n) {
  if (n > UINT32_MAX / sizeof(wchar_t) - keep - 1) return false;
  const uint32_t needed = keep + n + 1;
  if (needed <= capacity) {
    std::memmove(units + keep, text, n * sizeof(wchar_t));  // text may be this body's own
  } else {
    // Appending grows by half again, so text added piece by piece is copied a bounded number of times.
    uint32_t room = needed;
    if (keep && needed < UINT32_MAX / sizeof(wchar_t) / 2) room = needed + needed / 2;
    wchar_t* grown = static_cast<wchar_t*>(std::malloc(room * sizeof(wchar_t)));
    if (!grown) return false;
    if (keep) std::memcpy(grown, units, keep * sizeof(wchar_t));
    std::memcpy(grown + keep, text, n * sizeof(wchar_t));
    if (capacity) std::free(units);
    units = grown;
    capacity = room;
  }
  length = keep + n;
  units[length] = 0;
  return true;
}

bool CXMLTextBody::Assign(const wchar_t* text, uint32_t n) {
  return Replace(0, text, n);
}

bool CXMLTextBody::Append(const wchar_t* text, uint32_t n) {
  return Replace(length, text, n);
}

namespace {

// A text node with a source: plain text nodes, hundreds of thousands in a load, do without the slot.
class CXMLSourcedContent : public CXMLContent {
 public:
  explicit CXMLSourcedContent(TextSource* source) : source(source) {
    if (source) source->AddRef();
  }
  ~CXMLSourcedContent() override {
    if (source) source->Release();
  }
  TextSource* GetSource() const override { return source; }

 private:
  TextSource* source;
};

}  // namespace

namespace {

template <class T>
CXMLNode* CloneBody(const CXMLTextBody& from) {
  T* copy = NewOrNull<T>();
  if (copy && !copy->Body().Assign(from.GetText(), from.GetLength())) {
    delete copy;
    return nullptr;
  }
  return copy;
}

}  // namespace

CXMLNode* CXMLContent::Clone() const {
  return CloneBody<CXMLContent>(body);
}
CXMLNode* CXMLComment::Clone() const {
  return CloneBody<CXMLComment>(body);
}
CXMLNode* CXMLDocType::Clone() const {
  return CloneBody<CXMLDocType>(body);
}
CXMLNode* CXMLCData::Clone() const {
  return CloneBody<CXMLCData>(body);
}

CXMLNode* CXMLPInstr::Clone() const {
  CXMLPInstr* copy = NewOrNull<CXMLPInstr>(target);
  if (copy && !copy->data.Assign(data.GetText(), data.GetLength())) {
    delete copy;
    return nullptr;
  }
  return copy;
}

// ---- Attributes

CXMLAttribute* CXMLAttribute::Create(const wchar_t* name, const wchar_t* value) {
  if (!IsValidName(name)) return nullptr;
  return NewOrNull<CXMLAttribute>(name, value ? value : L"");
}

namespace {

// The units of a view as a count the strings take; false for a view too long for them.
bool FitsCount(std::wstring_view text) {
  return text.size() < UINT32_MAX / sizeof(wchar_t);
}

}  // namespace

CXMLAttribute::CXMLAttribute(std::wstring_view newName, std::wstring_view newValue) {
  if (!FitsCount(newName) || !FitsCount(newValue) ||
      !name.Assign(newName.data(), static_cast<uint32_t>(newName.size())) ||
      !value.Assign(newValue.data(), static_cast<uint32_t>(newValue.size()))) {
    throw std::bad_alloc();
  }
}

bool CXMLAttribute::SetValue(std::wstring_view newValue) {
  return FitsCount(newValue) && value.Assign(newValue.data(), static_cast<uint32_t>(newValue.size()));
}

static_assert(alignof(CXMLElement) <= sizeof(void*) && alignof(CXMLContent) <= sizeof(void*) &&
                  alignof(CXMLPInstr) <= sizeof(void*) && alignof(CXMLAttribute) <= sizeof(void*),
              "arena objects are aligned to a pointer's size");

// ---- CXMLAttributeSet

static_assert(sizeof(CXMLAttributeSet) == sizeof(void*) && alignof(CXMLAttribute*) <= 8,
              "the array follows the 8-byte header without padding");

CXMLAttributeSet::~CXMLAttributeSet() {
  if (block && block->capacity) std::free(block);
}

uint32_t CXMLAttributeSet::LowerBound(std::wstring_view name) const {
  CXMLAttribute* const* items = begin();
  uint32_t low = 0, high = static_cast<uint32_t>(size());
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (std::wstring_view(items[middle]->GetName()) < name) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

CXMLAttribute* CXMLAttributeSet::Find(std::wstring_view name) const {
  const uint32_t at = LowerBound(name);
  return at < size() && Items()[at]->GetName() == name ? Items()[at] : nullptr;
}

bool CXMLAttributeSet::MakeRoom() {
  const uint32_t count = static_cast<uint32_t>(size());
  if (block && count < block->capacity) return true;
  // An array in the arena is never grown in place: the set moves to the heap at its first change.
  if (count > (UINT32_MAX / 2 - sizeof(Block)) / sizeof(CXMLAttribute*)) return false;
  const uint32_t room = count < 4 ? 4 : count * 2;
  auto grown = static_cast<Block*>(std::malloc(sizeof(Block) + room * sizeof(CXMLAttribute*)));
  if (!grown) return false;
  grown->count = count;
  grown->capacity = room;
  if (count) std::memcpy(reinterpret_cast<CXMLAttribute**>(grown + 1), Items(), count * sizeof(CXMLAttribute*));
  if (block && block->capacity) std::free(block);
  block = grown;
  return true;
}

CXMLAttributeSet::Result CXMLAttributeSet::Insert(CXMLAttribute* attribute) {
  const uint32_t at = LowerBound(attribute->GetName());
  if (at < size() && Items()[at]->GetName() == attribute->GetName()) return Result::kDuplicate;
  if (!MakeRoom()) return Result::kNoMemory;
  CXMLAttribute** items = Items();
  std::memmove(items + at + 1, items + at, (block->count - at) * sizeof(CXMLAttribute*));
  items[at] = attribute;
  ++block->count;
  return Result::kInserted;
}

CXMLAttribute* CXMLAttributeSet::Remove(std::wstring_view name) {
  const uint32_t at = LowerBound(name);
  if (at >= size() || Items()[at]->GetName() != name) return nullptr;
  CXMLAttribute* removed = Items()[at];
  if (!block->capacity) {
    // The arena's array is left as it is; the rest moves to the heap.
    if (!MakeRoom()) return nullptr;
  }
  CXMLAttribute** items = Items();
  std::memmove(items + at, items + at + 1, (block->count - at - 1) * sizeof(CXMLAttribute*));
  --block->count;
  return removed;
}

bool CXMLAttributeSet::AdoptIn(CXMLArena& arena, CXMLAttribute* const* sorted, uint32_t n) {
  if (n > (UINT32_MAX / 2 - sizeof(Block)) / sizeof(CXMLAttribute*)) return false;
  auto adopted = static_cast<Block*>(
      arena.Allocate(sizeof(Block) + n * sizeof(CXMLAttribute*), sizeof(void*)));
  if (!adopted) return false;
  adopted->count = n;
  adopted->capacity = 0;
  CXMLAttribute** items = reinterpret_cast<CXMLAttribute**>(adopted + 1);
  for (uint32_t i = 0; i < n; ++i) items[i] = sorted[i];
  if (block && block->capacity) std::free(block);
  block = adopted;
  return true;
}

// ---- CXMLElement

CXMLElement* CXMLElement::MakeNamed(const wchar_t* units, uint32_t n) {
  CXMLElement* element = NewOrNull<CXMLElement>();
  if (element && !element->name.Assign(units, n)) {
    delete element;
    return nullptr;
  }
  return element;
}

CXMLElement::~CXMLElement() {
  for (CXMLAttribute* attribute : attributes) delete attribute;
  // children's own destructor deletes the subtree without recursion.
}

CXMLElement* CXMLElement::Create(const wchar_t* name) {
  if (!IsValidName(name)) return nullptr;
  const size_t n = std::wcslen(name);
  return n < UINT32_MAX / sizeof(wchar_t) ? MakeNamed(name, static_cast<uint32_t>(n)) : nullptr;
}

CXMLNode* CXMLElement::Clone() const {
  // Pre-order walk of the source with the clone of the current source element beside it; elements are
  // copied by the walk itself, every other node by its own (flat) Clone.
  auto copyShallow = [](const CXMLElement& from) -> CXMLElement* {
    CXMLElement* copy = MakeNamed(from.name.data(), static_cast<uint32_t>(from.name.size()));
    if (!copy) return nullptr;
    for (const CXMLAttribute* attribute : from.attributes) {
      CXMLAttribute* a = NewOrNull<CXMLAttribute>(attribute->GetName().view(), attribute->GetValue().view());
      if (!a || !copy->InsertAttribute(a)) {
        delete copy;
        return nullptr;
      }
    }
    return copy;
  };
  CXMLElement* top = copyShallow(*this);
  if (!top) return nullptr;
  CXMLElement* target = top;  // the clone that receives copies of the current source level
  const CXMLNode* node = GetFirstChild();
  while (node) {
    CXMLNode* copy;
    const bool isElement = node->IsElement();
    copy = isElement ? copyShallow(*static_cast<const CXMLElement*>(node)) : node->Clone();
    if (!copy) {
      delete top;
      return nullptr;
    }
    target->children.Append(copy);
    if (isElement && static_cast<const CXMLElement*>(node)->GetFirstChild()) {
      target = static_cast<CXMLElement*>(copy);
      node = static_cast<const CXMLElement*>(node)->GetFirstChild();
      continue;
    }
    // Climb while the current level is exhausted; the clone climbs with the source.
    while (node != this && !node->GetNext()) {
      node = node->GetParent();
      if (node != this) target = target->GetParent();
    }
    node = node == this ? nullptr : node->GetNext();
  }
  return top;
}

CXMLElement* CXMLElement::FindChild(const wchar_t* childName, size_t index) const {
  RequireName(childName);
  for (CXMLNode* child : children) {
    if (child->IsElement() && static_cast<CXMLElement*>(child)->name == childName) {
      if (index == 0) return static_cast<CXMLElement*>(child);
      --index;
    }
  }
  return nullptr;
}

CXMLContent* CXMLElement::GetChildContent(size_t index) const {
  return NthChild<CXMLContent>(children, index, &CXMLNode::IsContent);
}
CXMLComment* CXMLElement::GetChildComment(size_t index) const {
  return NthChild<CXMLComment>(children, index, &CXMLNode::IsComment);
}
CXMLPInstr* CXMLElement::GetChildPInstr(size_t index) const {
  return NthChild<CXMLPInstr>(children, index, &CXMLNode::IsPInstr);
}
CXMLCData* CXMLElement::GetChildCData(size_t index) const {
  return NthChild<CXMLCData>(children, index, &CXMLNode::IsCData);
}

CXMLElement* CXMLElement::FindChildById(const wchar_t* id, size_t index) const {
  RequireName(id);
  for (CXMLNode* child : children) {
    if (child->IsElement() && static_cast<CXMLElement*>(child)->AttributeEquals(L"id", id)) {
      if (index == 0) return static_cast<CXMLElement*>(child);
      --index;
    }
  }
  return nullptr;
}

bool CXMLElement::FindDescendants(const wchar_t* wanted, std::vector<CXMLElement*>& found) const {
  RequireName(wanted);
  for (const CXMLNode* node = GetFirstChild(); node; node = NextInWalk(node, this, true)) {
    if (node->IsElement() && static_cast<const CXMLElement*>(node)->name == wanted) {
      found.push_back(const_cast<CXMLElement*>(static_cast<const CXMLElement*>(node)));
    }
  }
  return !found.empty();
}

bool CXMLElement::GetText(std::wstring& out, bool recursive) const {
  CollectText<std::wstring>(*this, out, recursive, &CXMLNode::IsContent, &AppendContent);
  return !IsEmpty(out);
}
bool CXMLElement::GetText(CBuffer& out, bool recursive) const {
  CollectText<CBuffer>(*this, out, recursive, &CXMLNode::IsContent, &AppendContent);
  return !IsEmpty(out);
}
bool CXMLElement::GetCDataText(std::wstring& out, bool recursive) const {
  CollectText<std::wstring>(*this, out, recursive, &CXMLNode::IsCData, &AppendCData);
  return !IsEmpty(out);
}
bool CXMLElement::GetCDataText(CBuffer& out, bool recursive) const {
  CollectText<CBuffer>(*this, out, recursive, &CXMLNode::IsCData, &AppendCData);
  return !IsEmpty(out);
}

bool CXMLElement::GetChildText(std::wstring& out, const wchar_t* childName, size_t index) const {
  const CXMLElement* child = FindChild(childName, index);
  return child && child->GetText(out, false);
}
bool CXMLElement::GetChildText(CBuffer& out, const wchar_t* childName, size_t index) const {
  const CXMLElement* child = FindChild(childName, index);
  return child && child->GetText(out, false);
}

CXMLAttribute* CXMLElement::FindAttribute(const wchar_t* attributeName) const {
  RequireName(attributeName);
  return attributes.Find(attributeName);
}

bool CXMLElement::GetAttribute(const wchar_t* attributeName, std::wstring& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  if (!a) return false;
  out = a->GetValue();
  return true;
}

bool CXMLElement::GetAttribute(const wchar_t* attributeName, int& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && ParseInt(a->GetValue().c_str(), out);
}

bool CXMLElement::GetAttribute(const wchar_t* attributeName, unsigned& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && ParseUnsigned(a->GetValue().c_str(), out);
}

bool CXMLElement::GetAttribute(const wchar_t* attributeName, bool& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  if (!a) return false;
  out = a->GetValue() == L"1";
  return true;
}

bool CXMLElement::GetAttribute(const wchar_t* attributeName, GUID& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && ParseGuid(a->GetValue().c_str(), out);
}

bool CXMLElement::GetAttributeColor(const wchar_t* attributeName, COLORREF& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && ParseColor(a->GetValue().c_str(), out);
}

bool CXMLElement::GetAttributeDate(const wchar_t* attributeName, double& out) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && ParseDate(a->GetValue().c_str(), out);
}

bool CXMLElement::AttributeEquals(const wchar_t* attributeName, const wchar_t* text) const {
  RequireName(text);
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && a->GetValue() == text;
}

bool CXMLElement::IsAttributeTrue(const wchar_t* attributeName) const {
  const CXMLAttribute* a = FindAttribute(attributeName);
  return a && a->GetValue() == L"1";
}

std::wstring CXMLElement::GetAttributeText(const wchar_t* attributeName) const {
  std::wstring value;
  GetAttribute(attributeName, value);
  return value;
}

int CXMLElement::GetAttributeInt(const wchar_t* attributeName) const {
  int value = 0;
  return GetAttribute(attributeName, value) ? value : 0;
}

unsigned CXMLElement::GetAttributeUnsigned(const wchar_t* attributeName) const {
  unsigned value = 0;
  return GetAttribute(attributeName, value) ? value : 0;
}

COLORREF CXMLElement::GetAttributeColor(const wchar_t* attributeName) const {
  COLORREF value = 0;
  return GetAttributeColor(attributeName, value) ? value : 0;
}

double CXMLElement::GetAttributeDate(const wchar_t* attributeName) const {
  double value = 0.0;
  return GetAttributeDate(attributeName, value) ? value : 0.0;
}

GUID CXMLElement::GetAttributeGuid(const wchar_t* attributeName) const {
  GUID value = GUID_NULL;
  return GetAttribute(attributeName, value) ? value : GUID_NULL;
}

CXMLElement::InsertResult CXMLElement::TryInsertAttribute(CXMLAttribute* attribute) {
  const CXMLAttributeSet::Result inserted = attributes.Insert(attribute);
  if (inserted == CXMLAttributeSet::Result::kInserted) return InsertResult::kInserted;
  delete attribute;
  return inserted == CXMLAttributeSet::Result::kDuplicate ? InsertResult::kDuplicate
                                                          : InsertResult::kNoMemory;
}

bool CXMLElement::InsertAttribute(CXMLAttribute* attribute) {
  return TryInsertAttribute(attribute) == InsertResult::kInserted;
}

bool CXMLElement::ReplaceAttribute(const wchar_t* attributeName, const std::wstring* value) {
  RequireName(attributeName);
  if (!IsValidName(attributeName)) return false;
  const CXMLAttribute* old = attributes.Find(attributeName);
  const bool existed = old != nullptr;
  if (existed) {
    if (value && old->GetValue() == *value) return false;
    CXMLAttribute* removed = attributes.Remove(attributeName);
    if (!removed) return false;  // memory ran out: the old attribute stays
    delete removed;
  }
  if (!value) return existed;
  CXMLAttribute* a = NewOrNull<CXMLAttribute>(attributeName, std::wstring_view(*value));
  return a && InsertAttribute(a);
}

bool CXMLElement::SetAttribute(const wchar_t* attributeName, const wchar_t* value) {
  if (!value || !*value) return ReplaceAttribute(attributeName, nullptr);
  std::wstring text(value);
  return ReplaceAttribute(attributeName, &text);
}

bool CXMLElement::SetAttributeInt(const wchar_t* attributeName, int value, const wchar_t* format) {
  if (value == 0) return ReplaceAttribute(attributeName, nullptr);
  CBuffer text;
  if (!text.AppendFormat(format ? format : L"%d", value)) return false;
  std::wstring s = TextOf(text);
  return ReplaceAttribute(attributeName, &s);
}

bool CXMLElement::SetAttributeUnsigned(const wchar_t* attributeName, unsigned value, const wchar_t* format) {
  if (value == 0) return ReplaceAttribute(attributeName, nullptr);
  CBuffer text;
  if (!text.AppendFormat(format ? format : L"%u", value)) return false;
  std::wstring s = TextOf(text);
  return ReplaceAttribute(attributeName, &s);
}

bool CXMLElement::SetAttributeBool(const wchar_t* attributeName, bool value) {
  static const std::wstring one(L"1");
  return ReplaceAttribute(attributeName, value ? &one : nullptr);
}

bool CXMLElement::SetAttributeColor(const wchar_t* attributeName, COLORREF value) {
  if (value == 0) return ReplaceAttribute(attributeName, nullptr);
  std::wstring s = FormatColor(value);
  return ReplaceAttribute(attributeName, &s);
}

bool CXMLElement::SetAttributeDate(const wchar_t* attributeName, double dayNumber) {
  if (dayNumber == 0.0) return ReplaceAttribute(attributeName, nullptr);
  std::wstring s;
  if (!FormatDate(dayNumber, s)) return false;
  return ReplaceAttribute(attributeName, &s);
}

bool CXMLElement::SetAttributeGuid(const wchar_t* attributeName, const GUID& value) {
  if (IsEqualGUID(value, GUID_NULL)) return ReplaceAttribute(attributeName, nullptr);
  std::wstring s = FormatGuid(value, true);
  return ReplaceAttribute(attributeName, &s);
}

bool CXMLElement::AddAttribute(const wchar_t* attributeName, const wchar_t* value) {
  RequireName(attributeName);
  CXMLAttribute* a = CXMLAttribute::Create(attributeName, value);
  return a && InsertAttribute(a);
}

bool CXMLElement::AddAttributeFormat(const wchar_t* attributeName, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring value;
  bool formatted = FormatToString(value, format, args);
  va_end(args);
  return formatted && AddAttribute(attributeName, value.c_str());
}

bool CXMLElement::RemoveAttribute(const wchar_t* attributeName) {
  RequireName(attributeName);
  CXMLAttribute* removed = attributes.Remove(attributeName);
  delete removed;
  return removed != nullptr;
}

bool CXMLElement::Contains(const CXMLNode* node) const {
  for (const CXMLElement* e = this; e; e = e->GetParent()) {
    if (e == node) return true;
  }
  return false;
}

bool CXMLElement::AddChild(CXMLNode* node) {
  if (!node) return false;
  // Only an element with children can hold this one; a childless node is checked in constant time, so
  // building a deep tree one AddChild at a time stays linear.
  if (node == this) return false;
  if (node->IsElement() && static_cast<CXMLElement*>(node)->GetFirstChild() && Contains(node)) return false;
  children.Append(node);
  return true;
}

CXMLElement* CXMLElement::AddElement(const wchar_t* childName) {
  CXMLElement* child = Create(childName);
  if (child) children.Append(child);
  return child;
}

bool AppendTextToList(CXMLNodeList& list, const wchar_t* units, uint32_t n) {
  CXMLNode* last = list.Last();
  // A node with a source writes the source after its own text; text appended to it would come out
  // before the source's text, so new text after such a node gets a node of its own.
  if (last && last->IsContent() && !static_cast<CXMLContent*>(last)->GetSource()) {
    return static_cast<CXMLContent*>(last)->Body().Append(units, n);
  }
  CXMLContent* text = NewOrNull<CXMLContent>();
  if (!text || !text->Body().Assign(units, n)) {
    delete text;
    return false;
  }
  list.Append(text);
  return true;
}

bool CXMLElement::AddText(const wchar_t* units, uint32_t n) {
  return AppendTextToList(children, units, n);
}

bool CXMLElement::AddText(const wchar_t* text) {
  if (!text) return false;
  size_t n = std::wcslen(text);
  return n <= UINT32_MAX / sizeof(wchar_t) && AddText(text, static_cast<uint32_t>(n));
}

bool CXMLElement::AddTextFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text;
  bool formatted = FormatToString(text, format, args);
  va_end(args);
  return formatted && AddText(text.c_str(), static_cast<uint32_t>(text.size()));
}

namespace {

template <class T>
T* AddBodyNode(CXMLNodeList& list, const wchar_t* text) {
  T* node = NewOrNull<T>();
  if (!node) return nullptr;
  if (text && !node->Body().Assign(text, static_cast<uint32_t>(std::wcslen(text)))) {
    delete node;
    return nullptr;
  }
  list.Append(node);
  return node;
}

template <class T>
T* AddBodyNodeV(CXMLNodeList& list, const wchar_t* format, va_list args) {
  std::wstring text;
  if (!FormatToString(text, format, args)) return nullptr;
  return AddBodyNode<T>(list, text.c_str());
}

}  // namespace

CXMLComment* CXMLElement::AddComment(const wchar_t* text) {
  return AddBodyNode<CXMLComment>(children, text);
}
CXMLDocType* CXMLElement::AddDocType(const wchar_t* text) {
  return AddBodyNode<CXMLDocType>(children, text);
}
CXMLCData* CXMLElement::AddCData(const wchar_t* text) {
  return AddBodyNode<CXMLCData>(children, text);
}

CXMLComment* CXMLElement::AddCommentFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  CXMLComment* node = AddBodyNodeV<CXMLComment>(children, format, args);
  va_end(args);
  return node;
}

CXMLDocType* CXMLElement::AddDocTypeFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  CXMLDocType* node = AddBodyNodeV<CXMLDocType>(children, format, args);
  va_end(args);
  return node;
}

CXMLCData* CXMLElement::AddCDataFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  CXMLCData* node = AddBodyNodeV<CXMLCData>(children, format, args);
  va_end(args);
  return node;
}

CXMLPInstr* CXMLElement::AddPInstr(const wchar_t* target, const wchar_t* data) {
  RequireName(target);
  CXMLPInstr* node = NewOrNull<CXMLPInstr>(target);
  if (!node) return nullptr;
  if (data && !node->Body().Assign(data, static_cast<uint32_t>(std::wcslen(data)))) {
    delete node;
    return nullptr;
  }
  children.Append(node);
  return node;
}

CXMLPInstr* CXMLElement::AddPInstrFormat(const wchar_t* target, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring data;
  bool formatted = FormatToString(data, format, args);
  va_end(args);
  return formatted ? AddPInstr(target, data.c_str()) : nullptr;
}

CXMLContent* CXMLElement::AddTextSource(TextSource* source) {
  CXMLContent* node = NewOrNull<CXMLSourcedContent>(source);
  if (node) children.Append(node);
  return node;
}

void CXMLElement::Clear() {
  children.Clear();
}

void CXMLElement::CopyChildren(const CXMLElement& other, bool clearFirst) {
  // Cloned into a list of their own first: other may be this element (its list would grow while it is
  // read) or lie below it (clearing first would delete it).
  CXMLNodeList copies(nullptr);
  for (const CXMLNode* child : other.children) {
    if (CXMLNode* copy = child->Clone()) copies.Append(copy);
  }
  if (clearFirst) Clear();
  children.TakeAll(copies);
}

bool CXMLElement::MoveChildren(CXMLElement& other, bool clearFirst) {
  if (&other == this) {
    if (clearFirst) Clear();
    return true;
  }
  if (Contains(&other)) return false;
  // Taken out of other before clearing, in case other lies below this element.
  CXMLNodeList moving(nullptr);
  moving.TakeAll(other.children);
  if (clearFirst) Clear();
  children.TakeAll(moving);
  return true;
}

void CXMLElement::MoveChildrenToEnd(const wchar_t* const* names, size_t count) {
  if (!names || !children.First() || children.First() == children.Last()) return;
  CXMLNodeList moved(nullptr);
  for (size_t i = 0; i < count && names[i]; ++i) {
    CXMLNode* previous = nullptr;
    CXMLNode* node = children.First();
    while (node) {
      CXMLNode* following = node->GetNext();
      if (node->IsElement() && static_cast<CXMLElement*>(node)->name == names[i]) {
        children.Unlink(node, previous);
        moved.Append(node);
      } else {
        previous = node;
      }
      node = following;
    }
  }
  children.TakeAll(moved);
}
