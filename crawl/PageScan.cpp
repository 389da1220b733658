#include "crawl/PageScan.h"

#include <algorithm>
#include <bit>
#include <deque>
#include <functional>
#include <optional>

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

// Open addressing over the indexes of a page's links or values: a page has
// hundreds of them, and a node-based set would take a heap block for each.
class IndexSlots {
public:
    explicit IndexSlots(std::size_t count) : m_slots(std::bit_ceil(2 * count + 1)) {}

    // The index already in whose key `same` says is `index`'s, looked for from
    // `hash` on; else `index`, which is taken in.
    template <class Same>
    std::size_t FirstOf(std::size_t hash, std::size_t index, Same&& same) {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            if (m_slots[slot] == 0) {
                m_slots[slot] = index + 1;
                return index;
            }
            if (same(m_slots[slot] - 1)) return m_slots[slot] - 1;
        }
    }

private:
    std::vector<std::size_t> m_slots;  // an index + 1; 0: free
};

// Tells, of each link value of a page, the first value of the page with the
// same text: a page names the same links over and over (its menus, its own
// sections), and each text is decided once.
class FirstValues {
public:
    explicit FirstValues(const std::vector<std::string_view>& values) : m_values(values), m_slots(values.size()) {}

    // The index of the first value with the text of values[i]; i when it is the first.
    std::size_t FirstOf(std::size_t i) {
        const std::string_view value = m_values[i];
        return m_slots.FirstOf(std::hash<std::string_view>{}(value), i,
                               [&](std::size_t known) { return m_values[known] == value; });
    }

private:
    const std::vector<std::string_view>& m_values;
    IndexSlots m_slots;
};

}  // namespace

bool ForEachLinkDecision(std::string_view text, const LinkContext& context, const CrawlRules& rules,
                         const std::atomic<bool>* stop, const std::function<bool(LinkDecision&&)>& onLink,
                         const std::atomic<bool>* handOver) {
    // A <base> anywhere on the page moves every link, those before it too: the
    // links are decided once the page has been read through.
    // The values as the page writes them, most of them: the others, decoded, are kept aside.
    std::vector<std::string_view> values;
    std::deque<std::string> decodedValues;
    const auto inText = [&](std::string_view value) {
        return std::less_equal<>{}(text.data(), value.data()) &&
               std::less_equal<>{}(value.data() + value.size(), text.data() + text.size());
    };
    std::optional<std::string> base;
    bool stopped = false;
    ForEachLinkValueAndBase(text, [&](std::string_view value, bool baseHref) {
        // A page of many thousand links must not hold up a stop.
        if ((stop != nullptr && stop->load(std::memory_order_relaxed)) ||
            (handOver != nullptr && handOver->load(std::memory_order_relaxed))) {
            stopped = true;
            return false;
        }
        if (!value.empty() && !inText(value)) value = decodedValues.emplace_back(value);
        if (baseHref && !base) base = std::string(value);
        values.push_back(value);
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
    FirstValues firstValues(values);
    // What the first value of each text came to. A repeat of a value that is no
    // hit does nothing: the page it leads to was queued at the first.
    struct Decided {
        std::uint32_t hits = 0;
        std::uint32_t followLength = 0;
        std::string url;  // kept for the hits only
    };
    std::vector<Decided> decided(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
        if (handOver != nullptr && handOver->load(std::memory_order_relaxed)) return false;
        const std::string_view value = values[i];
        const bool isBase = !baseValueSeen && value == *base;
        baseValueSeen = baseValueSeen || isBase;
        if (isBase) {
            // Read where the page stands, unlike the same text anywhere else on it.
            LinkDecision decision = DecideLink(value, context, rules, &pageAddress);
            if (decision.Matters() && !onLink(std::move(decision))) return true;
            continue;
        }
        if (const std::size_t first = firstValues.FirstOf(i); first != i) {
            const Decided& earlier = decided[first];
            if (earlier.hits == 0) continue;
            LinkDecision decision;
            decision.url = earlier.url;
            decision.hits = earlier.hits;
            decision.followLength = earlier.followLength;
            decision.repeated = earlier.followLength != 0;
            if (!onLink(std::move(decision))) return true;
            continue;
        }
        LinkDecision decision = DecideLink(value, underBase, rules, &baseParts);
        decided[i].hits = decision.hits;
        decided[i].followLength = decision.followLength;
        if (decision.hits != 0) decided[i].url = decision.url;
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
    bytes += BlockBytes(links.capacity() * sizeof(ScannedLink)) + HeapBytes(urls);
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
            ScannedLink link;
            link.urlAt = scan->urls.size();
            link.urlLength = static_cast<std::uint32_t>(decision.url.size());
            link.hits = decision.hits;
            link.followLength = decision.followLength;
            link.repeated = decision.repeated;
            scan->urls += decision.url;
            scan->links.push_back(link);
            return true;
        },
        handOver);
    if (!whole) return nullptr;
    // Pages fetched ahead keep their scans while they wait: no room to spare.
    scan->links.shrink_to_fit();
    scan->urls.shrink_to_fit();

    // The worker queues a page at its first link only. A page links to the
    // same address many times over (its own sections, its menus), and a text
    // met before is the same page without a look at its identity.
    const std::vector<ScannedLink>& links = scan->links;
    IndexSlots followTexts(links.size());
    IndexSlots firstLinks(links.size());  // by identity, over the positions in `follows`
    for (std::uint32_t i = 0; i < links.size(); ++i) {
        const std::string_view follow = scan->Follow(i);
        if (follow.empty() || links[i].repeated) continue;
        const auto sameText = [&](std::size_t known) { return scan->Follow(known) == follow; };
        if (followTexts.FirstOf(std::hash<std::string_view>{}(follow), i, sameText) != i) {
            scan->links[i].repeated = true;
            continue;
        }
        const std::uint64_t hash = UrlHash(follow);
        const std::size_t position = scan->follows.size();
        const auto samePage = [&](std::size_t known) {
            return scan->followHashes[known] == hash && SameUrl(scan->Follow(scan->follows[known]), follow);
        };
        if (firstLinks.FirstOf(hash, position, samePage) != position) {
            scan->links[i].repeated = true;
            continue;
        }
        scan->follows.push_back(i);
        scan->followHashes.push_back(hash);
    }
    scan->follows.shrink_to_fit();
    scan->followHashes.shrink_to_fit();
    scan->sortedFollowHashes = scan->followHashes;
    std::sort(scan->sortedFollowHashes.begin(), scan->sortedFollowHashes.end());
    return scan;
}
