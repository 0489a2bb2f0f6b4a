#include "printed_text.h"

#include <cstring>
#include <utility>

namespace resweaver {

PrintedText::PrintedText() = default;

PrintedText::PrintedText(const OldContent& old, bool keepChanges)
    : old_(&old), keepChanges_(keepChanges), comparing_(true) {}

PrintedText::~PrintedText() = default;
PrintedText::PrintedText(PrintedText&&) noexcept = default;
PrintedText& PrintedText::operator=(PrintedText&&) noexcept = default;

PrintedText::Block PrintedText::newBlock() {
  return Block(static_cast<char*>(allocateLarge(kLargeBlockSize)));
}

void PrintedText::append(std::string_view bytes) {
  if constexpr (kCrLfLineEnds) {
    for (std::size_t lineFeed; (lineFeed = bytes.find('\n')) != std::string_view::npos;) {
      appendRaw(bytes.substr(0, lineFeed));
      appendRaw("\r\n");
      bytes.remove_prefix(lineFeed + 1);
    }
  }
  appendRaw(bytes);
}

void PrintedText::appendRaw(std::string_view bytes) {
  while (!bytes.empty()) {
    if (blocks_.empty() || used_ == kLargeBlockSize) {
      blockFull();
    }
    const std::size_t count = std::min(bytes.size(), kLargeBlockSize - used_);
    std::memcpy(blocks_.back().get() + used_, bytes.data(), count);
    used_ += count;
    size_ += count;
    bytes.remove_prefix(count);
  }
}

// Called when the last block is full (or there is none yet). While comparing, the full block is
// held against the old bytes at its place: if they are equal it is reused for the next bytes.
void PrintedText::blockFull() {
  if (comparing_ && !blocks_.empty()) {
    const std::uint64_t offset = size_ - used_;
    if (offset + used_ <= old_->size()) {
      oldBlock_.resize(used_);
      old_->readAt(oldBlock_.data(), used_, offset);
      if (std::memcmp(oldBlock_.data(), blocks_.back().get(), used_) == 0) {
        used_ = 0;
        return;
      }
    }
    keepFromHere();
    if (!keepChanges_) {
      return;
    }
  }
  if (!comparing_ && !keepChanges_) {
    used_ = 0;  // only compared, and already known to differ
    return;
  }
  blocks_.push_back(newBlock());
  used_ = 0;
}

// The text differs from the old one within the last block: the equal bytes before that block are
// read back from the old content, so that the kept blocks hold the whole text from the start.
void PrintedText::keepFromHere() {
  comparing_ = false;
  oldBlock_ = {};
  if (!keepChanges_) {
    return;
  }
  const std::uint64_t equal = size_ - used_;  // a whole number of blocks
  Block last = std::move(blocks_.back());
  blocks_.clear();
  for (std::uint64_t offset = 0; offset < equal; offset += kLargeBlockSize) {
    blocks_.push_back(newBlock());
    old_->readAt(blocks_.back().get(), kLargeBlockSize, offset);
  }
  blocks_.push_back(std::move(last));
}

void PrintedText::finish() {
  if (!comparing_) {
    unchanged_ = false;
    return;
  }
  const std::uint64_t offset = size_ - used_;
  if (size_ == old_->size()) {
    oldBlock_.resize(used_);
    old_->readAt(oldBlock_.data(), used_, offset);
    if (used_ == 0 || std::memcmp(oldBlock_.data(), blocks_.back().get(), used_) == 0) {
      unchanged_ = true;
      oldBlock_ = {};
      return;
    }
  }
  // Shorter or longer than the old text, or different in its last block.
  if (blocks_.empty()) {
    blocks_.push_back(newBlock());
  }
  keepFromHere();
  unchanged_ = false;
}

std::vector<std::string_view> PrintedText::blocks() const {
  std::vector<std::string_view> result;
  if (comparing_ || (old_ != nullptr && !keepChanges_)) {
    return result;
  }
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    result.emplace_back(blocks_[i].get(), i + 1 < blocks_.size() ? kLargeBlockSize : used_);
  }
  return result;
}

std::string PrintedText::str() const {
  std::string text;
  text.reserve(static_cast<std::size_t>(size_));
  for (const std::string_view block : blocks()) {
    text += block;
  }
  return text;
}

}  // namespace resweaver
