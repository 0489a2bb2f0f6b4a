// The printer of a run: the document as RapidXml's printer prints it with flags 0, in runs of bytes
// rather than one call per byte, with the prefix group's new entries streamed in rather than held
// as nodes.
#ifndef RESWEAVER_QRC_PRINTER_H_
#define RESWEAVER_QRC_PRINTER_H_

#include <cstddef>
#include <string_view>

#include "printed_text.h"
#include "qrc_document.h"

namespace resweaver {

// Prints a document whose root holds group, as RapidXml's printer does with flags 0 once the
// entries are appended to group, but with the entries streamed in rather than held as nodes:
// begin() prints everything up to the group's first entry, entry() one <file> element (its text in
// two pieces, joined, and an alias attribute unless alias is empty), end() the rest. The group
// must have no child nodes.
class QrcPrinter {
 public:
  QrcPrinter(const Document& doc, const Node& root, const Node& group, PrintedText& out)
      : doc_(doc), root_(root), group_(group), out_(out) {}
  void begin();
  void entry(std::string_view head, std::string_view tail = {}, std::string_view alias = {});
  // entry() with an alias given in two pieces.
  void aliasedEntry(std::string_view aliasHead, std::string_view aliasTail, std::string_view head,
                    std::string_view tail = {});
  void end();

 private:
  const Document& doc_;
  const Node& root_;
  const Node& group_;
  PrintedText& out_;
  std::size_t entries_ = 0;
};

}  // namespace resweaver

#endif  // RESWEAVER_QRC_PRINTER_H_
