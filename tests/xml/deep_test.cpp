// A document nested a million elements deep must load, be navigated, written, cloned and destroyed
// without exhausting the stack: every walk over a tree is a loop, never a recursion per level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/XmlDocument.h"
#include "xml/XmlText.h"

namespace {

constexpr size_t kDepth = 1000000;

std::wstring DeepText(const wchar_t* middle) {
  std::wstring text;
  text.reserve(kDepth * 7 + 16);
  for (size_t i = 0; i < kDepth; ++i) text += L"<a>";
  text += middle;
  for (size_t i = 0; i < kDepth; ++i) text += L"</a>";
  return text;
}

TEST(XmlDeep, MillionLevelsLoadWalkWriteCloneAndDestroy) {
  const std::wstring text = DeepText(L"x&amp;<b/>");
  CXMLDocument* document = new CXMLDocument();
  ASSERT_TRUE(document->LoadFromString(text)) << XMLErrorName(document->GetError());

  size_t depth = 1;
  const CXMLElement* e = document->GetRoot();
  while (const CXMLElement* child = e->FindChild(L"a")) {
    e = child;
    ++depth;
  }
  EXPECT_EQ(kDepth, depth);
  EXPECT_NE(nullptr, e->FindChild(L"b"));

  std::wstring all;
  EXPECT_TRUE(document->GetRoot()->GetText(all, true));
  EXPECT_EQ(L"x&", all);
  std::vector<CXMLElement*> found;
  EXPECT_TRUE(document->GetRoot()->FindDescendants(L"a", found));
  EXPECT_EQ(kDepth - 1, found.size());

  CBuffer written;
  EXPECT_FALSE(document->GetRoot()->WriteToBuffer(written, 0, 0));
  EXPECT_TRUE(TextOf(written) == DeepText(L"x&amp;<b/>"));

  CXMLNode* clone = document->GetRoot()->Clone();
  ASSERT_NE(nullptr, clone);
  CBuffer cloneWritten;
  clone->WriteToBuffer(cloneWritten, 0, 0);
  EXPECT_TRUE(TextOf(cloneWritten) == TextOf(written));
  delete clone;

  CXMLDocument copy(*document);
  EXPECT_NE(nullptr, copy.GetRoot());
  delete document;
}

TEST(XmlDeep, UnclosedMillionLevelsReportEveryOpenElement) {
  std::string bytes;
  for (size_t i = 0; i < kDepth; ++i) bytes += "<a>";
  CXMLDocument document;
  EXPECT_FALSE(document.LoadFromBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(XML_ERROR_INCOMPLETE_DOC, document.GetError());
  EXPECT_EQ(kDepth * 3 - 1, document.GetErrorText().size());  // "/a /a ... /a"
}

TEST(XmlDeep, BuiltChainIsDestroyedWithoutRecursion) {
  CXMLElement* top = CXMLElement::Create(L"t");
  CXMLElement* e = top;
  for (size_t i = 0; i < kDepth; ++i) {
    e = e->AddElement(L"n");
    e->AddText(L"z");
  }
  std::wstring text;
  EXPECT_TRUE(top->GetText(text, true));
  EXPECT_EQ(kDepth, text.size());
  CXMLElement* other = CXMLElement::Create(L"o");
  other->CopyChildren(*top, false);
  EXPECT_TRUE(top->MoveChildren(*other, true));
  delete other;
  delete top;
}

}  // namespace
