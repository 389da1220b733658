// The crawl worker: takes the queue's entries one by one, fetches each page,
// counts what it reads and hands the text to the link rules.
//
// The host may ask the worker to stop at any time. From the moment the worker
// sees the request it leaves everything as it is: no counter, list, queue entry
// or progress call changes any more, so the host finds whole lists when it
// writes the report or frees them. The flag is therefore tested after every
// call that can take time and before every change.

#include <algorithm>

#include "ui/MessageBox.h"
#include "crawl/CrawlState.h"
#include "crawl/FetchPlanner.h"
#include "crawl/PageScan.h"
#include "crawl/QueueEntry.h"
#include "crawl/Search.h"

namespace {

void CloseQuietly(IPageFile& file) {
    try {
        file.Close();
    } catch (const std::exception&) {
        // The page has been read to its end; a failure to close changes nothing of it.
    }
}

}  // namespace

void CSearch::StatusGate::SetStatusText(const std::string& text) {
    if (m_search.m_stop) return;
    if (m_search.m_progress != nullptr) m_search.m_progress->SetStatusText(text);
}

void CSearch::RemoveEntryInProcess() {
    if (m_stop) return;
    if (g_UrlList.empty()) return;
    m_queueBytes -= std::min(m_queueBytes, sizeof(std::string) + g_UrlList.front().size());
    g_UrlList.pop_front();
    if (m_entryIsStart && m_startEntriesLeft > 0) --m_startEntriesLeft;
    m_entryIsStart = false;
}

void CSearch::ReportCounters() {
    if (m_stop || m_progress == nullptr) return;
    // m_nPages runs one ahead of the entries taken once an entry's step is done.
    m_progress->CountersChanged(m_nPages - 1, m_nHits, m_nBytes);
}

bool CSearch::FetchPage(const PageRequest& request, std::shared_ptr<const PageScan>& scan) {
    std::unique_ptr<IPageFile> file;
    // Every exception of the fetcher counts as a page that could not be fetched:
    // InternetError is the expected one, anything else must not end the process.
    try {
        if (m_stop) return false;
        file = m_Session->Open(request);
        if (m_stop) return false;
        if (file) {
            const std::string finalUrl = file->FinalUrl();
            if (m_progress != nullptr) m_progress->UrlOpened(request.url);
            std::size_t added = 0;
            while (file->ReadMore(added)) {
                // Text that arrives after the stop was asked for is not counted.
                if (m_stop) return false;
                m_nBytes += static_cast<std::int64_t>(added);
                if (m_progress != nullptr) m_progress->CountersChanged(m_nPages, m_nHits, m_nBytes);
            }
            if (m_stop) return false;
            scan = file->Scan(request);
            if (!scan && !file->Text().empty()) {
                // A fetcher that leaves the reading to the worker.
                scan = ScanPage(file->Text(), request, finalUrl, *m_rules, &m_stop);
                if (!scan) return false;
            }
            CloseQuietly(*file);
            return true;
        }
    } catch (const RobotsExclusion&) {
        if (m_stop) return false;
        g_SkippedUrls.push_back(request.url);
        RemoveEntryInProcess();
        return false;
    } catch (const std::exception&) {
        // The transfer of a stopped search ends in an error too; that is no failed URL.
        if (m_stop) return false;
        // The text read so far is dropped; its bytes stay counted.
        AddFailed(request.url);
        RemoveEntryInProcess();
        return false;
    }
    Box().Show("WinSock: URL could not be opened!", "Error", MsgIcon::Stop, MsgButtons::Ok);
    // Nothing to read: the entry leaves the queue like an empty page.
    return true;
}

