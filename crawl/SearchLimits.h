#pragma once
// Where a search stops on its own before its queue is empty: when the crawl's
// own data (page list, queue, failed URLs) passes a memory ceiling, or after a
// number of pages. A site without end would otherwise fill the machine until the
// kernel ends the program and everything found is lost. The search then ends as
// Cancel with "Save found?" answered Yes would, and says why.
#include <cstddef>
#include <cstdint>
#include <string>

struct SearchLimits {
    std::size_t maxMemoryBytes = 0;  // 0: none
    std::int32_t maxPages = 0;       // pages scanned; 0: none
};

// A quarter of the machine's memory: the ceiling when none is given.
std::size_t DefaultMemoryCeiling();

enum class LimitReached { None, Memory, Pages };

// "Stopped: memory limit reached", "Stopped: page limit reached"; empty for None.
std::string LimitReachedText(LimitReached limit);
