#include "crawl/SearchSession.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

#include "crawl/ConnectionStatus.h"
#include "crawl/CurlHandles.h"
#include "crawl/HeapTuning.h"
#include "crawl/HostGates.h"
#include "crawl/LinkRules.h"
#include "crawl/RobotsTxt.h"
#include "crawl/SessionState.h"
#include "ui/ProgramName.h"

std::string CSearchSession::StatusText(int code, const char* info) { return ConnectionStatusText(code, info); }

namespace {

// What one page fetched ahead costs while it waits, besides its scan and its
// addresses: its record (made together with its shared count), the map entry
// that finds it by URL with the key's text, the planner's note on its links (a
// map entry with the base they are read under), and the allocator's headers.
constexpr std::size_t kFetchRecordBytes = sizeof(Fetch) + 16 + 64 + 128 + 96;

// A page a busy server answers 429 or 503 for is asked for this many times in all.
constexpr int kBusyAttempts = 3;
// Redirects followed for a robots.txt, as RFC 9309 asks at least; more leave it unavailable.
constexpr long kRobotsRedirects = 5;

// How long the network thread scans pages before it looks at its transfers again.
constexpr auto kScanSlice = std::chrono::milliseconds(2);

// The typical answer time moves by this part of the way to each new answer's.
constexpr int kAnswerTimeWeight = 8;

const CrawlRules& NoRules() {
    static const CrawlRules none;
    return none;
}

}  // namespace

struct CSearchSession::Impl : ITransferObserver {
    class PageFile;

    Impl(const std::atomic<bool>* stopFlag, const FetchLimits& fetchLimits, int connectionCount);
    ~Impl() override;

    bool StopRequested() const { return stop != nullptr && stop->load(); }

    // ---- the worker's side
    std::unique_ptr<IPageFile> Open(const PageRequest& request);
    bool ReadMore(const std::shared_ptr<Fetch>& fetch, std::size_t& consumed, std::size_t& added);
    void Leave(const std::shared_ptr<Fetch>& fetch);
    void EndAll();
    void StartThread();
    void Wake();
    // Shows what the network thread has heard for `fetch`, on the worker's thread.
    void ShowStatuses(std::unique_lock<std::mutex>& lock, Fetch& fetch);
    // Under the lock: nearly all that was foreseen is under way. Pages that
    // have arrived since may let the planner see farther; until then, what it
    // foresaw stands, and asking it again would only cost the worker's time.
    bool ForesightRunsLow() const { return shared.foresight.size() < shared.foresightTaken + connections; }
    // Waits a little for the network thread; asks the planner again first when
    // pages have arrived.
    void WaitForNews(std::unique_lock<std::mutex>& lock);
    [[noreturn]] void ThrowStopped(const std::shared_ptr<Fetch>& fetch);

    // ---- the network thread
    void Run();
    // Under the lock: what may start now, what robots.txt keeps the crawler off,
    // and what cannot be asked for as its origin could not be reached.
    void StartTransfers(std::vector<std::shared_ptr<Fetch>>& start, std::vector<std::shared_ptr<Fetch>>& skipped,
                        std::vector<std::shared_ptr<Fetch>>& unreachable);
    // A robots.txt has come, or could not be asked for: its origin's gates open.
    void RobotsEnded(const Fetch& fetch, const PageOutcome& outcome);
    // A busy answer: true when the page is to be asked for again.
    bool RetryWhenBusy(const std::shared_ptr<Fetch>& fetch, PageOutcome& outcome);
    void Begin(const std::shared_ptr<Fetch>& fetch);
    void EndTransfer(Fetch& fetch, const char* reason);
    // A transfer has ended: a failure is handed over, a page waits for its scan.
    void Ended(const std::shared_ptr<Fetch>& fetch);
    // Scans a page waiting for it, `preferred` if it waits, and hands it over;
    // false when there was none. Either thread may call it. A scan left when
    // `handOver` is set puts the page back first in line, and returns false.
    bool ScanNext(const std::shared_ptr<Fetch>& preferred = nullptr, const std::atomic<bool>* handOver = nullptr);
    // Under the lock: the worker waits for a page that has not begun to come,
    // which the network thread's transfers come before its scans for.
    bool AwaitedPageDue() const;
    void Publish(const std::shared_ptr<Fetch>& fetch, PageOutcome outcome, std::shared_ptr<const PageScan> scan);
    // Drives the transfers; true when one has ended, which may let others start.
    bool Drive();
    void ResumeWaiting(bool memoryFree);
    void AbandonAll(const char* reason);
    std::shared_ptr<Fetch> Owner(const CPageTransfer* transfer);
    std::unique_ptr<CPageTransfer> Transfer();
    // Under the lock: whether the waiting sum leaves room for a page fetched ahead.
    bool RoomForAPage() const { return shared.waiting + kRoomForAPage <= kMaxWaitingBytes; }
    // Under the lock: drops pages that arrived ahead but are no longer foreseen,
    // while there is no room for a page.
    void MakeRoom();

