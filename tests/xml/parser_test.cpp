#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "XmlTestUtil.h"
#include "xml/Utf8.h"
#include "xml/XmlDocument.h"

using xmltest::Dump;
using xmltest::Narrow;

namespace {

struct LoadCase {
  const wchar_t* input;
  unsigned flags;
  bool ok;
  XMLError error;
  const wchar_t* errorText;
  const char* tree;  // Dump of the document after the load, partial trees included
};

void RunLoadCases(const LoadCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const LoadCase& c = cases[i];
    CXMLDocument document;
    bool ok = document.LoadFromString(std::wstring(c.input), c.flags);
    SCOPED_TRACE(Narrow(c.input));
    EXPECT_EQ(c.ok, ok);
    EXPECT_EQ(c.error, document.GetError()) << Narrow(document.GetErrorText());
    EXPECT_EQ(Narrow(c.errorText), Narrow(document.GetErrorText()));
    EXPECT_EQ(c.tree, Dump(document));
    // The same input as UTF-8 reads its tags on another path; it must end the same way. Units UTF-8 does
    // not carry (surrogates, 0xFFFE, 0xFFFF) leave a case out.
    const std::wstring input(c.input);
    auto unencodable = [](wchar_t u) { return (u >= 0xD800 && u < 0xE000) || u >= 0xFFFE; };
    if (std::any_of(input.begin(), input.end(), unencodable)) continue;
    CBuffer bytes;
    ASSERT_TRUE(AppendUtf8(bytes, input.data(), static_cast<uint32_t>(input.size())));
    CXMLDocument fromBytes;
    EXPECT_EQ(ok, fromBytes.LoadFromBuffer(bytes, c.flags));
    EXPECT_EQ(document.GetError(), fromBytes.GetError());
    EXPECT_EQ(Narrow(document.GetErrorText()), Narrow(fromBytes.GetErrorText()));
    EXPECT_EQ(document.GetLine(), fromBytes.GetLine());
    EXPECT_EQ(Dump(document), Dump(fromBytes));
    // And through a stream, whole or a few bytes a read: the tree kept after a failure is the same too.
    for (uint32_t read : {UINT32_MAX, 3u}) {
      xmltest::MemoryStream stream(std::string(static_cast<const char*>(bytes.GetData()), bytes.Length()), read);
      CXMLDocument fromStream;
      EXPECT_EQ(ok, fromStream.LoadFromStream(&stream, c.flags));
      EXPECT_EQ(document.GetError(), fromStream.GetError());
      EXPECT_EQ(Dump(document), Dump(fromStream)) << read << " bytes a read";
    }
  }
}

