#include "text_arena.h"

#include <algorithm>
#include <cstring>

namespace resweaver {

std::string_view TextArena::add(std::string_view head, std::string_view tail) {
  const std::size_t size = head.size() + tail.size();
  const std::size_t needed = sizeof size + size;
  if (blocks_.empty() || needed > blocks_.back().room) {
    // A text longer than a block gets a block of its own size.
    const std::size_t length = std::max(needed, kLargeBlockSize);
    // The first block in small pages: most runs hold few texts.
    char* start =
        static_cast<char*>(blocks_.empty() ? allocateSmall(length) : allocateLarge(length));
    blocks_.push_back({std::unique_ptr<char[], Release>(start), start, length});
  }
  Block& block = blocks_.back();
  std::memcpy(block.end, &size, sizeof size);
  char* text = block.end + sizeof size;
  // An empty view may hold no pointer at all, which memcpy must not see.
  if (!head.empty()) {
    std::memcpy(text, head.data(), head.size());
  }
  if (!tail.empty()) {
    std::memcpy(text + head.size(), tail.data(), tail.size());
  }
  block.end = text + size;
  block.room -= needed;
  return {text, size};
}

}  // namespace resweaver
