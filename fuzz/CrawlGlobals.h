#pragma once
// Every run starts from an empty crawl, so that the page list and queue of one
// input do not decide what the next one finds, and leaves an empty one behind:
// libFuzzer takes memory still held after a run for a leak and searches the
// whole heap for it, which costs more than the run itself.
#include "crawl/CrawlState.h"
#include "project/ProjectData.h"

inline void ResetCrawlGlobals() {
    g_UrlList.clear();
    g_ExcludeList.clear();
    g_FailedUrls.clear();
    g_ResourcePatterns.clear();
    g_AllLinks = 0;
    g_PageCrc = 0;
    FreePageList();
}
