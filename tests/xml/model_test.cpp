#include <gtest/gtest.h>

#include <comdef.h>

#include <string>
#include <vector>

#include "XmlTestUtil.h"
#include "xml/XmlDocument.h"
#include "xml/XmlText.h"
#include "xml/XmlValue.h"

using xmltest::Dump;
using xmltest::TextOfBuffer;

namespace {

CXMLDocument Load(const wchar_t* text) {
  CXMLDocument document;
  EXPECT_TRUE(document.LoadFromString(std::wstring(text))) << xmltest::Narrow(text);
  return document;
}

TEST(XmlModel, ChildNavigation) {
  CXMLDocument document = Load(
      L"<u><release n='1'/><x id='k'/>t1<!--c1--><release n='2'/><?p1 d?>t2<![CDATA[d1]]><x id='k'/>"
      L"<!--c2--><![CDATA[d2]]><?p2 e?></u>");
  const CXMLElement* root = document.GetRoot();
  EXPECT_EQ(L"2", root->FindChild(L"release", 1)->GetAttributeText(L"n"));  // the element x is not counted
  EXPECT_EQ(nullptr, root->FindChild(L"release", 2));
  EXPECT_EQ(nullptr, root->FindChild(L"Release"));
  EXPECT_EQ(L"t2", std::wstring(root->GetChildContent(1)->GetText()));
  EXPECT_EQ(nullptr, root->GetChildContent(2));
  EXPECT_EQ(L"c2", std::wstring(root->GetChildComment(1)->GetText()));
  EXPECT_EQ(L"p2", root->GetChildPInstr(1)->GetName());
  EXPECT_EQ(L"d2", std::wstring(root->GetChildCData(1)->GetText()));
  EXPECT_EQ(root->FindChild(L"x", 1), root->FindChildById(L"k", 1));
  EXPECT_EQ(nullptr, root->FindChildById(L"K"));
  EXPECT_EQ(12u, root->Children().Count());
}

TEST(XmlModel, DescendantsInDocumentOrder) {
  CXMLDocument document = Load(L"<r><a n='1'><a n='2'><b/><a n='3'/></a></a><c><a n='4'/></c></r>");
  std::vector<CXMLElement*> found;
  EXPECT_TRUE(document.GetRoot()->FindDescendants(L"a", found));
  std::wstring order;
  for (CXMLElement* e : found) order += e->GetAttributeText(L"n");
  EXPECT_EQ(L"1234", order);  // a match comes before its own descendants
  found.clear();
  EXPECT_FALSE(document.GetRoot()->FindDescendants(L"r", found));  // the element itself is not a descendant
}

TEST(XmlModel, CollectedText) {
  CXMLDocument document = Load(L"<a>x<b>y<![CDATA[Q]]><c>w</c></b><!--no-->z<![CDATA[P]]></a>");
  const CXMLElement* a = document.GetRoot();
  struct Case {
    bool cdata;
    bool recursive;
    const wchar_t* before;  // already in the output: it counts for the result
    const wchar_t* expected;
  } cases[] = {{false, false, L"", L"xz"},
               {false, true, L"", L"xywz"},
               {true, false, L"", L"P"},
               {true, true, L">", L">QP"}};
  for (const Case& c : cases) {
    std::wstring text = c.before;
    CBuffer buffer;
    AppendString(buffer, c.before);
    EXPECT_TRUE(c.cdata ? a->GetCDataText(text, c.recursive) : a->GetText(text, c.recursive));
    EXPECT_TRUE(c.cdata ? a->GetCDataText(buffer, c.recursive) : a->GetText(buffer, c.recursive));
    EXPECT_EQ(c.expected, text);
    EXPECT_EQ(c.expected, TextOfBuffer(buffer));
  }
  std::wstring out;
  EXPECT_FALSE(a->FindChild(L"b")->FindChild(L"c")->GetCDataText(out, true));
  EXPECT_TRUE(a->GetChildText(out, L"b"));
  EXPECT_EQ(L"y", out);
  EXPECT_FALSE(a->GetChildText(out, L"b", 1));
}

TEST(XmlModel, TypedAttributeReads) {
  CXMLDocument document = Load(
      L"<a empty='' n='-42' trail='12x' two='2' color='#ff8000' date='2000/01/01 12:00:00' "
      L"guid='{6B29FC40-CA47-1067-B31D-00DD010662DA}'/>");
  const CXMLElement* a = document.GetRoot();
  int i = 7;
  EXPECT_TRUE(a->GetAttribute(L"empty", i));  // an empty value converts to 0
  EXPECT_EQ(0, i);
  i = 7;
  EXPECT_FALSE(a->GetAttribute(L"trail", i));
  EXPECT_FALSE(a->GetAttribute(L"missing", i));
  EXPECT_EQ(7, i);  // untouched by failures
  bool b = true;
  EXPECT_TRUE(a->GetAttribute(L"two", b));  // any value but "1" reads as false, successfully
  EXPECT_FALSE(b);
  EXPECT_FALSE(a->IsAttributeTrue(L"two"));
  EXPECT_EQ(-42, a->GetAttributeInt(L"n"));
  EXPECT_EQ(RGB(0xFF, 0x80, 0x00), a->GetAttributeColor(L"color"));
  EXPECT_DOUBLE_EQ(730120.5, a->GetAttributeDate(L"date"));
  EXPECT_EQ(0x6B29FC40u, a->GetAttributeGuid(L"guid").Data1);
  EXPECT_TRUE(a->AttributeEquals(L"n", L"-42"));
  EXPECT_FALSE(a->AttributeEquals(L"n", L"-42 "));
  // The direct forms give empty values on failure.
  EXPECT_EQ(0, a->GetAttributeInt(L"trail"));
  EXPECT_EQ(L"", a->GetAttributeText(L"missing"));
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, a->GetAttributeGuid(L"n")));
}

