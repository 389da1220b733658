#include "results/SearchResults.h"

#include "crawl/Search.h"
#include "results/ReportWriter.h"

int ShowResults(CSearch& search, const std::string& reportFile, IMessageBox& box,
                const std::function<void()>& showFailedUrls) {
    // The worker has announced its end; make sure it has returned before the
    // lists are read.
    search.Stop();
    const CrawlState& state = search.State();
    if ((!state.m_failedUrls.empty() || !state.m_skippedUrls.empty()) && showFailedUrls) showFailedUrls();
    return WriteReport(reportFile, state.m_pageList.Head(), box);
}

int KeepFound(CSearch& search, const std::string& reportFile, IMessageBox& box) {
    search.Stop();
    const int written = WriteReport(reportFile, search.State().m_pageList.Head(), box);
    search.CancelKeep();
    return written;
}
