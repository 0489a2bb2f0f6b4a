// Patterns of paths below the HTML folder, as --exclude takes them, in the manner of .gitignore:
// * and ? within one name, ** across folders, [...] classes; a pattern without / matches a name at
// any depth, a trailing / matches folders only. Paths and patterns are matched in the platform's
// own text, so that a name matches whether or not the narrow code page can represent it.
#ifndef RESWEAVER_PATH_PATTERN_H_
#define RESWEAVER_PATH_PATTERN_H_

#include <cstddef>
#include <string>
#include <vector>

#include "native_path.h"

namespace resweaver {

// Windows compares ASCII letters without their case and takes \ as a separator, in the pattern as
// in the path; elsewhere \ escapes the character after it, and letters are compared exactly.
enum class PatternStyle { kPosix, kWindows };
#ifdef _WIN32
inline constexpr PatternStyle kNativeStyle = PatternStyle::kWindows;
#else
inline constexpr PatternStyle kNativeStyle = PatternStyle::kPosix;
#endif

class PathPattern {
 public:
  // Throws "bad exclude pattern <text>: <reason>" for a pattern that could never match or that
  // means something this syntax does not offer (a leading !, an unclosed [).
  explicit PathPattern(const std::string& text, PatternStyle style = kNativeStyle);

  // Whether path, the names below the HTML folder joined with separators, matches; folder says
  // whether it names a folder.
  bool matches(NativeView path, bool folder) const;

 private:
  using Char = NativeView::value_type;
  struct Token {
    enum Kind { kChar, kAny, kStar, kClass } kind;
    Char c;             // kChar
    std::size_t first;  // kClass: where its ranges begin in ranges_
    std::size_t count;  // kClass: how many ranges
    bool negated;       // kClass
  };
  struct Name {
    bool anyFolders;  // ** : any number of names, none included
    std::size_t first;
    std::size_t end;  // its tokens
  };

  bool isSeparator(Char c) const;
  Char folded(Char c) const;
  bool nameMatches(const Name& name, NativeView text) const;
  bool classMatches(const Token& token, Char c) const;

  PatternStyle style_;
  bool foldersOnly_ = false;
  std::vector<Name> names_;
  std::vector<Token> tokens_;
  std::vector<Char> ranges_;  // the classes' ranges, each as its first and last character
};

// Whether any of patterns matches.
bool matchesAny(const std::vector<PathPattern>& patterns, NativeView path, bool folder);

}  // namespace resweaver

#endif  // RESWEAVER_PATH_PATTERN_H_
