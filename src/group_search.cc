// Attribute values compared as the parser will hold them: references translated its way.
#include "group_search.h"

#include <string>

#include <rapidxml/rapidxml.hpp>

namespace resweaver {
namespace {

// The parser's own table of digit values (0xFF for anything else).
constexpr const unsigned char* kDigits = rapidxml::internal::lookup_tables<0>::lookup_digits;

// The text of an attribute value from the file, with its references translated as the parser
// translates them. Only called on values that the check has found sound.
std::string translated(const char* p, const char* end) {
  std::string text;
  while (p < end) {
    if (*p != '&') {
      text += *p++;
      continue;
    }
    struct Entity {
      std::string_view name;
      char character;
    };
    static constexpr Entity kEntities[] = {
        {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}, {"&gt;", '>'}, {"&lt;", '<'}};
    const std::string_view rest(p, static_cast<std::size_t>(end - p));
    bool named = false;
    for (const Entity& entity : kEntities) {
      if (rest.substr(0, entity.name.size()) == entity.name) {
        text += entity.character;
        p += entity.name.size();
        named = true;
        break;
      }
    }
    if (named) {
      continue;
    }
    if (p[1] != '#') {
      text += *p++;
      continue;
    }
    const unsigned long base = p[2] == 'x' ? 16 : 10;
    p += base == 16 ? 3 : 2;
    unsigned long code = 0;
    for (unsigned digit; (digit = kDigits[static_cast<unsigned char>(*p)]) != 0xFF; ++p) {
      code = code * base + digit;
    }
    ++p;  // ';'
    // UTF-8, as the parser writes it.
    if (code < 0x80) {
      text += static_cast<char>(code);
    } else if (code < 0x800) {
      text += static_cast<char>(0xC0 | (code >> 6));
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      text += static_cast<char>(0xE0 | (code >> 12));
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (code >> 18));
      text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return text;
}

}  // namespace

void GroupSearch::attribute(const char* value, const char* end) {
  if (candidate_ && !matched_) {
    const std::string_view raw(value, static_cast<std::size_t>(end - value));
    matched_ = raw.find('&') == std::string_view::npos ? raw == *prefix_
                                                       : translated(value, end) == *prefix_;
  }
}

}  // namespace resweaver
