#include "xml/XmlParser.h"

#include <cstring>
#include <cwctype>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "xml/CharClass.h"
#include "xml/Utf8.h"
#include "xml/XmlText.h"

const XmlEntity kXmlEntities[6] = {{L"gt", L'>'},   {L"lt", L'<'},     {L"apos", L'\''},
                                   {L"quot", L'"'}, {L"nbsp", 0x00A0}, {L"amp", L'&'}};

namespace {

enum Test : uint8_t {
  kUnit,  // one given unit
  kSpace,
  kChar,
  kNameStart,
  kNameChar,
  kDigit,
  kHexDigit,
  kDocTypeStart,   // stateful: resets the DOCTYPE tracker, then as kDocTypeInside
  kDocTypeInside,  // stateful: tracks quotes and <> depth; matches while the depth is not 0
};

enum Action : uint8_t {
  kNone,
  kStartElement,
  kStartElementAndTagEnd,
  kStartTagEnd,
  kEndElement,
  kAttributeName,
  kValue,
  kText,
  kEntity,
  kCharRef,
  kPInstrTarget,
  kPInstrData,
  kPInstrDataAfterMark,  // the data still ends with the '?' of its terminator
  kComment,
  kCData,
  kDocType,
};

// Token operations, applied in this order.
enum Ops : uint8_t {
  kPush = 0x01,          // push the token on the name stack
  kPop = 0x02,           // pop the name stack into the token
  kResetStop = 0x04,     // empty the token, stop collecting
  kResetCollect = 0x08,  // empty the token, start collecting
  kDropLast = 0x10,      // drop the token's last unit
  kStop = 0x20,          // stop collecting
};

// The machine's states, named after where in the markup the parser is; the table below gives each its
// transitions.
enum : int {
  // clang-format off
    kBetweenMarkup = 0, kInText, kAfterLt, kInElementName, kInStartTag, kAfterEmptyTagSlash, kAfterLtSlash,
    kInEndTagName, kAfterEndTagName, kInAttributeName, kBeforeEquals, kAfterEquals, kAtApostropheValueStart,
    kInApostropheValue, kAtQuoteValueStart, kInQuoteValue, kAfterAmpersand, kInEntityName, kAfterAmpersandHash,
    kInDecimalReference, kInHexReference, kAfterLtBang, kAfterLtBangBracket, kAfterLtQuestion,
    kInInstructionTarget, kBeforeInstructionData, kInInstructionData, kAfterTargetQuestion, kAfterLtBangDash,
    kAtCommentStart, kInComment, kAfterCommentDash, kAfterCommentDashDash, kAfterCdataC, kAfterCdataCD,
    kAfterCdataCDA, kAfterCdataCDAT, kAfterCdataCDATA, kAtCdataStart, kInCdata, kAfterCdataBracket,
    kAfterCdataBrackets, kAfterDoctypeD, kAfterDoctypeDO, kAfterDoctypeDOC, kAfterDoctypeDOCT, kAfterDoctypeDOCTY,
    kAfterDoctypeDOCTYP, kAfterDoctype, kInDoctypeBody, kAfterInstructionDataQuestion,
  // clang-format on
  kStateCount
};
constexpr int kError = -1;

// States whose collected units must form valid surrogate pairs: text, attribute values, instruction
// data, comment text and CDATA text.
constexpr uint64_t kPairedStates = (1ull << kInText) | (1ull << kInApostropheValue) | (1ull << kInQuoteValue) |
                                   (1ull << kInInstructionData) | (1ull << kInComment) | (1ull << kInCdata);

}  // namespace

struct CXMLParser::Transition {
  uint8_t test;
  wchar_t unit;
  int8_t target;
  uint8_t action;
  uint8_t ops;
};

