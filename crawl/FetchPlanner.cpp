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
    m_nodes[UrlHash(scan->request.url)] = std::move(node);
}

void CFetchPlanner::Prune() {
    std::erase_if(m_nodes, [](const auto& entry) { return entry.second.scan.expired(); });
    m_pruneAt = std::max<std::size_t>(64, m_nodes.size() * 2);
}

void CFetchPlanner::Clear() {
    m_nodes.clear();
    m_foreseen.clear();
    m_foreseenHashes.clear();
    m_foreseenScans.clear();
    m_foreseenTaken = 0;
    m_pruneAt = 64;
    m_queuedPerPage = 0;
    m_queuedBefore = m_worker.PagesQueued();
    m_pagesTaken = 0;
}

void CFetchPlanner::PageTaken(const std::shared_ptr<const PageScan>& scan) {
    // The pages queued since the page before was taken are those it led to.
    const std::size_t queued = m_worker.PagesQueued();
    m_queuedPerPage += (static_cast<double>(queued - m_queuedBefore) - m_queuedPerPage) * kWeightOfAPageTaken;
    m_queuedBefore = queued;
    ++m_pagesTaken;
    const bool foreseenFirst =
        m_foreseenTaken < m_foreseen.size() && m_foreseen[m_foreseenTaken] == m_worker.RequestInProcess();
    if (!foreseenFirst) {
        if (scan) Learn(scan);
        Replan();
        return;
    }
    // Taken as foreseen, as the last walk read its links, or leading to no page
    // not known already: what was foreseen after it stands.
    if (!scan || scan == m_foreseenScans[m_foreseenTaken].lock() || LeadsNowhereNew(*scan)) {
        ++m_foreseenTaken;
        return;
    }
    // Its links were not known then: they come before everything foreseen after it, which stands.
    Learn(scan);
    Walk(true);
}

void CFetchPlanner::Replan() { Walk(false); }

bool CFetchPlanner::LeadsNowhereNew(const PageScan& scan) const {
    const CPageList& pages = m_worker.State().m_pageList;
    if (pages.IsScannedContent(scan.checksum)) return true;
    for (std::size_t i = 0; i < scan.follows.size(); ++i)
        if (!pages.IsKnownPage(scan.Follow(scan.follows[i]), scan.followHashes[i])) return false;
    return true;
}

void CFetchPlanner::Walk(bool belowPageInProcess) {
    for (const std::shared_ptr<const PageScan>& scan : m_fetcher.TakeArrivals()) Learn(scan);
    if (m_nodes.size() >= m_pruneAt) Prune();
    const std::size_t limit = m_fetcher.Lookahead();
    std::vector<PageRequest> next;
    std::vector<std::size_t> nextHashes;
    std::vector<std::weak_ptr<const PageScan>> nextScans;  // of those whose links the walk went through
    next.reserve(limit);
    const UrlQueue& queue = m_worker.Queue();
    const auto foresee = [&] {
        // What the fetcher is told, the planner keeps: the next walk may take it up.
        m_foreseen = next;
        m_foreseenHashes = std::move(nextHashes);
        m_foreseenScans = std::move(nextScans);
        m_foreseenTaken = 0;
        m_fetcher.Foresee(std::move(next));
    };
    if (limit == 0 || queue.empty()) {
        foresee();
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
    if (!belowPageInProcess) stack.push_back({nullptr, nullptr, 1});
    const std::string* baseInForce = &m_noBase;
    std::string entryBase;  // the base a queue entry or unread page leaves in force
    // Identities of the pages foreseen: a few dozen at most, kept sorted.
    std::vector<std::size_t> seen;
    seen.reserve(limit);
    // True the first time a page comes up in this walk.
    auto firstSeen = [&](std::size_t hash) {
        const auto slot = std::lower_bound(seen.begin(), seen.end(), hash);
        if (slot != seen.end() && *slot == hash) return false;
        seen.insert(slot, hash);
        return true;
    };

    // A page about to be taken: its links come next, when its scan says what they are.
    // Returns the scan whose links it went through, if any.
    auto enter = [&](const PageRequest& request, std::size_t hash) -> std::shared_ptr<const PageScan> {
        entryBase = request.plus ? BaseOfPlusEntry(request.url) : request.base;
        baseInForce = &entryBase;
        const auto it = m_nodes.find(hash);
        if (it == m_nodes.end()) return nullptr;
        std::shared_ptr<const PageScan> scan = it->second.scan.lock();
        if (!scan) {
            m_nodes.erase(it);
            return nullptr;
        }
        // Read under another request, the page is asked for anew and its links are not known yet.
        if (scan->request != request) return nullptr;
        baseInForce = &it->second.base;
        // A page whose text repeats a page with hits is not scanned: it queues nothing.
        if (scan->follows.empty() || m_worker.State().m_pageList.IsScannedContent(scan->checksum)) return scan;
        stack.push_back({&it->second, scan, it->second.head});
        return scan;
    };
    // A page that a page above in the walk links to is queued by that page already.
    auto queuedAbove = [&](std::size_t hash) {
        for (std::size_t i = 0; i + 1 < stack.size(); ++i)
            if (stack[i].scan && stack[i].scan->Follows(hash)) return true;
        return false;
    };

    const PageRequest& inProcess = m_worker.RequestInProcess();
    enter(inProcess, UrlHash(inProcess.url));
    const std::size_t maxSteps = limit * kStepsPerPageForeseen;
    // Past the first page whose links are not known yet, only while guesses pay.
    const bool guessing = m_pagesTaken < kPagesTakenBeforeJudging || m_queuedPerPage < kMostQueuedPerPageForGuesses ||
                          m_fetcher.TypicalAnswerTime() >= kSlowAnswer;
    bool guessed = false;
    for (std::size_t steps = 0; !stack.empty() && next.size() < limit && steps < maxSteps && (guessing || !guessed);
         ++steps) {
        Frame& top = stack.back();
        PageRequest request;
        std::size_t hash = 0;
        if (top.node == nullptr) {
            if (top.pos >= queue.size()) {
                stack.pop_back();
                continue;
            }
            const std::size_t at = top.pos++;
            QueueEntry parsed = ParseQueueEntry(queue[at]);
            if (!parsed.fetched) continue;
            // The project's own entries are the queue's tail.
            const bool start = at + m_worker.StartEntriesLeft() >= queue.size();
            request = RequestOf(std::move(parsed), start, *baseInForce);
            hash = UrlHash(request.url);
        } else {
            Node& node = *top.node;
            const std::size_t follows = top.scan->follows.size();
            if (top.pos >= follows) {
                stack.pop_back();
                continue;
            }
            // Each new page goes right behind the page that links to it, so the
            // last link found is the next page taken.
            const std::size_t follow = follows - 1 - top.pos;
            const std::string_view url = top.scan->Follow(top.scan->follows[follow]);
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
        if (!firstSeen(hash)) continue;
        next.push_back(std::move(request));
        nextHashes.push_back(hash);
        nextScans.push_back(enter(next.back(), hash));
        if (!nextScans.back().lock()) guessed = true;
    }
    if (belowPageInProcess && (guessing || !guessed)) {
        // After the pages below the page in process, what the last walk foresaw behind it.
        for (std::size_t i = m_foreseenTaken + 1; i < m_foreseen.size() && next.size() < limit; ++i) {
            if (!firstSeen(m_foreseenHashes[i])) continue;
            next.push_back(m_foreseen[i]);
            nextHashes.push_back(m_foreseenHashes[i]);
            nextScans.push_back(m_foreseenScans[i]);
        }
    }
    foresee();
}
