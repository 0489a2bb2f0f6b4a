#include "printed_text.h"

#include <cstring>
#include <utility>

namespace resweaver {

PrintedText::PrintedText() {
  blocks_.push_back(newBlock());
  limit_ = limit();
}

PrintedText::PrintedText(const OldContent& old, bool keepChanges)
    : compareStep_(compareStep(old.size())),
      old_(&old),
      keepChanges_(keepChanges),
      comparing_(true) {
  blocks_.push_back(newBlock());
  limit_ = limit();
}

PrintedText::~PrintedText() = default;
PrintedText::PrintedText(PrintedText&&) noexcept = default;
PrintedText& PrintedText::operator=(PrintedText&&) noexcept = default;

// The first block in small pages: most texts fit in a fraction of it.
PrintedText::Block PrintedText::newBlock() {
  return Block(static_cast<char*>(blocks_.empty() ? allocateSmall(kLargeBlockSize)
                                                  : allocateLarge(kLargeBlockSize)));
}

void PrintedText::appendSlowly(std::string_view bytes) {
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
    if (used_ == limit()) {
      blockFull();
      continue;
    }
    const std::size_t count = std::min(bytes.size(), limit() - used_);
    std::memcpy(blocks_.back().get() + used_, bytes.data(), count);
    used_ += count;
    size_ += count;
    bytes.remove_prefix(count);
  }
  limit_ = limit();
}

// While comparing, the bytes are held against the old ones in small steps, so that only the first
// pages of one block are ever touched; afterwards, blocks fill up whole.
std::size_t PrintedText::limit() const {
  return comparing_ ? compareStep_ : kLargeBlockSize;
}

std::size_t PrintedText::compareStep(std::uint64_t oldSize) {
  std::size_t step = 4 * 1024;
  while (step < 64 * 1024 && step * 128 < oldSize) {
    step *= 2;
  }
  return step;
}

// Called when the last block is full. While comparing, the bytes in it are held against the old
// bytes at their place: if they are equal, the block is reused.
void PrintedText::blockFull() {
  if (comparing_) {
    const std::uint64_t offset = size_ - used_;
    if (offset + used_ <= old_->size()) {
      oldBytes_.resize(used_);
      old_->readAt(oldBytes_.data(), used_, offset);
      if (std::memcmp(oldBytes_.data(), blocks_.back().get(), used_) == 0) {
        used_ = 0;
        return;
      }
    }
    keepFromHere();
    return;
  }
  if (!keepChanges_) {
    used_ = 0;  // only compared, and already known to differ
    return;
  }
  blocks_.push_back(newBlock());
  used_ = 0;
}

// The text differs from the old one within the bytes held: the equal bytes before them are read
// back from the old content, so that the kept blocks hold the whole text from the start.
void PrintedText::keepFromHere() {
  comparing_ = false;
  oldBytes_ = {};
  if (!keepChanges_) {
    used_ = 0;
    return;
  }
  const std::string held(blocks_.back().get(), used_);
  const std::uint64_t equal = size_ - used_;
  blocks_.clear();
  blocks_.push_back(newBlock());
  used_ = 0;
  size_ = 0;
  for (std::uint64_t offset = 0; offset < equal;) {
    if (used_ == kLargeBlockSize) {
      blocks_.push_back(newBlock());
      used_ = 0;
    }
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(kLargeBlockSize - used_, equal - offset));
    old_->readAt(blocks_.back().get() + used_, count, offset);
    used_ += count;
    size_ += count;
    offset += count;
  }
  appendRaw(held);
}

void PrintedText::finish() {
  if (!comparing_) {
    unchanged_ = false;
    return;
  }
  const std::uint64_t offset = size_ - used_;
  if (size_ == old_->size()) {
    oldBytes_.resize(used_);
    old_->readAt(oldBytes_.data(), used_, offset);
    if (used_ == 0 || std::memcmp(oldBytes_.data(), blocks_.back().get(), used_) == 0) {
      unchanged_ = true;
      oldBytes_ = {};
      return;
    }
  }
  // Shorter or longer than the old text, or different in its last bytes.
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
