#include "path_pattern.h"

#include <algorithm>
#include <memory>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace resweaver {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

struct Case {
  const char* pattern;
  std::vector<const char*> matching;  // a trailing / marks a folder
  std::vector<const char*> other;
};

bool matches(const PathPattern& pattern, std::string path) {
  const bool folder = !path.empty() && path.back() == '/';
  if (folder) {
    path.pop_back();
  }
  return pattern.matches(path, folder);
}

void expectMatches(const std::vector<Case>& cases, PatternStyle style) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const PathPattern pattern(c.pattern, style);
    for (const char* path : c.matching) {
      EXPECT_TRUE(matches(pattern, path)) << path;
    }
    for (const char* path : c.other) {
      EXPECT_FALSE(matches(pattern, path)) << path;
    }
  }
}

TEST(PathPatternTest, MatchesLikeGitignore) {
  expectMatches(
      {
          // Without a separator: a name at any depth, files and folders alike.
          {"*.map", {"a.map", "js/a.map", "x/y/.map", "m.map/"}, {"a.map.js", "a.mapx", "map"}},
          {".*", {".git/", "a/.hidden", ".x"}, {"a.x", "a/b.c"}},
          {"_sources", {"_sources/", "a/_sources/", "_sources"}, {"_sources2", "x_sources"}},
          {"?.html", {"a.html", "d/b.html"}, {"ab.html", ".html"}},
          {"a*b*c", {"abc", "aXbYc", "abbbc", "acbc"}, {"acb", "ab/c", "a/bc"}},
          {"**", {"a", "a/b/c/"}, {}},
          {"a**b", {"ab", "axxb"}, {"a/b"}},
          // A separator anchors the pattern at the HTML folder.
          {"/index.html", {"index.html"}, {"a/index.html"}},
          {"css/*.css", {"css/a.css", "css/.css"}, {"x/css/a.css", "css/sub/a.css", "css.css"}},
          {"a/**", {"a/b", "a/b/c/", "a"}, {"b/a/c", "ab/c"}},
          {"**/x", {"x", "a/x", "a/b/x/"}, {"x/a", "ax"}},
          {"a/**/b", {"a/b", "a/x/b", "a/x/y/b/"}, {"a/xb", "b", "x/a/b", "a/b/c"}},
          {"a/**/**/b", {"a/b", "a/x/y/b"}, {"a/x/c"}},
          {"**/x/**/y", {"x/y", "a/x/b/c/y"}, {"x/a/b/c", "y/x"}},
          // A trailing separator: folders only.
          {"build/", {"build/", "a/build/"}, {"build", "a/build"}},
          {"docs/api/", {"docs/api/"}, {"docs/api", "x/docs/api/"}},
          // Classes: ranges, negation, ] as a member, never a separator.
          {"[ab].txt", {"a.txt", "b.txt"}, {"c.txt", "ab.txt"}},
          {"[a-c0-2]", {"b", "1"}, {"d", "3", "B"}},
          {"[!a-c]", {"d", "-"}, {"a", "c"}},
          {"[^.]*", {"index.html"}, {".hidden"}},
          {"[]x]", {"]", "x"}, {"y"}},
          {"[a-]", {"a", "-"}, {"b"}},
          // Bytes above 0x7F are characters like any other.
          {"\xC3\xA9*", {"\xC3\xA9t\xC3\xA9.css"}, {"\xC3\x89t\xC3\xA9.css", "e.css"}},
          {"?\xA9", {"\xC3\xA9"}, {"\xA9"}},
          // Letter case counts; a backslash escapes.
          {"A.TXT", {"A.TXT"}, {"a.txt"}},
          {"\\*.txt", {"*.txt"}, {"a.txt"}},
          {"\\!x", {"!x"}, {"x"}},
          {"**/!x", {"!x", "a/!x"}, {"x"}},
          {"a\\\\b", {"a\\b"}, {"a/b"}},
      },
      PatternStyle::kPosix);
}

