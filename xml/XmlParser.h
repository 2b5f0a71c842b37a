// A table-driven XML parser: one UTF-16 unit at a time, no look-ahead, no recursion, no buffering beyond
// the token being collected. Events go to an IXMLParserCallback, which reads the token from the parser.
//
// The dialect: elements, attributes, text, the entities gt lt apos quot nbsp amp, decimal and hexadecimal
// character references, comments, processing instructions, CDATA sections and a DOCTYPE whose body is kept
// as opaque text. No DTD processing, namespaces or encoding declarations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Buffer.h"

// Load flags: one word given to every load operation, read by the loader and (0x400) by the parser.
enum : unsigned {
  XML_LOAD_DROP_INDENT = 0x001,  // drop text that is a line feed followed only by tabs
  XML_LOAD_NO_COMMENTS = 0x010,
  XML_LOAD_NO_PINSTR = 0x020,
  XML_LOAD_NO_CDATA = 0x040,
  XML_LOAD_NO_DOCTYPE = 0x080,
  XML_LOAD_ROOT_ONLY = 0x100,          // fail with CANCELLED at the first element nested in the root
  XML_LOAD_TOLERATE_END_TAGS = 0x200,  // keep parsing after an end tag that does not match
  XML_LOAD_RAW_ATTRIBUTES = 0x400,     // attribute values as written: no trimming, folding or decoding
};

class CXMLParser;

// Every operation reads the token through parser.GetToken() and returns false to stop the parse.
class IXMLParserCallback {
 public:
  virtual bool OnStartElement(CXMLParser& parser) = 0;      // element name
  virtual bool OnStartTagEnd(CXMLParser& parser) = 0;       // element name
  virtual bool OnEndElement(CXMLParser& parser) = 0;        // element name
  virtual bool OnAttributeName(CXMLParser& parser) = 0;     // attribute name
  virtual bool OnAttributeValue(CXMLParser& parser) = 0;    // normalized value
  virtual bool OnText(CXMLParser& parser) = 0;              // decoded text
  virtual bool OnUnresolvedEntity(CXMLParser& parser) = 0;  // entity name
  virtual bool OnBadCharRef(CXMLParser& parser) = 0;        // reference digits
  virtual bool OnComment(CXMLParser& parser) = 0;           // comment text
  virtual bool OnPInstrTarget(CXMLParser& parser) = 0;      // target, may be empty
  virtual bool OnPInstrData(CXMLParser& parser) = 0;        // data, may be empty
  virtual bool OnCData(CXMLParser& parser) = 0;             // CDATA text
  virtual bool OnDocType(CXMLParser& parser) = 0;           // DOCTYPE body
  virtual bool OnNewLine(CXMLParser& parser) = 0;           // token unchanged

 protected:
  ~IXMLParserCallback() = default;
};

class CXMLParser {
 public:
  // States after a failure.
  enum : int { kRejected = -1, kCallbackFailed = -2, kOutOfMemory = -3 };

  // callback may be null: the parser then only checks syntax.
  CXMLParser(IXMLParserCallback* callback, unsigned flags);
  CXMLParser(const CXMLParser&) = delete;
  CXMLParser& operator=(const CXMLParser&) = delete;

  // Feeds one unit. False once the parse has failed; every later call then fails at once.
  bool Feed(wchar_t unit);
  // Feeds count units, stopping at the first failure.
  bool Feed(const wchar_t* units, uint32_t count);
  // Feeds a 0-terminated text.
  bool Feed(const wchar_t* text);

  // Where a UTF-8 feed stopped: at a byte sequence that does not decode, or at a unit the parser rejected
  // (with the one or two units its sequence decoded to).
  struct Utf8Failure {
    bool badSequence = false;
    uint32_t offset = 0;  // of the sequence in the bytes given
    wchar_t units[2] = {0, 0};
    uint32_t unitCount = 0;
  };
  // Decodes count UTF-8 bytes, each sequence to one code point (above 0xFFFF a surrogate pair), and feeds
  // them. A sequence that does not decode fails the feed.
  bool FeedUtf8(const uint8_t* bytes, uint32_t count, Utf8Failure* failure = nullptr);

  // The text collected for the current construct, 0-terminated.
  const wchar_t* GetToken() const { return token.GetText(); }
  uint32_t GetTokenLength() const { return token.Length() / sizeof(wchar_t); }
  std::wstring GetTokenText() const { return std::wstring(GetToken(), GetTokenLength()); }

  int GetState() const { return state; }
  // Whether the text of the current OnText event is the value of an entity or character reference rather
  // than units that stood in the input as they are.
  bool InReference() const { return (state >= 16 && state <= 20) || inReference; }
  // For a callback that gathers a run of text from its pieces anyway (the document loader): a well-formed
  // reference in UTF-8 text is then decoded into the text around it, so the run comes in one OnText event,
  // for which InReference() tells that it holds a reference. Everything else ends as it would unit by unit:
  // the token after the text went out is what followed the last reference, and FinishText gives out what a
  // parse that stops inside such text holds up to its last reference.
  void JoinReferences(bool join) { joinReferences = join; }
  // Where the parse stopped (at the end of the input or at a failure): gives out the text up to the last
  // joined reference, if any is held. False when the callback refused it.
  bool FinishText();
  unsigned GetFlags() const { return flags; }