namespace {

struct Row {
  uint8_t first;
  uint8_t count;
};

// The state machine. In each state the transitions are tried in order; a unit that none matches is an
// error.
const struct {
  int state;
  uint8_t test;
  wchar_t unit;
  int8_t target;
  uint8_t action;
  uint8_t ops;
} kTable[] = {
    // A line (or a few) per state keeps the table readable.
    // clang-format off
    {kBetweenMarkup, kUnit, L'<', kAfterLt, kNone, 0}, {kBetweenMarkup, kUnit, L'&', kAfterAmpersand, kNone, 0},
    {kBetweenMarkup, kChar, 0, kInText, kNone, kResetCollect},
    {kInText, kUnit, L'<', kAfterLt, kText, 0}, {kInText, kUnit, L'&', kAfterAmpersand, kText, 0},
    {kInText, kChar, 0, kInText, kNone, 0},
    {kAfterLt, kNameStart, 0, kInElementName, kNone, kResetCollect},
    {kAfterLt, kUnit, L'!', kAfterLtBang, kNone, kResetStop},
    {kAfterLt, kUnit, L'?', kAfterLtQuestion, kNone, kResetStop},
    {kAfterLt, kUnit, L'/', kAfterLtSlash, kNone, kResetCollect},
    {kInElementName, kNameChar, 0, kInElementName, kNone, 0},
    {kInElementName, kSpace, 0, kInStartTag, kStartElement, kStop},
    {kInElementName, kUnit, L'/', kAfterEmptyTagSlash, kStartElementAndTagEnd, kStop},
    {kInElementName, kUnit, L'>', kBetweenMarkup, kStartElementAndTagEnd, 0},
    {kInStartTag, kSpace, 0, kInStartTag, kNone, 0},
    {kInStartTag, kNameStart, 0, kInAttributeName, kNone, kPush | kResetCollect},
    {kInStartTag, kUnit, L'/', kAfterEmptyTagSlash, kStartTagEnd, kStop},
    {kInStartTag, kUnit, L'>', kBetweenMarkup, kStartTagEnd, 0},
    {kAfterEmptyTagSlash, kUnit, L'>', kBetweenMarkup, kEndElement, 0},
    {kAfterLtSlash, kNameStart, 0, kInEndTagName, kNone, kResetCollect},
    {kInEndTagName, kNameChar, 0, kInEndTagName, kNone, 0},
    {kInEndTagName, kSpace, 0, kAfterEndTagName, kEndElement, 0},
    {kInEndTagName, kUnit, L'>', kBetweenMarkup, kEndElement, 0},
    {kAfterEndTagName, kSpace, 0, kAfterEndTagName, kNone, 0},
    {kAfterEndTagName, kUnit, L'>', kBetweenMarkup, kNone, 0},
    {kInAttributeName, kNameChar, 0, kInAttributeName, kNone, 0},
    {kInAttributeName, kSpace, 0, kBeforeEquals, kAttributeName, 0},
    {kInAttributeName, kUnit, L'=', kAfterEquals, kAttributeName, 0},
    {kBeforeEquals, kSpace, 0, kBeforeEquals, kNone, 0}, {kBeforeEquals, kUnit, L'=', kAfterEquals, kNone, 0},
    {kAfterEquals, kSpace, 0, kAfterEquals, kNone, 0},
    {kAfterEquals, kUnit, L'\'', kAtApostropheValueStart, kNone, kResetStop},
    {kAfterEquals, kUnit, L'"', kAtQuoteValueStart, kNone, kResetStop},
    {kAtApostropheValueStart, kUnit, L'\'', kInStartTag, kValue, kPop | kStop},
    {kAtApostropheValueStart, kUnit, L'<', kError, kNone, 0},
    {kAtApostropheValueStart, kChar, 0, kInApostropheValue, kNone, kResetCollect},
    {kInApostropheValue, kUnit, L'\'', kInStartTag, kValue, kPop | kStop},
    {kInApostropheValue, kUnit, L'<', kError, kNone, 0}, {kInApostropheValue, kChar, 0, kInApostropheValue, kNone, 0},
    {kAtQuoteValueStart, kUnit, L'"', kInStartTag, kValue, kPop | kStop},
    {kAtQuoteValueStart, kUnit, L'<', kError, kNone, 0},
    {kAtQuoteValueStart, kChar, 0, kInQuoteValue, kNone, kResetCollect},
    {kInQuoteValue, kUnit, L'"', kInStartTag, kValue, kPop | kStop}, {kInQuoteValue, kUnit, L'<', kError, kNone, 0},
    {kInQuoteValue, kChar, 0, kInQuoteValue, kNone, 0},
    {kAfterAmpersand, kNameStart, 0, kInEntityName, kNone, kResetCollect},
    {kAfterAmpersand, kUnit, L'#', kAfterAmpersandHash, kNone, 0},
    {kInEntityName, kNameChar, 0, kInEntityName, kNone, 0},
    {kInEntityName, kUnit, L';', kBetweenMarkup, kEntity, kStop},
    {kAfterAmpersandHash, kDigit, 0, kInDecimalReference, kNone, kResetCollect},
    {kAfterAmpersandHash, kUnit, L'x', kInHexReference, kNone, kResetCollect},
    {kInDecimalReference, kDigit, 0, kInDecimalReference, kNone, 0},
    {kInDecimalReference, kUnit, L';', kBetweenMarkup, kCharRef, kStop},
    {kInHexReference, kHexDigit, 0, kInHexReference, kNone, 0},
    {kInHexReference, kUnit, L';', kBetweenMarkup, kCharRef, kStop},
    {kAfterLtBang, kUnit, L'-', kAfterLtBangDash, kNone, 0},
    {kAfterLtBang, kUnit, L'[', kAfterLtBangBracket, kNone, 0}, {kAfterLtBang, kUnit, L'D', kAfterDoctypeD, kNone, 0},
    {kAfterLtBangBracket, kUnit, L'C', kAfterCdataC, kNone, 0},
    {kAfterLtQuestion, kUnit, L'?', kAfterTargetQuestion, kPInstrTarget, 0},
    {kAfterLtQuestion, kNameStart, 0, kInInstructionTarget, kNone, kResetCollect},
    {kInInstructionTarget, kNameChar, 0, kInInstructionTarget, kNone, 0},
    {kInInstructionTarget, kSpace, 0, kBeforeInstructionData, kPInstrTarget, kStop},
    {kInInstructionTarget, kUnit, L'?', kAfterTargetQuestion, kPInstrTarget, kResetStop},
    // Instructions. In the data only "?>" ends it, and a '?' followed by anything else is data (collected,
    // dropped at the end).
    {kBeforeInstructionData, kSpace, 0, kBeforeInstructionData, kNone, 0},
    {kBeforeInstructionData, kUnit, L'?', kAfterInstructionDataQuestion, kNone, kResetCollect},
    {kBeforeInstructionData, kChar, 0, kInInstructionData, kNone, kResetCollect},
    {kInInstructionData, kUnit, L'?', kAfterInstructionDataQuestion, kNone, 0},
    {kInInstructionData, kChar, 0, kInInstructionData, kNone, 0},
    {kAfterTargetQuestion, kUnit, L'>', kBetweenMarkup, kPInstrData, 0},
    {kAfterLtBangDash, kUnit, L'-', kAtCommentStart, kNone, 0},
    {kAtCommentStart, kUnit, L'-', kAfterCommentDash, kNone, kResetCollect},
    {kAtCommentStart, kChar, 0, kInComment, kNone, kResetCollect},
    {kInComment, kUnit, L'-', kAfterCommentDash, kNone, 0}, {kInComment, kChar, 0, kInComment, kNone, 0},
    {kAfterCommentDash, kUnit, L'-', kAfterCommentDashDash, kNone, kDropLast | kStop},
    {kAfterCommentDash, kChar, 0, kInComment, kNone, 0},
    {kAfterCommentDashDash, kUnit, L'>', kBetweenMarkup, kComment, 0},
    {kAfterCdataC, kUnit, L'D', kAfterCdataCD, kNone, 0},
    {kAfterCdataCD, kUnit, L'A', kAfterCdataCDA, kNone, 0},
    {kAfterCdataCDA, kUnit, L'T', kAfterCdataCDAT, kNone, 0},
    {kAfterCdataCDAT, kUnit, L'A', kAfterCdataCDATA, kNone, 0},
    {kAfterCdataCDATA, kUnit, L'[', kAtCdataStart, kNone, 0},
    {kAtCdataStart, kUnit, L']', kAfterCdataBracket, kNone, kResetCollect},
    {kAtCdataStart, kChar, 0, kInCdata, kNone, kResetCollect},
    {kInCdata, kUnit, L']', kAfterCdataBracket, kNone, 0}, {kInCdata, kChar, 0, kInCdata, kNone, 0},
    {kAfterCdataBracket, kUnit, L']', kAfterCdataBrackets, kNone, 0},
    {kAfterCdataBracket, kChar, 0, kInCdata, kNone, 0},
    {kAfterCdataBrackets, kUnit, L'>', kBetweenMarkup, kCData, kStop},
    {kAfterCdataBrackets, kUnit, L']', kAfterCdataBrackets, kNone, 0},
    {kAfterCdataBrackets, kChar, 0, kInCdata, kNone, 0},
    {kAfterDoctypeD, kUnit, L'O', kAfterDoctypeDO, kNone, 0},
    {kAfterDoctypeDO, kUnit, L'C', kAfterDoctypeDOC, kNone, 0},
    {kAfterDoctypeDOC, kUnit, L'T', kAfterDoctypeDOCT, kNone, 0},
    {kAfterDoctypeDOCT, kUnit, L'Y', kAfterDoctypeDOCTY, kNone, 0},
    {kAfterDoctypeDOCTY, kUnit, L'P', kAfterDoctypeDOCTYP, kNone, 0},
    {kAfterDoctypeDOCTYP, kUnit, L'E', kAfterDoctype, kNone, 0},
    {kAfterDoctype, kDocTypeStart, 0, kInDoctypeBody, kNone, kResetCollect},
    {kInDoctypeBody, kDocTypeInside, 0, kInDoctypeBody, kNone, 0},
    {kInDoctypeBody, kChar, 0, kInText, kDocType, kResetStop},
    {kAfterInstructionDataQuestion, kUnit, L'>', kBetweenMarkup, kPInstrDataAfterMark, kStop},
    {kAfterInstructionDataQuestion, kUnit, L'?', kAfterInstructionDataQuestion, kNone, 0},
    {kAfterInstructionDataQuestion, kChar, 0, kInInstructionData, kNone, 0},
    // clang-format on
};

constexpr size_t kTransitionCount = sizeof(kTable) / sizeof(kTable[0]);
static_assert(kTransitionCount < 255, "transition indices are kept in bytes");

bool StatelessMatch(uint8_t test, wchar_t expected, wchar_t unit) {
  switch (test) {
    case kUnit:
      return unit == expected;
    case kSpace:
      return xmlchar::IsSpace(unit);
    case kChar:
      return xmlchar::IsChar(unit);
    case kNameStart:
      return xmlchar::IsNameStart(unit);
    case kNameChar:
      return xmlchar::IsNameChar(unit);
    case kDigit:
      return xmlchar::IsDigit(unit);
    case kHexDigit:
      return xmlchar::IsHexDigit(unit);
    default:
      return false;
  }
}

}  // namespace

