// The search for the prefix group during the pre-parse check: it follows the check's events
// (elements, attribute values, text, end tags) and finds where the content of the first child of
// the root element that carries the prefix lies in the raw text.
#ifndef RESWEAVER_GROUP_SEARCH_H_
#define RESWEAVER_GROUP_SEARCH_H_

#include <string_view>

#include "document_check.h"

namespace resweaver {

// Follows the search for the prefix group through the events of the check.
class GroupSearch {
 public:
  GroupSearch(const std::string_view* prefix, GroupContent* group)
      : prefix_(prefix), group_(group), state_(prefix == nullptr ? kDone : kSearching) {}

  // An element starts at depth (its parent's depth).
  void element(int depth) {
    topElements_ += depth == 0;
    candidate_ = state_ == kSearching && depth == 1 && topElements_ == 1;
    matched_ = false;
  }
  // An attribute value, from the file, ends before end.
  void attribute(const char* value, const char* end);
  // The start tag ended; content, if any, begins at content.
  void startTagEnd(const char* content) {
    if (!matched_) {
      return;
    }
    state_ = content == nullptr ? kDone : kInside;  // an empty-element tag has no content
    found_.begin = content;
  }
  // A stretch of text at depth (the depth of its element's content).
  void text(int depth, const char* begin, const char* end) {
    if (state_ == kInside && depth == 2 && found_.textBegin == nullptr) {
      found_.textBegin = begin;
      found_.textEnd = end;
    }
  }
  // An end tag that begins at tag closes an element whose content was at depth.
  void endTag(int depth, const char* tag) {
    if (state_ == kInside && depth == 2) {
      found_.end = tag;
      state_ = kDone;
      if (found_.begin != nullptr) {
        *group_ = found_;
      }
    }
  }

 private:
  enum State { kSearching, kInside, kDone };
  const std::string_view* prefix_;
  GroupContent* group_;
  State state_;
  int topElements_ = 0;
  bool candidate_ = false;
  bool matched_ = false;
  GroupContent found_;
};

}  // namespace resweaver

#endif  // RESWEAVER_GROUP_SEARCH_H_