TEST(XmlModel, NullNamesAreProgrammingErrors) {
  CXMLDocument document = Load(L"<a x='1'/>");
  const CXMLElement* a = document.GetRoot();
  try {
    a->NameEquals(nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(E_FAIL, e.Error());
  }
  EXPECT_THROW(a->FindAttribute(nullptr), _com_error);
  EXPECT_THROW(a->FindChild(nullptr), _com_error);
}

TEST(XmlModel, AttributeSetters) {
  static const GUID guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  static double day = 0;
  ASSERT_TRUE(ParseDate(L"2012/01/05 10:20:30", day));
  // Applied in order to one element; each step's result and the attributes after it.
  struct Step {
    bool (*call)(CXMLElement&);
    bool changed;
    const char* after;
  } steps[] = {
      {[](CXMLElement& e) { return e.SetAttribute(L"t", L"v"); }, true, "E:e{t=v}"},
      {[](CXMLElement& e) { return e.SetAttribute(L"t", L"v"); }, false, "E:e{t=v}"},  // same text
      {[](CXMLElement& e) { return e.SetAttribute(L"t", L"w"); }, true, "E:e{t=w}"},
      {[](CXMLElement& e) { return e.SetAttribute(L"t", L""); }, true, "E:e"},  // empty removes
      {[](CXMLElement& e) { return e.SetAttribute(L"t", nullptr); }, false, "E:e"},
      {[](CXMLElement& e) { return e.SetAttribute(L"1t", L"v"); }, false, "E:e"},  // not a name
      {[](CXMLElement& e) { return e.SetAttributeInt(L"i", 255, L"%04x"); }, true, "E:e{i=00ff}"},
      {[](CXMLElement& e) { return e.SetAttributeInt(L"i", 0); }, true, "E:e"},
      {[](CXMLElement& e) { return e.SetAttributeUnsigned(L"u", 4000000000u); }, true, "E:e{u=4000000000}"},
      {[](CXMLElement& e) { return e.SetAttributeBool(L"b", true); }, true, "E:e{b=1,u=4000000000}"},
      {[](CXMLElement& e) { return e.SetAttributeBool(L"b", false); }, true, "E:e{u=4000000000}"},
      {[](CXMLElement& e) { return e.SetAttributeColor(L"c", RGB(0, 0xFF, 0)); }, true,
       "E:e{c=#00ff00,u=4000000000}"},
      {[](CXMLElement& e) { return e.SetAttributeColor(L"u", 0); }, true, "E:e{c=#00ff00}"},
      {[](CXMLElement& e) { return e.SetAttributeDate(L"d", day); }, true,
       "E:e{c=#00ff00,d=2012/01/05 10:20:30}"},
      {[](CXMLElement& e) { return e.SetAttributeDate(L"d", 0.0); }, true, "E:e{c=#00ff00}"},
      {[](CXMLElement& e) { return e.SetAttributeGuid(L"g", guid); }, true,
       "E:e{c=#00ff00,g={01020304-0506-0708-090A-0B0C0D0E0F10}}"},
      {[](CXMLElement& e) { return e.SetAttributeGuid(L"g", GUID_NULL); }, true, "E:e{c=#00ff00}"},
      {[](CXMLElement& e) { return e.AddAttribute(L"c", L"2"); }, false, "E:e{c=#00ff00}"},   // exists
      {[](CXMLElement& e) { return e.AddAttribute(L"-a", L"2"); }, false, "E:e{c=#00ff00}"},  // not a name
      {[](CXMLElement& e) { return e.AddAttributeFormat(L"f", L"%d-%s", 7, L"x"); }, true,
       "E:e{c=#00ff00,f=7-x}"},
      {[](CXMLElement& e) { return e.InsertAttribute(new CXMLAttribute(L"f", L"3")); }, false,
       "E:e{c=#00ff00,f=7-x}"},  // deleted, neither leaked nor inserted
      {[](CXMLElement& e) { return e.RemoveAttribute(L"c"); }, true, "E:e{f=7-x}"},
      {[](CXMLElement& e) { return e.RemoveAttribute(L"c"); }, false, "E:e{f=7-x}"},
  };
  CXMLElement* e = CXMLElement::Create(L"e");
  ASSERT_NE(nullptr, e);
  for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); ++i) {
    EXPECT_EQ(steps[i].changed, steps[i].call(*e)) << "step " << i;
    EXPECT_EQ(steps[i].after, Dump(*e)) << "step " << i;
  }
  delete e;
}

