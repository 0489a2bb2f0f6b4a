// The resource collection document: parsed in place from the loaded .qrc with RapidXml, its root
// element, the prefix group found or created and filled with file entries, and the document printed
// in RapidXml's layout.
#ifndef RESWEAVER_QRC_DOCUMENT_H_
#define RESWEAVER_QRC_DOCUMENT_H_

#include <string>
#include <string_view>

#include <rapidxml/rapidxml.hpp>

#include "printed_text.h"

namespace resweaver {

using Document = rapidxml::xml_document<char>;
using Node = rapidxml::xml_node<char>;

// Makes doc take its memory from large-page blocks. Call before anything is allocated from it.
void useLargePages(Document& doc);

// Parses the NUL-terminated text in place into doc. Besides the parser's own errors, refuses
// nesting deeper than kMaxDepth and numeric references that do not name a character from U+0001 to
// U+10FFFF (the parser would let them through as NUL or as a wrapped-around number).
void parseQrc(char* text, Document& doc);

// The first top-level element, or nullptr when the document holds none.
Node* findRoot(Document& doc);

// The first child of root that has an attribute whose value equals prefix, emptied of its children;
// or, when none has, a new <qresource prefix="..."> appended to root. The new attribute refers to
// prefix's text, which must outlive doc.
Node& locateOrCreateGroup(Document& doc, Node& root, const std::string& prefix);

// Appends <file>text</file> to group. The text is copied into doc's memory pool.
void appendFileEntry(Document& doc, Node& group, std::string_view text);

// Appends the document to out as RapidXml prints it with flags 0.
void printQrc(const Document& doc, PrintedText& out);
PrintedText printQrc(const Document& doc);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_DOCUMENT_H_
