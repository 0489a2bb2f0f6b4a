// The resource collection document: parsed in place from the loaded .qrc with RapidXml, its root
// element, the prefix group found or created and filled with file entries, and the document printed
// in RapidXml's layout.
#ifndef RESWEAVER_QRC_DOCUMENT_H_
#define RESWEAVER_QRC_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <rapidxml/rapidxml.hpp>

#include "printed_text.h"

namespace resweaver {

using Document = rapidxml::xml_document<char>;
using Node = rapidxml::xml_node<char>;

// Makes doc take its memory from large-page blocks. Call before anything is allocated from it.
void useLargePages(Document& doc);

// A document that cannot be parsed: the parser's message, and where in the text it stopped.
class ParseError : public std::runtime_error {
 public:
  ParseError(const char* message, std::size_t offset)
      : std::runtime_error(message), offset_(offset) {}
  std::size_t offset() const { return offset_; }  // in bytes from the start of the file

 private:
  std::size_t offset_;
};

// A place in a text as editors count it: lines from 1, separated by line feeds; columns from 1, in
// bytes, with a leading UTF-8 byte-order mark not counted.
struct TextPosition {
  std::uint64_t line;
  std::uint64_t column;
};
// The position just after before, the text that precedes it.
TextPosition positionAfter(std::string_view before);

// Parses the NUL-terminated text in place into doc. Besides the parser's own errors, refuses
// nesting deeper than kMaxDepth and numeric references that do not name a character from U+0001 to
// U+10FFFF (the parser would let them through as NUL or as a wrapped-around number). Throws
// ParseError.
void parseQrc(char* text, Document& doc);

// Parses the NUL-terminated text of size bytes in place into doc as parseQrc does, but leaves out
// the content of the group that carries prefix, except for its first text (the group's value): the
// group is about to be emptied, and its old entries would only cost nodes and time. After
// locateOrCreateGroup the document is the same as with parseQrc.
void parseQrcWithoutEntries(char* text, std::size_t size, std::string_view prefix, Document& doc);

// The first top-level element, or nullptr when the document holds none.
Node* findRoot(Document& doc);

// The first child of root that has an attribute whose value equals prefix, or nullptr.
Node* findGroup(Node& root, std::string_view prefix);

// A file entry as the document holds it: its text, and the value of its alias attribute (empty
// when it has none).
struct FileEntry {
  std::string_view text;
  std::string_view alias = {};
};

// The file entries of group (nullptr: none), in document order.
std::vector<FileEntry> fileEntries(const Node* group);

// The first child of root that has an attribute whose value equals prefix, emptied of its children;
// or, when none has, a new <qresource prefix="..."> appended to root. The new attribute refers to
// prefix's text, which must outlive doc.
Node& locateOrCreateGroup(Document& doc, Node& root, const std::string& prefix);

// Appends <file>text</file> to group, with an alias attribute unless alias is empty. The texts are
// copied into doc's memory pool.
void appendFileEntry(Document& doc, Node& group, std::string_view text,
                     std::string_view alias = {});

// Appends the document to out as RapidXml's printer prints it with flags 0, through that printer:
// the tests' and the fuzzer's oracle for QrcPrinter.
void printQrc(const Document& doc, PrintedText& out);
PrintedText printQrc(const Document& doc);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_DOCUMENT_H_
