// A page of any text scanned for links as the worker scans the page in process,
// with the project's patterns, one exclusion and the entry's crawl mode. What
// the rules queue must be something the worker can take up again: an http(s)
// URL of bounded length on the page's own host, marked "-" exactly while a base
// is in force, each page once, behind the untouched page in process. Every link
// value, and the page's base, comes as a browser's URL parser takes it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "crawl/LinkExtractor.h"
#include "crawl/QueueEntry.h"
#include "crawl/Search.h"
#include "crawl/Url.h"
#include "fuzz/CrawlGlobals.h"
#include "fuzz/FuzzCheck.h"
#include "project/AsciiText.h"

namespace {

bool StartsHttp(std::string_view url) {
    const std::string upper = ToUpperAscii(url.substr(0, 8));
    return upper.starts_with("HTTP://") || upper.starts_with("HTTPS://");
}

void CheckQueue(const std::string& entry, bool baseInForce) {
    Require(!g_UrlList.empty() && g_UrlList.front() == entry, "the page in process stays entry 0", entry);
    const std::string host = PageContextOfEntry(entry).host;
    std::unordered_set<std::string> pages;
    for (std::size_t i = 1; i < g_UrlList.size(); ++i) {
        std::string_view queued = g_UrlList[i];
        Require(queued.starts_with('-') == baseInForce, "a found page is marked \"-\" exactly under a base", queued);
        if (baseInForce) queued.remove_prefix(1);
        Require(StartsHttp(queued), "a found page is an http(s) URL", queued);
        Require(queued.size() <= kMaxQueuedUrlLength, "a found page's URL is bounded", queued.substr(0, 200));
        Require(EqualsNoCase(HostOf(queued), host), "a found page is on the page's host", queued);
        Require(pages.insert(UrlKey(queued)).second, "a page is queued once", queued);
    }
}

void CheckCleanLink(std::string_view link) {
    Require(link.find_first_of("\t\n\r") == std::string_view::npos, "a link holds no tab or line break", link);
    const auto edge = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    Require(link.empty() || (!edge(link.front()) && !edge(link.back())), "a link has no control or blank at its ends",
            link);
}

void CheckLinkValues(const std::string& page) {
    std::vector<std::string> links;
    ForEachLinkValue(page, [&](std::string link) {
        CheckCleanLink(link);
        links.push_back(std::move(link));
        return true;
    });
    if (const std::optional<std::string> base = FindBaseHref(page)) {
        CheckCleanLink(*base);
        Require(std::find(links.begin(), links.end(), *base) != links.end(), "the base is one of the page's links",
                *base);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CSearch search{std::unique_ptr<IPageFetcher>{}};
    ResetCrawlGlobals();

    FuzzedDataProvider in(data, size);
    const std::uint8_t flags = in.ConsumeIntegral<std::uint8_t>();
    const std::string entry = in.ConsumeRandomLengthString(256);
    for (int n = flags & 3; n > 0; --n) g_ResourcePatterns.push_back(in.ConsumeRandomLengthString(16));
    if ((flags & 4) != 0) g_ExcludeList.push_back("!" + in.ConsumeRandomLengthString(16));
    g_AllLinks = (flags & 8) != 0 ? 1 : 0;

    // The crawl mode as the worker takes it from the entry; a "-" entry keeps
    // whatever base the page that found it had.
    const QueueEntry parsed = ParseQueueEntry(entry);
    search.m_bRecursive = parsed.recursive;
    search.m_strBase = parsed.keepsBase ? in.ConsumeRandomLengthString(64) : std::string();
    if (parsed.plus) search.m_strBase = BaseOfPlusEntry(parsed.url);
    search.m_nHits = 0;

    g_UrlList.push_back(entry);
    const std::string page = in.ConsumeRemainingBytesAsString();
    search.ExtractLinks(page);
    CheckQueue(entry, !search.m_strBase.empty());
    CheckLinkValues(page);
    ResetCrawlGlobals();
    return 0;
}
