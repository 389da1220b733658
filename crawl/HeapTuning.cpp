#include "crawl/HeapTuning.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <system_error>

namespace {

// Blocks up to this size come from the heap: any page text but the rare
// giant; larger ones are mapped on their own and unmapped when freed.
constexpr std::size_t kLargestHeapBlock = std::size_t{4} * 1024 * 1024;
// Free memory at the top of a heap kept for the next pages: room for the
// texts of a good many pages, a fraction of what pages fetched ahead may hold.
constexpr std::size_t kFreeHeapKept = std::size_t{16} * 1024 * 1024;
// What a thread of a search takes of its heap for the pages of a manual of a
// few hundred pages (6 MiB on the Python manual): taken in blocks the heap
// gives out, and kept as free room once they are given back.
constexpr std::size_t kHeapBlockReadied = kLargestHeapBlock / 2;
constexpr std::size_t kHeapReadiedBlocks = 4;
static_assert(kHeapBlockReadied * kHeapReadiedBlocks < kFreeHeapKept, "the room made ready must stay in the heap");
// A step holds the process's map of memory for some 50 us at most: a thread
// that grows its heap meanwhile waits for it.
constexpr std::uintptr_t kReadiedPerStep = 64 * 1024;
// How far the room made ready runs ahead of the pages taken in: room for a
// page or two at the start, then twice what came. A thread's heap grows with
// the pages it takes in, so the room stays ahead of it; a search of a few
// small pages readies little more than it uses.
constexpr std::size_t kReadiedBeforeAnyPage = 128 * 1024;
constexpr std::size_t kReadiedPerByteTaken = 2;

constexpr std::uintptr_t kPageBytes = 4096;

}  // namespace

void KeepPageBlocksInHeap() {
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargestHeapBlock));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kFreeHeapKept));
}

void ReleaseFreeHeap() { malloc_trim(0); }

CHeapReadier::CHeapReadier() {
    // The blocks are given back at once: the room stays the heap's, where the
    // thread's next blocks are cut from, and is readied all the same.
    std::array<void*, kHeapReadiedBlocks> blocks{};
    std::vector<Range> ranges;
    for (void*& block : blocks) {
        block = std::malloc(kHeapBlockReadied);
        if (block == nullptr) continue;
        const auto at = reinterpret_cast<std::uintptr_t>(block);
        ranges.push_back({(at + kPageBytes - 1) & ~(kPageBytes - 1), (at + kHeapBlockReadied) & ~(kPageBytes - 1)});
    }
    for (void* block : blocks) std::free(block);
    try {
        m_thread = std::thread([this, ranges = std::move(ranges)] { Ready(ranges); });
    } catch (const std::system_error&) {
        // Without a thread the pages are taken a fault at a time, as they always could be.
    }
}

CHeapReadier::~CHeapReadier() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void CHeapReadier::Taken(std::size_t bytes) noexcept {
    m_taken.fetch_add(bytes);
    // Only a readier that has caught up is woken: the common case costs no call.
    if (!m_waiting.load()) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake.notify_one();
}

bool CHeapReadier::WaitForRoom(std::uintptr_t readied) {
    const auto roomAllowed = [this, readied] {
        return readied < kReadiedBeforeAnyPage + kReadiedPerByteTaken * m_taken.load();
    };
    if (roomAllowed()) return !m_stop;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_waiting = true;
    m_wake.wait(lock, [&] { return m_stop || roomAllowed(); });
    m_waiting = false;
    return !m_stop;
}

void CHeapReadier::Ready(const std::vector<Range>& ranges) {
    pthread_setname_np(pthread_self(), "nz-heap");
    // In the order the blocks were given: the heap's next blocks are cut from the first.
    std::uintptr_t readied = 0;
    for (const Range& range : ranges) {
        for (std::uintptr_t at = range.start; at < range.end; at += kReadiedPerStep) {
            if (!WaitForRoom(readied)) return;
            const std::uintptr_t end = std::min(range.end, at + kReadiedPerStep);
            readied += end - at;
            // Writing nothing, and harmless on pages in use; before Linux 5.14 it
            // fails, and the pages are taken a fault at a time as before.
            if (madvise(reinterpret_cast<void*>(at), end - at, MADV_POPULATE_WRITE) != 0) return;
        }
    }
}
