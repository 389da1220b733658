#include "crawl/Worker.h"

#include <algorithm>

#include "ui/MessageBox.h"
#include "crawl/FetchPlanner.h"
#include "crawl/PageScan.h"
#include "crawl/QueueEntry.h"
#include "crawl/SearchProgress.h"

namespace {

void CloseQuietly(IPageFile& file) {
    try {
        file.Close();
    } catch (const std::exception&) {
        // The page has been read to its end; a failure to close changes nothing of it.
    }
}

// For a worker without a message box: messages are dropped rather than left
// without anyone to tell.
class SilentMessageBox : public IMessageBox {
public:
    MsgResult Show(const std::string&, const std::string&, MsgIcon, MsgButtons buttons) override {
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
};

IMessageBox& SilentBox() {
    static SilentMessageBox silent;
    return silent;
}

}  // namespace

CCrawlWorker::CCrawlWorker(CrawlState& state, IPageFetcher* fetcher, const std::atomic<bool>& stop)
    : m_state(state),
      m_fetcher(fetcher),
      m_stop(stop),
      m_rules(std::make_shared<const CrawlRules>()),
      m_box(&SilentBox()) {}

void CCrawlWorker::Prepare(std::shared_ptr<const CrawlRules> rules, ISearchProgress* progress, IMessageBox* box,
                           CFetchPlanner* planner) {
    if (rules) m_rules = std::move(rules);
    m_progress = progress;
    m_box = box != nullptr ? box : &SilentBox();
    m_planner = planner;
    m_strBase.clear();
    m_bRecursive = true;
}

void CCrawlWorker::RemoveEntryInProcess() {
    if (m_stop) return;
    if (m_state.m_urlQueue.empty()) return;
    m_queueBytes -= std::min(m_queueBytes, sizeof(std::string) + m_state.m_urlQueue.front().size());
    m_state.m_urlQueue.pop_front();
    if (m_entryIsStart && m_startEntriesLeft > 0) --m_startEntriesLeft;
    m_entryIsStart = false;
}

void CCrawlWorker::ReportCounters() {
    if (m_stop || m_progress == nullptr) return;
    // m_nPages runs one ahead of the entries taken once an entry's step is done.
    m_progress->CountersChanged(m_state.m_nPages - 1, m_state.m_nHits, m_state.m_nBytes);
}

bool CCrawlWorker::FetchPage(const PageRequest& request, std::shared_ptr<const PageScan>& scan) {
    std::unique_ptr<IPageFile> file;
    // Every exception of the fetcher counts as a page that could not be fetched:
    // InternetError is the expected one, anything else must not end the process.
    try {
        if (m_stop) return false;
        file = m_fetcher->Open(request);
        if (m_stop) return false;
        if (file) {
            const std::string finalUrl = file->FinalUrl();
            if (m_progress != nullptr) m_progress->UrlOpened(request.url);
            std::size_t added = 0;
            while (file->ReadMore(added)) {
                // Text that arrives after the stop was asked for is not counted.
                if (m_stop) return false;
                m_state.m_nBytes += static_cast<std::int64_t>(added);
                if (m_progress != nullptr)
                    m_progress->CountersChanged(m_state.m_nPages, m_state.m_nHits, m_state.m_nBytes);
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
        m_state.m_skippedUrls.push_back(request.url);
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
    m_box->Show("WinSock: URL could not be opened!", "Error", MsgIcon::Stop, MsgButtons::Ok);
    // Nothing to read: the entry leaves the queue like an empty page.
    return true;
}

void CCrawlWorker::ProcessUrl(std::string entry) {
    if (m_stop) return;
    m_page.reset();
    m_entryIsStart = m_state.m_urlQueue.size() <= m_startEntriesLeft;
    QueueEntry parsed = ParseQueueEntry(entry);
    if (!parsed.fetched) {
        RemoveEntryInProcess();
        return;
    }
    m_bRecursive = parsed.recursive;
    if (!parsed.keepsBase) m_strBase.clear();
    if (parsed.plus) m_strBase = BaseOfPlusEntry(parsed.url);
    m_request = RequestOf(std::move(parsed), m_entryIsStart, m_strBase);

    std::shared_ptr<const PageScan> scan;
    if (!FetchPage(m_request, scan)) return;
    if (m_stop) return;
    // The fetcher goes on with the pages this one leads to while the worker records it.
    if (m_planner) m_planner->PageTaken(scan);
    if (scan && scan->textBytes != 0) {
        m_state.m_pageList.SetPageCrc(scan->checksum);
        if (m_state.m_pageList.IsNewContent() == 1 && !m_stop) {
            const LinkContext context = ContextOf(m_request, scan->finalUrl);
            m_strBase = context.base;
            m_page = context.page;
            for (std::size_t i = 0; i < scan->links.size(); ++i) {
                // A stop must not wait for the rest of a page of many thousand links.
                if (m_stop) return;
                Record(*scan, i);
            }
            m_page.reset();
        }
    }
    RemoveEntryInProcess();
}

void CCrawlWorker::AddFailed(std::string url) {
    m_failedBytes += sizeof(std::string) + url.size();
    m_state.m_failedUrls.push_back(std::move(url));
}

std::size_t CCrawlWorker::CrawlBytes() const { return m_state.m_pageList.Bytes() + m_queueBytes + m_failedBytes; }

bool CCrawlWorker::CheckLimits(const SearchLimits& limits) {
    if (limits.maxPages > 0 && m_state.m_nPages - 1 >= limits.maxPages)
        m_limitReached = LimitReached::Pages;
    else if (limits.maxMemoryBytes > 0 && CrawlBytes() > limits.maxMemoryBytes)
        m_limitReached = LimitReached::Memory;
    else
        return false;
    // As Cancel with "Save found?" answered Yes: what was found stays, the rest of the queue goes.
    m_state.m_urlQueue.clear();
    m_queueBytes = 0;
    if (m_progress != nullptr) m_progress->SetStatusText(LimitReachedText(m_limitReached));
    return true;
}

void CCrawlWorker::Run(const SearchLimits& limits) {
    UrlQueue& queue = m_state.m_urlQueue;
    m_startEntriesLeft = queue.size();
    m_limitReached = LimitReached::None;
    m_queueBytes = 0;
    for (const std::string& entry : queue) m_queueBytes += sizeof(std::string) + entry.size();
    m_failedBytes = 0;
    for (const std::string& url : m_state.m_failedUrls) m_failedBytes += sizeof(std::string) + url.size();
    while (!m_stop && !queue.empty()) {
        const std::string entry = queue.front();
        try {
            ProcessUrl(entry);
        } catch (const std::exception&) {
            // Out of memory in the link rules, say: the page is given up like a
            // page that failed, and the crawl goes on rather than ending the program.
            if (!m_stop) {
                AddFailed(WithoutMarks(entry));
                RemoveEntryInProcess();
            }
        }
        if (m_stop) break;
        ++m_state.m_nPages;
        ReportCounters();
        if (CheckLimits(limits)) break;
    }
}

const PageContext& CCrawlWorker::CurrentPage() {
    if (m_page) return *m_page;
    // Called without a page set up by the worker: the entry in process is the page.
    m_entryPage = PageContextOfEntry(m_state.m_urlQueue.front());
    return m_entryPage;
}

void CCrawlWorker::Record(const PageScan& scan, std::size_t i) {
    const ScannedLink& link = scan.links[i];
    Record(scan.Url(i), link.hits, link.followLength, link.repeated);
}

void CCrawlWorker::Record(const LinkDecision& decision) {
    Record(decision.url, decision.hits, decision.followLength, decision.repeated);
}

void CCrawlWorker::Record(std::string_view url, std::uint32_t hits, std::uint32_t followLength, bool repeated) {
    if (hits != 0) {
        m_state.m_pageList.AddHit(m_state.m_urlQueue.front(), url);
        m_state.m_nHits += static_cast<std::int32_t>(hits);
    }
    // A page linked to again was added at its first link: it is known now.
    if (followLength == 0 || repeated) return;
    const std::string_view page = url.substr(0, followLength);
    if (m_state.m_pageList.AddPage(page) != 1) return;
    std::string entry = m_strBase.empty() ? std::string(page) : "-" + std::string(page);
    m_queueBytes += sizeof(std::string) + entry.size();
    m_state.m_urlQueue.insert(m_state.m_urlQueue.begin() + 1, std::move(entry));
    ++m_pagesQueued;
}

void CCrawlWorker::ExtractLinks(const std::string& content) {
    if (m_stop || m_state.m_urlQueue.empty()) return;
    const CrawlRules& rules = *m_rules;
    const LinkContext context{CurrentPage(), m_bRecursive, m_strBase};
    ForEachLinkDecision(content, context, rules, &m_stop, [this](LinkDecision&& decision) {
        Record(decision);
        return true;
    });
}

void CCrawlWorker::HandleLink(std::string link) {
    if (m_stop || m_state.m_urlQueue.empty()) return;
    Record(DecideLink(link, LinkContext{CurrentPage(), m_bRecursive, m_strBase}, *m_rules));
}

void CCrawlWorker::ClassifyLink(std::string url) {
    if (m_stop || m_state.m_urlQueue.empty()) return;
    Record(DecideClassified(url, LinkContext{CurrentPage(), m_bRecursive, m_strBase}, *m_rules));
}
