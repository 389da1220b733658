#include "crawl/FetchPlanner.h"

#include <algorithm>

#include "crawl/CrawlState.h"
#include "crawl/Crc.h"
#include "crawl/LinkExtractor.h"
#include "crawl/LinkRules.h"
#include "crawl/QueueEntry.h"
#include "crawl/Search.h"
#include "crawl/Url.h"

template <typename Visit>
void CFetchPlanner::Walk(std::size_t limit, Visit visit) {
    if (g_UrlList.empty()) return;
    // The next page is on top. The project's own entries are the queue's tail.
    std::vector<Node> stack;
    const std::size_t size = g_UrlList.size();
    for (std::size_t i = size; i-- > 1;)
        stack.push_back({g_UrlList[i], m_search.m_strBase, i + m_search.m_startEntriesLeft >= size});
    stack.push_back({g_UrlList.front(), m_search.m_strBase, m_search.m_entryIsStart});

    // Pages foreseen as queued on the way: the worker queues a page only once.
    std::unordered_set<std::string> queued;
    for (std::size_t visited = 0; !stack.empty() && visited < limit; ++visited) {
        const Node node = std::move(stack.back());
        stack.pop_back();
        const QueueEntry entry = ParseQueueEntry(node.entry);
        if (!entry.fetched) continue;
        if (!visit(entry.url, node)) return;
        const auto links = m_links.find(entry.url);
        if (links == m_links.end()) continue;
        std::vector<std::string>& entries = links->second.entries;
        std::erase_if(entries, [](const std::string& child) { return IsKnownPage(child); });
        // Each new page goes right behind the page that links to it, so the last
        // link found is the next page taken.
        for (const std::string& child : entries) {
            const std::string_view page = std::string_view(child).substr(child[0] == '-' ? 1 : 0);
            if (!queued.insert(UrlKey(page)).second) continue;
            stack.push_back({child, links->second.base, false});
        }
    }
}

std::vector<std::string> CFetchPlanner::NextToFetch(std::size_t count, std::size_t window,
                                                    const std::function<bool(const std::string&)>& requested) {
    std::vector<std::string> next;
    if (count == 0) return next;
    Walk(window, [&](const std::string& url, const Node& node) {
        if (!requested(url) && std::find(next.begin(), next.end(), url) == next.end()) {
            next.push_back(url);
            m_planned[url] = node;
        }
        return next.size() < count;
    });
    return next;
}

CFetchPlanner::Links CFetchPlanner::LinksOf(const Node& node, const std::string& url, const std::string& finalUrl,
                                            const std::string& text) const {
    Links links;
    const QueueEntry entry = ParseQueueEntry(node.entry);
    if (!entry.recursive) return links;
    // The base as the worker sets it for this entry.
    if (entry.keepsBase) links.base = node.base;
    if (entry.plus) links.base = BaseOfPlusEntry(finalUrl.empty() ? url : finalUrl);
    const PageContext page = PageContextOf(url, finalUrl, node.start);
    // A page linked to twice is queued at its first link only (an index links to
    // one page at many anchors).
    std::unordered_set<std::string> seen;
    ForEachLinkValue(text, [&](std::string value) {
        std::optional<std::string> followed = FollowedEntry(value, page, g_ExcludeList, links.base);
        if (followed && seen.insert(UrlKey(*followed)).second) links.entries.push_back(std::move(*followed));
        return true;
    });
    return links;
}

void CFetchPlanner::PageArrived(const std::string& url, const std::string& finalUrl, const std::string& text) {
    Node node;
    if (const auto planned = m_planned.find(url); planned != m_planned.end()) {
        node = planned->second;
    } else if (!g_UrlList.empty() && ParseQueueEntry(g_UrlList.front()).url == url) {
        // Fetched when the worker asked for it: the entry in process.
        node = {g_UrlList.front(), m_search.m_strBase, m_search.m_entryIsStart};
    } else {
        return;
    }
    // A page whose text repeats a page with hits is not scanned: it queues nothing.
    const auto crc = ComputeCrc(text.size(), 0, reinterpret_cast<const unsigned char*>(text.data()));
    m_links[url] = IsScannedContent(crc) ? Links{} : LinksOf(node, url, finalUrl, text);
}

std::unordered_set<std::string> CFetchPlanner::Reachable() {
    std::unordered_set<std::string> reachable;
    Walk(static_cast<std::size_t>(-1), [&](const std::string& url, const Node&) {
        reachable.insert(url);
        return true;
    });
    return reachable;
}

void CFetchPlanner::Forget(const std::string& url) {
    m_planned.erase(url);
    m_links.erase(url);
}

void CFetchPlanner::Clear() {
    m_planned.clear();
    m_links.clear();
}