    // ITransferObserver, on the network thread inside libcurl.
    void TransferStatus(const CPageTransfer* from, int stage, const char* info) noexcept override;
    std::size_t BodyBudget(const CPageTransfer* from) noexcept override;
    void BodyTaken(const CPageTransfer* from, std::size_t held, std::size_t text) noexcept override;

    const std::atomic<bool>* const stop;
    const FetchLimits limits;
    const std::size_t connections;
    std::atomic<IStatusTarget*> target{nullptr};
    std::atomic<bool> statusEnabled{false};
    IFetchPlanner* planner = nullptr;
    std::shared_ptr<const CrawlRules> rules;
    bool obeyRobots = true;

    SessionShared shared;
    bool arrivalsUnseen = false;              // under the lock: the planner has not looked at the latest arrivals
    std::optional<CHeapReadier> workerHeap;   // the worker's alone
    std::optional<CHeapReadier> networkHeap;  // the network thread's alone
    // Kept by the network thread as answers come, the latest weighing most; read by the planner.
    std::atomic<std::chrono::microseconds> typicalAnswerTime{};
    std::thread thread;
    // Set while the worker waits for news: the network thread leaves the page
    // it scans to the worker and turns to its transfers.
    std::atomic<bool> scanHandOver{false};
    CURLM* wakeHandle = nullptr;  // under the lock: the network thread's multi handle while it runs
    // Under the lock. A network thread between polls sees what changed on its
    // next turn; only one that polls, or is about to, needs the wake-up call.
    bool networkPolls = false;
    bool wakeAsked = false;

    // The network thread's own.
    CurlSharePtr share;
    CurlMultiPtr multi;
    std::shared_ptr<const CTrustStore> trust;
    std::vector<std::shared_ptr<Fetch>> active;  // with a transfer under way
    // Pages fetched ahead that wait for their origin (its robots.txt, its delay).
    std::vector<std::shared_ptr<Fetch>> pendingAhead;
    std::optional<CHostGates> gates;
    bool gatesOpened = false;  // a robots.txt has been read, or could not be, in this turn
    std::vector<std::unique_ptr<CPageTransfer>> spare;
};

// The page handed to the worker. Once the worker has opened another page or the
// session has ended, the page is cut off from it.
class CSearchSession::Impl::PageFile : public IPageFile {
public:
    PageFile(Impl* session, std::shared_ptr<Fetch> fetch) : m_session(session), m_fetch(std::move(fetch)) {}
    ~PageFile() override { Close(); }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    bool ReadMore(std::size_t& added) override {
        added = 0;
        if (m_closed) return false;
        return m_session->ReadMore(m_fetch, m_consumed, added);
    }

    const std::string& Text() const override {
        std::lock_guard<std::mutex> lock(m_session->shared.mutex);
        return m_fetch->ended ? m_fetch->text : m_empty;
    }

    std::shared_ptr<const PageScan> Scan(const PageRequest& request) const override {
        std::lock_guard<std::mutex> lock(m_session->shared.mutex);
        if (m_fetch->scan && m_fetch->scan->request == request) return m_fetch->scan;
        return nullptr;
    }

    void Close() override {
        if (m_closed) return;
        m_closed = true;
        m_session->Leave(m_fetch);
        if (m_session->statusEnabled.load()) {
            if (IStatusTarget* to = m_session->target.load())
                to->SetStatusText(ConnectionStatusText(kHandleClosing, nullptr));
        }
    }

    std::string FinalUrl() const override {
        std::lock_guard<std::mutex> lock(m_session->shared.mutex);
        return m_fetch->finalUrl;
    }

private:
    Impl* m_session;
    std::shared_ptr<Fetch> m_fetch;
    std::size_t m_consumed = 0;
    bool m_closed = false;
    const std::string m_empty;
};

CSearchSession::Impl::Impl(const std::atomic<bool>* stopFlag, const FetchLimits& fetchLimits, int connectionCount)
    : stop(stopFlag), limits(fetchLimits), connections(static_cast<std::size_t>(std::max(1, connectionCount))) {
    InitCurlOnce();
}

CSearchSession::Impl::~Impl() { EndAll(); }

// ------------------------------------------------------------------ the worker's side

void CSearchSession::Impl::StartThread() {
    if (thread.joinable()) return;
    try {
        thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        throw InternetError("The internet library could not be started");
    }
}

void CSearchSession::Impl::Wake() {
    // Under the lock, so the handle cannot go while it is woken.
    if (wakeHandle != nullptr && networkPolls)
        curl_multi_wakeup(wakeHandle);
    else
        wakeAsked = true;
}

void CSearchSession::Impl::ShowStatuses(std::unique_lock<std::mutex>& lock, Fetch& fetch) {
    if (fetch.statuses.empty()) return;
    std::vector<std::string> texts = std::exchange(fetch.statuses, {});
    if (!statusEnabled.load()) return;
    IStatusTarget* to = target.load();
    if (to == nullptr) return;
    lock.unlock();
    for (const std::string& text : texts) to->SetStatusText(text);
    lock.lock();
}

