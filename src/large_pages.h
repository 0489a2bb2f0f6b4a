// Memory for large, long-lived allocations (the document's pool, the printed text), in regions that
// the kernel may back with 2 MiB pages. A run over a large folder fills tens of megabytes in small
// pieces, and faulting them in 4 KiB at a time costs a fifth of the run.
#ifndef RESWEAVER_LARGE_PAGES_H_
#define RESWEAVER_LARGE_PAGES_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace resweaver {

// Throws std::bad_alloc when no memory is left.
void* allocateLarge(std::size_t size);
// The same in small pages, faulted in only as far as they are used: for the first block of
// something that may stay small, where zeroing a whole large page would cost more than it saves.
void* allocateSmall(std::size_t size);
// Releases a block from either.
void releaseLarge(void* block);

// The usable size of a block that fills one large page.
constexpr std::size_t kLargeBlockSize = (std::size_t{2} << 20) - 64;

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

#endif  // RESWEAVER_LARGE_PAGES_H_
