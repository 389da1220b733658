#include "crawl/HeapTuning.h"

#include <malloc.h>

#include <cstddef>

namespace {

// Blocks up to this size come from the heap: any page text but the rare
// giant; larger ones are mapped on their own and unmapped when freed.
constexpr std::size_t kLargestHeapBlock = std::size_t{4} * 1024 * 1024;
// Free memory at the top of a heap kept for the next pages: room for the
// texts of a good many pages, a fraction of what pages fetched ahead may hold.
constexpr std::size_t kFreeHeapKept = std::size_t{16} * 1024 * 1024;

}  // namespace

void KeepPageBlocksInHeap() {
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargestHeapBlock));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kFreeHeapKept));
}

void ReleaseFreeHeap() { malloc_trim(0); }
