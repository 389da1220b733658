#pragma once
// The crawl's process-wide state: exclusions, failed URLs, the page list with
// its hits, and the checksum of the page in process (crawl/Checksum.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/ProjectData.h"

// Finds a record's hit by its URL without a second copy of it: open addressing
// over the positions of the hits, by their URL identity.
class HitIndex {
public:
    // The position of the hit that is the same URL as `url`, or -1.
    std::ptrdiff_t Find(const StringList& hits, std::string_view url) const;
    // Takes in hits[position]; the caller has made sure no equal hit is in.
    void Insert(const StringList& hits, std::size_t position);
    // Indexes `hits` anew, when they were filled by hand.
    void Rebuild(const StringList& hits);
    std::size_t Size() const { return m_count; }

private:
    void Place(const StringList& hits, std::uint32_t position);

    std::vector<std::uint32_t> m_slots;  // position + 1; 0 is free
    std::size_t m_count = 0;
};

struct PageRecord {
    PageRecord* next = nullptr;
    StringList hits;         // in the order found, no two the same URL
    std::string url;         // without mark character, no two records the same URL
    std::uint64_t crc = 0;   // g_PageCrc when the latest hit was added; 0 without hits
    HitIndex hitIndex;       // of `hits`, for the uniqueness test
};

extern StringList g_ExcludeList;
extern StringList g_FailedUrls;
// Pages whose site's robots.txt keeps crawlers off them: neither fetched nor
// failed. Listed beside the failed URLs, and emptied with them.
extern StringList g_SkippedUrls;
// How such a page is listed: this, then its URL.
inline constexpr const char* kSkippedByRobots = "Skipped (robots.txt): ";
extern PageRecord* g_PageList;
extern std::uint64_t g_PageCrc;

int AddPage(const std::string& url);
void AddHit(const std::string& pageEntry, const std::string& hitUrl);
// The same, taking the hit's text over instead of copying it.
void AddHit(const std::string& pageEntry, std::string&& hitUrl);
int IsNewContent();
// True when a page with hits carries `crc`: a page of that text is not scanned.
bool IsScannedContent(std::uint64_t crc);
// True when the page list holds `url` (one mark removed): AddPage would not add it.
bool IsKnownPage(std::string_view url);
// The same, for an URL without mark whose UrlHash is known.
bool IsKnownPage(std::string_view url, std::size_t hash);
// Deletes every record and leaves g_PageList empty.
void FreePageList();
// What the page list holds, in bytes, counted as records and hits are added:
// the search's memory ceiling looks at it.
std::size_t PageListBytes();