// The table in the form the parser runs it: transitions grouped by state, and for units below 128 the
// matching transition looked up directly (states with stateful tests excepted), since text is mostly ASCII.
struct CXMLParser::Machine {
  CXMLParser::Transition transitions[kTransitionCount];
  Row rows[kStateCount];
  bool stateful[kStateCount];
  uint8_t ascii[kStateCount][128];  // transition index + 1; 0 for none
  // Units below 128 that keep the state (the first transition they match leads back to it), line breaks
  // and 0 excepted: a run of them only needs appending, which the feeders do in bulk.
  bool keeps[kStateCount][128];
  // States whose Char transition leads back to them: there every non-ASCII unit but the surrogates,
  // 0xFFFE and 0xFFFF keeps the state too (text, values, comments, instruction data, CDATA).
  bool keepsChars[kStateCount];
  // For scanning 16 bytes at a time: the printable ASCII units (0x20-0x7F) that end a run of the state, when
  // there are at most kMostStops of them, and whether a tab keeps it (no other control unit does).
  static constexpr int kMostStops = 6;
  uint8_t stops[kStateCount][kMostStops];
  int stopCount[kStateCount];  // -1: too many for the wide scan
  bool keepsTab[kStateCount];

  Machine() : transitions(), rows(), stateful(), ascii(), keeps(), keepsChars(), stops(), stopCount(), keepsTab() {
    for (size_t i = 0; i < kTransitionCount; ++i) {
      transitions[i] = {kTable[i].test, kTable[i].unit, kTable[i].target, kTable[i].action, kTable[i].ops};
      Row& row = rows[kTable[i].state];
      if (row.count == 0) row.first = static_cast<uint8_t>(i);
      ++row.count;
      if (kTable[i].test == kDocTypeStart || kTable[i].test == kDocTypeInside)
        stateful[kTable[i].state] = true;
    }
    for (int s = 0; s < kStateCount; ++s) {
      if (stateful[s]) continue;
      for (wchar_t u = 0; u < 128; ++u) {
        for (uint8_t i = rows[s].first; i < rows[s].first + rows[s].count; ++i) {
          if (StatelessMatch(transitions[i].test, transitions[i].unit, u)) {
            ascii[s][u] = static_cast<uint8_t>(i + 1);
            keeps[s][u] = transitions[i].target == s && u != L'\r' && u != L'\n' && u != 0;
            break;
          }
        }
      }
      for (uint8_t i = rows[s].first; i < rows[s].first + rows[s].count; ++i) {
        if (StatelessMatch(transitions[i].test, transitions[i].unit, 0x80)) {
          keepsChars[s] = transitions[i].test == kChar && transitions[i].target == s;
          break;
        }
      }
      keepsTab[s] = keeps[s][L'\t'];
      for (int u = 0x20; u < 0x80 && stopCount[s] >= 0; ++u) {
        if (keeps[s][u]) continue;
        if (stopCount[s] == kMostStops) stopCount[s] = -1;
        else stops[s][stopCount[s]++] = static_cast<uint8_t>(u);
      }
    }
  }
};

namespace {

const CXMLParser::Machine& GetMachine() {
  static const CXMLParser::Machine machine;
  return machine;
}

// The C runtime's wide space test, with the ASCII units answered here: a call into the runtime costs more
// than the test, and values are trimmed with it at both ends.
bool IsWideSpace(wchar_t u) {
  return u < 0x80 ? (u == L' ' || (u >= L'\t' && u <= L'\r')) : std::iswspace(u) != 0;
}

bool IsAsciiClass(uint8_t byte, uint8_t mask) {
  return byte < 0x80 && (xmlchar::kAsciiClass[byte] & mask) != 0;
}

// Blanks inside a tag that the tag scanner passes over itself; line breaks are left to the general path,
// which counts them.
bool IsTagBlank(uint8_t byte) {
  return byte == ' ' || byte == '\t';
}

// Value of a character reference body ("65" or "x41"): 0 when it does not parse or names no character a
// text may hold. Surrogate code points are refused: alone they would make the decoded text invalid
// UTF-16, which nothing downstream could write or encode faithfully.
uint32_t CharRefValue(const wchar_t* body, uint32_t length) {
  if (length == 0) return 0;
  const bool hex = body[0] == L'x';
  uint32_t i = hex ? 1 : 0;
  if (i == length) return 0;
  uint32_t value = 0;
  for (; i < length; ++i) {
    wchar_t c = body[i];
    uint32_t digit;
    if (c >= L'0' && c <= L'9') {
      digit = c - L'0';
    } else if (hex && c >= L'a' && c <= L'f') {
      digit = c - L'a' + 10;
    } else if (hex && c >= L'A' && c <= L'F') {
      digit = c - L'A' + 10;
    } else {
      return 0;
    }
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0x10FFFE) return 0;  // checked as it grows: no digit count can wrap it
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return value;
}

// The entity named by exactly these n units; null when they name none.
const XmlEntity* FindEntity(const wchar_t* name, uint32_t n) {
  for (const XmlEntity& entity : kXmlEntities) {
    if (std::wcslen(entity.name) == n && std::wmemcmp(entity.name, name, n) == 0) return &entity;
  }
  return nullptr;
}

}  // namespace