void CSearchSession::Impl::WaitForNews(std::unique_lock<std::mutex>& lock) {
    // Arrivals let the planner see farther; it is asked again once what it
    // foresaw is nearly all under way.
    if (arrivalsUnseen && planner != nullptr && ForesightRunsLow()) {
        arrivalsUnseen = false;
        lock.unlock();
        planner->Replan();
        lock.lock();
        return;
    }
    // A worker that would only wait scans instead: its own page first, else
    // one fetched ahead, so that both threads share the reading.
    if (!shared.toScan.empty()) {
        const std::shared_ptr<Fetch> own = shared.awaited;
        lock.unlock();
        if (!ScanNext(own)) ScanNext();
        lock.lock();
        return;
    }
    const auto heard = [this] { return shared.news || (arrivalsUnseen && planner != nullptr && ForesightRunsLow()); };
    if (!heard()) {
        // Nothing to do but wait: what the network thread is scanning comes
        // back to this thread, and that one turns to the transfers.
        shared.workerWaiting = true;
        scanHandOver = true;
        shared.changed.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds), heard);
        shared.workerWaiting = false;
    }
    shared.news = false;
}

void CSearchSession::Impl::ThrowStopped(const std::shared_ptr<Fetch>& fetch) {
    Leave(fetch);
    throw InternetError("The search was stopped");
}

std::unique_ptr<IPageFile> CSearchSession::Impl::Open(const PageRequest& request) {
    if (StopRequested()) throw InternetError("The search was stopped");
    StartThread();
    std::shared_ptr<Fetch> fetch;
    bool foreseenFirst = false;
    {
        std::unique_lock<std::mutex> lock(shared.mutex);
        // One page at a time: a page still open is cut off.
        if (shared.awaited) {
            std::shared_ptr<Fetch> left = std::move(shared.awaited);
            lock.unlock();
            Leave(left);
            lock.lock();
        }
        if (auto it = shared.fetches.find(request.url); it != shared.fetches.end()) {
            fetch = it->second;
            // A page read under another request, or whose failure may be the wait's, is asked for anew.
            const bool stale =
                fetch->ended && !fetch->skipped &&
                (fetch->untrusted || (!fetch->failed && (!fetch->scan || fetch->scan->request != request)));
            if (stale) {
                shared.fetches.erase(it);
                shared.waiting -= fetch->waitingBytes;
                fetch->waitingBytes = 0;
                if (fetch->ahead) ++shared.stats.neverReached;
                fetch.reset();
            }
        }
        if (!fetch) {
            fetch = std::make_shared<Fetch>(request, false);
            shared.fetches[request.url] = fetch;
        }
        fetch->request = request;
        fetch->awaited = true;
        shared.waiting -= fetch->waitingBytes;
        fetch->waitingBytes = 0;
        // A page that is already under way shows the last stage it went through.
        if (fetch->statuses.empty() && !fetch->lastStatus.empty()) fetch->statuses.push_back(fetch->lastStatus);
        shared.awaited = fetch;
        // The page foreseen first is the one taken: what was foreseen behind it
        // stands, unless pages have arrived since that may change it.
        foreseenFirst = !shared.foresight.empty() && shared.foresight.front() == request;
        if (foreseenFirst) {
            shared.foresight.erase(shared.foresight.begin());
            if (shared.foresightTaken > 0) --shared.foresightTaken;
        }
        foreseenFirst = foreseenFirst && !(arrivalsUnseen && ForesightRunsLow());
        Wake();
    }
    if (planner != nullptr && !foreseenFirst) planner->Replan();

    // The page is open once its body has begun (or its transfer has ended): name,
    // connection and request failures are the opening's, not the reading's.
    std::unique_lock<std::mutex> lock(shared.mutex);
    for (;;) {
        ShowStatuses(lock, *fetch);
        if (StopRequested()) {
            lock.unlock();
            ThrowStopped(fetch);
        }
        if (fetch->opened || fetch->ended) break;
        WaitForNews(lock);
    }
    if (fetch->skipped) {
        lock.unlock();
        Leave(fetch);
        throw RobotsExclusion("The site's robots.txt keeps crawlers off the page");
    }
    if (fetch->failed && !fetch->opened) {
        const std::string failure = fetch->failure;
        lock.unlock();
        Leave(fetch);
        throw InternetError(failure);
    }
    return std::make_unique<PageFile>(this, fetch);
}

bool CSearchSession::Impl::ReadMore(const std::shared_ptr<Fetch>& fetch, std::size_t& consumed, std::size_t& added) {
    // Once the first page comes in, so as not to hold up the search's start.
    if (!workerHeap) workerHeap.emplace();
    std::unique_lock<std::mutex> lock(shared.mutex);
    for (;;) {
        ShowStatuses(lock, *fetch);
        if (fetch->dropped) throw InternetError("The page was abandoned before it was read to the end");
        if (StopRequested()) {
            lock.unlock();
            ThrowStopped(fetch);
        }
        if (fetch->bytes > consumed) {
            added = fetch->bytes - consumed;
            consumed = fetch->bytes;
            workerHeap->Taken(added);
            return true;
        }
        if (fetch->ended) {
            // A transfer that broke off leaves a fragment of a line behind at most;
            // it is not handed out as if the page had ended there.
            if (fetch->failed) throw InternetError(fetch->failure);
            return false;
        }
        WaitForNews(lock);
    }
}

