#include "crawl/FetchPlanner.h"

#include <algorithm>

#include "crawl/CrawlState.h"
#include "crawl/PageScan.h"
#include "crawl/QueueEntry.h"
#include "crawl/Worker.h"
#include "crawl/Url.h"

void CFetchPlanner::Learn(const std::shared_ptr<const PageScan>& scan) {
    Node node;
    node.scan = scan;
    node.base = ContextOf(scan->request, scan->finalUrl).base;
    node.pending.reserve(scan->follows.size());
    // Each new page goes right behind the page that links to it, so the last
    // link found is the next page taken.
    for (std::size_t i = scan->follows.size(); i-- > 0;) node.pending.push_back(static_cast<std::uint32_t>(i));
    m_nodes[UrlHash(scan->request.url)] = std::move(node);
}

void CFetchPlanner::Prune() {
    std::erase_if(m_nodes, [](const auto& entry) { return entry.second.scan.expired(); });
    m_pruneAt = std::max<std::size_t>(64, m_nodes.size() * 2);
}

void CFetchPlanner::Clear() {
    m_nodes.clear();
    m_firstForeseen.reset();
    m_pruneAt = 64;
}

void CFetchPlanner::PageTaken(const std::shared_ptr<const PageScan>& scan) {
    // The page foreseen first, taken as the last walk read its links: that walk
    // foresaw what comes after it already.
    if (scan && scan == m_firstForeseen.lock()) return;
    if (scan) Learn(scan);
    Replan();
}

void CFetchPlanner::Replan() {
    for (const std::shared_ptr<const PageScan>& scan : m_fetcher.TakeArrivals()) Learn(scan);
    if (m_nodes.size() >= m_pruneAt) Prune();
    const std::size_t limit = m_fetcher.Lookahead();
    std::vector<PageRequest> next;
    next.reserve(limit);
    const UrlQueue& queue = m_worker.Queue();
    if (limit == 0 || queue.empty()) {
        m_fetcher.Foresee(std::move(next));
        return;
    }

    // Where the walk stands in a list of pages to take: the queue behind the
    // page in process, or the links of a page whose scan has come.
    struct Frame {
        Node* node = nullptr;  // null: the queue
        std::shared_ptr<const PageScan> scan;
        std::size_t pos = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({nullptr, nullptr, 1});
    const std::string* baseInForce = &m_noBase;
    std::string entryBase;  // the base a queue entry or unread page leaves in force
    // Identities of the pages foreseen: a few dozen at most, kept sorted.
    std::vector<std::size_t> seen;
    seen.reserve(limit);

    // A page about to be taken: its links come next, when its scan says what they are.
    auto enter = [&](const PageRequest& request, std::size_t hash) {
        entryBase = request.plus ? BaseOfPlusEntry(request.url) : request.base;
        baseInForce = &entryBase;
        const auto it = m_nodes.find(hash);
        if (it == m_nodes.end()) return;
        std::shared_ptr<const PageScan> scan = it->second.scan.lock();
        if (!scan) {
            m_nodes.erase(it);
            return;
        }
        // Read under another request, the page is asked for anew and its links are not known yet.
        if (scan->request != request) return;
        baseInForce = &it->second.base;
        if (next.size() == 1) m_firstForeseen = scan;
        // A page whose text repeats a page with hits is not scanned: it queues nothing.
        if (scan->follows.empty() || m_worker.State().m_pageList.IsScannedContent(scan->checksum)) return;
        stack.push_back({&it->second, std::move(scan), it->second.head});
    };
    // A page that a page above in the walk links to is queued by that page already.
    auto queuedAbove = [&](std::size_t hash) {
        for (std::size_t i = 0; i + 1 < stack.size(); ++i)
            if (stack[i].scan && stack[i].scan->Follows(hash)) return true;
        return false;
    };

    m_firstForeseen.reset();
    const PageRequest& inProcess = m_worker.RequestInProcess();
    enter(inProcess, UrlHash(inProcess.url));
    const std::size_t maxSteps = limit * kStepsPerPageForeseen;
    for (std::size_t steps = 0; !stack.empty() && next.size() < limit && steps < maxSteps; ++steps) {
        Frame& top = stack.back();
        PageRequest request;
        std::size_t hash = 0;
        if (top.node == nullptr) {
            if (top.pos >= queue.size()) {
                stack.pop_back();
                continue;
            }
            const std::size_t at = top.pos++;
            const QueueEntry parsed = ParseQueueEntry(queue[at]);
            if (!parsed.fetched) continue;
            // The project's own entries are the queue's tail.
            const bool start = at + m_worker.StartEntriesLeft() >= queue.size();
            request = RequestOf(parsed, start, *baseInForce);
            hash = UrlHash(request.url);
        } else {
            Node& node = *top.node;
            if (top.pos >= node.pending.size()) {
                stack.pop_back();
                continue;
            }
            const std::uint32_t follow = node.pending[top.pos];
            const std::string_view url = top.scan->links[top.scan->follows[follow]].Follow();
            hash = top.scan->followHashes[follow];
            // A page once known stays known: it is passed over in every walk to come.
            if (m_worker.State().m_pageList.IsKnownPage(url, hash)) {
                if (top.pos == node.head) ++node.head;
                ++top.pos;
                continue;
            }
            ++top.pos;
            if (queuedAbove(hash)) continue;
            request.url = std::string(url);
            request.base = top.node->base;
        }
        const auto slot = std::lower_bound(seen.begin(), seen.end(), hash);
        if (slot != seen.end() && *slot == hash) continue;
        seen.insert(slot, hash);
        next.push_back(std::move(request));
        enter(next.back(), hash);
    }
    m_fetcher.Foresee(std::move(next));
}