void CSearch::ProcessUrl(std::string entry) {
    if (m_stop) return;
    m_page.reset();
    // A worker started by Start has the search's rules; a step taken on its own reads the project's.
    if (!m_running || !m_rules) m_rules = std::make_shared<const CrawlRules>(RulesNow());
    m_entryIsStart = g_UrlList.size() <= m_startEntriesLeft;
    const QueueEntry parsed = ParseQueueEntry(entry);
    if (!parsed.fetched) {
        RemoveEntryInProcess();
        return;
    }
    m_bRecursive = parsed.recursive;
    if (!parsed.keepsBase) m_strBase.clear();
    if (parsed.plus) m_strBase = BaseOfPlusEntry(parsed.url);
    m_request = RequestOf(parsed, m_entryIsStart, m_strBase);

    std::shared_ptr<const PageScan> scan;
    if (!FetchPage(m_request, scan)) return;
    if (m_stop) return;
    // The fetcher goes on with the pages this one leads to while the worker records it.
    if (m_planner) m_planner->PageTaken(scan);
    if (scan && scan->textBytes != 0) {
        g_PageCrc = scan->checksum;
        if (IsNewContent() == 1 && !m_stop) {
            const LinkContext context = ContextOf(m_request, scan->finalUrl);
            m_strBase = context.base;
            m_page = context.page;
            // Held by the worker alone, the scan gives its URLs over to the page list.
            auto* own = scan.use_count() == 1 ? const_cast<PageScan*>(scan.get()) : nullptr;
            for (std::size_t i = 0; i < scan->links.size(); ++i) {
                // A stop must not wait for the rest of a page of many thousand links.
                if (m_stop) return;
                if (own != nullptr)
                    Record(std::move(own->links[i]));
                else
                    Record(scan->links[i]);
            }
            m_page.reset();
        }
    }
    RemoveEntryInProcess();
}

void CSearch::AddFailed(std::string url) {
    m_failedBytes += sizeof(std::string) + url.size();
    g_FailedUrls.push_back(std::move(url));
}

std::size_t CSearch::CrawlBytes() const { return PageListBytes() + m_queueBytes + m_failedBytes; }

bool CSearch::CheckLimits() {
    if (m_limits.maxPages > 0 && m_nPages - 1 >= m_limits.maxPages)
        m_limitReached = LimitReached::Pages;
    else if (m_limits.maxMemoryBytes > 0 && CrawlBytes() > m_limits.maxMemoryBytes)
        m_limitReached = LimitReached::Memory;
    else
        return false;
    // As Cancel with "Save found?" answered Yes: what was found stays, the rest of the queue goes.
    g_UrlList.clear();
    m_queueBytes = 0;
    if (m_progress != nullptr) m_progress->SetStatusText(LimitReachedText(m_limitReached));
    return true;
}

unsigned SearchThreadProc(CSearch* search) {
    search->m_startEntriesLeft = g_UrlList.size();
    search->m_limitReached = LimitReached::None;
    search->m_queueBytes = 0;
    for (const std::string& entry : g_UrlList) search->m_queueBytes += sizeof(std::string) + entry.size();
    search->m_failedBytes = 0;
    for (const std::string& url : g_FailedUrls) search->m_failedBytes += sizeof(std::string) + url.size();
    while (!search->m_stop && !g_UrlList.empty()) {
        const std::string entry = g_UrlList.front();
        try {
            search->ProcessUrl(entry);
        } catch (const std::exception&) {
            // Out of memory in the link rules, say: the page is given up like a
            // page that failed, and the crawl goes on rather than ending the program.
            if (!search->m_stop) {
                search->AddFailed(WithoutMarks(entry));
                search->RemoveEntryInProcess();
            }
        }
        if (search->m_stop) break;
        ++search->m_nPages;
        search->ReportCounters();
        if (search->CheckLimits()) break;
    }
    // Nothing more will be asked for: what is still under way ends now.
    search->m_Session->EndSearch();
    const bool finished = !search->m_stop;
    if (finished) search->ReportCounters();
    search->m_running = false;
    if (finished && search->m_progress != nullptr) search->m_progress->SearchFinished();
    return 0;
}
