#pragma once
// The crawl worker: takes the queue's entries one by one, fetches each page,
// counts what it reads and records what the page's links come to in the page
// list and the queue. It runs on the search's thread; tests drive its steps
// one by one.
//
// The host may ask the worker to stop at any time. From the moment the worker
// sees the request it leaves everything as it is: no counter, list, queue entry
// or progress call changes any more, so the host finds whole lists when it
// writes the report or frees them. The flag is therefore tested after every
// call that can take time and before every change.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "crawl/CrawlState.h"
#include "crawl/LinkRules.h"
#include "crawl/PageFetcher.h"
#include "crawl/SearchLimits.h"

class CFetchPlanner;
class IMessageBox;
class ISearchProgress;
struct PageScan;

class CCrawlWorker {
public:
    // Without a fetcher it only handles links: no step may be taken.
    CCrawlWorker(CrawlState& state, IPageFetcher* fetcher, const std::atomic<bool>& stop);

    // The crawl mode of the entry in process.
    std::string m_strBase;
    bool m_bRecursive = true;

    // Before the steps of a search: the rules its links are decided by, where
    // progress and messages go, and the planner that is told of each page read
    // (none when nothing is fetched ahead). Without a box, messages are dropped.
    void Prepare(std::shared_ptr<const CrawlRules> rules, ISearchProgress* progress, IMessageBox* box,
                 CFetchPlanner* planner);
    // Takes the queue's entries until it is empty, a stop is asked for or one
    // of `limits` is passed.
    void Run(const SearchLimits& limits);
    // One entry's step.
    void ProcessUrl(std::string entry);
    // The link rules for the page in process (entry 0 unless a step has set it
    // up): the links of `content`, one link value, one link already made absolute.
    void ExtractLinks(const std::string& content);
    void HandleLink(std::string link);
    void ClassifyLink(std::string url);
    // The true counters: pages = queue entries taken so far.
    void ReportCounters();

    // After a run: whether a limit ended it, and which.
    LimitReached Limit() const { return m_limitReached; }
    // The crawl's own data in bytes: page list, queue, failed URLs.
    std::size_t CrawlBytes() const;
    // The project's own entries stay at the tail of the queue, behind every page
    // found, so the queue's length tells whether an entry is one of them.
    std::size_t StartEntriesLeft() const { return m_startEntriesLeft; }
    const UrlQueue& Queue() const { return m_state.m_urlQueue; }
    const CrawlState& State() const { return m_state; }
    // The page of the entry in process, as its step asked for it.
    const PageRequest& RequestInProcess() const { return m_request; }
    // Pages queued so far, by this search and those before.
    std::size_t PagesQueued() const { return m_pagesQueued; }

private:
    // Reads the page of `request`, counting its bytes, and leaves its scan (null
    // for an empty page or one that cannot be handed back as a file) in `scan`;
    // false when the entry's step ends here (the page failed, or the search was
    // stopped).
    bool FetchPage(const PageRequest& request, std::shared_ptr<const PageScan>& scan);
    void RemoveEntryInProcess();
    void AddFailed(std::string url);
    // Checked after every entry: a limit passed empties the queue, and the run ends.
    bool CheckLimits(const SearchLimits& limits);
    // The page whose links are being handled: set by the step for the page in
    // process, else made from queue entry 0.
    const PageContext& CurrentPage();
    // Records what a link of the page in process came to: its hits, and the page
    // it leads to, queued right behind the page when new.
    void Record(const PageScan& scan, std::size_t i);
    void Record(const LinkDecision& decision);
    void Record(std::string_view url, std::uint32_t hits, std::uint32_t followLength, bool repeated);

    CrawlState& m_state;
    IPageFetcher* m_fetcher;
    const std::atomic<bool>& m_stop;
    std::shared_ptr<const CrawlRules> m_rules;
    ISearchProgress* m_progress = nullptr;
    IMessageBox* m_box = nullptr;
    CFetchPlanner* m_planner = nullptr;

    std::optional<PageContext> m_page;
    PageContext m_entryPage;
    PageRequest m_request;  // the page in process, as the step asked for it
    std::size_t m_startEntriesLeft = 0;
    bool m_entryIsStart = false;
    // What the queue and the failed URLs hold, kept as they change.
    std::size_t m_queueBytes = 0;
    std::size_t m_pagesQueued = 0;
    std::size_t m_failedBytes = 0;
    LimitReached m_limitReached = LimitReached::None;
};
