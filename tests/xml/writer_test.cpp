#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "XmlTestUtil.h"
#include "support/File.h"
#include "xml/Utf8.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStream.h"
#include "xml/XmlText.h"

using xmltest::Dump;
using xmltest::Narrow;
using xmltest::TextOfBuffer;

namespace {

std::wstring Write(const CXMLDocument& document, unsigned flags) {
  std::wstring out;
  EXPECT_TRUE(document.WriteToString(out, flags));
  return out;
}

TEST(XmlWriter, DocumentsWithEachFlag) {
  struct Case {
    const wchar_t* input;
    unsigned flags;
    const wchar_t* output;
  } cases[] = {
      {L"<a><b>x</b><c/></a>", 0, L"<a><b>x</b><c/></a>"},
      {L"<a><b>x</b><c/></a>", XML_WRITE_INDENT, L"<a>\r\n\t<b>x</b>\r\n\t<c/>\r\n</a>\r\n"},
      {L"<a><b>x</b><c/></a>", XML_WRITE_NEWLINES, L"<a>\r\n<b>x</b>\r\n<c/>\r\n</a>\r\n"},
      {L"<a><b><c><d/></c></b></a>", XML_WRITE_INDENT,
       L"<a>\r\n\t<b>\r\n\t\t<c>\r\n\t\t\t<d/>\r\n\t\t</c>\r\n\t</b>\r\n</a>\r\n"},
      // Text follows the markup before it directly, and the end tag follows the text.
      {L"<a>t<b/>u</a>", XML_WRITE_INDENT, L"<a>t<b/>u</a>\r\n"},
      {L"<a><b/>u<c/></a>", XML_WRITE_INDENT, L"<a>\r\n\t<b/>u<c/>\r\n</a>\r\n"},
      {L"<a x=\"a&gt;b\" y=\"1\"/>", 0, L"<a x=\"a&gt;b\" y=\"1\"/>"},
      {L"<a x=\"x&apos;y\"/>", XML_WRITE_SINGLE_QUOTES, L"<a x='x&apos;y'/>"},
      {L"<a><![CDATA[x]]&gt;y]]></a>", 0, L"<a><![CDATA[x]]&gt;y]]></a>"},
      {L"<?xml?><a/>", 0, L"<?xml ?><a/>"},
      {L"<?\?><a/>", 0, L"<?\?><a/>"},  // no target: "<? ?>" would not read back
      {L"<?xml version=\"1.0\"?><!--c--><!DOCTYPE a><a/>", XML_WRITE_INDENT,
       L"<?xml version=\"1.0\"?>\r\n<!--c-->\r\n<!DOCTYPE a>\r\n<a/>\r\n"},
      {L"<a>1&lt;2 &amp; &#xA0;&apos;&quot;&gt;</a>", 0, L"<a>1&lt;2 &amp; &nbsp;&apos;&quot;&gt;</a>"},
      // Text shaped like indentation keeps its line feed as a reference, so a load that drops indentation
      // keeps it.
      {L"<a>&#10;\t\t</a>", XML_WRITE_INDENT, L"<a>&#xa;\t\t</a>\r\n"},
      // Omitted nodes: nothing written; a CDATA section still takes the line break back.
      {L"<!--c--><?p?><!DOCTYPE d><a><!--c--><b/><?p?><![CDATA[z]]></a>",
       XML_WRITE_NO_COMMENTS | XML_WRITE_NO_PINSTR | XML_WRITE_NO_CDATA | XML_WRITE_NO_DOCTYPE,
       L"<a><b/></a>"},
      {L"<a><b/><![CDATA[z]]></a>", XML_WRITE_INDENT | XML_WRITE_NO_CDATA, L"<a>\r\n\t<b/></a>\r\n"},
      {L"<a><!--c--><b/></a>", XML_WRITE_INDENT | XML_WRITE_NO_COMMENTS, L"<a>\r\n\t<b/>\r\n</a>\r\n"},
      {L"<a><?p d?><b/></a>", XML_WRITE_INDENT | XML_WRITE_NO_PINSTR, L"<a>\r\n\t<b/>\r\n</a>\r\n"},
      // Attributes come out in name order, whatever order they were read in.
      {L"<a z=\"1\" B=\"2\" b=\"3\"/>", 0, L"<a B=\"2\" b=\"3\" z=\"1\"/>"},
  };
  for (const Case& c : cases) {
    CXMLDocument document;
    ASSERT_TRUE(document.LoadFromString(std::wstring(c.input))) << Narrow(c.input);
    EXPECT_EQ(Narrow(c.output), Narrow(Write(document, c.flags))) << Narrow(c.input) << " flags " << c.flags;
  }
}

TEST(XmlWriter, EscapingOfBuiltTrees) {
  CXMLElement* e = CXMLElement::Create(L"e");
  e->AddAttribute(L"all", L"<>&'\"\xA0");
  e->AddAttribute(L"ctl",
                  L"a\x01"
                  L"b\xFFFE");
  e->AddAttribute(L"pad", L" \t v w \r\n");
  e->AddAttribute(L"ws", L"a\tb\nc  d\re");
  e->AddAttribute(L"edge", L"\x3000x\x3000");
  e->AddText(L"t<&\xA0\x01");
  e->AddComment(L"ends-");
  e->AddPInstr(L"p", L"a?>b?");
  e->AddPInstr(L"q", L"a?b");
  CBuffer out;
  e->WriteToBuffer(out, 0, 0);
  EXPECT_EQ(
      Narrow(L"<e all=\"&lt;&gt;&amp;&apos;&quot;&nbsp;\" ctl=\"a&#x1;b&#xfffe;\" edge=\"&#x3000;x&#x3000;\" "
             L"pad=\"v w\" ws=\"a&#x9;b&#xa;c &#x20;d&#xd;e\">t&lt;&amp;&nbsp;&#x1;<!--ends.--><?p "
             L"a..b?\?><?q a?b?></e>"),
      Narrow(TextOfBuffer(out)));
  // What the writer makes, the parser reads back as it was, but for the trimmed ends of "pad" and the
  // units a comment or an instruction cannot hold.
  CXMLDocument document;
  ASSERT_TRUE(document.LoadFromString(TextOfBuffer(out)));
  EXPECT_EQ(
      "E:e{all=<>&'\\u0022\\u00A0,ctl=a\\u0001b\\uFFFE,edge=\\u3000x\\u3000,pad=v w,"
      "ws=a\\u0009b\\u000Ac  d\\u000De}[T\"t<&\\u00A0\\u0001\" C\"ends.\" P:p\"a..b?\" P:q\"a?b\"]",
      Dump(*document.GetRoot()));
  delete e;
}

TEST(XmlWriter, NodeResultsReportLineEnds) {
  CXMLDocument document;
  ASSERT_TRUE(document.LoadFromString(std::wstring(L"<a>t<!--c--><b/></a>")));
  const CXMLElement* a = document.GetRoot();
  struct Case {
    const CXMLNode* node;
    unsigned flags;
    bool ended;
    const wchar_t* output;
  } cases[] = {
      {a->GetFirstChild(), XML_WRITE_INDENT, false, L"t"},
      {a->GetChildComment(), XML_WRITE_INDENT, true, L"<!--c-->\r\n"},
      {a->GetChildComment(), 0, false, L"<!--c-->"},
      {a->GetChildComment(), XML_WRITE_INDENT | XML_WRITE_AT_LINE_START, true, L"\t\t<!--c-->\r\n"},
      {a->GetChildComment(), XML_WRITE_NO_COMMENTS | XML_WRITE_AT_LINE_START, true, L""},
      {a->FindChild(L"b"), XML_WRITE_NEWLINES, true, L"<b/>\r\n"},
      {a->FindChild(L"b"), XML_WRITE_INDENT | XML_WRITE_AT_LINE_START, true, L"\t\t<b/>\r\n"},
      {a, XML_WRITE_INDENT, true, L"<a>t<!--c-->\r\n\t\t\t<b/>\r\n\t\t</a>\r\n"},
  };
  for (const Case& c : cases) {
    CBuffer out;
    EXPECT_EQ(c.ended, c.node->WriteToBuffer(out, c.flags, 2));
    EXPECT_EQ(Narrow(c.output), Narrow(TextOfBuffer(out)));
  }
  // Text at the start of a line takes the line break before it back; a buffer shorter than three units
  // is emptied.
  struct TakeBack {
    const wchar_t* before;
    const wchar_t* after;
  } takeBacks[] = {{L"<x>\r\n", L"<x>t"}, {L"\n", L"t"}};
  for (const TakeBack& c : takeBacks) {
    CBuffer out;
    AppendString(out, c.before);
    a->GetFirstChild()->WriteToBuffer(out, XML_WRITE_AT_LINE_START, 0);
    EXPECT_EQ(c.after, TextOfBuffer(out));
  }
}

// A deterministic generator of trees that the parser can produce: the round trip must give the same tree.
class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : state(seed) {}

