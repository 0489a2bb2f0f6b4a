// Large-page blocks from anonymous mappings aligned to 2 MiB, where the system can back them with
// large pages (Linux's transparent huge pages); elsewhere they are ordinary mappings.
#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <tuple>

#include "large_pages.h"

namespace resweaver {

namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
constexpr std::size_t kBlockHeader = 64;  // holds the mapping's length; keeps any alignment

// Asks for large pages; a hint: without them, only slower.
#if RESWEAVER_HAVE_MADV_HUGEPAGE
inline void adviseLargePages(void* block, std::size_t length) {
  std::ignore = ::madvise(block, length, MADV_HUGEPAGE);
}
#else
inline void adviseLargePages(void* /*block*/, std::size_t /*length*/) {}
#endif

}  // namespace

void* allocateLarge(std::size_t size) {
  const std::size_t length = (size + kBlockHeader + kLargePage - 1) / kLargePage * kLargePage;
  // Map one large page more than needed, and trim the ends so that the block starts on a large-page
  // boundary, where the kernel can back it with large pages.
  void* mapping = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto first = reinterpret_cast<std::uintptr_t>(mapping);
  const std::uintptr_t start = (first + kLargePage - 1) / kLargePage * kLargePage;
  const std::uintptr_t end = first + length + kLargePage;
  if (start > first) {
    ::munmap(mapping, start - first);
  }
  if (end > start + length) {
    ::munmap(reinterpret_cast<void*>(start + length), end - start - length);
  }
  char* block = reinterpret_cast<char*>(start);
  adviseLargePages(block, length);
  *reinterpret_cast<std::size_t*>(block) = length;
  return block + kBlockHeader;
}

void* allocateSmall(std::size_t size) {
  char* block = static_cast<char*>(::operator new(size + kBlockHeader));
  *reinterpret_cast<std::size_t*>(block) = 0;  // not a mapping of its own
  return block + kBlockHeader;
}

void releaseLarge(void* block) {
  char* start = static_cast<char*>(block) - kBlockHeader;
  const std::size_t length = *reinterpret_cast<std::size_t*>(start);
  if (length == 0) {
    ::operator delete(start);
  } else {
    ::munmap(start, length);
  }
}

}  // namespace resweaver
