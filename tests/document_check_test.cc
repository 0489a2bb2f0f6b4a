#include "document_check.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace resweaver {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

std::string open(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) {
    text += "<e>";
  }
  return text;
}

std::string close(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) {
    text += "</e>";
  }
  return text;
}

std::string nested(int depth, const std::string& innermost = "") {
  return open(depth) + innermost + close(depth);
}

struct Case {
  const char* name;
  std::string text;
  Finding::Kind kind;
  // Where the finding points, as an offset into text; ignored for kNone.
  std::size_t where = 0;
};

void expectFindings(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finding finding = checkDocument(c.text.c_str());
    EXPECT_EQ(finding.kind, c.kind);
    if (c.kind != Finding::kNone) {
      EXPECT_EQ(finding.where - c.text.c_str(), static_cast<std::ptrdiff_t>(c.where));
    }
  }
}

TEST(DocumentCheckTest, LimitsTheDepthOnBothSidesOfTheLimit) {
  constexpr char kPrologue[] = "<?xml version='1.0'?><!DOCTYPE e [<!ENTITY x '>'>]>";
  const std::size_t deepest = 3 * kMaxDepth + 1;  // the name of the first element too deep
  expectFindings({
      {"at the limit", nested(kMaxDepth), Finding::kNone},
      {"an empty element at the limit", nested(kMaxDepth - 1, "<e/>"), Finding::kNone},
      {"one too deep", nested(kMaxDepth + 1), Finding::kTooDeep, deepest},
      {"an empty element one too deep", nested(kMaxDepth, "<e/>"), Finding::kTooDeep, deepest},
      {"left open", open(kMaxDepth + 1), Finding::kTooDeep, deepest},
      {"siblings do not add up", "<r>" + nested(kMaxDepth - 1) + nested(kMaxDepth - 1) + "</r>",
       Finding::kNone},
      {"after a byte-order mark, at the limit", kBom + nested(kMaxDepth), Finding::kNone},
      {"after a byte-order mark, one too deep", kBom + nested(kMaxDepth + 1), Finding::kTooDeep,
       deepest + 3},
      {"after a declaration and a DOCTYPE", std::string(kPrologue) + nested(kMaxDepth + 1),
       Finding::kTooDeep, deepest + sizeof kPrologue - 1},
  });
}

// A skipped construct ends at its own terminator only: a '>' or a closing tag inside it must not
// end it, or the elements that follow would be counted one level too shallow.
TEST(DocumentCheckTest, SkipsConstructsToTheirOwnEnd) {
  const std::string deep = nested(kMaxDepth);  // one too deep inside <r>
  const struct {
    const char* name;
    std::string construct;
  } constructs[] = {
      {"comment", "<!-- > </r> -- -->"},
      {"CDATA section", "<![CDATA[ > </r> ]] ]>]]>"},
      {"processing instruction", "<?pi > </r> ? ?>"},
      {"declaration", "<?xml > </r> ?>"},
      {"DOCTYPE", "<!DOCTYPE r [ <!ENTITY x '> </r>'> [>] ]>"},
      {"attribute value", "<a v='> </r>' w=\"></r>\"/>"},
  };
  std::vector<Case> cases;
  for (const auto& c : constructs) {
    const std::string text = "<r>" + c.construct + deep + "</r>";
    cases.push_back({c.name, text, Finding::kTooDeep, text.find(deep) + 3 * kMaxDepth - 2});
  }
  expectFindings(cases);
}

TEST(DocumentCheckTest, RefusesReferencesOutsideU1ToU10FFFF) {
  expectFindings({
      {"decimal 1", "<a>&#1;</a>", Finding::kNone},
      {"decimal U+10FFFF", "<a>&#1114111;</a>", Finding::kNone},
      {"decimal above U+10FFFF", "<a>&#1114112;</a>", Finding::kBadReference, 3},
      {"hexadecimal U+10FFFF", "<a>&#x10FFFF;</a>", Finding::kNone},
      {"hexadecimal above U+10FFFF", "<a>&#x110000;</a>", Finding::kBadReference, 3},
      {"decimal 0", "<a>&#0;</a>", Finding::kBadReference, 3},
      {"hexadecimal 0 with leading zeros", "<a>x&#x0000;</a>", Finding::kBadReference, 4},
      {"no digits", "<a>&#;</a>", Finding::kBadReference, 3},
      {"no hexadecimal digits", "<a>&#x;</a>", Finding::kBadReference, 3},
      {"wraps around to 65", "<a>&#18446744073709551681;</a>", Finding::kBadReference, 3},
      {"above U+10FFFF without ;", "<a>&#1114112</a>", Finding::kBadReference, 3},
      {"0 without ; is the parser's error", "<a>&#0</a>", Finding::kNone},
      {"in an attribute value", "<a v='ok' w=\"&#x10FFFF;&#0;\"/>", Finding::kBadReference, 23},
      {"after a byte-order mark", std::string(kBom) + "<a>&#0;</a>", Finding::kBadReference, 6},
      {"after a DOCTYPE whose subset nests brackets",
       "<!DOCTYPE RCC [<!ENTITY e \"[x]\">]><a>&#0;</a>", Finding::kBadReference, 37},
      {"in a comment, CDATA or PI", "<a><!--&#0;--><![CDATA[&#0;]]><?p &#0;?></a>", Finding::kNone},
      {"in a name", "<a&#0;/>", Finding::kNone},
      {"upper-case X is the parser's error", "<a>&#X0;</a>", Finding::kNone},
      {"after the first bad one, the first counts", "<a>&#0;&#1114112;</a>", Finding::kBadReference,
       3},
  });
}

}  // namespace
}  // namespace resweaver
