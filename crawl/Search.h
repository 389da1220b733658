#pragma once
// One search, without a window: the counters and crawl-mode fields, the link
// rules, the worker, and the search's start and end. The search dialog and the
// headless runner both host one.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "crawl/FetchLimits.h"
#include "crawl/LinkRules.h"
#include "crawl/PageFetcher.h"
#include "crawl/SearchLimits.h"
#include "crawl/SearchProgress.h"

class IMessageBox;
class CFetchPlanner;
struct PageScan;

class CSearch {
public:
    // Transfers kept in flight by default, as browsers keep per host; one is one
    // page at a time, fetched when the worker asks for it.
    static constexpr int kDefaultConnections = 6;
    static constexpr int kMaxConnections = 32;

    // Without a fetcher the search makes its own, which keeps up to
    // `connections` pages in flight.
    explicit CSearch(int connections = kDefaultConnections, const FetchLimits& limits = {});
    explicit CSearch(std::unique_ptr<IPageFetcher> fetcher);
    ~CSearch();
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    // Counters and crawl-mode fields; only the worker writes them while it runs.
    std::int32_t m_nPages = 1;
    std::int32_t m_nHits = 0;
    std::int64_t m_nBytes = 0;  // 64-bit: a long crawl passes 2 GiB
    std::string m_strBase;
    bool m_bRecursive = true;
    std::string m_strReportFile;  // results page: project name + ".htm"
    // Set before Start: where the search stops on its own (a quarter of the
    // machine's memory, no page budget, unless told otherwise).
    SearchLimits m_limits{DefaultMemoryCeiling(), 0};
    // Set before Start: whether the sites' robots.txt files are read and obeyed.
    bool m_obeyRobots = true;

    // Link rules (worker thread), under the project's rules as they stand: the
    // links of `content`, one link value, one link already made absolute.
    void ExtractLinks(const std::string& content);
    void HandleLink(std::string link);
    void ClassifyLink(std::string url);

    // Worker.
    void ProcessUrl(std::string entry);

    // The search's start and end, called by its host on the host's thread.
    // Resets counters and page list, collects the exclusions, points the session's
    // status at `progress`. Messages the worker shows go to `box`.
    void OpenSearch(ISearchProgress* progress, IMessageBox* box);
    // Starts the worker; false when no thread could be started.
    bool Start();
    bool IsRunning() const;
    // Asks the worker to stop and waits for it; a worker that has ended is not stopped again.
    void Stop();
    bool StopRequested() const { return m_stop.load(); }
    // After the worker has ended: whether a limit ended the search, and which.
    LimitReached Limit() const { return m_limitReached; }
    // The crawl's own data in bytes: page list, queue, failed URLs.
    std::size_t CrawlBytes() const;
    // Asks the worker to stop without waiting for it.
    void RequestStop() { m_stop = true; }
    // "Show results": lists the failed URLs through `showFailedUrls` (which empties
    // g_FailedUrls) when there are any, then writes the report. Returns WriteReport's result.
    int ShowResults(const std::function<void()>& showFailedUrls);
    // Cancel answered Yes: stop, write what was found, empty queue and exclusions.
    int CancelKeep();
    // Cancel answered No: stop, free the page list, empty queue, failed URLs and exclusions.
    void CancelDiscard();
    int WriteReport();

    IPageFetcher& Session() { return *m_Session; }
    FetchStats FetchStatistics() const { return m_Session->Stats(); }

private:
    friend unsigned SearchThreadProc(CSearch* search);
    friend class CFetchPlanner;
    // The true counters: pages = queue entries taken so far.
    void ReportCounters();
    // The session's status texts pass through here, so that none reaches the
    // host once the search has been asked to stop.
    class StatusGate : public IStatusTarget {
    public:
        explicit StatusGate(CSearch& search) : m_search(search) {}
        void SetStatusText(const std::string& text) override;
    private:
        CSearch& m_search;
    };
    // Reads the page of `request`, counting its bytes, and leaves its scan (null
    // for an empty page or one that cannot be handed back as a file) in `scan`;
    // false when the entry's step ends here (the page failed, or the search was
    // stopped).
    bool FetchPage(const PageRequest& request, std::shared_ptr<const PageScan>& scan);
    void RemoveEntryInProcess();
    void AddFailed(std::string url);
    // Checked after every entry: a limit passed empties the queue, and the search ends.
    bool CheckLimits();
    IMessageBox& Box();
    // The page whose links are being handled: set by the worker for the page in
    // process, else made from queue entry 0.
    const PageContext& CurrentPage();
    // The rules of the search under way; the project's as they stand when none is.
    CrawlRules RulesNow() const;
    // Records what a link of the page in process came to: its hits, and the page
    // it leads to, queued right behind the page when new.
    void Record(const LinkDecision& decision);
    void Record(LinkDecision&& decision);

    std::optional<PageContext> m_page;
    PageContext m_entryPage;
    PageRequest m_request;  // the page in process, as the worker asked for it
    std::shared_ptr<const CrawlRules> m_rules;
    // The project's own entries stay at the tail of the queue, behind every page
    // found, so the queue's length tells whether entry 0 is one of them.
    std::size_t m_startEntriesLeft = 0;
    bool m_entryIsStart = false;
    // What the queue and the failed URLs hold, kept as they change.
    std::size_t m_queueBytes = 0;
    std::size_t m_failedBytes = 0;
    LimitReached m_limitReached = LimitReached::None;

    std::atomic<bool> m_stop{false};
    // Before the fetcher, which asks it, so that it goes after it.
    std::unique_ptr<CFetchPlanner> m_planner;
    std::unique_ptr<IPageFetcher> m_Session;
    ISearchProgress* m_progress = nullptr;
    IMessageBox* m_box = nullptr;
    StatusGate m_status{*this};
    std::thread m_pThread;
    std::atomic<bool> m_running{false};
};

unsigned SearchThreadProc(CSearch* search);
