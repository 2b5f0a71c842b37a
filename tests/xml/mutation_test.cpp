// Robustness: inputs derived from a small corpus by seeded, deterministic mutations go through every load
// path. Each load must end with a tree or a named error; valid UTF-8 must end alike read as bytes and as
// UTF-16; a tree, written and read again, must read back to the same tree and the same text.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "XmlTestUtil.h"
#include "xml/Utf8.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStream.h"

namespace {

constexpr int kInputs = 3000;

const char* const kCorpus[] = {
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n\t<release version=\"1.2.3\">\r\n"
    "\t\t<executable length=\"1234\" url=\"https://example.test/x.exe\" file=\"setup.exe\" "
    "params=\"/q\"/>\r\n"
    "\t</release>\r\n</update>\r\n",
    "<text size=\"12\" color=\"#ff0000\">Read the <a href=\"https://t.test/?a=1&amp;b=2\">terms</a> &amp; "
    "<b>agree</b>&nbsp;now&#33; &#x1F600;</text>",
    "<!DOCTYPE d [<!ENTITY e \"v>\">]><!--c--><?pi data?><r a='1' b=\"&#65;&lt;\">x<![CDATA[y]]&gt;]]>z</r>",
    "<r>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80<e\xCC\x80 \xC3\xA9=\"\xE4\xB8\x80\"/></r>",
    "<a><b><c><d><e>deep</e></d></c></b></a>",
    "\xEF\xBB\xBF<r x = ' a  b '\r\n y=\"&quot;\">\r\n  <!-- - -->\r\n  <?t?>\r\n</r>",
};

// Fragments inserted by the mutations: markup starts, references, broken and surrogate UTF-8.
const char* const kFragments[] = {
    "<",
    ">",
    "&",
    ";",
    "/",
    "=",
    "\"",
    "'",
    "<a>",
    "</a>",
    "<!--",
    "-->",
    "<?",
    "?>",
    "<![CDATA[",
    "]]>",
    "<!DOCTYPE ",
    "&#",
    "&#x",
    "&amp;",
    "&bogus;",
    "&#0;",
    "&#x110000;",
    "\r",
    "\n",
    "\t",
    "\xC0\xBC",
    "\xC3",
    "\xE2\x82",
    "\x80",
    "\xFF",
    "\xED\xA0\x80",
    "\xED\xB0\x80",
    "\xF4\x90\x80\x80",
    "\xF8\x88\x80\x80\x80",
    "",  // a 0 byte
};

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : state(seed) {}

  uint32_t Next(uint32_t n) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return n ? state % n : 0;
  }

  std::string Mutate(std::string s) {
    // Mostly one mutation, so that a good share of the inputs stay documents and reach the writer.
    for (uint32_t rounds = Next(3) ? 1 : 2 + Next(2); rounds; --rounds) {
      const uint32_t at = Next(static_cast<uint32_t>(s.size()) + 1);
      switch (Next(7)) {
        case 0:  // flip bits
          if (!s.empty()) s[at % s.size()] ^= static_cast<char>(1u << Next(8));
          break;
        case 1:  // truncate
          s.resize(at);
          break;
        case 2: {  // insert a fragment
          const char* f = kFragments[Next(sizeof(kFragments) / sizeof(kFragments[0]))];
          s.insert(at, f, *f ? std::strlen(f) : 1);
          break;
        }
        case 3: {  // duplicate a slice of markup
          uint32_t from = Next(static_cast<uint32_t>(s.size()) + 1);
          uint32_t length = Next(64);
          s.insert(at, s.substr(from, length));
          break;
        }
        case 4: {  // nest deeply, closed or not
          uint32_t depth = 1 + Next(20000);
          std::string open;
          std::string close;
          for (uint32_t i = 0; i < depth; ++i) open += "<n>";
          if (Next(3)) {
            for (uint32_t i = 0; i < depth; ++i) close += "</n>";
          }
          s = open + s + close;
          break;
        }
        case 5:  // random bytes, mostly high ones
          for (uint32_t n = 1 + Next(4); n; --n) s.insert(at, 1, static_cast<char>(0x80 | Next(128)));
          break;
        default:  // delete a slice
          s.erase(at, Next(16));
          break;
      }
    }
    return s;
  }

  unsigned Flags() {
    static const unsigned kChoices[] = {0,
                                        XML_LOAD_DROP_INDENT,
                                        XML_LOAD_NO_COMMENTS | XML_LOAD_NO_PINSTR,
                                        XML_LOAD_NO_CDATA | XML_LOAD_NO_DOCTYPE,
                                        XML_LOAD_ROOT_ONLY,
                                        XML_LOAD_TOLERATE_END_TAGS,
                                        XML_LOAD_RAW_ATTRIBUTES,
                                        XML_LOAD_DROP_INDENT | XML_LOAD_TOLERATE_END_TAGS};
    return kChoices[Next(8)];
  }

 private:
  uint32_t state;
};