  uint32_t Next(uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  }

  std::wstring Name() {
    static const wchar_t* starts[] = {L"a", L"B", L"_", L":", L"\x00E9", L"\x4E00", L"\x03B1", L"z"};
    static const wchar_t* rest[] = {L"a", L"1", L"-", L".", L"\x0300", L"\x00B7", L"\x3005", L"Z", L":"};
    std::wstring name = starts[Next(8)];
    for (uint32_t n = Next(5); n; --n) name += rest[Next(9)];
    return name;
  }

  // Units a text may hold; with escapes, also those the writer must escape.
  std::wstring Text(bool escapes, bool spaces) {
    static const wchar_t* plain[] = {L"x",      L"y", L"7", L"\x00E9", L"\x4E00", L"\xD83D\xDE00",
                                     L"\x20AC", L"!"};
    static const wchar_t* escaped[] = {L"<",    L">",    L"&",      L"'",      L"\"", L"\xA0",
                                       L"\x01", L"\x1F", L"\xFFFE", L"\xFFFF", L"\r", L"\x3000"};
    static const wchar_t* blanks[] = {L" ", L"  ", L"\t", L"\n", L" \n\t "};
    std::wstring text = plain[Next(8)];
    for (uint32_t n = Next(8); n; --n) {
      uint32_t pick = Next(10);
      if (escapes && pick < 4) {
        text += escaped[Next(12)];
      } else if (spaces && pick == 4) {
        text += blanks[Next(5)];
      } else {
        text += plain[Next(8)];
      }
    }
    return text + plain[Next(8)];
  }