void CSearchSession::Impl::Leave(const std::shared_ptr<Fetch>& fetch) {
    std::lock_guard<std::mutex> lock(shared.mutex);
    // A page the worker is done with is not to be fetched again for what was foreseen before.
    for (std::size_t i = shared.foresight.size(); i-- > 0;) {
        if (shared.foresight[i].url != fetch->request.url) continue;
        shared.foresight.erase(shared.foresight.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < shared.foresightTaken) --shared.foresightTaken;
    }
    if (shared.awaited == fetch) shared.awaited.reset();
    if (auto it = shared.fetches.find(fetch->request.url); it != shared.fetches.end() && it->second == fetch)
        shared.fetches.erase(it);
    if (fetch->dropped) return;
    // Whoever still holds the page can read no more of it.
    fetch->dropped = true;
    if (!fetch->ended) {
        // A page left before its end: the rest of the body is not wanted.
        shared.retired.push_back(fetch);
        Wake();
    }
}

void CSearchSession::Impl::EndAll() {
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.ending = true;
        Wake();
    }
    if (thread.joinable()) thread.join();
    // The next search readies its own room, as far as it takes in pages.
    workerHeap.reset();
    // Its servers may be others.
    typicalAnswerTime = std::chrono::microseconds{};
    std::lock_guard<std::mutex> lock(shared.mutex);
    for (auto& [url, fetch] : shared.fetches) {
        if (fetch->ahead && !fetch->awaited) ++shared.stats.neverReached;
        fetch->dropped = true;
    }
    if (shared.awaited) shared.awaited->dropped = true;
    shared.fetches.clear();
    shared.awaited.reset();
    shared.retired.clear();
    shared.toScan.clear();
    shared.foresight.clear();
    shared.foresightTaken = 0;
    shared.inFlight = 0;
    shared.arrivals.clear();
    shared.waiting = 0;
    shared.ending = false;
    arrivalsUnseen = false;
}

// ------------------------------------------------------------------ the network thread

std::shared_ptr<Fetch> CSearchSession::Impl::Owner(const CPageTransfer* transfer) {
    if (transfer == nullptr) return nullptr;
    auto* fetch = static_cast<Fetch*>(transfer->Owner());
    for (const auto& candidate : active)
        if (candidate.get() == fetch) return candidate;
    return nullptr;
}

void CSearchSession::Impl::TransferStatus(const CPageTransfer* from, int stage, const char* info) noexcept {
    // A pooled connection closing belongs to no page the worker waits for.
    if (from == nullptr) return;
    auto* fetch = static_cast<Fetch*>(from->Owner());
    if (fetch == nullptr) return;
    try {
        std::string text = ConnectionStatusText(stage, info);
        std::lock_guard<std::mutex> lock(shared.mutex);
        // Shown when the worker next wakes: a status alone is not worth waking it for.
        if (fetch->awaited) fetch->statuses.push_back(text);
        fetch->lastStatus = std::move(text);
    } catch (...) {
        // Inside libcurl's callbacks: a status that cannot be kept is no reason to fail a page.
    }
}

std::size_t CSearchSession::Impl::BodyBudget(const CPageTransfer* from) noexcept {
    auto* fetch = static_cast<Fetch*>(from->Owner());
    std::lock_guard<std::mutex> lock(shared.mutex);
    // The page the worker waits for never waits for memory.
    if (fetch == nullptr || fetch->awaited || !fetch->ahead) return static_cast<std::size_t>(-1);
    if (shared.waiting >= kMaxWaitingBytes) {
        fetch->wasPaused = true;
        return 0;
    }
    return kMaxWaitingBytes - shared.waiting;
}

void CSearchSession::Impl::BodyTaken(const CPageTransfer* from, std::size_t held, std::size_t text) noexcept {
    auto* fetch = static_cast<Fetch*>(from->Owner());
    if (fetch == nullptr) return;
    try {
        const std::string finalUrl = fetch->opened ? std::string() : from->FinalUrl();
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (!fetch->opened) {
            fetch->opened = true;
            fetch->finalUrl = finalUrl;
        }
        fetch->bytes += text;
        if (!fetch->awaited && fetch->robotsOrigin.empty()) {
            fetch->waitingBytes += held;
            shared.waiting += held;
            shared.stats.peakWaitingBytes = std::max(shared.stats.peakWaitingBytes, shared.waiting);
        }
        if (fetch->awaited) shared.news = true;
    } catch (...) {
    }
    if (networkHeap) networkHeap->Taken(text);
}

std::unique_ptr<CPageTransfer> CSearchSession::Impl::Transfer() {
    if (spare.empty()) return std::make_unique<CPageTransfer>(*this, limits, stop, share.get(), trust);
    std::unique_ptr<CPageTransfer> transfer = std::move(spare.back());
    spare.pop_back();
    return transfer;
}