CXMLParser::CXMLParser(IXMLParserCallback* callback, unsigned flags)
    : callback(callback), flags(flags), machine(&GetMachine()) {}

bool CXMLParser::Append(wchar_t unit) {
  const uint32_t length = token.Length();
  // Room for the unit and a terminator; Grow refuses sizes that do not fit 32 bits.
  if (token.Capacity() - length < 2 * sizeof(wchar_t) && !token.Grow(2 * sizeof(wchar_t))) return false;
  wchar_t* end = reinterpret_cast<wchar_t*>(token.Data() + length);
  end[0] = unit;
  end[1] = 0;
  token.SetLength(length + sizeof(wchar_t));
  return true;
}

void CXMLParser::ResetToken() {
  ClearText(token);
  joinedUpTo = 0;
}

bool CXMLParser::SetToken(const wchar_t* units, uint32_t n) {
  ClearText(token);
  joinedUpTo = 0;
  return AppendUnits(token, units, n);
}

bool CXMLParser::PushName() {
  try {
    nameStarts.push_back(nameStack.Length());
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!nameStack.Reserve(token.Length())) {
    nameStarts.pop_back();
    return false;
  }
  CopyUnits(reinterpret_cast<wchar_t*>(nameStack.Data() + nameStack.Length()), GetToken(), GetTokenLength());
  nameStack.SetLength(nameStack.Length() + token.Length());
  return true;
}

bool CXMLParser::PopName() {
  if (nameStarts.empty()) {
    ResetToken();
    return true;
  }
  const uint32_t start = nameStarts.back();
  nameStarts.pop_back();
  const uint32_t bytes = nameStack.Length() - start;
  bool ok = SetToken(reinterpret_cast<const wchar_t*>(nameStack.Data() + start), bytes / sizeof(wchar_t));
  nameStack.SetLength(start);
  return ok;
}

bool CXMLParser::TestMatches(const Transition& transition, wchar_t unit) {
  switch (transition.test) {
    case kDocTypeStart:
      docTypeDepth = 1;
      docTypeDoubleQuote = false;
      docTypeSingleQuote = false;
      [[fallthrough]];
    case kDocTypeInside:
      if (unit == L'"' && !docTypeSingleQuote) {
        docTypeDoubleQuote = !docTypeDoubleQuote;
      } else if (unit == L'\'' && !docTypeDoubleQuote) {
        docTypeSingleQuote = !docTypeSingleQuote;
      } else if (!docTypeDoubleQuote && !docTypeSingleQuote) {
        if (unit == L'<') {
          ++docTypeDepth;
        } else if (unit == L'>' && docTypeDepth) {
          --docTypeDepth;
        }
      }
      return docTypeDepth != 0;
    default:
      return StatelessMatch(transition.test, transition.unit, unit);
  }
}

const CXMLParser::Transition* CXMLParser::FindTransition(wchar_t unit) {
  if (unit < 128 && !machine->stateful[state]) {
    uint8_t index = machine->ascii[state][unit];
    return index ? &machine->transitions[index - 1] : nullptr;
  }
  const Row& row = machine->rows[state];
  for (uint8_t i = row.first; i < row.first + row.count; ++i) {
    if (TestMatches(machine->transitions[i], unit)) return &machine->transitions[i];
  }
  return nullptr;
}

template <class Unit>
bool CXMLParser::AppendRun(const Unit* units, uint32_t n) {
  const uint32_t length = token.Length();
  const uint64_t needed = length + (static_cast<uint64_t>(n) + 1) * sizeof(wchar_t);
  if (needed > UINT32_MAX) return false;
  if (token.Capacity() < needed && !token.Grow((n + 1) * sizeof(wchar_t))) return false;
  wchar_t* out = reinterpret_cast<wchar_t*>(token.Data() + length);
  for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<wchar_t>(units[i]);
  out[n] = 0;
  token.SetLength(length + n * static_cast<uint32_t>(sizeof(wchar_t)));
  return true;
}

bool CXMLParser::KeepRun(uint32_t runLength, bool appended) {
  if (runLength == 0) return true;
  lineBreakPending = false;  // none of the units was a line break
  if (!appended) {
    token.Free();
    return Fail(kOutOfMemory);
  }
  return true;
}

bool CXMLParser::Feed(wchar_t unit) {
  return FeedUnit(unit);
}

bool CXMLParser::Feed(const wchar_t* units, uint32_t count) {
  if (!units) return count == 0 && state >= 0;
  uint32_t i = 0;
  while (i < count) {
    // Units that keep the state have no effect but being collected: they go in as one run. Every other
    // unit takes the full path of FeedUnit.
    if (!highSurrogatePending && state >= 0 && !machine->stateful[state]) {
      const bool* keeps = machine->keeps[state];
      const uint32_t start = i;
      if (machine->keepsChars[state]) {
        while (i < count) {
          const wchar_t u = units[i];
          if (u < 0x80 ? keeps[u] : (u < 0xD800 || (u >= 0xE000 && u < 0xFFFE))) {
            ++i;
          } else if (xmlchar::IsHighSurrogate(u) && i + 1 < count && xmlchar::IsLowSurrogate(units[i + 1])) {
            i += 2;  // a whole pair leaves nothing pending
          } else {
            break;
          }
        }
      } else {
        while (i < count && units[i] < 0x80 && keeps[units[i]]) ++i;
      }
      if (!KeepRun(i - start, !collecting || AppendRun(units + start, i - start))) return false;
      if (i == count) break;
    }
    if (!FeedUnit(units[i++])) return false;
  }
  return state >= 0;
}

