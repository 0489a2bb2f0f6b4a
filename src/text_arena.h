// Texts kept until the end of a run, one after another in large-page blocks.
#ifndef RESWEAVER_TEXT_ARENA_H_
#define RESWEAVER_TEXT_ARENA_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "large_pages.h"

namespace resweaver {

// Texts held one after another in large-page blocks until the arena goes: no copy when it grows,
// and no index beside them. Each text is stored after its length.
class TextArena {
 public:
  // Holds head followed by tail, and returns the joined text.
  std::string_view add(std::string_view head, std::string_view tail);
  // Calls visit with each text, in the order they were added.
  template <typename Visit>
  void forEach(Visit visit) const {
    for (const auto& block : blocks_) {
      for (const char* p = block.start.get(); p != block.end;) {
        std::size_t size;
        std::memcpy(&size, p, sizeof size);
        visit(std::string_view(p + sizeof size, size));
        p += sizeof size + size;
      }
    }
  }

 private:
  struct Release {
    void operator()(char* block) const { releaseLarge(block); }
  };
  struct Block {
    std::unique_ptr<char[], Release> start;
    char* end;  // of the texts in it
    std::size_t room;
  };
  std::vector<Block> blocks_;
};

}  // namespace resweaver

#endif  // RESWEAVER_TEXT_ARENA_H_
