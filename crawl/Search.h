#pragma once
// One search, without a window: its state, its fetcher, its worker on its own
// thread, and its start and end. The search dialog and the headless runner both
// host one; when the search has ended, the host writes the report and exports
// from its state.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "crawl/CrawlState.h"
#include "crawl/FetchLimits.h"
#include "crawl/PageFetcher.h"
#include "crawl/SearchLimits.h"
#include "crawl/SearchProgress.h"
#include "crawl/Worker.h"
#include "project/ProjectData.h"

class IMessageBox;
class CFetchPlanner;

class CSearch {
public:
    // Transfers kept in flight by default, as browsers keep per host; one is one
    // page at a time, fetched when the worker asks for it.
    static constexpr int kDefaultConnections = 6;
    static constexpr int kMaxConnections = 32;

    // Without a fetcher the search makes its own, which keeps up to
    // `connections` pages in flight; a null fetcher makes a search that only
    // handles links given to its worker. Without a state it keeps its own; a host
    // that keeps one across searches hands it in, and it must outlive the search.
    explicit CSearch(int connections = kDefaultConnections, const FetchLimits& limits = {},
                     CrawlState* state = nullptr);
    explicit CSearch(std::unique_ptr<IPageFetcher> fetcher, CrawlState* state = nullptr);
    ~CSearch();
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    // Set before Start: where the search stops on its own (a quarter of the
    // machine's memory, no page budget, unless told otherwise).
    SearchLimits m_limits{DefaultMemoryCeiling(), 0};
    // Set before Start: whether the sites' robots.txt files are read and obeyed.
    bool m_obeyRobots = true;

    CrawlState& State() { return m_state; }
    const CrawlState& State() const { return m_state; }
    // The worker, whose steps tests also take one by one.
    CCrawlWorker& Worker() { return m_worker; }

    // The search's start and end, called by its host on the host's thread.
    // Resets the counters and the page list, makes `project`'s entries the
    // queue, adds its exclusions to the exclusion list and fixes the link rules
    // from them; points the session's status at `progress`. Messages the worker
    // shows go to `box`.
    void OpenSearch(const ProjectData& project, ISearchProgress* progress, IMessageBox* box);
    // Starts the worker; false when no thread could be started.
    bool Start();
    bool IsRunning() const;
    // Asks the worker to stop and waits for it; a worker that has ended is not stopped again.
    void Stop();
    bool StopRequested() const { return m_stop.load(); }
    // Asks the worker to stop without waiting for it.
    void RequestStop();
    // After the worker has ended: whether a limit ended the search, and which.
    LimitReached Limit() const { return m_worker.Limit(); }
    // The crawl's own data in bytes: page list, queue, failed URLs.
    std::size_t CrawlBytes() const { return m_worker.CrawlBytes(); }
    // Cancel answered Yes: stop, and empty the queue and the exclusions; what
    // was found and the failed URLs stay, for the report.
    void CancelKeep();
    // Cancel answered No: stop, free the page list, empty queue, failed URLs and exclusions.
    void CancelDiscard();

    IPageFetcher& Session() { return *m_Session; }
    FetchStats FetchStatistics() const { return m_Session->Stats(); }

private:
    // Everything the worker and the session tell the host passes through here,
    // under one lock with the stop request: once a stop has been asked for,
    // nothing more reaches the host, and a call under way has ended when the
    // request returns.
    class ProgressGate : public ISearchProgress {
    public:
        explicit ProgressGate(CSearch& search) : m_search(search) {}
        void SetStatusText(const std::string& text) override;
        void UrlOpened(const std::string& url) override;
        void CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) override;
        void SearchFinished() override;

    private:
        template <typename Call>
        void Pass(Call call);
        CSearch& m_search;
    };
    void RunWorker();

    CrawlState m_ownState;
    CrawlState& m_state;
    std::atomic<bool> m_stop{false};
    std::shared_ptr<const CrawlRules> m_rules;
    // Before the fetcher, which asks it, so that it goes after it.
    std::unique_ptr<CFetchPlanner> m_planner;
    std::unique_ptr<IPageFetcher> m_Session;
    CCrawlWorker m_worker;
    ISearchProgress* m_progress = nullptr;
    std::mutex m_progressMutex;
    ProgressGate m_gate{*this};
    std::thread m_pThread;
    std::atomic<bool> m_running{false};
};
