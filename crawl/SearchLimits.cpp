#include "crawl/SearchLimits.h"

#include <unistd.h>

std::size_t DefaultMemoryCeiling() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return std::size_t{1} << 30;  // unknown: 1 GiB
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize) / 4;
}

std::string LimitReachedText(LimitReached limit) {
    switch (limit) {
        case LimitReached::Memory: return "Stopped: memory limit reached";
        case LimitReached::Pages: return "Stopped: page limit reached";
        case LimitReached::None: break;
    }
    return std::string();
}
