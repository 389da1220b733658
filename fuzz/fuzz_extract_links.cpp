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
#include "fuzz/FuzzCheck.h"
#include "project/AsciiText.h"

namespace {

bool StartsHttp(std::string_view url) {
    const std::string upper = ToUpperAscii(url.substr(0, 8));
    return upper.starts_with("HTTP://") || upper.starts_with("HTTPS://");
}

void CheckQueue(const UrlQueue& queue, const std::string& entry, bool baseInForce) {
    Require(!queue.empty() && queue.front() == entry, "the page in process stays entry 0", entry);
    const std::string host = PageContextOfEntry(entry).host;
    std::unordered_set<std::string> pages;
    for (std::size_t i = 1; i < queue.size(); ++i) {
        std::string_view queued = queue[i];
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
    // A search of its own for every input, so that what one input found does
    // not decide what the next finds.
    CSearch search{std::unique_ptr<IPageFetcher>{}};
    ProjectData project;

    FuzzedDataProvider in(data, size);
    const std::uint8_t flags = in.ConsumeIntegral<std::uint8_t>();
    const std::string entry = in.ConsumeRandomLengthString(256);
    for (int n = flags & 3; n > 0; --n) project.m_resourcePatterns.push_back(in.ConsumeRandomLengthString(16));
    if ((flags & 4) != 0) project.m_urlList.push_back("!" + in.ConsumeRandomLengthString(16));
    project.m_allLinks = (flags & 8) != 0 ? 1 : 0;
    search.OpenSearch(project, nullptr, nullptr);

    // The crawl mode as the worker takes it from the entry; a "-" entry keeps
    // whatever base the page that found it had.
    CCrawlWorker& worker = search.Worker();
    const QueueEntry parsed = ParseQueueEntry(entry);
    worker.m_bRecursive = parsed.recursive;
    worker.m_strBase = parsed.keepsBase ? in.ConsumeRandomLengthString(64) : std::string();
    if (parsed.plus) worker.m_strBase = BaseOfPlusEntry(parsed.url);

    UrlQueue& queue = search.State().m_urlQueue;
    queue = {entry};
    const std::string page = in.ConsumeRemainingBytesAsString();
    worker.ExtractLinks(page);
    CheckQueue(queue, entry, !worker.m_strBase.empty());
    CheckLinkValues(page);
    return 0;
}
