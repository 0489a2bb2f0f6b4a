#include "printed_text.h"

namespace resweaver {

PrintedText::PrintedText(std::string_view text) {
  for (char c : text) {
    push_back(c);
  }
}

std::vector<std::string_view> PrintedText::blocks() const {
  std::vector<std::string_view> result;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    result.emplace_back(blocks_[i].get(), i + 1 < blocks_.size() ? kLargeBlockSize : used_);
  }
  return result;
}

std::string PrintedText::str() const {
  std::string text;
  text.reserve(size());
  for (const std::string_view block : blocks()) {
    text += block;
  }
  return text;
}

}  // namespace resweaver