TEST(XmlParser, AcceptedSyntax) {
  const LoadCase cases[] = {
      {L"<a/>", 0, true, XML_ERROR_NONE, L"", "|E:a"},
      {L"<a x=\"1\"y=\"2\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=1,y=2}"},  // no space needed
      {L"<a x = '1' ></a >", 0, true, XML_ERROR_NONE, L"", "|E:a{x=1}"},
      {L"<a x=\"\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=}"},
      {L"<a\tx='1'\ny = \"2\"\t/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=1,y=2}"},
      {L"<a x=\"\x00E9\" y=\"1 < 2\"/>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"1 ", "|E:a{x=\\u00E9,y=}"},
      {L"<a><b>x</b><c/></a>", 0, true, XML_ERROR_NONE, L"", "|E:a[E:b[T\"x\"] E:c]"},
      {L"<?xml version=\"1.0\"?><a/>", 0, true, XML_ERROR_NONE, L"",
       "P:xml\"version=\\u00221.0\\u0022\" |E:a"},
      {L"<?\?><a/>", 0, true, XML_ERROR_NONE, L"", "P:\"\" |E:a"},
      {L"<a><?pi?><?pi  d e ?></a>", 0, true, XML_ERROR_NONE, L"", "|E:a[P:pi\"\" P:pi\"d e \"]"},
      // Only "?>" ends instruction data: a '?' before anything else is data, at its start and end too.
      {L"<a><?pi a?b?><?pi ?\?><?pi ?x?\?></a>", 0, true, XML_ERROR_NONE, L"", "|E:a[P:pi\"a?b\" P:pi\"?\" P:pi\"?x?\"]"},
      {L"<a><?pi a?b</a>", 0, false, XML_ERROR_INCOMPLETE_DOC, L"/a", "|E:a[P:pi\"\"]"},  // all data
      {L"<a><!---x--><!----></a>", 0, true, XML_ERROR_NONE, L"", "|E:a[C\"-x\" C\"\"]"},
      {L"<a><![CDATA[x]]&gt;y]]><![CDATA[]]><![CDATA[a]]]></a>", 0, true, XML_ERROR_NONE, L"",
       "|E:a[D\"x]]>y\" D\"\" D\"a]\"]"},
      {L"<!DOCTYPE html [<!ENTITY x \"y>\">]><a/>", 0, true, XML_ERROR_NONE, L"",
       "Y\"html [<!ENTITY x \\u0022y>\\u0022>]\" |E:a"},
      // The text between a DOCTYPE and the next markup is not collected.
      {L"<!DOCTYPE a>lost<a/>", 0, true, XML_ERROR_NONE, L"", "Y\"a\" |E:a"},
      {L"\xFEFF<a/>", 0, true, XML_ERROR_NONE, L"", "T\"\\uFEFF\" |E:a"},
      {L"<\x00E9t\x0300\x00B7/>", 0, true, XML_ERROR_NONE, L"", "|E:\\u00E9t\\u0300\\u00B7"},
      {L"<a>\xD83D\xDE00</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"\\uD83D\\uDE00\"]"},
      // After the root: text, comments and instructions are dropped, a DOCTYPE is kept.
      {L"<a/>tail<!--c--><?p d?><!DOCTYPE x>", 0, true, XML_ERROR_NONE, L"", "Y\"x\" |E:a"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, RejectedCharactersNameTheToken) {
  const LoadCase cases[] = {
      {L"<a x=1/>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"x=", "|E:a{x=}"},
      {L"< a/>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"", "|"},
      {L"<r></ a></r>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"/", "|E:r"},
      {L"<a / >", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"a", "|E:a"},
      {L"<a>x & y</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"x &", "|E:a[T\"x \"]"},
      {L"<a>x&amp;y\x01</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"y", "|E:a[T\"x&\"]"},
      {L"<a><!--a--b--></a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"a", "|E:a"},
      {L"<a x=\"<\"/>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"", "|E:a{x=}"},
      {L"<!DOCTYPE>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"", "|"},
      {L"<a>&#;</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"a>&#", "|E:a"},
      {L"<a>\xFFFE</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"a>", "|E:a"},
      // Surrogates must pair up in text, values, comments, instruction data and CDATA.
      {L"<a>x\xD800y</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"x\xD800", "|E:a"},
      {L"<a>\xDC00</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"", "|E:a"},
      {L"<a>x\xD800</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"x\xD800", "|E:a"},
      {L"<a x=\"\xD800\"/>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"\xD800", "|E:a{x=}"},
      {L"<a><!--\xD800--></a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"\xD800", "|E:a"},
      {L"<a><![CDATA[\xDBFF\xDBFF]]></a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"\xDBFF", "|E:a"},
      {L"<\xD800/>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"", "|"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, StructuralErrors) {
  const LoadCase cases[] = {
      {L"", 0, false, XML_ERROR_INVALID_DOC, L"no root element", "|"},
      {L"just text", 0, false, XML_ERROR_INVALID_DOC, L"no root element", "|"},
      {L"<a></b>", 0, false, XML_ERROR_INVALID_DOC, L"b", "|E:a"},
      {L"<a/><b/>", 0, false, XML_ERROR_INVALID_DOC, L"b", "|E:a"},
      {L"<a><b>", 0, false, XML_ERROR_INCOMPLETE_DOC, L"/a /b", "|E:a[E:b]"},
      {L"<a>text", 0, false, XML_ERROR_INCOMPLETE_DOC, L"/a", "|E:a"},
      {L"<a x=\"1\" x=\"2\"/>", 0, false, XML_ERROR_DUPLICATE_ATTR, L"x", "|E:a{x=1}"},
      // A repeat among many attributes; the attributes read before a failure stay, in name order.
      {L"<a q='1' p='1' o='1' n='1' m='1' l='1' k='1' j='1' i='1' h='1' g='1' f='1' e='1' d='1' c='1' b='1' "
       L"z='1' k='2'/>",
       0, false, XML_ERROR_DUPLICATE_ATTR, L"k",
       "|E:a{b=1,c=1,d=1,e=1,f=1,g=1,h=1,i=1,j=1,k=1,l=1,m=1,n=1,o=1,p=1,q=1,z=1}"},
      {L"<a y='1' x='2' =", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"a", "|E:a{x=2,y=1}"},
      // Root only: the root's start tag, attributes and leading text are read, then the load stops.
      {L"<a k=\"v\">lead<b/></a>", XML_LOAD_ROOT_ONLY, false, XML_ERROR_CANCELLED, L"b",
       "|E:a{k=v}[T\"lead\"]"},
      {L"<a/>", XML_LOAD_ROOT_ONLY, true, XML_ERROR_NONE, L"", "|E:a"},
      // Tolerated end tags: read to the end, the error stays and the load fails.
      {L"<a></b></a>", XML_LOAD_TOLERATE_END_TAGS, false, XML_ERROR_INVALID_DOC, L"b", "|E:a"},
      {L"<a><c></b></c>x</a>", XML_LOAD_TOLERATE_END_TAGS, false, XML_ERROR_INVALID_DOC, L"b",
       "|E:a[E:c T\"x\"]"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, ReferencesAndEntities) {
  const LoadCase cases[] = {
      {L"<a>a &nbsp; b</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"a \\u00A0 b\"]"},
      {L"<a>&lt;&gt;&amp;&apos;&quot;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"<>&'\\u0022\"]"},
      {L"<a>x&#65;&#x42;&#x1F600;y</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"xAB\\uD83D\\uDE00y\"]"},
      // Unknown entities and references that name no character are read again as text.
      {L"<a>&copy;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"copy;\"]"},
      {L"<a>x&copy;y</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"xcopy;y\"]"},
      {L"<a>&#x10FFFF;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"x10FFFF;\"]"},
      {L"<a>&#0;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"0;\"]"},
      {L"<a>&#x;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"x;\"]"},
      {L"<a>&#99999999999999999999;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"99999999999999999999;\"]"},
      {L"<a>&#xD800;</a>", 0, true, XML_ERROR_NONE, L"",
       "|E:a[T\"xD800;\"]"},  // a lone surrogate is no character
      {L"<a>&#X41;</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"a>&#", "|E:a"},
      {L"<a>&Lt;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"Lt;\"]"},  // entity names are case-sensitive
      // Read as UTF-8, a well-formed reference is read in one go: line breaks after one, a failure after
      // one, and one too long to be read at once must end as they do unit by unit.
      {L"<a>&amp;\r\nb&#13;\r</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"&\\u000Ab\\u000D\\u000A\"]"},
      {L"<a>x&lt;y\x01</a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"y", "|E:a[T\"x<\"]"},
      {L"<a>x&lt;y< </a>", 0, false, XML_ERROR_UNEXPECTED_CHAR, L"y<", "|E:a[T\"x<y\"]"},
      {L"<a>x&lt;y", 0, false, XML_ERROR_INCOMPLETE_DOC, L"/a", "|E:a[T\"x<\"]"},
      {L"<a>&#x0000000000041;</a>", 0, true, XML_ERROR_NONE, L"", "|E:a[T\"A\"]"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, AttributeValueNormalization) {
  const LoadCase cases[] = {
      {L"<a x=\" p  q \"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=p q}"},
      {L"<a x=\" p  q \"/>", XML_LOAD_RAW_ATTRIBUTES, true, XML_ERROR_NONE, L"", "|E:a{x= p  q }"},
      {L"<a x=\"a\t\r\n b\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=a b}"},
      {L"<a x=\"a\tb\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=a b}"},
      // References after folding, so a referenced tab survives; then entities, "&amp;" last.
      {L"<a x=\"1&#x9;&#9;2\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=1\\u0009\\u00092}"},
      {L"<a x=\"&amp;lt;\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=&lt;}"},
      {L"<a x=\"&#38;lt;\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=<}"},
      {L"<a x=\"&amp;lt;\"/>", XML_LOAD_RAW_ATTRIBUTES, true, XML_ERROR_NONE, L"", "|E:a{x=&amp;lt;}"},
      {L"<a x='it&apos;s &quot;q&quot; &nbsp;'/>", 0, true, XML_ERROR_NONE, L"",
       "|E:a{x=it's \\u0022q\\u0022 \\u00A0}"},
      {L"<a x=\"&copy; &#0; &#xD800; &#x1F600;\"/>", 0, true, XML_ERROR_NONE, L"",
       "|E:a{x=&copy; &#0; &#xD800; \\uD83D\\uDE00}"},
      {L"<a x=\"&#&#65;&#\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{x=&#A&#}"},
      // Names are kept in code-unit order, not document order.
      {L"<a z=\"1\" B=\"2\" b=\"3\"/>", 0, true, XML_ERROR_NONE, L"", "|E:a{B=2,b=3,z=1}"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, LoadFlags) {
  const wchar_t* mixed =
      L"<!DOCTYPE d><!--c0--><?p0 d?><a>\n\t\t<b/>\n  <c/><!--c1--><?p1 x?><![CDATA[z]]>\n</a>";
  const LoadCase cases[] = {
      {mixed, 0, true, XML_ERROR_NONE, L"",
       "Y\"d\" C\"c0\" P:p0\"d\" |E:a[T\"\\u000A\\u0009\\u0009\" E:b T\"\\u000A  \" E:c C\"c1\" P:p1\"x\" "
       "D\"z\" "
       "T\"\\u000A\"]"},
      // A line feed followed only by tabs is indentation; a line feed and spaces is text.
      {mixed, XML_LOAD_DROP_INDENT, true, XML_ERROR_NONE, L"",
       "Y\"d\" C\"c0\" P:p0\"d\" |E:a[E:b T\"\\u000A  \" E:c C\"c1\" P:p1\"x\" D\"z\"]"},
      {mixed, XML_LOAD_DROP_INDENT | XML_LOAD_NO_COMMENTS, true, XML_ERROR_NONE, L"",
       "Y\"d\" P:p0\"d\" |E:a[E:b T\"\\u000A  \" E:c P:p1\"x\" D\"z\"]"},
      {mixed, XML_LOAD_DROP_INDENT | XML_LOAD_NO_PINSTR, true, XML_ERROR_NONE, L"",
       "Y\"d\" C\"c0\" |E:a[E:b T\"\\u000A  \" E:c C\"c1\" D\"z\"]"},
      {mixed, XML_LOAD_DROP_INDENT | XML_LOAD_NO_CDATA, true, XML_ERROR_NONE, L"",
       "Y\"d\" C\"c0\" P:p0\"d\" |E:a[E:b T\"\\u000A  \" E:c C\"c1\" P:p1\"x\"]"},
      {mixed, XML_LOAD_DROP_INDENT | XML_LOAD_NO_DOCTYPE, true, XML_ERROR_NONE, L"",
       "C\"c0\" P:p0\"d\" |E:a[E:b T\"\\u000A  \" E:c C\"c1\" P:p1\"x\" D\"z\"]"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, IndentationIsJudgedOnWholeRunsOfText) {
  const LoadCase cases[] = {
      // A line feed between two references is text, not indentation.
      {L"<a>&amp;\n&amp;</a>", XML_LOAD_DROP_INDENT, true, XML_ERROR_NONE, L"", "|E:a[T\"&\\u000A&\"]"},
      // Indentation is written literally: a tab or line feed from a reference is content.
      {L"<a>\n&#9;</a>", XML_LOAD_DROP_INDENT, true, XML_ERROR_NONE, L"", "|E:a[T\"\\u000A\\u0009\"]"},
      {L"<a>&#10;\t</a>", XML_LOAD_DROP_INDENT, true, XML_ERROR_NONE, L"", "|E:a[T\"\\u000A\\u0009\"]"},
      {L"<a>\n\t<!--c-->\n\t</a>", XML_LOAD_DROP_INDENT | XML_LOAD_NO_COMMENTS, true, XML_ERROR_NONE, L"",
       "|E:a"},
      // Text on both sides of a dropped comment joins into one node.
      {L"<a>x<!--c-->y</a>", XML_LOAD_NO_COMMENTS, true, XML_ERROR_NONE, L"", "|E:a[T\"xy\"]"},
  };
  RunLoadCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(XmlParser, LongTextOfReferencesLoadsWholeInLinearTime) {
  // Every reference is an event of its own; the text they make up grows far past the arena's blocks.
  std::wstring input = L"<a>", expected;
  for (int i = 0; i < 200000; ++i) {
    input += L"ab&amp;";
    expected += L"ab&";
  }
  input += L"</a>";
  CXMLDocument document;
  ASSERT_TRUE(document.LoadFromString(input));
  const CXMLContent* text = document.GetRoot()->GetChildContent();
  ASSERT_NE(nullptr, text);
  EXPECT_TRUE(std::wstring_view(text->GetText(), text->GetTextLength()) == expected);
}

TEST(XmlParser, LineBreaksCountOnceAndReadAsLineFeeds) {
  struct Case {
    const wchar_t* input;
    int line;
    const char* tree;
  } cases[] = {
      {L"<a>\r\n\n\r</a>", 4, "|E:a[T\"\\u000A\\u000A\\u000A\"]"},
      {L"<a\r\nb\r=\n'1\r\n2'/>", 5, "|E:a{b=1 2}"},
      {L"\r\r\r\n<a/>", 4, "T\"\\u000A\\u000A\\u000A\" |E:a"},
      {L"<a>\n\n<", 3, "|E:a[T\"\\u000A\\u000A\"]"},  // a failed load keeps what it read
  };
  for (const Case& c : cases) {
    CXMLDocument document;
    document.LoadFromString(std::wstring(c.input));
    EXPECT_EQ(c.line, document.GetLine()) << Narrow(c.input);
    EXPECT_EQ(c.tree, Dump(document)) << Narrow(c.input);
  }
}

TEST(XmlParser, ZeroUnitIsRejectedEverywhere) {
  const std::wstring inputs[] = {std::wstring(L"<a>x\0y</a>", 10), std::wstring(L"<!DOCTYPE a\0b><a/>", 18),
                                 std::wstring(L"<a x='\0'/>", 10)};
  for (const std::wstring& input : inputs) {
    CXMLDocument document;
    EXPECT_FALSE(document.LoadFromString(input));
    EXPECT_EQ(XML_ERROR_UNEXPECTED_CHAR, document.GetError());
  }
}

// A caller's loader sees every event; a false answer stops the parse and becomes UNEXPECTED_CHAR.
class CountingLoader : public CXMLDocumentLoader {
 public:
  CountingLoader() : CXMLDocumentLoader(nullptr, 0) {}
  bool OnUnresolvedEntity(CXMLParser& parser) override {
    unresolved += parser.GetTokenText() + L",";
    return CXMLDocumentLoader::OnUnresolvedEntity(parser);
  }
  bool OnBadCharRef(CXMLParser& parser) override {
    badReferences += parser.GetTokenText() + L",";
    return !refuseBadReferences;
  }
  std::wstring unresolved;
  std::wstring badReferences;
  bool refuseBadReferences = false;
};

TEST(XmlParser, CallerLoaderReceivesReferenceEvents) {
  CountingLoader loader;
  CXMLDocument document;
  EXPECT_TRUE(document.LoadFromString(std::wstring(L"<a>&copy;&#0;&reg;&#x110000;</a>"), 0, &loader));
  EXPECT_EQ(L"copy,reg,", loader.unresolved);
  EXPECT_EQ(L"0,x110000,", loader.badReferences);
  EXPECT_EQ("|E:a[T\"copy;0;reg;x110000;\"]", Dump(document));

  loader.refuseBadReferences = true;
  EXPECT_FALSE(document.LoadFromString(std::wstring(L"<a>&#0;</a>"), 0, &loader));
  EXPECT_EQ(XML_ERROR_UNEXPECTED_CHAR, document.GetError());
  EXPECT_EQ(L"0", document.GetErrorText());
}

TEST(XmlParser, Utf8BufferLoads) {
  struct Case {
    std::string bytes;
    bool ok;
    XMLError error;
    const char* tree;
  };
  // Long text is gathered in pieces of 64 K units: here a surrogate pair falls across the first edge.
  const std::string run(65536, 'x');
  const std::string longTree = "|E:a[T\"" + run + "\\uD83D\\uDE00\"]";
  const Case cases[] = {
      {"<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>", true, XML_ERROR_NONE,
       "|E:a[T\"\\u00E9\\u20AC\\uD83D\\uDE00\"]"},
      {"<a>" + run + "\xF0\x9F\x98\x80</a>", true, XML_ERROR_NONE, longTree.c_str()},
      {"\xEF\xBB\xBF<a/>", true, XML_ERROR_NONE, "T\"\\uFEFF\" |E:a"},  // no BOM handling: text
      {"<a>\xC3\x28</a>", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      {"<a>\xC3", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      {"<a>\xFF</a>", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      {"<a>\x80</a>", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      // Overlong forms are refused: C0 BC would otherwise be a '<'.
      {"<a>\xC0\xBC/a>", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      {"<a>\xE0\x80\xAF</a>", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      // An encoded surrogate arrives as that unit and the parser refuses it alone.
      {"<a>\xED\xA0\x80</a>", false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
      // Beyond U+10FFFF: '?' (five- and six-byte forms decode too).
      {"<a>\xF4\x90\x80\x80\xF8\x88\x80\x80\x80</a>", true, XML_ERROR_NONE, "|E:a[T\"??\"]"},
      {std::string("<a>\0</a>", 8), false, XML_ERROR_UNEXPECTED_CHAR, "|E:a"},
  };
  for (const Case& c : cases) {
    CXMLDocument document;
    EXPECT_EQ(c.ok, document.LoadFromBuffer(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())))
        << xmltest::Escape(xmltest::Widen(c.bytes));
    EXPECT_EQ(c.error, document.GetError());
    EXPECT_EQ(c.tree, Dump(document));
  }
}

TEST(XmlParser, ManifestShape) {
  // How the update-manifest readers use the library: flags 1, root check, first release, attributes.
  const char manifest[] =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n\t<release version=\"1.2.3\">\r\n"
      "\t\t<executable length=\"1234\" url=\"https://h/x.exe\" file=\"setup.exe\" params=\"/q\"/>\r\n"
      "\t</release>\r\n\t<x/>\r\n\t<release version=\"0.9\"/>\r\n</update>\r\n";
  CXMLDocument document;
  ASSERT_TRUE(document.LoadFromBuffer(manifest, sizeof(manifest) - 1, XML_LOAD_DROP_INDENT));
  ASSERT_TRUE(document.IsRoot(L"update"));
  CXMLElement* release = document.GetRoot()->FindChild(L"release", 0);
  ASSERT_NE(nullptr, release);
  EXPECT_EQ(L"1.2.3", release->FindAttribute(L"version")->GetValue());
  CXMLElement* executable = release->FindChild(L"executable");
  ASSERT_NE(nullptr, executable);
  EXPECT_EQ(1234u, executable->GetAttributeUnsigned(L"length"));
  EXPECT_EQ(L"/q", executable->GetAttributeText(L"params"));
  EXPECT_EQ(L"0.9", document.GetRoot()->FindChild(L"release", 1)->GetAttributeText(L"version"));
  EXPECT_EQ(nullptr, document.GetRoot()->FindChild(L"release", 2));
  EXPECT_EQ(9, document.GetLine());
}

}  // namespace
