// Large pages on Windows need a privilege that users seldom hold; blocks come from the heap.
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