void CSearchSession::Impl::Begin(const std::shared_ptr<Fetch>& fetch) {
    std::string url;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        url = fetch->request.url;
    }
    try {
        if (StopRequested()) throw InternetError("The search was stopped");
        fetch->transfer = Transfer();
        fetch->transfer->SetOwner(fetch.get());
        if (fetch->robotsOrigin.empty())
            fetch->transfer->Begin(url);
        else
            fetch->transfer->BeginFile(url, kMaxRobotsTxtBytes, kRobotsRedirects);
    } catch (const std::exception& e) {
        // No request can be made for the URL: the worker learns why when it asks.
        if (fetch->transfer) {
            fetch->transfer->SetOwner(nullptr);
            spare.push_back(std::move(fetch->transfer));
        }
        PageOutcome failed;
        failed.failed = true;
        failed.failure = e.what();
        if (!fetch->robotsOrigin.empty())
            RobotsEnded(*fetch, failed);
        else
            Publish(fetch, std::move(failed), nullptr);
        return;
    }
    active.push_back(fetch);
    if (fetch->robotsOrigin.empty()) {
        std::lock_guard<std::mutex> lock(shared.mutex);
        ++shared.stats.requests;
        if (fetch->ahead) ++shared.stats.fetchedAhead;
    }
    if (curl_multi_add_handle(multi.get(), fetch->transfer->Handle()) == CURLM_OK) {
        fetch->inMulti = true;
    } else {
        fetch->transfer->Abandon("The request could not be started");
        Ended(fetch);
    }
}

void CSearchSession::Impl::EndTransfer(Fetch& fetch, const char* reason) {
    if (fetch.inMulti) {
        curl_multi_remove_handle(multi.get(), fetch.transfer->Handle());
        fetch.inMulti = false;
    }
    if (fetch.transfer) fetch.transfer->Abandon(reason);
}

void CSearchSession::Impl::Ended(const std::shared_ptr<Fetch>& fetch) {
    fetch->inMulti = false;
    std::erase(active, fetch);
    PageOutcome outcome = fetch->transfer->TakeOutcome();
    fetch->transfer->SetOwner(nullptr);
    if (outcome.answerTime.count() > 0) {
        const auto typical = typicalAnswerTime.load(std::memory_order_relaxed);
        typicalAnswerTime.store(typical + (outcome.answerTime - typical) / kAnswerTimeWeight,
                                std::memory_order_relaxed);
    }
    spare.push_back(std::move(fetch->transfer));
    if (!fetch->robotsOrigin.empty()) {
        RobotsEnded(*fetch, outcome);
        return;
    }
    if (outcome.busy && RetryWhenBusy(fetch, outcome)) return;
    if (outcome.failed) {
        Publish(fetch, std::move(outcome), nullptr);
        return;
    }
    // Its scan is work for whichever thread is free first: this one between
    // turns, or the worker while it waits.
    std::lock_guard<std::mutex> lock(shared.mutex);
    fetch->unscanned = std::move(outcome);
    shared.toScan.push_back(fetch);
    shared.news = true;
}

void CSearchSession::Impl::RobotsEnded(const Fetch& fetch, const PageOutcome& outcome) {
    // A file that came is read; none there (4xx), or a redirect too many, allows
    // everything; a server error or no answer at all allows nothing.
    gatesOpened = true;
    const long status = outcome.status;
    if (status == 0) {
        gates->RobotsUnreachable(fetch.robotsOrigin, outcome.failure);
        return;
    }
    CRobotsTxt rules = CRobotsTxt::DisallowAll();
    if (!outcome.failed && status >= 200 && status < 300)
        rules = CRobotsTxt::Parse(outcome.text, ProgramFileName());
    else if (status >= 300 && status < 500)
        rules = CRobotsTxt::AllowAll();
    gates->RobotsRead(fetch.robotsOrigin, std::move(rules));
}

bool CSearchSession::Impl::RetryWhenBusy(const std::shared_ptr<Fetch>& fetch, PageOutcome& outcome) {
    if (++fetch->attempts < kBusyAttempts) {
        // Nothing more goes to the origin meanwhile; the page waits for it like a page ahead.
        gates->HoldUntil(fetch->request.url,
                         CHostGates::Clock::now() + std::chrono::seconds(outcome.retryAfterSeconds));
        std::lock_guard<std::mutex> lock(shared.mutex);
        fetch->started = false;
        if (!fetch->awaited && !fetch->dropped) pendingAhead.push_back(fetch);
        return true;
    }
    outcome.failed = true;
    outcome.failure = "The server is busy (HTTP " + std::to_string(outcome.status) + "), asked " +
                      std::to_string(kBusyAttempts) + " times";
    return false;
}