  // Line feeds, tabs and the text of a character reference: shapes a load that drops indentation must
  // still keep.
  std::wstring Blank() {
    static const wchar_t* pieces[] = {L"\t", L"\t\t", L"\n", L"&#9;"};
    std::wstring text = L"\n";
    for (uint32_t n = Next(4); n; --n) text += pieces[Next(4)];
    return text;
  }

  // Comment text or instruction data with '-' or '?' (the mark) where it cannot stand as it is: a node is
  // built with the text it reads back as, and Disguise later gives it the text written.
  template <class Node>
  void AddMarked(Node* node, wchar_t mark) {
    if (!node) return;
    const wchar_t* pair = mark == L'-' ? L"--" : L"?>";
    std::wstring written = Text(false, true);
    std::wstring readBack = written;
    for (uint32_t n = Next(3); n; --n) {
      const std::wstring plain = Text(false, false);
      if (Next(2)) {
        written += pair;
        readBack += L"..";
      } else {
        written += mark;
        readBack += mark;  // a lone mark stands as it is
      }
      written += plain;
      readBack += plain;
    }
    if (Next(2)) {
      written += mark;
      readBack += mark == L'-' ? L'.' : L'?';  // a last '-' would run into the comment's terminator
    }
    node->Body().Assign(readBack.data(), static_cast<uint32_t>(readBack.size()));
    disguises.push_back({&node->Body(), written});
  }

  // Gives the marked nodes the texts that the writer has to change.
  void Disguise() {
    for (auto& d : disguises) d.first->Assign(d.second.data(), static_cast<uint32_t>(d.second.size()));
  }

  void Fill(CXMLElement* element, int depth) {
    for (uint32_t n = Next(4); n; --n) element->AddAttribute(Name().c_str(), Text(true, true).c_str());
    bool lastWasText = false;
    for (uint32_t n = depth < 5 ? Next(6) : 0; n; --n) {
      switch (Next(7)) {
        case 0:
        case 6:
          if (!lastWasText) element->AddText(Next(2) ? Text(true, true).c_str() : Blank().c_str());
          lastWasText = true;
          continue;
        case 1:
          element->AddCData((Text(false, true) + L"]]>" + Text(false, false)).c_str());
          break;
        case 2:
          AddMarked(element->AddComment(L""), L'-');
          break;
        case 3:
          if (Next(3)) {
            AddMarked(element->AddPInstr(Name().c_str(), L""), L'?');
          } else {
            element->AddPInstr(Name().c_str(), L"");
          }
          break;
        default:
          Fill(element->AddElement(Name().c_str()), depth + 1);
          break;
      }
      lastWasText = false;
    }
  }