bool CXMLParser::Feed(const wchar_t* text) {
  if (!text) return state >= 0;
  for (; *text; ++text) {
    if (!FeedUnit(*text)) return false;
  }
  return state >= 0;
}

bool CXMLParser::FeedUtf8(const uint8_t* bytes, uint32_t count, Utf8Failure* failure) {
  if (state < 0) return false;
  uint32_t i = 0;
  while (i < count) {
    if (!highSurrogatePending) {
      if (state == kAfterLt && !ScanTagName(bytes, count, &i, failure)) return false;
      if (state == kInStartTag && !collecting && !ScanAttributes(bytes, count, &i, failure)) return false;
      if (i == count) break;
    }
    // As in Feed: ASCII that keeps the state goes in as one run; in states that keep every Char, so does
    // a decoded character other than a surrogate, 0xFFFE or 0xFFFF.
    if (!highSurrogatePending && !machine->stateful[state]) {
      const bool* keeps = machine->keeps[state];
      const uint32_t start = i;
      if (collecting && machine->keepsChars[state]) {
        if (!CollectChars(bytes, count, &i)) return false;
      } else {
        while (i < count && bytes[i] < 0x80 && keeps[bytes[i]]) ++i;
        if (!KeepRun(i - start, !collecting || AppendRun(bytes + start, i - start))) return false;
      }
      if (i == count) break;
      const uint8_t unit = bytes[i];
      if (unit == '&' && (state == kBetweenMarkup || state == kInText)) {
        bool ok = true;
        const uint32_t taken = ReadReference(bytes + i, count - i, &ok);
        if (!ok) return false;
        if (taken) {
          i += taken;
          continue;
        }
      }
      if (unit < 0x80 && unit != 0 && unit != L'\r' && unit != L'\n') {
        if (!FeedPlainAscii(unit)) {
          if (failure) *failure = Utf8Failure{false, i, {static_cast<wchar_t>(unit), 0}, 1};
          return false;
        }
        ++i;
        continue;
      }
      if (bytes[i] >= 0x80 && machine->keepsChars[state]) {
        uint32_t codePoint;
        const uint32_t length = DecodeUtf8(bytes + i, count - i, &codePoint);
        if (length && ((codePoint < 0xD800) || (codePoint >= 0xE000 && codePoint < 0xFFFE) ||
                       (codePoint >= 0x10000 && codePoint <= 0x10FFFF))) {
          wchar_t units[2];
          const uint32_t n = CodePointToUtf16(codePoint, units);
          if (!KeepRun(n, !collecting || AppendRun(units, n))) return false;
          i += length;
          continue;
        }
      }
    }
    const uint8_t lead = bytes[i];
    if (lead < 0x80) {
      if (!FeedUnit(lead)) {
        if (failure) *failure = Utf8Failure{false, i, {static_cast<wchar_t>(lead), 0}, 1};
        return false;
      }
      ++i;
      continue;
    }
    uint32_t codePoint;
    const uint32_t length = DecodeUtf8(bytes + i, count - i, &codePoint);
    if (length == 0) {
      if (failure) *failure = Utf8Failure{true, i, {0, 0}, 0};
      return Fail(kRejected);
    }
    wchar_t units[2];
    const uint32_t n = CodePointToUtf16(codePoint, units);
    for (uint32_t k = 0; k < n; ++k) {
      if (!FeedUnit(units[k])) {
        if (failure) *failure = Utf8Failure{false, i, {units[0], n == 2 ? units[1] : wchar_t(0)}, n};
        return false;
      }
    }
    i += length;
  }
  return true;
}

bool CXMLParser::ScanAction(int action, const uint8_t* bytes, uint32_t unitAt, Utf8Failure* failure) {
  bool replayed = false;  // only references replay, and no scanned action reads one
  if (RunAction(action, &replayed)) return true;
  // Stopped at the unit whose transition ran the action, as FeedPlainAscii reports it.
  if (failure) *failure = Utf8Failure{false, unitAt, {static_cast<wchar_t>(bytes[unitAt]), 0}, 1};
  return false;
}

bool CXMLParser::ScanTagName(const uint8_t* bytes, uint32_t count, uint32_t* at, Utf8Failure* failure) {
  uint32_t i = *at;
  const bool endTag = bytes[i] == '/';
  const uint32_t nameStart = endTag ? i + 1 : i;
  if (nameStart >= count || !IsAsciiClass(bytes[nameStart], xmlchar::kNameStart)) return true;
  uint32_t nameEnd = nameStart + 1;
  while (nameEnd < count && IsAsciiClass(bytes[nameEnd], xmlchar::kNameChar)) ++nameEnd;
  if (nameEnd == count) return true;
  const uint8_t next = bytes[nameEnd];
  if (endTag ? next != '>' : (next != '>' && next != '/' && !IsTagBlank(next))) return true;

  lineBreakPending = false;
  ResetToken();
  if (!AppendRun(bytes + nameStart, nameEnd - nameStart)) {
    token.Free();
    return Fail(kOutOfMemory);
  }
  collecting = true;
  state = endTag ? kInEndTagName : kInElementName;
  if (!ScanAction(endTag ? kEndElement : IsTagBlank(next) ? kStartElement : kStartElementAndTagEnd, bytes, nameEnd,
                  failure)) {
    return false;
  }
  if (next == '>') {
    // That transition leaves collecting on, so the '>' lands in the token, as it does unit by unit.
    state = kBetweenMarkup;
    if (!Append(L'>')) {
      token.Free();
      return Fail(kOutOfMemory);
    }
  } else {
    collecting = false;
    state = next == '/' ? kAfterEmptyTagSlash : kInStartTag;
  }
  *at = nameEnd + 1;
  return true;
}

