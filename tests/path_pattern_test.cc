#include "path_pattern.h"

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