  // One row of the state machine, and the machine (defined with the table).
  struct Transition;
  struct Machine;

 private:
  // The helpers marked always_inline are defined in XmlParser.cpp and called only there, from the input
  // loops: inlined, the loop makes no call between two events, and each action's switch folds to one
  // virtual call. Measured: a tenth to a sixth of a load's time went to those calls.
  bool FeedUnit(wchar_t unit);
  // In a collecting state that keeps every Char: decodes and collects from bytes[*at] on, up to the first
  // byte that would end the state or that the unit-by-unit path must judge; *at moves past what was taken.
  [[gnu::always_inline]] inline bool CollectChars(const uint8_t* bytes, uint32_t count, uint32_t* at);
  [[gnu::always_inline]] inline bool FeedPlainAscii(wchar_t unit);
  // In state 4 (inside a start tag, not collecting): reads whole plain attributes and the tag's end from
  // bytes[*at] on in tight loops, with the events and tokens the transitions give, and stops before
  // anything else; *at moves past what was read. False when the parse failed.
  [[gnu::always_inline]] inline bool ScanAttributes(const uint8_t* bytes, uint32_t count, uint32_t* at,
                                                    Utf8Failure* failure);
  // In state 2 (after '<'): reads a plain ASCII element name and the unit after it (a blank, '>' or '/'),
  // or "/name>", the same way; otherwise reads nothing.
  [[gnu::always_inline]] inline bool ScanTagName(const uint8_t* bytes, uint32_t count, uint32_t* at,
                                                 Utf8Failure* failure);
  // In state 0 or 1 at the '&' of UTF-8 text: reads a well-formed reference to a known entity or a valid
  // character from bytes (count of them left) in one go, with the events, tokens and state the machine
  // would give it, and returns the bytes it took; 0 (nothing done) for any reference the machine must judge
  // (an unknown name, a bad value, one cut by the end of the bytes). *ok is false when the parse failed.
  [[gnu::always_inline]] inline uint32_t ReadReference(const uint8_t* bytes, uint32_t count, bool* ok);
  // Runs an action for the scanners; on failure fills failure for the unit at unitAt.
  [[gnu::always_inline]] inline bool ScanAction(int action, const uint8_t* bytes, uint32_t unitAt,
                                                Utf8Failure* failure);
  const Transition* FindTransition(wchar_t unit);
  bool TestMatches(const Transition& transition, wchar_t unit);
  // Runs the action and token operations of a transition to another state. Returns false when the parse
  // failed; *replayed tells that an unknown reference was fed again and the transition ends there.
  bool Take(const Transition& transition, bool* replayed);
  [[gnu::always_inline]] inline bool RunAction(int action, bool* replayed);
  bool Replay();
  bool NormalizeValue();

  bool Append(wchar_t unit);
  template <class Unit>
  [[gnu::always_inline]] inline bool AppendRun(const Unit* units, uint32_t n);
  // Book-keeping after a run of runLength units that kept the state; appended tells whether collecting them
  // (when collecting) succeeded.
  [[gnu::always_inline]] inline bool KeepRun(uint32_t runLength, bool appended);
  void ResetToken();
  // Drops the token's last n units (the collected part of a terminator), keeping it terminated.
  void DropTokenUnits(uint32_t n);
  bool SetToken(const wchar_t* units, uint32_t n);
  bool PushName();
  bool PopName();
  // Gives out the token as text (InReference() true when it holds a joined reference), then keeps only the
  // units after its last joined reference, as the token is after such text unit by unit.
  bool GiveText();
  // OnText with the token as it is, InReference() telling reference; true without a callback.
  bool CallOnText(bool reference);
  // The token keeps only the units after its last joined reference.
  void KeepAfterJoined();
  bool Fail(int failedState) {
    state = failedState;
    return false;
  }

  IXMLParserCallback* callback;
  unsigned flags;
  const Machine* machine;
  int state = 0;
  CBuffer token;
  bool collecting = false;
  bool inReference = false;  // the OnText being given is or holds the value of a reference
  bool joinReferences = false;
  uint32_t joinedUpTo = 0;  // units of the token up to the end of its last joined reference; 0: none
  bool lineBreakPending = false;
  bool highSurrogatePending = false;
  // Element names kept while attributes are parsed: the units one after the other, and where each starts.
  CBuffer nameStack;
  std::vector<uint32_t> nameStarts;
  // The element name while ScanAttributes reads the tag's attributes (the token's storage otherwise).
  CBuffer waitingName;
  // DOCTYPE body tracker: markup depth and quoting.
  uint64_t docTypeDepth = 0;
  bool docTypeDoubleQuote = false;
  bool docTypeSingleQuote = false;
};

// The entity table, in the order the attribute decoder applies it and the writer escapes with it.
struct XmlEntity {
  const wchar_t* name;  // without '&' and ';'
  wchar_t character;
};
extern const XmlEntity kXmlEntities[6];
