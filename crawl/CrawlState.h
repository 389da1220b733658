#pragma once
// The crawl's process-wide state: exclusions, failed URLs, the page list with
// its hits, and the checksum of the page in process (crawl/Checksum.h).
#include <cstdint>
#include <string>
#include <unordered_set>

#include "project/ProjectData.h"

struct PageRecord {
    PageRecord* next = nullptr;
    StringList hits;         // in the order found, no two the same URL
    std::string url;         // without mark character, no two records the same URL
    std::uint64_t crc = 0;   // g_PageCrc when the latest hit was added; 0 without hits
    std::unordered_set<std::string> hitKeys;  // UrlKey of each hit, for the uniqueness test
};

extern StringList g_ExcludeList;
extern StringList g_FailedUrls;
extern PageRecord* g_PageList;
extern std::uint64_t g_PageCrc;

int AddPage(const std::string& url);
void AddHit(const std::string& pageEntry, const std::string& hitUrl);
int IsNewContent();
// True when a page with hits carries `crc`: a page of that text is not scanned.
bool IsScannedContent(std::uint64_t crc);
// True when the page list holds `url` (one mark removed): AddPage would not add it.
bool IsKnownPage(const std::string& url);
// Deletes every record and leaves g_PageList empty.
void FreePageList();
