#include "crawl/PageScan.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "crawl/Checksum.h"
#include "crawl/LinkExtractor.h"
#include "crawl/QueueEntry.h"
#include "crawl/Url.h"

LinkContext ContextOf(const PageRequest& request, const std::string& finalUrl) {
    LinkContext context;
    context.page = PageContextOf(request.url, finalUrl, request.start);
    context.recursive = request.recursive;
    // A "+" entry that moved restricts the crawl below where it landed.
    context.base = request.plus ? BaseOfPlusEntry(finalUrl.empty() ? request.url : finalUrl) : request.base;
    return context;
}

namespace {

// A page's first <base href> is what its relative links resolve against, as a
// browser resolves them: the base itself resolved against the page first. A
// base that is no web address is ignored, as a browser ignores a data: or
// javascript: base.
std::optional<std::string> BaseAddress(const std::optional<std::string>& base, const LinkContext& context) {
    if (!base) return std::nullopt;
    std::string address = ResolveUrl(context.page.address, *base);
    if (!IsHttpUrl(address)) return std::nullopt;
    return address;
}

}  // namespace

bool ForEachLinkDecision(std::string_view text, const LinkContext& context, const CrawlRules& rules,
                         const std::atomic<bool>* stop, const std::function<bool(LinkDecision&&)>& onLink,
                         const std::atomic<bool>* handOver) {
    // A <base> anywhere on the page moves every link, those before it too: the
    // links are decided once the page has been read through.
    std::vector<std::string> values;
    std::optional<std::string> base;
    bool stopped = false;
    ForEachLinkValueAndBase(text, [&](std::string value, bool baseHref) {
        // A page of many thousand links must not hold up a stop.
        if ((stop != nullptr && stop->load(std::memory_order_relaxed)) ||
            (handOver != nullptr && handOver->load(std::memory_order_relaxed))) {
            stopped = true;
            return false;
        }
        if (baseHref && !base) base = value;
        values.push_back(std::move(value));
        return true;
    });
    if (stopped) return false;
    const std::optional<std::string> baseAddress = BaseAddress(base, context);
    LinkContext underBase = context;
    if (baseAddress) underBase.page.address = *baseAddress;
    // The <base>'s own href is a link of the page too, read where the page
    // stands, as it always was: resolved against itself it would name a folder
    // below the base that the page never names.
    bool baseValueSeen = !baseAddress;
    const UrlParts pageAddress = SplitUrl(context.page.address);
    const UrlParts baseParts = SplitUrl(underBase.page.address);
    for (const std::string& value : values) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
        if (handOver != nullptr && handOver->load(std::memory_order_relaxed)) return false;
        const bool isBase = !baseValueSeen && value == *base;
        baseValueSeen = baseValueSeen || isBase;
        LinkDecision decision =
            isBase ? DecideLink(value, context, rules, &pageAddress) : DecideLink(value, underBase, rules, &baseParts);
        if (decision.Matters() && !onLink(std::move(decision))) return true;
    }
    return true;
}

bool PageScan::Follows(std::uint64_t hash) const {
    return std::binary_search(sortedFollowHashes.begin(), sortedFollowHashes.end(), hash);
}

namespace {

// What a heap block costs beyond what it holds: the allocator's header, so that
// a scan of many short links is not counted at half of what it takes.
constexpr std::size_t kBlockOverhead = 16;

std::size_t BlockBytes(std::size_t held) { return held == 0 ? 0 : held + kBlockOverhead; }

// A string's heap block; a short one lives inside the string itself.
std::size_t HeapBytes(const std::string& text) {
    return text.capacity() < sizeof(std::string) ? 0 : BlockBytes(text.capacity() + 1);
}

}  // namespace

std::size_t PageScan::MemoryBytes() const {
    std::size_t bytes =
        BlockBytes(sizeof(PageScan)) + HeapBytes(request.url) + HeapBytes(request.base) + HeapBytes(finalUrl);
    bytes += BlockBytes(links.capacity() * sizeof(LinkDecision));
    for (const LinkDecision& link : links) bytes += HeapBytes(link.url);
    bytes += BlockBytes(follows.capacity() * sizeof(std::uint32_t));
    bytes += BlockBytes(followHashes.capacity() * sizeof(std::uint64_t));
    bytes += BlockBytes(sortedFollowHashes.capacity() * sizeof(std::uint64_t));
    return bytes;
}

std::shared_ptr<PageScan> ScanPage(std::string_view text, const PageRequest& request, const std::string& finalUrl,
                                   const CrawlRules& rules, const std::atomic<bool>* stop,
                                   const std::atomic<bool>* handOver) {
    auto scan = std::make_shared<PageScan>();
    scan->request = request;
    scan->finalUrl = finalUrl;
    scan->textBytes = text.size();
    scan->checksum = PageChecksum(text);
    if (text.empty()) return scan;
    const bool whole = ForEachLinkDecision(
        text, ContextOf(request, finalUrl), rules, stop,
        [&](LinkDecision&& decision) {
            scan->links.push_back(std::move(decision));
            return true;
        },
        handOver);
    if (!whole) return nullptr;
    // Pages fetched ahead keep their scans while they wait: no room to spare.
    scan->links.shrink_to_fit();

    // The worker queues a page at its first link only. A page links to the
    // same address many times over (its own sections, its menus), and a text
    // met before is the same page without a look at its identity.
    std::unordered_set<std::string_view> followTexts;
    std::unordered_multimap<std::uint64_t, std::uint32_t> firstLinks;
    for (std::uint32_t i = 0; i < scan->links.size(); ++i) {
        const std::string_view follow = scan->links[i].Follow();
        if (follow.empty()) continue;
        if (!followTexts.insert(follow).second) {
            scan->links[i].repeated = true;
            continue;
        }
        const std::uint64_t hash = UrlHash(follow);
        const auto [first, last] = firstLinks.equal_range(hash);
        if (std::any_of(first, last,
                        [&](const auto& known) { return SameUrl(scan->links[known.second].Follow(), follow); })) {
            scan->links[i].repeated = true;
            continue;
        }
        firstLinks.emplace(hash, i);
        scan->follows.push_back(i);
        scan->followHashes.push_back(hash);
    }
    scan->follows.shrink_to_fit();
    scan->followHashes.shrink_to_fit();
    scan->sortedFollowHashes = scan->followHashes;
    std::sort(scan->sortedFollowHashes.begin(), scan->sortedFollowHashes.end());
    return scan;
}
