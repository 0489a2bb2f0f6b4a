// The pre-parse check. It follows the parser's grammar step by step and uses the parser's own
// character tables, so that it reads every byte exactly as the parser will.
#include "document_check.h"

#include <cstring>

#include <rapidxml/rapidxml.hpp>

#include "group_search.h"

namespace resweaver {
namespace {

// The parser's own character classes, so that the check below reads the bytes exactly as the parser
// will.
using Tables = rapidxml::internal::lookup_tables<0>;

bool isSpace(char c) {
  return Tables::lookup_whitespace[static_cast<unsigned char>(c)] != 0;
}
bool isNameChar(char c) {
  return Tables::lookup_node_name[static_cast<unsigned char>(c)] != 0;
}
bool isAttributeNameChar(char c) {
  return Tables::lookup_attribute_name[static_cast<unsigned char>(c)] != 0;
}
unsigned digitValue(char c) {
  return Tables::lookup_digits[static_cast<unsigned char>(c)];
}
constexpr unsigned kNotADigit = 0xFF;

const char* skipSpace(const char* p) {
  while (isSpace(*p)) {
    ++p;
  }
  return p;
}

const char* skipName(const char* p) {
  while (isNameChar(*p)) {
    ++p;
  }
  return p;
}

// Returns the position after the first occurrence of terminator, or nullptr at the end of data.
const char* skipPast(const char* p, const char* terminator) {
  const char* found = std::strstr(p, terminator);
  return found == nullptr ? nullptr : found + std::strlen(terminator);
}

constexpr unsigned long kMaxCodePoint = 0x10FFFF;

// Skips a run of text or of an attribute value up to stop (or the end of data), in which the parser
// translates references. Returns the end of the run, or nullptr on a syntax error; sets finding at
// a numeric reference that is 0 or beyond U+10FFFF. The parser's arithmetic wraps around for long
// numbers; here the number saturates instead, so any length is judged by its true value.
const char* skipTranslated(const char* p, char stop, Finding& finding) {
  const char stops[] = {'&', stop, '\0'};
  for (;;) {
    p += std::strcspn(p, stops);
    if (*p != '&') {
      return p;  // at stop or at the end of the data
    }
    if (p[1] != '#') {
      ++p;
      continue;
    }
    const char* reference = p;
    unsigned long base = 10;
    p += 2;
    if (*p == 'x') {
      base = 16;
      ++p;
    }
    unsigned long code = 0;
    for (unsigned digit; (digit = digitValue(*p)) != kNotADigit; ++p) {
      code = code * base + digit;
      if (code > kMaxCodePoint) {
        code = kMaxCodePoint + 1;
      }
    }
    // The parser rejects a number above U+10FFFF before it looks for the ';'.
    if (code > kMaxCodePoint || (code == 0 && *p == ';')) {
      finding = {Finding::kBadReference, reference};
      return nullptr;
    }
    if (*p != ';') {
      return nullptr;
    }
    ++p;
  }
}

// Skipped constructs, start tags with their attribute values, text and end tags, in the parser's
// order; the depth and the numeric references in translated text are tracked on the way, and the
// group's content is found.
Finding check(const char* p, GroupSearch& search) {
  Finding finding;
  if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
    p += 3;
  }
  int depth = 0;
  while (p != nullptr) {
    if (depth == 0) {
      p = skipSpace(p);
      if (*p != '<') {
        return finding;  // the end of the data, or text that the parser rejects
      }
    } else {
      // Inside an element, text runs from the end of the last markup (whitespace included) to the
      // next '<'.
      const char* contents = p;
      p = skipSpace(p);
      if (*p == '\0') {
        return finding;
      }
      if (*p != '<') {
        p = skipTranslated(contents, '<', finding);
        if (p != nullptr) {
          search.text(depth, contents, p);
        }
        continue;
      }
      if (p[1] == '/') {
        const char* tag = p;
        p = skipSpace(skipName(p + 2));
        if (*p != '>') {
          return finding;
        }
        ++p;
        search.endTag(depth, tag);
        --depth;
        continue;
      }
    }
    ++p;  // past '<'
    if (*p == '?') {
      ++p;
      p = skipPast(p, "?>");
    } else if (std::strncmp(p, "!--", 3) == 0) {
      p = skipPast(p + 3, "-->");
    } else if (std::strncmp(p, "![CDATA[", 8) == 0) {
      p = skipPast(p + 8, "]]>");
    } else if (std::strncmp(p, "!DOCTYPE", 8) == 0 && isSpace(p[8])) {
      p += 9;
      while (*p != '>') {
        if (*p == '\0') {
          return finding;
        }
        if (*p++ == '[') {
          for (int brackets = 1; brackets > 0; ++p) {
            if (*p == '\0') {
              return finding;
            }
            brackets += (*p == '[') - (*p == ']');
          }
        }
      }
      ++p;
    } else if (*p == '!') {
      p = skipPast(p + 1, ">");
    } else {
      const char* name = p;
      p = skipName(p);
      if (p == name) {
        return finding;
      }
      if (depth + 1 > kMaxDepth) {
        return {Finding::kTooDeep, name};
      }
      search.element(depth);
      p = skipSpace(p);
      while (p != nullptr && isAttributeNameChar(*p)) {
        ++p;
        while (isAttributeNameChar(*p)) {
          ++p;
        }
        p = skipSpace(p);
        if (*p != '=') {
          return finding;
        }
        p = skipSpace(p + 1);
        const char quote = *p;
        if (quote != '\'' && quote != '"') {
          return finding;
        }
        const char* value = p + 1;
        p = skipTranslated(value, quote, finding);
        if (p == nullptr || *p != quote) {
          return finding;
        }
        search.attribute(value, p);
        p = skipSpace(p + 1);
      }
      if (p == nullptr) {
        return finding;
      }
      if (*p == '>') {
        ++p;
        ++depth;
        search.startTagEnd(p);
      } else if (p[0] == '/' && p[1] == '>') {
        p += 2;
        search.startTagEnd(nullptr);
      } else {
        return finding;
      }
    }
  }
  return finding;
}

}  // namespace

Finding checkDocument(const char* text) {
  GroupSearch none(nullptr, nullptr);
  return check(text, none);
}

Finding checkDocument(const char* text, std::string_view prefix, GroupContent& group) {
  group = {};
  GroupSearch search(&prefix, &group);
  const Finding finding = check(text, search);
  if (finding.kind != Finding::kNone) {
    group = {};
  }
  return finding;
}

}  // namespace resweaver
