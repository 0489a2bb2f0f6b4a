// The pre-parse check: reads the raw text of a .qrc the way RapidXml's parser will, in one pass and
// without recursion, and finds what the parser cannot take safely: elements nested deeper than
// kMaxDepth (the parser and the printer recurse once per level), and numeric character references
// that the parser would let through as a NUL byte or as a wrapped-around number.
#ifndef RESWEAVER_DOCUMENT_CHECK_H_
#define RESWEAVER_DOCUMENT_CHECK_H_

#include <string_view>

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

// Where the content of the prefix group lies in the raw text: the first child of the root element
// (the first top-level element) that has an attribute whose value, references translated, equals
// the prefix. Found only when its content, up to its end tag, reads as the parser will take it.
struct GroupContent {
  const char* begin = nullptr;  // just after the group's start tag; nullptr: not found, or empty
  const char* end = nullptr;    // at the '<' of its end tag
  const char* textBegin = nullptr;  // the first stretch of text directly in the group, which the
  const char* textEnd = nullptr;    // parser makes the group's value; nullptr: none
};

// Checks text as above, and finds the content of the group that carries prefix.
Finding checkDocument(const char* text, std::string_view prefix, GroupContent& group);

}  // namespace resweaver

#endif  // RESWEAVER_DOCUMENT_CHECK_H_