// The straightforward way: the pattern as a regular expression over the path with a / after every
// name, ** as any number of names.
std::regex oracle(const std::string& pattern) {
  std::string text = pattern;
  const bool foldersOnly = text.back() == '/';
  if (foldersOnly) {
    text.pop_back();
  }
  const bool anchored = text.find('/') != std::string::npos;
  std::string expression = anchored ? "" : "(?:[^/]+/)*";
  std::size_t at = text[0] == '/' ? 1 : 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('/', at), text.size());
    const std::string name = text.substr(at, end - at);
    if (name == "**") {
      expression += "(?:[^/]+/)*";
    } else {
      for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '[') {
          const std::size_t close = name.find(']', i + 2);
          const bool negated = name[i + 1] == '!';
          expression += (negated ? "[^/" : "[") +
                        name.substr(i + (negated ? 2 : 1), close - i - (negated ? 2 : 1)) + "]";
          i = close;
        } else {
          expression += c == '*'   ? "[^/]*"
                        : c == '?' ? "[^/]"
                        : c == '.' ? "\\."
                                   : std::string(1, c);
        }
      }
      expression += "/";
    }
    at = end + 1;
  }
  return std::regex(expression);
}

TEST(PathPatternTest, MatchesAsARegularExpressionWould) {
  std::mt19937 random(20261208);
  const auto pick = [&](const std::vector<std::string>& pieces, int least, int most) {
    std::string text;
    for (int n = std::uniform_int_distribution<int>(least, most)(random); n > 0; --n) {
      text += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    }
    return text;
  };
  const std::vector<std::string> nameParts = {"a", "b", ".", "*", "?", "[ab]", "[!a]"};
  std::vector<std::string> paths;
  for (int i = 0; i < 300; ++i) {
    std::string path = pick({"a", "b", "."}, 1, 3);
    for (int depth = std::uniform_int_distribution<int>(0, 3)(random); depth > 0; --depth) {
      path += "/" + pick({"a", "b", "."}, 1, 3);
    }
    paths.push_back(path);
  }
  for (int i = 0; i < 300; ++i) {
    std::string pattern = random() % 4 == 0 ? "/" : "";
    for (int names = std::uniform_int_distribution<int>(1, 4)(random); names > 0; --names) {
      pattern += (random() % 4 == 0 ? "**" : pick(nameParts, 1, 3)) + (names > 1 ? "/" : "");
    }
    pattern += random() % 5 == 0 ? "/" : "";
    const bool foldersOnly = pattern.back() == '/';
    std::regex expected;
    std::unique_ptr<PathPattern> matcher;
    try {
      matcher = std::make_unique<PathPattern>(pattern, PatternStyle::kPosix);
    } catch (const std::runtime_error&) {
      continue;  // names such as . and .. are refused
    }
    expected = oracle(pattern);
    for (const std::string& path : paths) {
      for (const bool folder : {false, true}) {
        EXPECT_EQ(matcher->matches(path, folder),
                  (folder || !foldersOnly) && std::regex_match(path + "/", expected))
            << pattern << " " << path << (folder ? " (folder)" : "");
      }
    }
  }
}

TEST(PathPatternTest, OnWindowsIgnoresTheCaseOfAsciiLettersAndTakesBothSeparators) {
  expectMatches(
      {
          {"*.MAP", {"a.map", "B.Map", "js\\x.map"}, {"a.mapx"}},
          {"css\\*.css", {"css/a.css", "CSS\\A.CSS"}, {"x\\css\\a.css"}},
          {"Build/", {"build/", "a\\BUILD/"}, {"build"}},
          {"[a-c]", {"B", "b"}, {"d", "D"}},
          {"[!A-C]", {"d"}, {"b", "B"}},
          // Other letters keep their case.
          {"\xC3\xA9*", {"\xC3\xA9t\xC3\xA9"}, {"\xC3\x89t\xC3\xA9"}},
      },
      PatternStyle::kWindows);
}

TEST(PathPatternTest, RefusesPatternsThatCouldNeverMatch) {
  const struct {
    const char* pattern;
    const char* reason;
  } cases[] = {
      {"", "it names no file"},
      {"/", "it names no file"},
      {"a//b", "it holds an empty name"},
      {"./a", ". and .. are no names below the HTML folder"},
      {"a/..", ". and .. are no names below the HTML folder"},
      {"!keep.map",
       "a leading ! cannot take files back in (write **/! for a name that begins with !)"},
      {"a[bc", "a [ is not closed"},
      {"[]", "a [ is not closed"},
      {"[z-a]", "a range in [...] runs backwards"},
      {"a[/]b", "a [...] class cannot hold a separator"},
      {"a\\", "it ends with \\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_THAT([&] { PathPattern pattern(c.pattern, PatternStyle::kPosix); },
                ThrowsMessage<std::runtime_error>(
                    StrEq(std::string("bad exclude pattern ") + c.pattern + ": " + c.reason)));
  }
}

}  // namespace
}  // namespace resweaver