bool CXMLParser::ScanAttributes(const uint8_t* bytes, uint32_t count, uint32_t* at, Utf8Failure* failure) {
  uint32_t i = *at;
  auto act = [&](int action, uint32_t unitAt) { return ScanAction(action, bytes, unitAt, failure); };
  auto outOfMemory = [&]() {
    token.Free();
    return Fail(kOutOfMemory);
  };
  // The element name waits while the attributes are read, as the transitions keep it on the name stack;
  // here it waits in a buffer of its own, exchanged with the token once per tag rather than copied twice
  // per attribute. A failed action leaves the attribute's token in place, as it is unit by unit.
  bool nameWaits = false;
  auto nameBack = [&]() {
    if (nameWaits) token.Swap(waitingName);
    nameWaits = false;
  };
  for (;;) {
    while (i < count && IsTagBlank(bytes[i])) {
      lineBreakPending = false;
      ++i;
    }
    if (i == count) break;
    const uint8_t lead = bytes[i];
    if (lead == '>' || lead == '/') {
      lineBreakPending = false;
      nameBack();
      if (!act(kStartTagEnd, i)) return false;
      state = lead == '>' ? kBetweenMarkup : kAfterEmptyTagSlash;
      ++i;
      break;
    }
    if (!IsAsciiClass(lead, xmlchar::kNameStart)) break;
    // Only an attribute that is whole and plain in these bytes is read here: name, blanks, '=', blanks,
    // a quoted value of printable ASCII or tabs without '<'. Anything else, from its first unit on, is read
    // by the general path, which then gives the same events, tokens, errors and line counts.
    uint32_t nameEnd = i + 1;
    while (nameEnd < count && IsAsciiClass(bytes[nameEnd], xmlchar::kNameChar)) ++nameEnd;
    uint32_t k = nameEnd;
    while (k < count && IsTagBlank(bytes[k])) ++k;
    if (k == count || bytes[k] != '=') break;
    ++k;
    while (k < count && IsTagBlank(bytes[k])) ++k;
    if (k == count || (bytes[k] != '"' && bytes[k] != '\'')) break;
    const uint8_t quote = bytes[k];
    const uint32_t valueStart = k + 1;
    uint32_t valueEnd = valueStart;
    while (valueEnd < count) {
      const uint8_t c = bytes[valueEnd];
      if (c == quote || c == '<' || c >= 0x80 || (c < 0x20 && c != '\t')) break;
      ++valueEnd;
    }
    if (valueEnd == count || bytes[valueEnd] != quote) break;

    lineBreakPending = false;
    if (!nameWaits) {
      token.Swap(waitingName);
      nameWaits = true;
    }
    ResetToken();
    if (!AppendRun(bytes + i, nameEnd - i)) return outOfMemory();
    collecting = true;
    state = kInAttributeName;
    if (!act(kAttributeName, nameEnd)) return false;
    ResetToken();
    if (!AppendRun(bytes + valueStart, valueEnd - valueStart)) return outOfMemory();
    state = kInQuoteValue;
    if (!act(kValue, valueEnd)) return false;
    collecting = false;
    state = kInStartTag;
    i = valueEnd + 1;
  }
  nameBack();
  *at = i;
  return true;
}

bool CXMLParser::CollectChars(const uint8_t* bytes, uint32_t count, uint32_t* at) {
  const bool* keeps = machine->keeps[state];
#if defined(__SSE2__)
  const uint8_t* const stops = machine->stops[state];
  const int stopCount = machine->stopCount[state];
  const bool wide = stopCount >= 0;
#endif
  uint32_t i = *at;
  bool collected = false;
  while (i < count) {
    // A byte never makes more than one unit, so what is left of the input bounds the room needed; it is
    // taken in rounds of at most 64 K units so that a long input does not double the token at once.
    const uint32_t room = count - i < 0x10000 ? count - i : 0x10000;
    const uint32_t length = token.Length();
    if (token.Capacity() - length < (room + 1) * sizeof(wchar_t) &&
        !token.Grow((room + 1) * sizeof(wchar_t))) {
      token.Free();
      return Fail(kOutOfMemory);
    }
    wchar_t* const begin = reinterpret_cast<wchar_t*>(token.Data() + length);
    wchar_t* out = begin;
    wchar_t* const end = begin + room;
    bool stopped = false;
    while (i < count && out < end) {
#if defined(__SSE2__)
      // Sixteen bytes at a time while they are plain ASCII that keeps the state; the first that is not goes
      // the byte-by-byte way below. All sixteen are widened and stored (there is room for them), but only
      // the ones taken count.
      if (wide && count - i >= 16 && end - out >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        __m128i stop = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));  // controls; bytes >= 0x80 are negative too
        if (machine->keepsTab[state]) stop = _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), stop);
        for (int k = 0; k < stopCount; ++k) {
          stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(stops[k]))));
        }
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stop));
        const unsigned taken = mask ? static_cast<unsigned>(__builtin_ctz(mask)) : 16u;
        out += taken;
        i += taken;
        if (taken == 16) continue;
      }
#endif
      const uint8_t byte = bytes[i];
      if (byte < 0x80) {
        if (!keeps[byte]) {
          stopped = true;
          break;
        }
        *out++ = byte;
        ++i;
        continue;
      }
      // A character that keeps the state: anything decodable but a surrogate, 0xFFFE, 0xFFFF and values
      // beyond Unicode, which the unit-by-unit path judges.
      uint32_t codePoint;
      const uint32_t n = DecodeUtf8(bytes + i, count - i, &codePoint);
      if (n == 0 || (codePoint >= 0xD800 && codePoint < 0xE000) || codePoint == 0xFFFE ||
          codePoint == 0xFFFF || codePoint > 0x10FFFF) {
        stopped = true;
        break;
      }
      if (codePoint >= 0x10000) {
        if (end - out < 2) break;  // the next round has room for the pair
        out += CodePointToUtf16(codePoint, out);
      } else {
        *out++ = static_cast<wchar_t>(codePoint);
      }
      i += n;
    }
    *out = 0;
    token.SetLength(length + static_cast<uint32_t>(out - begin) * sizeof(wchar_t));
    if (out == begin) break;
    collected = true;
    if (stopped) break;
  }
  if (collected) lineBreakPending = false;  // none of the units was a line break
  *at = i;
  return true;
}

