// The pre-parse check: reads the raw text of a .qrc the way RapidXml's parser will, in one pass and
// without recursion, and finds what the parser cannot take safely: elements nested deeper than
// kMaxDepth (the parser and the printer recurse once per level), and numeric character references
// that the parser would let through as a NUL byte or as a wrapped-around number.
#ifndef RESWEAVER_DOCUMENT_CHECK_H_
#define RESWEAVER_DOCUMENT_CHECK_H_

namespace resweaver {

// Deepest element nesting accepted.
constexpr int kMaxDepth = 1000;

// What the check found: where parsing must not go, or nothing to object to. The check stops quietly
// at a syntax error, which the parser then reports with its own message.
struct Finding {
  enum Kind { kNone, kTooDeep, kBadReference } kind = kNone;
  const char* where = nullptr;  // the element name, or the '&' of the reference
};

// Checks the NUL-terminated text, which may begin with a UTF-8 byte-order mark.
Finding checkDocument(const char* text);

}  // namespace resweaver

#endif  // RESWEAVER_DOCUMENT_CHECK_H_