TEST(XmlModel, NameValidity) {
  struct Case {
    const wchar_t* name;
    bool valid;
  } cases[] = {
      {L"a", true},
      {L"_x:y-1.2", true},
      {L":", true},
      {L"\x00E9t\x00E9", true},
      {L"\x4E00\x3005", true},
      {L"a\x0300", true},
      {L"", false},
      {L"1a", false},
      {L"-a", false},
      {L"a b", false},
      {L"\x0300", false},
      {L"a\x0660", false},  // Arabic digit
      {L"\xAC00\xD7A3", true},
      {L"\xD7A4", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.valid, IsValidName(c.name)) << xmltest::Narrow(c.name);
    CXMLElement* e = CXMLElement::Create(c.name);
    EXPECT_EQ(c.valid, e != nullptr);
    delete e;
  }
  EXPECT_FALSE(IsValidName(nullptr));
}

TEST(XmlModel, ChildEditing) {
  CXMLElement* r = CXMLElement::Create(L"r");
  EXPECT_EQ(nullptr, r->AddElement(L"1bad"));
  r->AddText(L"a");
  r->AddText(L"b");  // joins the last text node
  r->AddComment(L"c");
  r->AddTextFormat(L"%d", 5);
  r->AddPInstrFormat(L"q", L"v=%u", 3u);
  r->AddCDataFormat(L"%s!", L"d");
  r->AddDocType(L"x");
  CXMLElement* child = r->AddElement(L"c");
  EXPECT_EQ("E:r[T\"ab\" C\"c\" T\"5\" P:q\"v=3\" D\"d!\" Y\"x\" E:c]", Dump(*r));
  // A tree must never contain itself.
  EXPECT_FALSE(child->AddChild(r));
  EXPECT_FALSE(r->AddChild(r));
  r->Clear();
  EXPECT_EQ("E:r", Dump(*r));
  delete r;
}