uint32_t CXMLParser::ReadReference(const uint8_t* bytes, uint32_t count, bool* ok) {
  // The body between '&' and ';': short, ASCII, and ending within the bytes given.
  constexpr uint32_t kLongest = 12;
  wchar_t body[kLongest];
  uint32_t length = 0;
  for (uint32_t i = 1;; ++i) {
    if (i == count || length == kLongest || bytes[i] >= 0x80) return 0;
    if (bytes[i] == ';') break;
    body[length++] = bytes[i];
  }
  if (length == 0) return 0;
  wchar_t units[2];
  uint32_t n = 0;
  if (body[0] == L'#') {
    // As the machine reads it: digits, or a lowercase 'x' and hexadecimal digits (CharRefValue checks them).
    if (length < 2 || (body[1] == L'x' && length < 3)) return 0;
    if (body[1] != L'x' && !xmlchar::IsDigit(body[1])) return 0;
    const uint32_t value = CharRefValue(body + 1, length - 1);
    if (!value) return 0;
    n = CodePointToUtf16(value, units);
  } else {
    const XmlEntity* entity = FindEntity(body, length);
    if (!entity) return 0;
    units[0] = entity->character;
    n = 1;
  }
  lineBreakPending = false;
  if (joinReferences) {
    if (state == kBetweenMarkup) {
      // As the first unit of text would: a fresh token, collected.
      ResetToken();
      collecting = true;
      state = kInText;
    }
    if (!AppendRun(units, n)) {
      token.Free();
      *ok = Fail(kOutOfMemory);
      return 0;
    }
    joinedUpTo = GetTokenLength();
    return length + 2;
  }
  // What the machine does from the '&' to the ';': the text before it goes out, then the value as text of
  // its own, and the state is between markup, not collecting.
  if (state == kInText && !CallOnText(false)) {
    *ok = Fail(kCallbackFailed);
    return 0;
  }
  if (!SetToken(units, n)) {
    token.Free();
    *ok = Fail(kOutOfMemory);
    return 0;
  }
  collecting = false;
  state = kBetweenMarkup;
  if (!CallOnText(true)) {
    *ok = Fail(kCallbackFailed);
    return 0;
  }
  return length + 2;
}

bool CXMLParser::CallOnText(bool reference) {
  inReference = reference;
  const bool accepted = !callback || callback->OnText(*this);
  inReference = false;
  return accepted;
}

void CXMLParser::KeepAfterJoined() {
  wchar_t* units = reinterpret_cast<wchar_t*>(token.Data());
  const uint32_t rest = GetTokenLength() - joinedUpTo;
  std::memmove(units, units + joinedUpTo, (rest + 1) * sizeof(wchar_t));  // the terminator too
  token.SetLength(rest * sizeof(wchar_t));
  joinedUpTo = 0;
}

bool CXMLParser::GiveText() {
  const bool accepted = CallOnText(joinedUpTo != 0);
  if (joinedUpTo) KeepAfterJoined();
  return accepted;
}

bool CXMLParser::FinishText() {
  // A token freed when memory ran out holds nothing to give.
  if (!callback || GetTokenLength() < joinedUpTo) joinedUpTo = 0;
  if (!joinedUpTo) return true;
  // The text up to the last reference goes out as if it were the whole token; then what follows it stays.
  wchar_t* units = reinterpret_cast<wchar_t*>(token.Data());
  const uint32_t length = GetTokenLength();
  const wchar_t cut = units[joinedUpTo];
  units[joinedUpTo] = 0;
  token.SetLength(joinedUpTo * sizeof(wchar_t));
  const bool accepted = CallOnText(true);
  units[joinedUpTo] = cut;
  token.SetLength(length * sizeof(wchar_t));
  KeepAfterJoined();
  return accepted;
}

bool CXMLParser::FeedPlainAscii(wchar_t unit) {
  // FeedUnit for a unit below 128 that is neither 0 nor a line break, with no high surrogate pending and
  // a state without stateful tests: no line-break book-keeping, the transition straight from the table.
  lineBreakPending = false;
  const uint8_t index = machine->ascii[state][unit];
  if (!index) return Fail(kRejected);
  const Transition& transition = machine->transitions[index - 1];
  if (transition.target != state) {
    bool replayed = false;
    if (!Take(transition, &replayed)) return false;
    if (!replayed) state = transition.target;
    if (state < 0) return false;
  }
  if (collecting && !Append(unit)) {
    token.Free();
    return Fail(kOutOfMemory);
  }
  return true;
}

bool CXMLParser::FeedUnit(wchar_t unit) {
  if (state < 0) return false;
  // A 0 unit is never text: it would cut every C-string view of the text it landed in.
  if (unit == 0) return Fail(kRejected);

  if (unit == L'\r') {
    lineBreakPending = true;
    unit = L'\n';
  } else if (unit == L'\n' && lineBreakPending) {
    lineBreakPending = false;  // the LF of a CR LF pair: the CR already stood for it
    return true;
  } else {
    lineBreakPending = false;
  }
  if (unit == L'\n' && callback && !callback->OnNewLine(*this)) return Fail(kCallbackFailed);

  const Transition* transition = FindTransition(unit);
  if (!transition) return Fail(kRejected);
  if (transition->target != state) {
    if (highSurrogatePending) return Fail(kRejected);  // a high surrogate must be followed by its pair
    bool replayed = false;
    if (!Take(*transition, &replayed)) return false;
    if (!replayed) state = transition->target;
    if (state < 0) return false;
  }

  if (collecting) {
    if ((kPairedStates >> state) & 1) {
      if (xmlchar::IsHighSurrogate(unit)) {
        if (highSurrogatePending) return Fail(kRejected);
        highSurrogatePending = true;
      } else if (xmlchar::IsLowSurrogate(unit)) {
        if (!highSurrogatePending) return Fail(kRejected);
        highSurrogatePending = false;
      } else if (highSurrogatePending) {
        return Fail(kRejected);
      }
    }
    if (!Append(unit)) {
      token.Free();
      return Fail(kOutOfMemory);
    }
  }
  return true;
}

bool CXMLParser::Take(const Transition& transition, bool* replayed) {
  if (transition.action != kNone) {
    if (!RunAction(transition.action, replayed)) return false;
    if (*replayed) return true;
  }
  const uint8_t ops = transition.ops;
  if (ops == 0) return true;
  if ((ops & kPush) && !PushName()) {
    token.Free();
    return Fail(kOutOfMemory);
  }
  if ((ops & kPop) && !PopName()) {
    token.Free();
    return Fail(kOutOfMemory);
  }
  if (ops & kResetStop) {
    ResetToken();
    collecting = false;
  }
  if (ops & kResetCollect) {
    ResetToken();
    collecting = true;
  }
  if (ops & kDropLast) DropTokenUnits(1);
  if (ops & kStop) collecting = false;
  return true;
}

void CXMLParser::DropTokenUnits(uint32_t n) {
  if (token.Length() < n * sizeof(wchar_t)) return;
  token.SetLength(token.Length() - n * sizeof(wchar_t));
  reinterpret_cast<wchar_t*>(token.Data() + token.Length())[0] = 0;
}

