#include "xml/XmlDocument.h"

#include <new>
#include <utility>

const wchar_t* XMLErrorName(int code) {
  static const wchar_t* const kNames[] = {
      L"NONE",           L"NO_MEMORY",      L"INVALID_REF",     L"INVALID_DOC",
      L"INVALID_ROOT",   L"INCOMPLETE_DOC", L"UNEXPECTED_CHAR", L"DUPLICATE_ATTR",
      L"UNKNOWN_ERROR",  L"CANCELLED",      L"CANT_OPEN_FILE",  L"CANT_SEEK_FILE",
      L"CANT_SIZE_FILE", L"CANT_READ_FILE", L"CANT_WRITE_FILE", L"INVALID_UTF8_DATA"};
  if (code < 0 || code >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) return L"<unknown>";
  return kNames[code];
}

CXMLDocument::CXMLDocument(const CXMLDocument& other) {
  CopyFrom(other);
}

CXMLDocument& CXMLDocument::operator=(const CXMLDocument& other) {
  if (this != &other) {
    DeleteNodes();
    CopyFrom(other);
  }
  return *this;
}

void CXMLDocument::CopyFrom(const CXMLDocument& other) {
  for (const CXMLNode* node : other.nodes) {
    CXMLNode* copy = node->Clone();
    if (!copy) throw std::bad_alloc();
    nodes.Append(copy);
  }
  if (other.root) {
    CXMLNode* copy = other.root->Clone();
    if (!copy) throw std::bad_alloc();
    root = static_cast<CXMLElement*>(copy);
  }
  error = other.error;
  errorText = other.errorText;
  line = other.line;
}

void CXMLDocument::DeleteNodes() {
  nodes.Clear();
  delete root;
  root = nullptr;
}

void CXMLDocument::Clear() {
  DeleteNodes();
  error = XML_ERROR_NONE;
  errorText.clear();
  line = 1;
}

void CXMLDocument::SetRoot(CXMLElement* element) {
  if (element == root) return;  // deleting it first would leave the document owning a freed element
  delete root;
  root = element;
}

bool CXMLDocument::SetRoot(const wchar_t* name) {
  SetRoot(static_cast<CXMLElement*>(nullptr));
  root = CXMLElement::Create(name);
  return root != nullptr;
}

void CXMLDocument::SetError(XMLError code, std::wstring text) {
  error = code;
  errorText = std::move(text);
}