TEST(XmlModel, EditsAfterALoadChangeOnlyTheirNode) {
  // A load stores equal names and equal short texts once: every edit must still reach one node only.
  CXMLDocument document = Load(L"<r><a k='v'>x</a><a k='v'>x</a></r>");
  CXMLElement* first = document.GetRoot()->FindChild(L"a");
  CXMLElement* second = document.GetRoot()->FindChild(L"a", 1);
  ASSERT_TRUE(first->MutableName().Assign(L"b", 1));
  EXPECT_TRUE(first->SetAttribute(L"k", L"w"));
  EXPECT_TRUE(first->AddAttribute(L"m", L"1"));
  EXPECT_TRUE(first->AddText(L"y"));
  EXPECT_EQ("E:r[E:b{k=w,m=1}[T\"xy\"] E:a{k=v}[T\"x\"]]", Dump(*document.GetRoot()));
  // A node taken out keeps what it shares with the load after its document is cleared.
  document.GetRoot()->MutableChildren().Unlink(second, first);
  document.Clear();
  EXPECT_TRUE(second->RemoveAttribute(L"k"));
  EXPECT_EQ("E:a[T\"x\"]", Dump(*second));
  delete second;
}

TEST(XmlModel, CopyAndMoveChildren) {
  CXMLDocument document = Load(L"<r><a><x/>1</a><b><y/></b></r>");
  CXMLElement* r = document.GetRoot();
  CXMLElement* a = r->FindChild(L"a");
  CXMLElement* b = r->FindChild(L"b");
  a->CopyChildren(*a, false);  // reads the list it appends to: copies each child once
  EXPECT_EQ("E:a[E:x T\"1\" E:x T\"1\"]", Dump(*a));
  b->CopyChildren(*r, true);  // from an ancestor
  EXPECT_EQ("E:b[E:a[E:x T\"1\" E:x T\"1\"] E:b[E:y]]", Dump(*b));
  EXPECT_FALSE(a->MoveChildren(*r, false));  // r holds a: refused, nothing moved
  EXPECT_EQ(2u, r->Children().Count());
  CXMLElement* inner = b->FindChild(L"b");
  EXPECT_TRUE(r->MoveChildren(*inner, true));  // from a descendant that clearing deletes
  EXPECT_EQ("E:r[E:y]", Dump(*r));
  EXPECT_EQ(r, r->FindChild(L"y")->GetParent());

  // Loaded nodes moved into another document outlive their own, and stay editable.
  CXMLDocument other = Load(L"<o/>");
  {
    CXMLDocument source = Load(L"<s><p k='v' j='w'>text</p><q/></s>");
    EXPECT_TRUE(other.GetRoot()->MoveChildren(*source.GetRoot(), false));
    source.LoadFromString(std::wstring(L"<t u='long value of the second load'>more text</t>"));
  }
  CXMLElement* p = other.GetRoot()->FindChild(L"p");
  EXPECT_TRUE(p->SetAttribute(L"a", L"1"));
  EXPECT_TRUE(p->RemoveAttribute(L"k"));
  EXPECT_TRUE(p->AddText(L"+"));
  EXPECT_EQ("E:o[E:p{a=1,j=w}[T\"text+\"] E:q]", Dump(*other.GetRoot()));
}

TEST(XmlModel, MoveChildrenToEndGroupsByName) {
  CXMLDocument document = Load(L"<r><a n='1'/><b n='2'/>t<c n='3'/><a n='4'/><b n='5'/><d n='6'/></r>");
  const wchar_t* names[] = {L"b", L"a", nullptr, L"d"};
  document.GetRoot()->MoveChildrenToEnd(names, 4);  // stops at the null entry: d stays
  std::wstring order;
  for (const CXMLNode* n : document.GetRoot()->Children()) {
    order += n->IsElement() ? static_cast<const CXMLElement*>(n)->GetAttributeText(L"n") : L"t";
  }
  EXPECT_EQ(L"t362514", order);
}

