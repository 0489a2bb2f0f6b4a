// Memory for large, long-lived allocations (the document's pool, the printed text), in regions that
// the kernel may back with 2 MiB pages. A run over a large folder fills tens of megabytes in small
// pieces, and faulting them in 4 KiB at a time costs a fifth of the run.
#ifndef RESWEAVER_LARGE_PAGES_H_
#define RESWEAVER_LARGE_PAGES_H_

#include <cstddef>

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

}  // namespace resweaver

#endif  // RESWEAVER_LARGE_PAGES_H_