bool CSearchSession::Impl::ScanNext(const std::shared_ptr<Fetch>& preferred, const std::atomic<bool>* handOver) {
    std::shared_ptr<Fetch> fetch;
    PageOutcome outcome;
    PageRequest request;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        auto it = shared.toScan.begin();
        if (preferred) it = std::find(shared.toScan.begin(), shared.toScan.end(), preferred);
        if (it == shared.toScan.end()) return false;
        fetch = std::move(*it);
        shared.toScan.erase(it);
        outcome = std::move(*fetch->unscanned);
        fetch->unscanned.reset();
        request = fetch->request;
    }
    const CrawlRules& scanRules = rules ? *rules : NoRules();
    std::shared_ptr<const PageScan> scan;
    // The worker may take the page, under a request of its own, while it is scanned.
    for (;;) {
        scan = ScanPage(outcome.text, request, outcome.finalUrl, scanRules, stop, handOver);
        if (!scan && !StopRequested()) {
            std::lock_guard<std::mutex> lock(shared.mutex);
            fetch->unscanned = std::move(outcome);
            shared.toScan.push_front(fetch);
            shared.news = true;
            shared.changed.notify_all();
            return false;
        }
        if (!scan) {
            outcome.failed = true;
            outcome.failure = "The search was stopped";
            break;
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (fetch->dropped || fetch->request == request) break;
        request = fetch->request;
    }
    Publish(fetch, std::move(outcome), std::move(scan));
    return true;
}

void CSearchSession::Impl::Publish(const std::shared_ptr<Fetch>& fetch, PageOutcome outcome,
                                   std::shared_ptr<const PageScan> scan) {
    std::lock_guard<std::mutex> lock(shared.mutex);
    fetch->ended = true;
    fetch->skipped = outcome.skipped;
    fetch->opened = fetch->opened || (!outcome.failed && !outcome.skipped);
    if (fetch->finalUrl.empty()) fetch->finalUrl = outcome.finalUrl;
    fetch->failed = outcome.failed;
    fetch->failure = outcome.failure;
    fetch->bytes = outcome.text.size();
    fetch->untrusted = outcome.failed && fetch->wasPaused && !fetch->awaited;
    if (!outcome.failed) fetch->scan = scan;
    if (fetch->awaited) {
        fetch->text = std::move(outcome.text);
    } else if (!fetch->dropped) {
        // Only its scan waits for the worker, with the record of the fetch itself:
        // many small pages waiting cost as much in records as in links.
        shared.waiting -= fetch->waitingBytes;
        fetch->waitingBytes = (scan ? scan->MemoryBytes() : 0) + kFetchRecordBytes + fetch->request.url.capacity() +
                              fetch->finalUrl.capacity() + fetch->failure.capacity();
        shared.waiting += fetch->waitingBytes;
        shared.stats.peakWaitingBytes = std::max(shared.stats.peakWaitingBytes, shared.waiting);
        if (scan) {
            shared.arrivals.push_back(std::move(scan));
            arrivalsUnseen = true;
        }
    }
    shared.news = true;
}

void CSearchSession::Impl::MakeRoom() {
    // A page dropped is asked for again when the worker reaches it, as nearly
    // every page is on a site whose pages link all over it.
    if ((shared.stats.neverReached + 1) * kRequestsPerDrop > shared.stats.requests) return;
    std::unordered_set<std::string_view> foreseen;
    for (const PageRequest& request : shared.foresight) foreseen.insert(request.url);
    for (auto it = shared.fetches.begin(); it != shared.fetches.end() && !RoomForAPage();) {
        Fetch& fetch = *it->second;
        if (!fetch.ended || fetch.awaited || foreseen.count(it->first) != 0) {
            ++it;
            continue;
        }
        shared.waiting -= fetch.waitingBytes;
        fetch.waitingBytes = 0;
        fetch.dropped = true;
        ++shared.stats.neverReached;
        it = shared.fetches.erase(it);
    }
}

void CSearchSession::Impl::StartTransfers(std::vector<std::shared_ptr<Fetch>>& start,
                                          std::vector<std::shared_ptr<Fetch>>& skipped,
                                          std::vector<std::shared_ptr<Fetch>>& unreachable) {
    // Under the lock, on the network thread, which alone keeps the gates.
    const auto now = CHostGates::Clock::now();
    std::size_t inFlight = active.size();
    // Starts the page's transfer when its origin lets it; true when it no longer waits.
    auto admit = [&](const std::shared_ptr<Fetch>& fetch) {
        switch (gates->Check(fetch->request.url, now)) {
            case CHostGates::Verdict::Go:
                fetch->started = true;
                gates->Started(fetch->request.url, now);
                start.push_back(fetch);
                ++inFlight;
                return true;
            case CHostGates::Verdict::Disallowed:
                fetch->started = true;
                skipped.push_back(fetch);
                return true;
            case CHostGates::Verdict::Unreachable:
                fetch->started = true;
                unreachable.push_back(fetch);
                return true;
            case CHostGates::Verdict::NeedRobots: {
                const std::string origin = CHostGates::OriginOf(fetch->request.url);
                gates->RobotsFetching(origin);
                PageRequest request;
                request.url = CHostGates::RobotsUrlOf(origin);
                auto robots = std::make_shared<Fetch>(std::move(request), false);
                robots->robotsOrigin = origin;
                robots->started = true;
                start.push_back(std::move(robots));
                ++inFlight;
                return false;
            }
            case CHostGates::Verdict::Wait: break;
        }
        return false;
    };
    // The page the worker waits for first, whatever the limits.
    if (shared.awaited && !shared.awaited->started && !shared.awaited->ended) admit(shared.awaited);
    if (StopRequested()) return;
    std::erase_if(pendingAhead, [&](const std::shared_ptr<Fetch>& fetch) {
        if (fetch->dropped || fetch->awaited || fetch->started || fetch->ended) return true;
        return inFlight < connections && admit(fetch);
    });
    if (!RoomForAPage()) MakeRoom();
    // The foresight before `foresightTaken` has been started or was there already.
    for (; shared.foresightTaken < shared.foresight.size(); ++shared.foresightTaken) {
        if (inFlight + pendingAhead.size() >= connections || !RoomForAPage()) break;
        const PageRequest& request = shared.foresight[shared.foresightTaken];
        if (shared.fetches.count(request.url) != 0) continue;
        auto fetch = std::make_shared<Fetch>(request, true);
        shared.fetches.emplace(request.url, fetch);
        if (!admit(fetch)) pendingAhead.push_back(std::move(fetch));
    }
    shared.inFlight = inFlight;
}

