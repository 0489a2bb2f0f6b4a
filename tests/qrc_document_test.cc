#include "qrc_document.h"

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "document_check.h"
#include "qrc_printer.h"

namespace resweaver {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// Parses text as a run does and prints it back.
std::string reprint(std::string text) {
  Document doc;
  parseQrc(text.data(), doc);
  return printQrc(doc).str();
}

struct Case {
  const char* name;
  std::string in;
  std::string out;
};

TEST(QrcDocumentTest, PrintsTheParsedDocumentInTheFixedLayout) {
  const std::vector<Case> cases = {
      {"declaration, DOCTYPE and byte-order mark dropped",
       "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!DOCTYPE RCC [<!ENTITY e "
       "\"<a>\"> [[x]]]>\n<RCC/>",
       "<RCC/>\n\n"},
      {"comments and processing instructions dropped",
       "<a><!-- c --><?pi x?><!other><b/></a><!-- tail -->", "<a>\n\t<b/>\n</a>\n\n"},
      {"empty forms", "<r><q p=\"/\"></q><q p=\"/\" /><q p=\"/\">\r\n  \n</q></r>",
       "<r>\n\t<q p=\"/\"/>\n\t<q p=\"/\"/>\n\t<q p=\"/\"/>\n</r>\n\n"},
      {"apostrophes become double quotes", "<a p='/'/>", "<a p=\"/\"/>\n\n"},
      {"value with a double quote stays in apostrophes", "<a p='x\"y&apos;z&lt;'/>",
       "<a p='x\"y&apos;z&lt;'/>\n\n"},
      {"value with an apostrophe", "<a p=\"it's &amp; >\"/>", "<a p=\"it's &amp; &gt;\"/>\n\n"},
      {"references", "<a>&amp;&#65;&#x4E2D;&#128512;&nbsp;x>y&quot;</a>",
       "<a>&amp;A\xE4\xB8\xAD\xF0\x9F\x98\x80&amp;nbsp;x&gt;y&quot;</a>\n\n"},
      {"entity declared in the DOCTYPE stays text", "<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>",
       "<r>&amp;e;</r>\n\n"},
      {"file name with an ampersand and an apostrophe", "<f>a&amp;b's.html</f>",
       "<f>a&amp;b&apos;s.html</f>\n\n"},
      {"text split by a comment", "<r><s><file>a<!-- x -->b</file></s></r>",
       "<r>\n\t<s>\n\t\t<file>\n\t\t\ta\n\t\t\tb\n\t\t</file>\n\t</s>\n</"
       "r>\n\n"},
      {"CDATA as the only child", "<a><![CDATA[x<y&#0;]]></a>",
       "<a>\n\t<![CDATA[x<y&#0;]]>\n</a>\n\n"},
      {"closing names are not compared", "<r><a></b><a></></r>", "<r>\n\t<a/>\n\t<a/>\n</r>\n\n"},
      {"line breaks inside text are kept", "<r>\r\n  <file>\r\n    x.html\r\n  </file>\r\n</r>",
       "<r>\n\t<file>\r\n    x.html\r\n  </file>\n</r>\n\n"},
      {"several top-level elements", "<a/>\n<b/>", "<a/>\n<b/>\n\n"},
      {"names are not checked", "<\xC3\xA9l\xC3\xA9ment a&b='1'/>",
       "<\xC3\xA9l\xC3\xA9ment a&b=\"1\"/>\n\n"},
      {"element value kept beside child elements", "<a>text<b/></a>",
       "<a>\n\ttext\n\t<b/>\n</a>\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NO_THROW(EXPECT_EQ(reprint(c.in), c.out));
  }
}

TEST(QrcDocumentTest, ReportsMalformedInputWithTheParserMessages) {
  const std::vector<Case> cases = {
      {"text before the root", "x<a/>", "expected <"},
      {"text after the root", "<a/>x", "expected <"},
      {"space after <", "< a/>", "expected element name"},
      {"closing tag at the top", "</a>", "expected element name"},
      {"end of data after a name", "<a", "expected >"},
      {"junk after an attribute", "<a b='c' d/>", "expected ="},
      {"closing tag with junk", "<a></a b>", "expected >"},
      {"attribute without =", "<a b>", "expected ="},
      {"unquoted attribute value", "<a b=c/>", "expected ' or \""},
      {"unterminated attribute value", "<a b='c/>", "expected ' or \""},
      {"element left open", "<a><b></b>", "unexpected end of data"},
      {"unterminated comment", "<a/><!-- x", "unexpected end of data"},
      {"unterminated CDATA", "<a><![CDATA[x</a>", "unexpected end of data"},
      {"unterminated DOCTYPE", "<!DOCTYPE a [<x>", "unexpected end of data"},
      {"reference without ;", "<a>&#65</a>", "expected ;"},
      {"upper-case X", "<a>&#X41;</a>", "expected ;"},
      {"reference above U+10FFFF", "<a>&#1114112;</a>", "invalid numeric character entity"},
      {"reference 0", "<a>&#0;</a>", "invalid numeric character entity"},
      {"reference without digits", "<a b='&#;'/>", "invalid numeric character entity"},
      {"hex reference 0", "<a>&#x0;</a>", "invalid numeric character entity"},
      {"hex reference without digits", "<a b=\"&#x;\"/>", "invalid numeric character entity"},
      {"wraps around to 0", "<a>&#18446744073709551616;</a>", "invalid numeric character entity"},
      {"wraps around to A", "<a b='&#18446744073709551681;'/>", "invalid numeric character entity"},
      {"hex wraps around to A", "<a>&#x10000000000000041;</a>", "invalid numeric character entity"},
      {"syntax error before a bad reference", "<a b=c>&#0;</a>", "expected ' or \""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT([&] { reprint(c.in); }, ThrowsMessage<std::exception>(StrEq(c.out)));
  }
}

TEST(QrcDocumentTest, ReferencesOutsideTextAndValuesAreNotChecked) {
  EXPECT_EQ(reprint("<a><!-- &#0; --><![CDATA[&#18446744073709551681;]]><?p &#0;?></a>"),
            "<a>\n\t<![CDATA[&#18446744073709551681;]]>\n</a>\n\n");
  EXPECT_EQ(reprint("<!DOCTYPE a [&#0;]><a&#0;/>"), "<a&#0;/>\n\n");
}

struct Entry {
  std::string text;
  std::string alias = {};
};

std::string nested(int depth, const std::string& innermost) {
  std::string text;
  for (int i = 0; i < depth; ++i) {
    text += "<e>";
  }
  text += innermost;
  for (int i = 0; i < depth; ++i) {
    text += "</e>";
  }
  return text;
}

// A run's way: the group's old content left out of the parse, the entries streamed in by the
// printer, each split in two pieces.
std::string streamed(std::string text, const std::string& prefix,
                     const std::vector<Entry>& entries) {
  Document doc;
  parseQrcWithoutEntries(text.data(), text.size(), prefix, doc);
  Node* root = findRoot(doc);
  Node& group = locateOrCreateGroup(doc, *root, prefix);
  PrintedText out;
  QrcPrinter printer(doc, *root, group, out);
  printer.begin();
  for (const Entry& entry : entries) {
    const std::string_view whole = entry.text;
    printer.entry(whole.substr(0, whole.size() / 2), whole.substr(whole.size() / 2), entry.alias);
  }
  printer.end();
  return out.str();
}

// The straightforward way: every node parsed, the entries appended as nodes, RapidXml's printer.
std::string straightforward(std::string text, const std::string& prefix,
                            const std::vector<Entry>& entries) {
  Document doc;
  parseQrc(text.data(), doc);
  Node* root = findRoot(doc);
  Node& group = locateOrCreateGroup(doc, *root, prefix);
  for (const Entry& entry : entries) {
    appendFileEntry(doc, group, entry.text, entry.alias);
  }
  return printQrc(doc).str();
}

std::string outcome(const std::function<std::string()>& run) {
  try {
    return run();
  } catch (const ParseError& error) {
    return "error at " + std::to_string(error.offset()) + ": " + error.what();
  }
}

TEST(QrcDocumentTest, StreamsEntriesAsRapidXmlPrintsTheirNodes) {
  const std::vector<std::string> documents = {
      "<RCC/>",
      "<RCC></RCC>",
      "\xEF\xBB\xBF<?xml version='1.0'?><!DOCTYPE RCC><RCC>\r\n  <qresource prefix='/'>\r\n"
      "    <file>old.html</file>\r\n  </qresource>\r\n  <qresource prefix=\"/img\">\r\n"
      "    <file alias=\"logo\">logo&#46;png</file>\r\n  </qresource>\r\n</RCC>\r\n",
      "<RCC><qresource prefix='/'/><q prefix='/'><file>second</file></q></RCC>",
      "<RCC><qresource prefix='/'>old text <file>a</file> more<![CDATA[c]]><!-- c --></qresource>"
      "<after x='1'>t</after></RCC><tail/>",
      "<RCC><qresource prefix='/'>  &amp;lt;&#x4E2D;  <file>a</file></qresource></RCC>",
      "<RCC><qresource prefix='/'><![CDATA[x]]>text<file/></qresource></RCC>",
      "<RCC><qresource prefix='/'><a><b>deep text</b></a></qresource></RCC>",
      "<RCC><q lang='/'><file>x</file></q></RCC>",
      "<RCC><q prefix='&#47;'>x<file>y</file></q><q prefix='a&amp;b'>z</q></RCC>",
      "<RCC><q prefix=\"'/'\" other='/'>v</q></RCC>",
      "<![CDATA[first]]><RCC>text<q prefix='/'>value</q>more</RCC><second><q prefix='/'/></second>",
      "<RCC><q prefix='/'>\n\t </q></RCC>",
      "<RCC><q prefix='/'></></RCC>",
      "<a><b prefix='/'><c prefix='/'>inner</c></b></a>",
      // Deeper than the printer's run of tabs, before and after the group.
      "<RCC>" + nested(17, "x") + "<q prefix='/'/>" + nested(40, "<y/>") + "</RCC>",
  };
  const std::vector<std::string> prefixes = {"/", "a&b", "'/'", "/img", "missing"};
  const std::vector<std::vector<Entry>> entryLists = {
      {},
      {{"html/index.html"}},
      {{"html/a&b's <c>\".html"}, {""}, {"x"}, {"html/\xC3\xA9t\xC3\xA9\n.css"}},
      // Aliases: quoted in apostrophes when they hold a double quote.
      {{"html/css/site.css", "css/site.css"},
       {"html/a&b's <c>.html", "a&b's <c>.html"},
       {"html/q\".html", "q\"'&<>.html"},
       {"", "empty"}}};
  for (const std::string& document : documents) {
    for (const std::string& prefix : prefixes) {
      for (const auto& entries : entryLists) {
        SCOPED_TRACE(document + " | " + prefix + " | " + std::to_string(entries.size()));
        EXPECT_EQ(outcome([&] { return streamed(document, prefix, entries); }),
                  outcome([&] { return straightforward(document, prefix, entries); }));
      }
    }
  }
}

// The group left out of the parse is the one that the document's own search finds: the first
// child of the root (not of a later top-level element) whose attribute value, references
// translated, equals the prefix. A group whose prefix is written as a reference comes before one
// that carries the same prefix literally, which must keep its content. The characters lie on
// both sides of each UTF-8 length boundary.
TEST(QrcDocumentTest, LeavesOutTheGroupThatTheDocumentFinds) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"<RCC/><second><q prefix='/'><file>x</file></q></second>", "/"},
  };
  const std::pair<unsigned, const char*> characters[] = {
      {0x2F, "/"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& [code, literal] : characters) {
    for (const char* format : {"&#x%x;", "&#%u;"}) {
      char reference[16];
      std::snprintf(reference, sizeof reference, format, code);
      cases.push_back({std::string("<RCC><q p='") + reference + "'><file>a</file></q><q p='" +
                           literal + "'><file>b</file></q></RCC>",
                       literal});
    }
  }
  for (const auto& [documentText, prefixText] : cases) {
    // Lambdas cannot capture structured bindings before C++20.
    const std::string& document = documentText;
    const std::string& prefix = prefixText;
    SCOPED_TRACE(document);
    EXPECT_EQ(outcome([&] { return streamed(document, prefix, {{"n"}}); }),
              outcome([&] { return straightforward(document, prefix, {{"n"}}); }));
  }
}

// --check lists the group's file elements as its entries, and nothing else of its content.
TEST(QrcDocumentTest, TakesOnlyFileElementsAsEntries) {
  std::string text =
      "<RCC><q p='/'>text<file>a</file><x>b</x><![CDATA[c]]><file>d</file></q></RCC>";
  Document doc;
  parseQrc(text.data(), doc);
  std::vector<std::string_view> texts;
  for (const FileEntry& entry : fileEntries(findGroup(*findRoot(doc), "/"))) {
    texts.push_back(entry.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string_view>{"a", "d"}));
}

TEST(QrcDocumentTest, ReportsErrorsAroundALeftOutGroupWhereTheFileHasThem) {
  const std::vector<std::string> documents = {
      "<RCC><x a=b/><qresource prefix='/'><file>a</file></qresource></RCC>",
      "<RCC><qresource prefix='/'><file>a</file></qresource><x a=b/></RCC>",
      "<RCC><qresource prefix='/'><file>a</file><x a=b/></qresource></RCC>",
      "<RCC><qresource prefix='/'><file>a</file></qresource></RCC>trailing",
      "<RCC><qresource prefix='/'><file>&#0;</file></qresource></RCC>",
      "<RCC><qresource prefix='/'><file>a</file></qresource>",
      "<RCC><qresource prefix='/'><file>a</file>",
      "<RCC><qresource prefix='/'><file>a</file></qresource x></RCC>",
  };
  for (const std::string& document : documents) {
    SCOPED_TRACE(document);
    const std::string expected = outcome([&] { return straightforward(document, "/", {{"n"}}); });
    EXPECT_EQ(expected.rfind("error at ", 0), 0u);
    EXPECT_EQ(outcome([&] { return streamed(document, "/", {{"n"}}); }), expected);
  }
}

TEST(QrcDocumentTest, RefusesNestingDeeperThanTheLimit) {
  EXPECT_NO_THROW(reprint(nested(kMaxDepth, "x")));
  EXPECT_NO_THROW(reprint(nested(kMaxDepth - 1, "<e/>")));
  for (const std::string& text :
       {nested(kMaxDepth, "<e/>"), nested(kMaxDepth + 1, ""), nested(1000000, "")}) {
    EXPECT_THAT([&] { reprint(text); },
                ThrowsMessage<std::runtime_error>(StrEq("document nested too deeply")));
  }
  // Markup inside comments, CDATA and attribute values opens no element.
  const std::string hidden(5000, '<');
  EXPECT_NO_THROW(
      reprint("<a v='" + hidden + "'><!--" + hidden + "--><![CDATA[" + hidden + "]]></a>"));
}

}  // namespace
}  // namespace resweaver
