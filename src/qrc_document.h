// The resource collection document: the .qrc file locked, loaded whole into one buffer, parsed in
// place with RapidXml, its prefix group found or created and filled, and printed back over the same
// file so that a failed save leaves the old bytes in place.
#ifndef RESWEAVER_QRC_DOCUMENT_H_
#define RESWEAVER_QRC_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <rapidxml/rapidxml.hpp>
#include <rapidxml/rapidxml_utils.hpp>

namespace resweaver {

using Document = rapidxml::xml_document<char>;
using Node = rapidxml::xml_node<char>;
using QrcFile = rapidxml::file<char>;

// Deepest element nesting accepted; the parser and the printer recurse once per level.
constexpr int kMaxDepth = 1000;

// Memory for large, long-lived allocations (the document's pool, the printed text), in regions that
// the kernel may back with 2 MiB pages. A run over a large folder fills tens of megabytes in small
// pieces, and faulting them in 4 KiB at a time costs a fifth of the run.
void* allocateLarge(std::size_t size);
void releaseLarge(void* block);
// The usable size of a block that fills one large page.
constexpr std::size_t kLargeBlockSize = (std::size_t{2} << 20) - 64;

// Makes doc take its memory from allocateLarge. Call before anything is allocated from it.
void useLargePages(Document& doc);

// The printed document, held in blocks of a fixed size so that it grows without copying and without
// reserving twice what it needs.
class PrintedText {
 public:
  using value_type = char;  // for std::back_inserter

  explicit PrintedText(std::string_view text = {});
  void push_back(char c) {
#ifdef _WIN32
    // What a text-mode stream does on Windows: every line feed is stored as CR LF.
    if (c == '\n') {
      append('\r');
    }
#endif
    append(c);
  }
  std::size_t size() const {
    return blocks_.empty() ? 0 : (blocks_.size() - 1) * kLargeBlockSize + used_;
  }
  // The bytes, block by block.
  std::vector<std::string_view> blocks() const;
  std::string str() const;

 private:
  void append(char c) {
    if (used_ == kLargeBlockSize) {
      blocks_.emplace_back(static_cast<char*>(allocateLarge(kLargeBlockSize)));
      used_ = 0;
    }
    blocks_.back()[used_++] = c;
  }

  struct Release {
    void operator()(char* block) const { releaseLarge(block); }
  };
  std::vector<std::unique_ptr<char[], Release>> blocks_;
  std::size_t used_ = kLargeBlockSize;  // bytes used in the last block
};

// An exclusive advisory lock on the .qrc, held from before loading until the save is done, so that
// runs on the same file queue up and each one sees the result of the one before it.
class QrcLock {
 public:
  // Throws "cannot open file <uiPath>" unless uiPath is a regular file that can be read.
  explicit QrcLock(const std::string& uiPath);
  ~QrcLock();
  QrcLock(const QrcLock&) = delete;
  QrcLock& operator=(const QrcLock&) = delete;

 private:
  std::intptr_t handle_;  // a file descriptor, or a Windows handle
};

// Reads the whole file into a NUL-terminated buffer; refuses a file that holds a NUL byte.
QrcFile loadQrc(const std::string& uiPath);

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

// The document as RapidXml prints it with flags 0.
PrintedText printQrc(const Document& doc);

// Writes text over uiPath in place: the file keeps its inode, owner, permissions and links, and
// holds its old bytes when any step fails. Leaves the file alone when text equals its current
// content. Throws "cannot write file <uiPath>: <reason>".
void saveQrc(const std::string& uiPath, const PrintedText& text);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_DOCUMENT_H_