bool CXMLParser::Replay() {
  // An unknown reference is read again as plain text between markup, so "&copy;" reads as "copy;". The
  // replayed units are name or digit units and can never start another reference.
  std::wstring units;
  try {
    units = GetTokenText();
  } catch (const std::bad_alloc&) {
    return Fail(kOutOfMemory);
  }
  state = kBetweenMarkup;
  ResetToken();
  collecting = false;
  lineBreakPending = false;
  for (wchar_t unit : units) {
    if (!FeedUnit(unit)) return false;
  }
  return true;
}

bool CXMLParser::RunAction(int action, bool* replayed) {
  if (!callback && action != kEntity && action != kCharRef && action != kValue && action != kCData &&
      action != kDocType) {
    return true;
  }
  // Inlined, so that each case below makes a plain virtual call rather than one through a member pointer.
  auto call = [this](bool (IXMLParserCallback::*event)(CXMLParser&)) __attribute__((always_inline)) {
    return !callback || (callback->*event)(*this) || Fail(kCallbackFailed);
  };
  switch (action) {
    case kStartElement:
      return call(&IXMLParserCallback::OnStartElement);
    case kStartElementAndTagEnd:
      return call(&IXMLParserCallback::OnStartElement) && call(&IXMLParserCallback::OnStartTagEnd);
    case kStartTagEnd:
      return call(&IXMLParserCallback::OnStartTagEnd);
    case kEndElement:
      return call(&IXMLParserCallback::OnEndElement);
    case kAttributeName:
      return call(&IXMLParserCallback::OnAttributeName);
    case kValue:
      if (!NormalizeValue()) return Fail(kOutOfMemory);
      return call(&IXMLParserCallback::OnAttributeValue);
    case kText:
      return GiveText() || Fail(kCallbackFailed);
    case kEntity: {
      if (const XmlEntity* entity = FindEntity(GetToken(), GetTokenLength())) {
        if (!SetToken(&entity->character, 1)) return Fail(kOutOfMemory);
        return call(&IXMLParserCallback::OnText);
      }
      if (!call(&IXMLParserCallback::OnUnresolvedEntity)) return false;
      *replayed = true;
      return Replay();
    }
    case kCharRef: {
      const uint32_t value = CharRefValue(GetToken(), GetTokenLength());
      if (value) {
        wchar_t units[2];
        if (!SetToken(units, CodePointToUtf16(value, units))) return Fail(kOutOfMemory);
        return call(&IXMLParserCallback::OnText);
      }
      if (!call(&IXMLParserCallback::OnBadCharRef)) return false;
      *replayed = true;
      return Replay();
    }
    case kPInstrTarget:
      return call(&IXMLParserCallback::OnPInstrTarget);
    case kPInstrDataAfterMark:
      DropTokenUnits(1);
      return call(&IXMLParserCallback::OnPInstrData);
    case kPInstrData:
      return call(&IXMLParserCallback::OnPInstrData);
    case kComment:
      return call(&IXMLParserCallback::OnComment);
    case kCData: {
      // The token still ends with the "]]" of the terminator.
      DropTokenUnits(2);
      ReplaceAll(token, L"]]&gt;", L"]]>");  // the writer's escape of a "]]>" inside the section
      return call(&IXMLParserCallback::OnCData);
    }
    case kDocType: {
      const wchar_t* text = GetToken();
      uint32_t begin = 0;
      uint32_t end = GetTokenLength();
      while (begin < end && std::iswspace(text[begin])) ++begin;
      while (end > begin && std::iswspace(text[end - 1])) --end;
      std::wstring body;
      try {
        body.assign(text + begin, end - begin);
      } catch (const std::bad_alloc&) {
        return Fail(kOutOfMemory);
      }
      if (!SetToken(body.data(), static_cast<uint32_t>(body.size()))) return Fail(kOutOfMemory);
      return call(&IXMLParserCallback::OnDocType);
    }
    default:
      return true;
  }
}

bool CXMLParser::NormalizeValue() {
  if (flags & XML_LOAD_RAW_ATTRIBUTES) return true;
  wchar_t* text = reinterpret_cast<wchar_t*>(token.Data());
  uint32_t length = GetTokenLength();
  if (length == 0) return true;

  // Each step only shortens the text, so everything happens in place.
  uint32_t begin = 0;
  uint32_t end = length;
  while (begin < end && IsWideSpace(text[begin])) ++begin;
  while (end > begin && IsWideSpace(text[end - 1])) --end;
  uint32_t out = 0;
  bool hasReference = false;
  bool inSpaceRun = false;
  for (uint32_t i = begin; i < end; ++i) {
    wchar_t c = text[i];
    if (xmlchar::IsSpace(c)) {
      if (inSpaceRun) continue;
      inSpaceRun = true;
      c = L' ';
    } else {
      inSpaceRun = false;
      if (c == L'&') hasReference = true;
    }
    text[out++] = c;
  }
  length = out;

  if (hasReference) {
    // Character references first, then the entities: so "&#38;lt;" ends as '<' and "&amp;lt;" as "&lt;".
    out = 0;
    for (uint32_t i = 0; i < length;) {
      if (text[i] == L'&' && i + 1 < length && text[i + 1] == L'#') {
        // Only reference units are scanned, so a run of "&#" without a ';' costs linear time in all.
        uint32_t close = i + 2;
        while (close < length && (xmlchar::IsHexDigit(text[close]) || text[close] == L'x')) ++close;
        if (close < length && text[close] == L';') {
          const uint32_t value = CharRefValue(text + i + 2, close - i - 2);
          if (value) {
            wchar_t units[2];
            const uint32_t n = CodePointToUtf16(value, units);
            for (uint32_t k = 0; k < n; ++k) text[out++] = units[k];
            i = close + 1;
            continue;
          }
        }
      }
      text[out++] = text[i++];
    }
    length = out;

    out = 0;
    for (uint32_t i = 0; i < length;) {
      if (text[i] == L'&') {
        bool replaced = false;
        for (const XmlEntity& entity : kXmlEntities) {
          const uint32_t n = static_cast<uint32_t>(std::wcslen(entity.name));
          if (i + n + 1 < length && std::wmemcmp(text + i + 1, entity.name, n) == 0 &&
              text[i + n + 1] == L';') {
            text[out++] = entity.character;
            i += n + 2;
            replaced = true;
            break;
          }
        }
        if (replaced) continue;
      }
      text[out++] = text[i++];
    }
    length = out;
  }
  token.SetLength(length * sizeof(wchar_t));
  text[length] = 0;
  return true;
}
