#pragma once
// The heap as a search uses it. Page texts of a hundred kilobytes and more are
// taken and given back by the hundred a second; by default the C library hands
// such blocks back to the system when they are freed and takes them anew, a
// page fault every 4 KiB, for the next page. A program that runs searches
// keeps them in its heap instead, and gives back what is free once a search is over.
//
// The first two are the program's to call, not the library's: they set how the
// whole process allocates.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Once, at the program's start, before its threads.
void KeepPageBlocksInHeap();
// When a search has ended: the heap's free memory goes back to the system.
void ReleaseFreeHeap();

// The room a thread's heap takes for a search's first few hundred pages, made
// ready for it on a thread of its own while the search gets under way. Taken
// as it comes it costs a page fault every 4 KiB as it is first written, on a
// virtual machine some 10 us each: a tenth of the time of a search of a
// manual. Made on the thread whose heap it readies, and kept while that
// thread searches. It keeps only so far ahead of the pages its thread has
// taken in: a search of a few small pages is not kept waiting while room for
// hundreds is made, nor is a core spent on it.
class CHeapReadier {
public:
    CHeapReadier();
    ~CHeapReadier();
    CHeapReadier(const CHeapReadier&) = delete;
    CHeapReadier& operator=(const CHeapReadier&) = delete;

    // The owner thread has taken in this many more bytes of pages.
    void Taken(std::size_t bytes) noexcept;

private:
    struct Range {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
    };
    void Ready(const std::vector<Range>& ranges);
    // False once stopped.
    bool WaitForRoom(std::uintptr_t readied);

    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_taken{0};
    std::atomic<bool> m_waiting{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};
