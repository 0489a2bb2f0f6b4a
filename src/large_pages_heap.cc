// Blocks from the heap, where large pages are out of reach (on Windows they need a privilege that
// users seldom hold) or unwanted (under AddressSanitizer, which watches every heap block).
#include <new>

#include "large_pages.h"

namespace resweaver {

void* allocateLarge(std::size_t size) {
  return ::operator new(size);
}

void* allocateSmall(std::size_t size) {
  return ::operator new(size);
}

void releaseLarge(void* block) {
  ::operator delete(block);
}

}  // namespace resweaver
