#include "crawl/Search.h"

#include <system_error>

#include "ui/MessageBox.h"
#include "crawl/CrawlState.h"
#include "crawl/FetchPlanner.h"
#include "crawl/SearchSession.h"
#include "project/ProjectData.h"
#include "results/ReportWriter.h"

namespace {

// For a search opened without a message box: messages are dropped rather than
// leaving the worker without anyone to tell.
class SilentMessageBox : public IMessageBox {
public:
    MsgResult Show(const std::string&, const std::string&, MsgIcon, MsgButtons buttons) override {
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
};

}  // namespace

CSearch::CSearch(int connections, const FetchLimits& limits)
    : CSearch(std::make_unique<CSearchSession>(&m_stop, limits, connections)) {}

CSearch::CSearch(std::unique_ptr<IPageFetcher> fetcher) : m_Session(std::move(fetcher)) {
    // A fetcher that looks ahead is told what the worker will want next.
    if (m_Session && m_Session->Lookahead() > 0) {
        m_planner = std::make_unique<CFetchPlanner>(*this, *m_Session);
        m_Session->SetPlanner(m_planner.get());
    }
}

CSearch::~CSearch() { Stop(); }

IMessageBox& CSearch::Box() {
    static SilentMessageBox silent;
    return m_box != nullptr ? *m_box : silent;
}

void CSearch::OpenSearch(ISearchProgress* progress, IMessageBox* box) {
    // A search object is opened once per search; a worker of an earlier one must
    // not go on writing into the state this resets.
    Stop();
    m_stop = false;
    m_nHits = 0;
    m_nBytes = 0;
    m_nPages = 1;
    m_strBase.clear();
    m_bRecursive = true;
    m_progress = progress;
    m_box = box;
    m_Session->SetStatusTarget(&m_status);
    m_Session->EnableStatusCallback(true);
    for (const std::string& entry : g_UrlList) {
        if (!entry.empty() && entry[0] == '!') g_ExcludeList.push_back(entry);
    }
    FreePageList();
    if (m_planner) m_planner->Clear();
}

bool CSearch::Start() {
    if (m_running) return false;
    if (m_pThread.joinable()) m_pThread.join();
    m_stop = false;
    // Fixed for the search's length: the fetcher scans pages with them on its own thread.
    m_rules = std::make_shared<const CrawlRules>(MakeCrawlRules(g_ExcludeList, g_ResourcePatterns, g_AllLinks));
    m_Session->ObeyRobots(m_obeyRobots);
    m_Session->BeginSearch(m_rules);
    if (m_planner) m_planner->Clear();
    m_running = true;
    try {
        m_pThread = std::thread(SearchThreadProc, this);
    } catch (const std::system_error&) {
        m_running = false;
        return false;
    }
    return true;
}

bool CSearch::IsRunning() const { return m_running.load(); }

void CSearch::Stop() {
    // A worker that has ended is not asked again: the request would only linger
    // in the flag the session shares.
    if (m_running) m_stop = true;
    if (m_pThread.joinable()) m_pThread.join();
}

int CSearch::ShowResults(const std::function<void()>& showFailedUrls) {
    // The worker has announced its end; make sure it has returned before the
    // lists are read.
    Stop();
    if ((!g_FailedUrls.empty() || !g_SkippedUrls.empty()) && showFailedUrls) showFailedUrls();
    return WriteReport();
}

int CSearch::CancelKeep() {
    Stop();
    const int written = WriteReport();
    g_UrlList.clear();
    g_ExcludeList.clear();
    return written;
}

void CSearch::CancelDiscard() {
    Stop();
    FreePageList();
    g_UrlList.clear();
    g_FailedUrls.clear();
    g_SkippedUrls.clear();
    g_ExcludeList.clear();
}

int CSearch::WriteReport() { return ::WriteReport(m_strReportFile, g_PageList, Box()); }