bool CSearchSession::Impl::AwaitedPageDue() const {
    const std::shared_ptr<Fetch>& page = shared.awaited;
    return page && !page->opened && !page->ended && !page->unscanned;
}

void CSearchSession::Impl::ResumeWaiting(bool memoryFree) {
    for (std::size_t i = 0; i < active.size();) {
        const std::shared_ptr<Fetch> fetch = active[i];
        CPageTransfer& transfer = *fetch->transfer;
        bool awaitedNow = false;
        if (transfer.Paused()) {
            std::lock_guard<std::mutex> lock(shared.mutex);
            awaitedNow = fetch->awaited;
        }
        if (transfer.Paused() && (awaitedNow || memoryFree)) {
            transfer.Resume();
            if (transfer.Running() && transfer.Failed()) {
                EndTransfer(*fetch, "The page could not be decoded");
            }
            if (!transfer.Running()) {
                if (fetch->inMulti) {
                    curl_multi_remove_handle(multi.get(), transfer.Handle());
                    fetch->inMulti = false;
                }
                Ended(fetch);
                continue;
            }
        }
        ++i;
    }
}

bool CSearchSession::Impl::Drive() {
    int running = 0;
    std::vector<std::shared_ptr<Fetch>> done;
    const CURLMcode mc = PerformAndComplete(multi.get(), running, [&](CPageTransfer& ended) {
        if (std::shared_ptr<Fetch> fetch = Owner(&ended)) {
            fetch->inMulti = false;
            done.push_back(std::move(fetch));
        }
    });
    for (const std::shared_ptr<Fetch>& fetch : done) Ended(fetch);
    if (mc != CURLM_OK) AbandonAll(curl_multi_strerror(mc));
    return !done.empty();
}

void CSearchSession::Impl::AbandonAll(const char* reason) {
    while (!active.empty()) {
        const std::shared_ptr<Fetch> fetch = active.back();
        EndTransfer(*fetch, reason);
        Ended(fetch);
    }
}