  void Build(CXMLDocument& document) {
    CXMLPInstr* declaration = new CXMLPInstr(L"xml");
    declaration->Body().Assign(L"version=\"1.0\"", 13);
    document.MutableNodes().Append(declaration);
    if (Next(2)) {
      CXMLComment* comment = new CXMLComment();
      comment->Body().Assign(L"top", 3);
      document.MutableNodes().Append(comment);
    }
    CXMLElement* root = CXMLElement::Create(Name().c_str());
    Fill(root, 0);
    document.SetRoot(root);
  }

 private:
  uint32_t state;
  std::vector<std::pair<CXMLTextBody*, std::wstring>> disguises;
};

TEST(XmlWriter, RoundTripOfBuiltTrees) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    CXMLDocument original;
    TreeMaker maker(seed);
    maker.Build(original);
    const std::string expected = Dump(original);
    maker.Disguise();
    struct Pass {
      unsigned writeFlags;
      unsigned loadFlags;
    } passes[] = {{0, 0}, {XML_WRITE_INDENT, XML_LOAD_DROP_INDENT}};
    for (const Pass& pass : passes) {
      std::wstring text = Write(original, pass.writeFlags);
      CXMLDocument reread;
      ASSERT_TRUE(reread.LoadFromString(text, pass.loadFlags))
          << "seed " << seed << ": " << Narrow(reread.GetErrorText()) << "\n"
          << Narrow(text);
      EXPECT_EQ(expected, Dump(reread)) << "seed " << seed << " flags " << pass.writeFlags << "\n"
                                        << Narrow(text);
      // The same through UTF-8, as a file holds it.
      CBuffer utf8;
      ASSERT_TRUE(original.WriteToUtf8(utf8, pass.writeFlags));
      CXMLDocument fromBytes;
      ASSERT_TRUE(fromBytes.LoadFromBuffer(utf8, pass.loadFlags)) << "seed " << seed;
      EXPECT_EQ(expected, Dump(fromBytes)) << "seed " << seed;
    }
  }
}

// A source of many units with markup characters and a surrogate pair across the first chunk boundary.
class RepeatingSource : public TextSource {
 public:
  explicit RepeatingSource(uint32_t total) : total(total) {}
  uint32_t Read(wchar_t* units, uint32_t maxUnits) override {
    uint32_t n = 0;
    while (n < maxUnits && position < total) units[n++] = UnitAt(position++);
    ++reads;
    return n;
  }
  void Rewind() override { position = 0; }
  static wchar_t UnitAt(uint32_t i) {
    if (i == 0x40000 - 1) return 0xD83D;
    if (i == 0x40000) return 0xDE00;
    return i % 7 == 0 ? L'<' : static_cast<wchar_t>(L'a' + i % 26);
  }
  uint32_t total;
  uint32_t position = 0;
  int reads = 0;
};

TEST(XmlWriter, TextSourceFollowsTheNodesText) {
  const uint32_t total = 600000;
  RepeatingSource* source = new RepeatingSource(total);
  CXMLElement* e = CXMLElement::Create(L"e");
  CXMLContent* text = e->AddTextSource(source);
  text->Body().Assign(L"head&", 5);
  source->Release();    // the text node holds its own reference
  e->AddText(L"tail");  // not merged into the node with a source: it must come after the source's text

  std::wstring expected = L"<e>head&amp;";
  for (uint32_t i = 0; i < total; ++i) {
    wchar_t u = RepeatingSource::UnitAt(i);
    expected += u == L'<' ? std::wstring(L"&lt;") : std::wstring(1, u);
  }
  expected += L"tail</e>";
  CBuffer out;
  e->WriteToBuffer(out, 0, 0);
  EXPECT_TRUE(TextOfBuffer(out) == expected);
  EXPECT_EQ(4, source->reads);  // three chunks and the empty read that ends the text

  // Through a UTF-8 file the pair split by the chunk boundary stays one character.
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, path);
  std::wstring file = std::wstring(path) + L"xml_text_source.xml";
  ASSERT_TRUE(e->SaveToFile(file.c_str(), 0, 0));
  CBuffer bytes;
  ASSERT_TRUE(ReadWholeFile(file.c_str(), bytes));
  CBuffer expectedBytes;
  AppendUtf8(expectedBytes, expected.data(), static_cast<uint32_t>(expected.size()));
  EXPECT_EQ(expectedBytes.Length(), bytes.Length());
  EXPECT_EQ(0, memcmp(expectedBytes.GetData(), bytes.GetData(), bytes.Length()));
  FileDelete(file.c_str());
  CXMLNode* clone = text->Clone();  // the text only
  EXPECT_EQ(nullptr, static_cast<CXMLContent*>(clone)->GetSource());
  delete clone;
  delete e;
}

}  // namespace
