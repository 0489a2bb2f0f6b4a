// The pattern is compiled once into names (one per folder level, ** among them) and each name into
// tokens. Matching walks the path's names against the pattern's, going back only to the last **;
// within a name it goes back only to the last *. Both are enough because ** and * match any run.
#include "path_pattern.h"

#include <stdexcept>

namespace resweaver {

namespace {

constexpr std::size_t kEnd = static_cast<std::size_t>(-1);

}  // namespace

PathPattern::PathPattern(const std::string& text, PatternStyle style) : style_(style) {
  const auto fail = [&](const char* reason) {
    throw std::runtime_error("bad exclude pattern " + text + ": " + reason);
  };
  if (!text.empty() && text[0] == '!') {
    fail("a leading ! cannot take files back in (write **/! for a name that begins with !)");
  }
  const std::filesystem::path::string_type native = pathFromNarrow(text).native();
  const bool escapes = style_ == PatternStyle::kPosix;
  struct Raw {
    std::size_t first;
    std::size_t end;
    bool starStar;  // exactly **, unescaped
    bool dots;      // exactly . or ..
  };
  std::vector<Raw> raw{{0, 0, false, false}};
  std::size_t stars = 0;  // unescaped stars in the name so far
  std::size_t length = 0;
  std::size_t dots = 0;
  const auto closeName = [&] {
    Raw& name = raw.back();
    name.end = tokens_.size();
    name.starStar = stars == 2 && length == 2;
    name.dots = dots == length && (length == 1 || length == 2);
  };
  for (std::size_t i = 0; i < native.size(); ++i) {
    const Char c = native[i];
    if (isSeparator(c)) {
      closeName();
      raw.push_back({tokens_.size(), 0, false, false});
      stars = length = dots = 0;
      continue;
    }
    ++length;
    if (escapes && c == '\\') {
      if (++i == native.size()) {
        fail("it ends with \\");
      }
      tokens_.push_back({Token::kChar, native[i], 0, 0, false});
      continue;
    }
    if (c == '*') {
      ++stars;
      // Stars in a row match what one star matches.
      if (tokens_.size() == raw.back().first || tokens_.back().kind != Token::kStar) {
        tokens_.push_back({Token::kStar, c, 0, 0, false});
      }
    } else if (c == '?') {
      tokens_.push_back({Token::kAny, c, 0, 0, false});
    } else if (c == '[') {
      std::size_t j = i + 1;
      const bool negated = j < native.size() && (native[j] == '!' || native[j] == '^');
      j += negated ? 1 : 0;
      const std::size_t firstRange = ranges_.size();
      // A ] right after the opening (and its !) is a member, not the end.
      for (bool first = true;; first = false) {
        if (j >= native.size()) {
          fail("a [ is not closed");
        }
        const auto member = [&]() -> Char {
          if (escapes && native[j] == '\\' && j + 1 < native.size()) {
            ++j;
          }
          if (isSeparator(native[j])) {
            fail("a [...] class cannot hold a separator");
          }
          return native[j++];
        };
        if (native[j] == ']' && !first) {
          break;
        }
        const Char low = member();
        Char high = low;
        if (j + 1 < native.size() && native[j] == '-' && native[j + 1] != ']') {
          ++j;
          high = member();
        }
        if (high < low) {
          fail("a range in [...] runs backwards");
        }
        ranges_.push_back(low);
        ranges_.push_back(high);
      }
      i = j;
      tokens_.push_back({Token::kClass, 0, firstRange, (ranges_.size() - firstRange) / 2, negated});
    } else {
      dots += c == '.' ? 1 : 0;
      tokens_.push_back({Token::kChar, c, 0, 0, false});
    }
  }
  closeName();

  // A leading separator anchors the pattern; trailing ones make it match folders only.
  bool anchored = false;
  if (raw.size() > 1 && raw.front().first == raw.front().end) {
    raw.erase(raw.begin());
    anchored = true;
  }
  while (raw.size() > 1 && raw.back().first == raw.back().end) {
    raw.pop_back();
    foldersOnly_ = true;
  }
  // A separator in the middle anchors it too; without one, it matches a name at any depth.
  anchored = anchored || raw.size() > 1;
  if (!anchored) {
    names_.push_back({true, 0, 0});
  }
  for (const Raw& name : raw) {
    if (name.first == name.end) {
      fail(raw.size() == 1 ? "it names no file" : "it holds an empty name");
    }
    if (name.dots) {
      fail(". and .. are no names below the HTML folder");
    }
    if (name.starStar && !names_.empty() && names_.back().anyFolders) {
      continue;  // **/** matches what ** matches
    }
    names_.push_back({name.starStar, name.first, name.end});
  }
}

bool PathPattern::isSeparator(Char c) const {
  return c == '/' || (c == '\\' && style_ == PatternStyle::kWindows);
}

PathPattern::Char PathPattern::folded(Char c) const {
  return style_ == PatternStyle::kWindows && c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a')
                                                                  : c;
}

bool PathPattern::classMatches(const Token& token, Char c) const {
  // Without letter case, a letter is in the class when either of its forms is.
  const Char lower = folded(c);
  const Char upper = lower != c || style_ != PatternStyle::kWindows || c < 'a' || c > 'z'
                         ? c
                         : static_cast<Char>(c - 'a' + 'A');
  bool in = false;
  for (std::size_t r = token.first; r < token.first + 2 * token.count && !in; r += 2) {
    in = (ranges_[r] <= lower && lower <= ranges_[r + 1]) ||
         (ranges_[r] <= upper && upper <= ranges_[r + 1]);
  }
  return in != token.negated;
}

bool PathPattern::nameMatches(const Name& name, NativeView text) const {
  std::size_t t = name.first;
  std::size_t at = 0;
  std::size_t starToken = kEnd;
  std::size_t starAt = 0;
  while (at < text.size()) {
    if (t < name.end) {
      const Token& token = tokens_[t];
      if (token.kind == Token::kStar) {
        starToken = ++t;
        starAt = at;
        continue;
      }
      const bool one = token.kind == Token::kAny ||
                       (token.kind == Token::kChar && folded(token.c) == folded(text[at])) ||
                       (token.kind == Token::kClass && classMatches(token, text[at]));
      if (one) {
        ++t;
        ++at;
        continue;
      }
    }
    if (starToken == kEnd) {
      return false;
    }
    // The last star takes one more character.
    t = starToken;
    at = ++starAt;
  }
  while (t < name.end && tokens_[t].kind == Token::kStar) {
    ++t;
  }
  return t == name.end;
}

bool PathPattern::matches(NativeView path, bool folder) const {
  if (foldersOnly_ && !folder) {
    return false;
  }
  // at is where the path's next name begins, kEnd past its last.
  const auto nameEnd = [&](std::size_t at) {
    while (at < path.size() && !isSeparator(path[at])) {
      ++at;
    }
    return at;
  };
  const auto after = [&](std::size_t at) {
    const std::size_t end = nameEnd(at);
    return end == path.size() ? kEnd : end + 1;
  };
  std::size_t p = 0;
  std::size_t at = path.empty() ? kEnd : 0;
  std::size_t starName = kEnd;
  std::size_t starAt = kEnd;
  for (;;) {
    if (p < names_.size() && names_[p].anyFolders) {
      starName = ++p;
      starAt = at;
      continue;
    }
    if (at == kEnd && p == names_.size()) {
      return true;
    }
    if (at != kEnd && p < names_.size() &&
        nameMatches(names_[p], path.substr(at, nameEnd(at) - at))) {
      ++p;
      at = after(at);
      continue;
    }
    // The last ** takes one more name.
    if (starName == kEnd || starAt == kEnd) {
      return false;
    }
    starAt = after(starAt);
    p = starName;
    at = starAt;
  }
}

bool matchesAny(const std::vector<PathPattern>& patterns, NativeView path, bool folder) {
  for (const PathPattern& pattern : patterns) {
    if (pattern.matches(path, folder)) {
      return true;
    }
  }
  return false;
}

}  // namespace resweaver