void CSearchSession::Impl::Run() {
    pthread_setname_np(pthread_self(), "nz-network");
    try {
        SearchHandles handles = MakeSearchHandles();
        share = std::move(handles.share);
        multi = std::move(handles.multi);
        trust = std::move(handles.trust);
    } catch (const std::exception& e) {
        // Nothing can be fetched: every page fails with the reason.
        std::unique_lock<std::mutex> lock(shared.mutex);
        while (!shared.ending) {
            for (auto& [url, fetch] : shared.fetches) {
                if (fetch->ended) continue;
                fetch->ended = true;
                fetch->failed = true;
                fetch->failure = e.what();
            }
            shared.changed.notify_all();
            shared.changed.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds));
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        wakeHandle = multi.get();
    }
    gates.emplace(obeyRobots);
    for (;;) {
        std::vector<std::shared_ptr<Fetch>> start;
        std::vector<std::shared_ptr<Fetch>> skipped;
        std::vector<std::shared_ptr<Fetch>> unreachable;
        std::vector<std::shared_ptr<Fetch>> retired;
        bool memoryFree = false;
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.ending) break;
            retired = std::exchange(shared.retired, {});
            StartTransfers(start, skipped, unreachable);
            memoryFree = shared.waiting < kMaxWaitingBytes;
        }
        for (const std::shared_ptr<Fetch>& fetch : skipped) {
            PageOutcome outcome;
            outcome.skipped = true;
            Publish(fetch, std::move(outcome), nullptr);
        }
        for (const std::shared_ptr<Fetch>& fetch : unreachable) {
            PageOutcome outcome;
            outcome.failed = true;
            outcome.failure = gates->UnreachableReason(fetch->request.url);
            Publish(fetch, std::move(outcome), nullptr);
        }
        for (const std::shared_ptr<Fetch>& fetch : retired) {
            if (!fetch->transfer || fetch->ended) continue;
            EndTransfer(*fetch, "The transfer was ended before the page was read");
            Ended(fetch);
        }
        if (StopRequested()) AbandonAll("The search was stopped");
        // Begun even when stopped: the fetch then fails, and whoever waits for it hears so.
        for (const std::shared_ptr<Fetch>& fetch : start) Begin(fetch);
        ResumeWaiting(memoryFree);
        const bool someEnded = Drive();
        // Once the first requests are out, so as not to hold them up.
        if (!networkHeap && !active.empty()) networkHeap.emplace();
        // Pages are scanned between turns, a few milliseconds' worth at most, so
        // that the transfers are not kept waiting; and only while the worker is
        // busy: a waiting worker scans them itself, and this thread stays free
        // to start what the worker will want next.
        bool workerWaiting = false;
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            workerWaiting = shared.workerWaiting;
            if (!workerWaiting) scanHandOver = false;
        }
        const auto now = std::chrono::steady_clock::now();
        const auto scanUntil = workerWaiting ? now : now + kScanSlice;
        const auto scanMore = [this] {
            std::lock_guard<std::mutex> lock(shared.mutex);
            return !AwaitedPageDue();
        };
        while (std::chrono::steady_clock::now() < scanUntil && scanMore() && ScanNext(nullptr, &scanHandOver)) {
        }
        {
            // The worker is woken once a turn, however much changed in it.
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.news || arrivalsUnseen) shared.changed.notify_all();
        }
        // The last transfer has ended, or a robots.txt has opened its origin's
        // gates: no socket is left to wake the poll, and the worker only wakes
        // it for what it asks for itself, so what may go now would wait for the
        // poll's timeout. The next turn starts it at once instead.
        const bool robotsRead = std::exchange(gatesOpened, false);
        bool startNow = robotsRead || (someEnded && active.empty());
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            startNow = std::exchange(wakeAsked, false) || startNow;
            networkPolls = !startNow;
        }
        if (!startNow) {
            curl_multi_poll(multi.get(), nullptr, 0, kStopPollMilliseconds, nullptr);
            std::lock_guard<std::mutex> lock(shared.mutex);
            networkPolls = false;
        }
    }
    AbandonAll("The search has ended");
    networkHeap.reset();
    pendingAhead.clear();
    gates.reset();
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        wakeHandle = nullptr;
    }
    // Easy handles before the multi handle, the share handle last.
    spare.clear();
    multi.reset();
    share.reset();
    trust.reset();
}

// ------------------------------------------------------------------ the interface

CSearchSession::CSearchSession(const std::atomic<bool>* stop, const FetchLimits& limits, int connections)
    : m_impl(std::make_unique<Impl>(stop, limits, connections)) {}

CSearchSession::~CSearchSession() = default;

void CSearchSession::SetStatusTarget(IStatusTarget* target) { m_impl->target = target; }

void CSearchSession::EnableStatusCallback(bool enable) { m_impl->statusEnabled = enable; }

void CSearchSession::BeginSearch(std::shared_ptr<const CrawlRules> rules) {
    // The network thread reads the rules while it scans: they change only between searches.
    m_impl->EndAll();
    m_impl->rules = std::move(rules);
}

std::unique_ptr<IPageFile> CSearchSession::Open(const PageRequest& request) { return m_impl->Open(request); }

std::unique_ptr<IPageFile> CSearchSession::OpenURL(const std::string& url) {
    PageRequest request;
    request.url = url;
    return m_impl->Open(request);
}

std::chrono::microseconds CSearchSession::TypicalAnswerTime() const {
    return m_impl->typicalAnswerTime.load(std::memory_order_relaxed);
}

std::size_t CSearchSession::Lookahead() const {
    return m_impl->connections > 1 ? m_impl->connections * kPagesAheadPerConnection : 0;
}

void CSearchSession::SetPlanner(IFetchPlanner* planner) { m_impl->planner = planner; }

void CSearchSession::ObeyRobots(bool obey) {
    // Read by the network thread when it starts, which is after this.
    m_impl->EndAll();
    m_impl->obeyRobots = obey;
}

void CSearchSession::Foresee(std::vector<PageRequest> next) {
    std::lock_guard<std::mutex> lock(m_impl->shared.mutex);
    SessionShared& shared = m_impl->shared;
    // The planner often foresees what it foresaw: nothing to do, nobody to wake.
    if (next == shared.foresight) return;
    shared.foresight = std::move(next);
    shared.foresightTaken = 0;
    // A network thread with every connection busy takes up the new foresight on its own.
    if (shared.inFlight < m_impl->connections) m_impl->Wake();
}

std::vector<std::shared_ptr<const PageScan>> CSearchSession::TakeArrivals() {
    std::lock_guard<std::mutex> lock(m_impl->shared.mutex);
    m_impl->arrivalsUnseen = false;
    return std::exchange(m_impl->shared.arrivals, {});
}

void CSearchSession::EndSearch() { m_impl->EndAll(); }

FetchStats CSearchSession::Stats() const {
    std::lock_guard<std::mutex> lock(m_impl->shared.mutex);
    return m_impl->shared.stats;
}
