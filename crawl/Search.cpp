#include "crawl/Search.h"

#include <pthread.h>

#include <system_error>

#include "crawl/FetchPlanner.h"
#include "crawl/SearchSession.h"

CSearch::CSearch(int connections, const FetchLimits& limits, CrawlState* state)
    : CSearch(std::make_unique<CSearchSession>(&m_stop, limits, connections), state) {}

CSearch::CSearch(std::unique_ptr<IPageFetcher> fetcher, CrawlState* state)
    : m_state(state != nullptr ? *state : m_ownState),
      m_rules(std::make_shared<const CrawlRules>()),
      m_Session(std::move(fetcher)),
      m_worker(m_state, m_Session.get(), m_stop) {
    // A fetcher that looks ahead is told what the worker will want next.
    if (m_Session && m_Session->Lookahead() > 0) {
        m_planner = std::make_unique<CFetchPlanner>(m_worker, *m_Session);
        m_Session->SetPlanner(m_planner.get());
    }
}

CSearch::~CSearch() { Stop(); }

template <typename Call>
void CSearch::ProgressGate::Pass(Call call) {
    const std::lock_guard<std::mutex> lock(m_search.m_progressMutex);
    if (m_search.m_stop || m_search.m_progress == nullptr) return;
    call(*m_search.m_progress);
}

void CSearch::ProgressGate::SetStatusText(const std::string& text) {
    Pass([&](ISearchProgress& progress) { progress.SetStatusText(text); });
}

void CSearch::ProgressGate::UrlOpened(const std::string& url) {
    Pass([&](ISearchProgress& progress) { progress.UrlOpened(url); });
}

void CSearch::ProgressGate::CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) {
    Pass([&](ISearchProgress& progress) { progress.CountersChanged(pages, hits, bytes); });
}

void CSearch::ProgressGate::SearchFinished() {
    Pass([](ISearchProgress& progress) { progress.SearchFinished(); });
}

void CSearch::RequestStop() {
    const std::lock_guard<std::mutex> lock(m_progressMutex);
    m_stop = true;
}

void CSearch::OpenSearch(const ProjectData& project, ISearchProgress* progress, IMessageBox* box) {
    // A search object is opened once per search; a worker of an earlier one must
    // not go on writing into the state this resets.
    Stop();
    m_stop = false;
    m_state.m_nHits = 0;
    m_state.m_nBytes = 0;
    m_state.m_nPages = 1;
    m_progress = progress;
    if (m_Session) {
        m_Session->SetStatusTarget(&m_gate);
        m_Session->EnableStatusCallback(true);
    }
    m_state.m_urlQueue.assign(project.m_urlList.begin(), project.m_urlList.end());
    for (const std::string& entry : project.m_urlList) {
        if (!entry.empty() && entry[0] == '!') m_state.m_excludeList.push_back(entry);
    }
    m_state.m_pageList.Free();
    // Fixed for the search's length: the fetcher scans pages with them on its own thread.
    m_rules = std::make_shared<const CrawlRules>(
        MakeCrawlRules(m_state.m_excludeList, project.m_resourcePatterns, project.m_allLinks));
    m_worker.Prepare(m_rules, progress != nullptr ? &m_gate : nullptr, box, m_planner.get());
    if (m_planner) m_planner->Clear();
}

bool CSearch::Start() {
    if (m_running || !m_Session) return false;
    if (m_pThread.joinable()) m_pThread.join();
    m_stop = false;
    m_Session->ObeyRobots(m_obeyRobots);
    m_Session->BeginSearch(m_rules);
    if (m_planner) m_planner->Clear();
    m_running = true;
    try {
        m_pThread = std::thread(&CSearch::RunWorker, this);
    } catch (const std::system_error&) {
        m_running = false;
        return false;
    }
    return true;
}

void CSearch::RunWorker() {
    // Named for whoever looks at the program's threads: a profiler, a debugger, top -H.
    pthread_setname_np(pthread_self(), "nz-worker");
    m_worker.Run(m_limits);
    // Nothing more will be asked for: what is still under way ends now.
    m_Session->EndSearch();
    const bool finished = !m_stop;
    if (finished) m_worker.ReportCounters();
    m_running = false;
    if (finished) m_gate.SearchFinished();
}

bool CSearch::IsRunning() const { return m_running.load(); }

void CSearch::Stop() {
    // A worker that has ended is not asked again: the request would only linger
    // in the flag the session shares.
    if (m_running) RequestStop();
    if (m_pThread.joinable()) m_pThread.join();
}

void CSearch::CancelKeep() {
    Stop();
    m_state.m_urlQueue.clear();
    m_state.m_excludeList.clear();
}

void CSearch::CancelDiscard() {
    Stop();
    m_state.m_pageList.Free();
    m_state.m_urlQueue.clear();
    m_state.m_failedUrls.clear();
    m_state.m_skippedUrls.clear();
    m_state.m_excludeList.clear();
}
