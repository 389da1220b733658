#pragma once
// Everything the crawl worker shows goes through this interface. The search
// dialog implements it with queued events, the runner with a terminal line.
// All calls arrive on the worker thread.
#include <cstdint>
#include <string>

#include "crawl/PageFetcher.h"

class ISearchProgress : public IStatusTarget {
public:
    // A URL has been opened: it joins the list of fetched URLs and is the current URL.
    virtual void UrlOpened(const std::string& url) = 0;
    virtual void CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) = 0;
    // The queue is empty: the start button becomes "Show results".
    virtual void SearchFinished() = 0;
};
