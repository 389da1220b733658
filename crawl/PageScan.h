#pragma once
// A page read once: its text's checksum and what each of its links comes to,
// decided by the link rules under the request the page was asked as. The
// fetcher makes it while the worker is busy with earlier pages; the worker
// records it in order, and its planner looks through it to foresee the pages
// the worker will open next.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crawl/LinkRules.h"
#include "crawl/PageFetcher.h"

// What a link of a scan came to (see LinkDecision), its URL kept in the scan's
// `urls`: a page's few hundred URLs in one heap block instead of one each,
// taken on the network thread and given back on the worker's, and a quarter
// less room for the scans of pages waiting.
struct ScannedLink {
    std::size_t urlAt = 0;
    std::uint32_t urlLength = 0;
    std::uint32_t hits = 0;
    std::uint32_t followLength = 0;
    bool repeated = false;
};

struct PageScan {
    PageRequest request;   // what the page was asked as
    std::string finalUrl;  // where it was read from after redirects; empty: request.url
    std::uint64_t checksum = 0;
    std::size_t textBytes = 0;
    // The links that record or follow something, in document order; a text
    // written again is left out unless it is a hit.
    std::vector<ScannedLink> links;
    std::string urls;  // the links' URLs one after the other
    // Of the links followed, the first to each page, in document order, with
    // the pages' identities: what the page would queue when all are new.
    std::vector<std::uint32_t> follows;
    std::vector<std::uint64_t> followHashes;  // UrlHash of each, in the order of `follows`
    std::vector<std::uint64_t> sortedFollowHashes;

    // The URL of links[i] as recorded, and the page it leads to.
    std::string_view Url(std::size_t i) const {
        return std::string_view(urls).substr(links[i].urlAt, links[i].urlLength);
    }
    std::string_view Follow(std::size_t i) const { return Url(i).substr(0, links[i].followLength); }
    // Tells whether the page links to a page of identity `hash`.
    bool Follows(std::uint64_t hash) const;
    // What it holds in memory, roughly.
    std::size_t MemoryBytes() const;
};

// What a page asked as `request` and read from `finalUrl` makes of its links.
LinkContext ContextOf(const PageRequest& request, const std::string& finalUrl);

// Calls `onLink` for every link of `text` that records or follows something, in
// document order, but for a link whose text the page has had before and that is
// no hit: it does nothing, the page it leads to being queued at the first. A hit
// written again counts again, marked repeated when it leads to a page. Ends early
// when `onLink` returns false, or when `stop` or `handOver` (either may be null)
// is set: they are looked at before every link. Returns false when stopped.
// `handOver` asks that the page be left to another thread, which reads it from
// its start.
bool ForEachLinkDecision(std::string_view text, const LinkContext& context, const CrawlRules& rules,
                         const std::atomic<bool>* stop, const std::function<bool(LinkDecision&&)>& onLink,
                         const std::atomic<bool>* handOver = nullptr);

// The whole scan of a page's text; null when `stop` or `handOver` was set before it was done.
std::shared_ptr<PageScan> ScanPage(std::string_view text, const PageRequest& request, const std::string& finalUrl,
                                   const CrawlRules& rules, const std::atomic<bool>* stop,
                                   const std::atomic<bool>* handOver = nullptr);
