// The printed document: the bytes of the new .qrc, held in large-page blocks so that it grows
// without copying and without reserving twice what it needs.
#ifndef RESWEAVER_PRINTED_TEXT_H_
#define RESWEAVER_PRINTED_TEXT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "large_pages.h"

namespace resweaver {

// Whether text files end their lines with CR LF, as a text-mode stream writes them on Windows.
#ifdef _WIN32
inline constexpr bool kCrLfLineEnds = true;
#else
inline constexpr bool kCrLfLineEnds = false;
#endif

class PrintedText {
 public:
  using value_type = char;  // for std::back_inserter

  explicit PrintedText(std::string_view text = {});
  void push_back(char c) {
    if constexpr (kCrLfLineEnds) {
      if (c == '\n') {
        append('\r');
      }
    }
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

}  // namespace resweaver

#endif  // RESWEAVER_PRINTED_TEXT_H_
