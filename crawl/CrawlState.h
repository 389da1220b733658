#pragma once
// What a search has found and has still to do: the work queue, the exclusions,
// the URLs that failed or were skipped, the page list and the counters. A
// search works on one; the program keeps one across its searches, as the failed
// URLs of a search kept after Cancel are listed after the next.
#include <cstdint>
#include <deque>
#include <string>

#include "crawl/PageList.h"
#include "project/ProjectData.h"

// The queue takes entry 0 and inserts at index 1; a deque does both without
// moving the rest of the queue.
using UrlQueue = std::deque<std::string>;

// How a page that a site's robots.txt keeps crawlers off is listed: this, then its URL.
inline constexpr const char* kSkippedByRobots = "Skipped (robots.txt): ";

struct CrawlState {
    // Entry 0 is the entry in process; pages found go in at index 1; an entry
    // leaves when its step ends. Filled from the project's entries when the search opens.
    UrlQueue m_urlQueue;
    // Copies of the project's "!" entries, collected when the search opens.
    StringList m_excludeList;
    StringList m_failedUrls;
    // Pages whose site's robots.txt keeps crawlers off them: neither fetched nor
    // failed. Listed beside the failed URLs, and emptied with them.
    StringList m_skippedUrls;
    CPageList m_pageList;

    // Only the worker writes them while it runs.
    std::int32_t m_nPages = 1;
    std::int32_t m_nHits = 0;
    std::int64_t m_nBytes = 0;  // 64-bit: a long crawl passes 2 GiB
};
