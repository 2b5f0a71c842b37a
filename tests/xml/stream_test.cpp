#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "XmlTestUtil.h"
#include "support/File.h"
#include "xml/Utf8.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStream.h"

using xmltest::Dump;
using xmltest::MemoryStream;
using xmltest::Narrow;

namespace {

std::string Bytes(const CBuffer& b) {
  return std::string(static_cast<const char*>(b.GetData()), b.Length());
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t directory[MAX_PATH];
  GetTempPathW(MAX_PATH, directory);
  return std::wstring(directory) + name;
}

TEST(XmlUtf8, Encoding) {
  struct Case {
    std::wstring units;
    std::string bytes;
  } cases[] = {
      {L"a\x00E9", "a\xC3\xA9"},
      {L"\x07FF\x0800\xFFFD", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD"},
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {L"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
      {L"\xD800x", "?x"},
      {L"x\xDC00", "x?"},
      {L"\xDC00\xD800", "??"},  // lone or misordered surrogates
      {L"\xFFFE\xFFFF", "??"},
  };
  for (const Case& c : cases) {
    CBuffer out;
    ASSERT_TRUE(AppendUtf8(out, c.units.data(), static_cast<uint32_t>(c.units.size())));
    EXPECT_EQ(xmltest::Escape(xmltest::Widen(c.bytes)), xmltest::Escape(xmltest::Widen(Bytes(out))));
  }
  std::wstring many(100000, L'\x20AC');  // grows a few times, not once per sequence, and stays exact
  CBuffer out;
  ASSERT_TRUE(AppendUtf8(out, many.data(), static_cast<uint32_t>(many.size())));
  EXPECT_EQ(300000u, out.Length());
}

TEST(XmlUtf8, Decoding) {
  struct Case {
    std::string bytes;
    uint32_t length;  // 0: not a whole valid sequence
    uint32_t codePoint;
  } cases[] = {
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xED\xA0\x80", 3, 0xD800},
      {"\xF8\x88\x80\x80\x80", 5, 0x200000},
      {"\xFC\x84\x80\x80\x80\x80", 6, 0x4000000},
      {"\x80", 0, 0},
      {"\xE2\x82", 0, 0},
      {"\xFE", 0, 0},
      {"\xC1\xBF", 0, 0},  // overlong from here on
      {"\xE0\x9F\xBF", 0, 0},
      {"\xF0\x8F\xBF\xBF", 0, 0},
      {"\xF8\x87\xBF\xBF\xBF", 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t codePoint = 0;
    EXPECT_EQ(c.length, DecodeUtf8(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                   static_cast<uint32_t>(c.bytes.size()), &codePoint));
    EXPECT_EQ(c.codePoint, c.length ? codePoint : 0);
  }
}

// A document of about 600 KiB of two- and three-byte characters, so that the chunk boundaries fall inside
// sequences, and the text it holds.
std::string LargeDocument(std::wstring& text, size_t units, size_t asciiPrefix) {
  text.assign(asciiPrefix, L'a');
  for (size_t i = 0; i < units; ++i) text += (i % 3) ? L'\x20AC' : L'\x00E9';
  CBuffer body;
  AppendUtf8(body, text.data(), static_cast<uint32_t>(text.size()));
  return "<r>" + Bytes(body) + "</r>";
}

TEST(XmlStreamLoad, ChunkBoundariesInsideSequences) {
  // 0x80000 - 3 - 510 ASCII units put a three-byte sequence across the first 512 KiB boundary.
  std::wstring text;
  std::string bytes = LargeDocument(text, 80000, 0x80000 - 3 - 510);
  ASSERT_GT(bytes.size(), 600u * 1024);
  ASSERT_EQ(0xE2, static_cast<uint8_t>(bytes[0x80000 - 1]));  // a lead byte is the last of the first chunk

  const std::wstring path = TempPath(L"xml_stream_large.xml");
  {
    CXMLFileStream out(CXMLFileStream::kRawWrites);
    ASSERT_TRUE(out.OpenForSaving(path.c_str()));
    ASSERT_TRUE(out.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr));
  }
  CXMLDocument fromFile;
  ASSERT_TRUE(fromFile.LoadFromFile(path.c_str())) << Narrow(fromFile.GetErrorText());
  std::wstring read;
  fromFile.GetRoot()->GetText(read);
  EXPECT_TRUE(read == text);
  FileDelete(path.c_str());

  // Reads cut short at odd sizes hand sequences back at many boundaries.
  for (uint32_t maxRead : {997u, 4096u, 7u}) {
    std::wstring smallText;
    MemoryStream stream(LargeDocument(smallText, 3000, 5));
    stream.maxRead = maxRead;
    CXMLDocument document;
    ASSERT_TRUE(document.LoadFromStream(&stream)) << maxRead << " " << Narrow(document.GetErrorText());
    std::wstring got;
    document.GetRoot()->GetText(got);
    EXPECT_TRUE(got == smallText) << maxRead;
    EXPECT_GT(stream.seeks, 0);
  }
}

TEST(XmlStreamLoad, Failures) {
  struct Case {
    std::string bytes;
    void (*setup)(MemoryStream&);
    XMLError error;
    const wchar_t* text;
  } cases[] = {
      {"<a>\xC3\x28</a>", nullptr, XML_ERROR_INVALID_UTF8_DATA, L"memory"},
      {"<a>\xE2\x82", nullptr, XML_ERROR_INVALID_UTF8_DATA, L"memory"},  // cut at the end of the stream
      {"\x80\x80", nullptr, XML_ERROR_INVALID_UTF8_DATA, L"injected"},   // no lead byte to hand back
      {"<a>x</b>", nullptr, XML_ERROR_INVALID_DOC, L"b"},
      {"<a x=1/>", nullptr, XML_ERROR_UNEXPECTED_CHAR, L"'1' -- \"x=\""},
      {"<a>\xF0\x9F\x98\x80\xF0\x9F\x98\x80", nullptr, XML_ERROR_INCOMPLETE_DOC, L"/a"},
      {"<\xF0\x9F\x98\x80/>", nullptr, XML_ERROR_UNEXPECTED_CHAR, L"0xd83d 0xde00 -- \"\""},
      {"<a>\x01</a>", nullptr, XML_ERROR_UNEXPECTED_CHAR, L"0x1 -- \"a>\""},
      {"", nullptr, XML_ERROR_INVALID_DOC, L"no root element"},
      {"<a/>", [](MemoryStream& s) { s.failSize = true; }, XML_ERROR_CANT_SIZE_FILE, L"injected"},
      {"<a/>", [](MemoryStream& s) { s.failRead = true; }, XML_ERROR_CANT_READ_FILE, L"injected"},
      {"<a>\xC3\xA9</a>",
       [](MemoryStream& s) {
         s.failSeek = true;
         s.maxRead = 4;
       },
       XML_ERROR_CANT_SEEK_FILE, L"injected"},
  };
  for (const Case& c : cases) {
    MemoryStream stream(c.bytes);
    if (c.setup) c.setup(stream);
    CXMLDocument document;
    EXPECT_FALSE(document.LoadFromStream(&stream)) << xmltest::Escape(xmltest::Widen(c.bytes));
    EXPECT_EQ(c.error, document.GetError()) << xmltest::Escape(xmltest::Widen(c.bytes));
    EXPECT_EQ(Narrow(c.text), Narrow(document.GetErrorText()));
  }
  // The same broken bytes through a buffer: the parser's refusal, not the stream's.
  CXMLDocument document;
  EXPECT_FALSE(document.LoadFromBuffer("<a>\xC3\x28</a>", 9));
  EXPECT_EQ(XML_ERROR_UNEXPECTED_CHAR, document.GetError());
}

TEST(XmlStreamLoad, SaveAndLoadFiles) {
  CXMLDocument document;
  ASSERT_TRUE(
      document.LoadFromString(std::wstring(L"<?xml version=\"1.0\"?><r a='\x00E9'><b>\xD83D\xDE00</b></r>")));
  const std::wstring path = TempPath(L"xml_save.xml");
  ASSERT_TRUE(document.SaveToFile(path.c_str(), XML_WRITE_INDENT));
  CBuffer bytes;
  ASSERT_TRUE(ReadWholeFile(path.c_str(), bytes));
  EXPECT_EQ("<?xml version=\"1.0\"?>\r\n<r a=\"\xC3\xA9\">\r\n\t<b>\xF0\x9F\x98\x80</b>\r\n</r>\r\n",
            Bytes(bytes));
  CXMLDocument reread;
  ASSERT_TRUE(reread.LoadFromFile(path.c_str(), XML_LOAD_DROP_INDENT));
  EXPECT_EQ(Dump(document), Dump(reread));
  // Node-level saving writes the node alone.
  ASSERT_TRUE(document.GetRoot()->FindChild(L"b")->SaveToFile(path.c_str(), 0, 0));
  ASSERT_TRUE(ReadWholeFile(path.c_str(), bytes));
  EXPECT_EQ("<b>\xF0\x9F\x98\x80</b>", Bytes(bytes));
  FileDelete(path.c_str());
  EXPECT_FALSE(document.SaveToFile(TempPath(L"no such dir\\x.xml").c_str()));
  EXPECT_FALSE(reread.LoadFromFile(TempPath(L"no such dir\\x.xml").c_str()));
  EXPECT_EQ(XML_ERROR_CANT_OPEN_FILE, reread.GetError());
  EXPECT_FALSE(reread.GetErrorText().empty());

  // Writing into a caller's stream: the bytes are the UTF-16 text; only a file stream makes UTF-8.
  MemoryStream memory("");
  EXPECT_FALSE(document.Write(static_cast<IXMLStream*>(nullptr)));
  ASSERT_TRUE(document.Write(&memory, XML_WRITE_NEWLINES));
  const std::wstring expected =
      L"<?xml version=\"1.0\"?>\r\n<r a=\"\x00E9\">\r\n<b>\xD83D\xDE00</b>\r\n</r>\r\n";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2), memory.data);
  // Text that starts a line moves the stream back over the line break already written (2 bytes).
  MemoryStream lineBroken("<x>\r\n");
  lineBroken.position = 5;
  document.GetRoot()->FindChild(L"b")->GetFirstChild()->Write(&lineBroken, XML_WRITE_AT_LINE_START, 1);
  EXPECT_EQ(std::string("<x>\x3D\xD8\x00\xDE", 7), lineBroken.data);
}

}  // namespace