// The bytes as UTF-16 for LoadFromString: valid sequences decoded, every other byte as a lone low
// surrogate (0xDC00 + byte), so broken UTF-8 becomes broken UTF-16. *whole tells whether every byte was
// part of a valid sequence.
std::wstring ToUnits(const std::string& bytes, bool* whole) {
  *whole = true;
  std::wstring units;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    uint32_t codePoint;
    uint32_t length = DecodeUtf8(p + i, static_cast<uint32_t>(bytes.size() - i), &codePoint);
    if (length) {
      wchar_t pair[2];
      units.append(pair, CodePointToUtf16(codePoint, pair));
      i += length;
    } else {
      *whole = false;
      units += static_cast<wchar_t>(0xDC00 + p[i++]);
    }
  }
  return units;
}

// A load ends with a tree (true, no error, a root) or a named error (false, a known code).
::testing::AssertionResult Settled(const CXMLDocument& document, bool ok) {
  if (ok && document.GetError() == XML_ERROR_NONE && document.GetRoot()) return ::testing::AssertionSuccess();
  if (!ok && document.GetError() != XML_ERROR_NONE &&
      std::wcscmp(XMLErrorName(document.GetError()), L"<unknown>"))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "result " << ok << " error " << document.GetError();
}

TEST(XmlMutation, EveryLoadEndsWithATreeOrANamedError) {
  const auto start = std::chrono::steady_clock::now();
  Mutator mutator(20240611);
  int trees = 0;
  for (int i = 0; i < kInputs; ++i) {
    const std::string input = mutator.Mutate(kCorpus[mutator.Next(sizeof(kCorpus) / sizeof(kCorpus[0]))]);
    const unsigned flags = mutator.Flags();
    SCOPED_TRACE(::testing::Message() << "input " << i << " flags " << flags << ": "
                                      << xmltest::Escape(xmltest::Widen(input.substr(0, 200))));

    CXMLDocument fromBuffer;
    bool ok = fromBuffer.LoadFromBuffer(input.data(), static_cast<uint32_t>(input.size()), flags);
    ASSERT_TRUE(Settled(fromBuffer, ok));

    bool whole;
    CXMLDocument fromString;
    const bool stringOk = fromString.LoadFromString(ToUnits(input, &whole), flags);
    ASSERT_TRUE(Settled(fromString, stringOk));
    if (whole) {
      // The UTF-8 path reads whole tags, attributes, texts and references in one go where the UTF-16 one
      // goes unit by unit: both must end alike, down to the error's text and line.
      ASSERT_EQ(ok, stringOk);
      ASSERT_EQ(fromBuffer.GetError(), fromString.GetError());
      ASSERT_EQ(xmltest::Narrow(fromBuffer.GetErrorText()), xmltest::Narrow(fromString.GetErrorText()));
      ASSERT_EQ(fromBuffer.GetLine(), fromString.GetLine());
      ASSERT_EQ(xmltest::Dump(fromBuffer), xmltest::Dump(fromString));
    }

    xmltest::MemoryStream stream(input, 1 + mutator.Next(300));
    CXMLDocument fromStream;
    bool streamOk = fromStream.LoadFromStream(&stream, flags);
    ASSERT_TRUE(Settled(fromStream, streamOk));
    // Chunking must not change the outcome, nor the tree kept after a failure; only the wording of some errors.
    ASSERT_EQ(ok, streamOk);
    ASSERT_EQ(xmltest::Dump(fromBuffer), xmltest::Dump(fromStream));

    if (ok && !(flags & XML_LOAD_RAW_ATTRIBUTES)) {
      ++trees;
      std::wstring written;
      ASSERT_TRUE(fromBuffer.WriteToString(written, 0));
      CXMLDocument reread;
      ASSERT_TRUE(reread.LoadFromString(written, 0)) << xmltest::Narrow(written);
      ASSERT_EQ(xmltest::Dump(fromBuffer), xmltest::Dump(reread));
      std::wstring again;
      ASSERT_TRUE(reread.WriteToString(again, 0));
      ASSERT_TRUE(written == again);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d inputs, %d of them trees, in %.2f s\n", kInputs, trees, seconds);
  EXPECT_GT(trees, kInputs / 20);  // the mutations must leave enough documents whole to test the writer
}

}  // namespace