TEST(XmlModel, CloneIsDeepAndIndependent) {
  CXMLDocument document =
      Load(L"<?pi d?><r a='1' b='&lt;'><x>t<![CDATA[c]]><y z='2'><!--k--></y></x><?q?></r>");
  CXMLNode* clone = document.GetRoot()->Clone();
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(Dump(*document.GetRoot()), Dump(*clone));
  static_cast<CXMLElement*>(clone)->FindChild(L"x")->Clear();
  EXPECT_NE(Dump(*document.GetRoot()), Dump(*clone));
  delete clone;
  CXMLDocument failed;
  failed.LoadFromString(std::wstring(L"<a><b>"));
  CXMLDocument copy(failed);
  copy = failed;
  EXPECT_EQ(Dump(failed), Dump(copy));
  EXPECT_EQ(XML_ERROR_INCOMPLETE_DOC, copy.GetError());
  EXPECT_EQ(L"/a /b", copy.GetErrorText());
}

TEST(XmlModel, DocumentRoot) {
  CXMLDocument document;
  EXPECT_TRUE(document.SetRoot(L"a"));
  document.SetRoot(document.GetRoot());  // setting the root it already has keeps it alive
  EXPECT_TRUE(document.IsRoot(L"a"));
  EXPECT_FALSE(document.SetRoot(L"not valid"));
  EXPECT_EQ(nullptr, document.GetRoot());
  document.LoadFromString(std::wstring(L"<a>\n</b>"));
  document.Clear();
  EXPECT_EQ(XML_ERROR_NONE, document.GetError());
  EXPECT_EQ(1, document.GetLine());
  EXPECT_EQ("|", Dump(document));
}

TEST(XmlModel, ErrorNames) {
  EXPECT_STREQ(L"NONE", XMLErrorName(0));
  EXPECT_STREQ(L"UNEXPECTED_CHAR", XMLErrorName(XML_ERROR_UNEXPECTED_CHAR));
  EXPECT_STREQ(L"INVALID_UTF8_DATA", XMLErrorName(15));
  EXPECT_STREQ(L"<unknown>", XMLErrorName(16));
  EXPECT_STREQ(L"<unknown>", XMLErrorName(-1));
}

TEST(XmlText, ReplaceAll) {
  struct Case {
    const wchar_t* text;
    const wchar_t* pattern;
    const wchar_t* replacement;
    uint32_t count;
    const wchar_t* expected;
  } cases[] = {
      {L"a--b--", L"--", L"..", 2, L"a..b.."},
      {L"aaa", L"aa", L"b", 1, L"ba"},     // left to right, no overlap
      {L"xyx", L"x", L"xx", 2, L"xxyxx"},  // replacements are not searched again
      {L"abcabc", L"b", L"LONGER", 2, L"aLONGERcaLONGERc"},
      {L"abcabc", L"bc", nullptr, 2, L"aa"},  // a null replacement deletes
      {L"abc", L"", L"x", 0, L"abc"},
      {L"abc", nullptr, L"x", 0, L"abc"},
      {L"ab", L"abc", L"x", 0, L"ab"},  // text shorter than the pattern
      {L"", L"a", L"b", 0, L""},
      {L"]]&gt;]]&gt;", L"]]&gt;", L"]]>", 2, L"]]>]]>"},
  };
  for (const Case& c : cases) {
    CBuffer b;
    AppendString(b, c.text);
    EXPECT_EQ(c.count, ReplaceAll(b, c.pattern, c.replacement)) << xmltest::Narrow(c.text);
    EXPECT_EQ(c.expected, TextOfBuffer(b));
    EXPECT_EQ(0, b.GetText()[TextLength(b)]);
  }
  CBuffer b;
  EXPECT_TRUE(AppendString(b, nullptr));
  EXPECT_TRUE(AppendCounted(b, L"cd\0ef", 5));  // stops before the 0
  EXPECT_TRUE(AppendCounted(b, L"ghij", 2));
  EXPECT_EQ(L"cdgh", TextOfBuffer(b));
}

}  // namespace
