#pragma once
// How much more heap a piece of code holds at its peak than before it ran, on
// the calling thread: core_tests replaces the global operator new and delete
// with counting ones (HeapPeak.cpp).
#include <cstdint>

class HeapPeak {
public:
    HeapPeak();
    ~HeapPeak();
    HeapPeak(const HeapPeak&) = delete;
    HeapPeak& operator=(const HeapPeak&) = delete;

    // The most bytes held above the start at any moment so far; blocks freed
    // that were allocated before the start count as given back.
    std::int64_t Bytes() const;
};
