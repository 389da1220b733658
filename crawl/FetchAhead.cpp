#include "crawl/FetchAhead.h"

#include <optional>
#include <unordered_map>

#include "crawl/CallScope.h"
#include "crawl/ConnectionStatus.h"
#include "crawl/CurlHandles.h"
#include "crawl/PageTransfer.h"

namespace {

// One page asked of a server, from the request until the worker is done with
// it. While it comes it has a transfer; once it has ended, only what the
// transfer left, so that pages waiting for the worker hold no connection.
struct Fetch {
    std::string url;
    std::unique_ptr<CPageTransfer> transfer;
    std::optional<PageOutcome> outcome;
    bool inMulti = false;
    bool ahead = false;    // asked for before the worker wanted it
    bool awaited = false;  // the worker waits for it or reads it
    std::string lastStatus;
    // The lines the worker took while the body was still coming: with what is
    // left at the end, the page's text for the planner.
    std::string readText;

    bool Coming() const { return transfer && transfer->Running(); }
    bool Paused() const { return transfer && transfer->Paused(); }
    std::size_t Pending() const { return transfer ? transfer->Pending() : outcome->lines.Pending(); }
    bool NextLine(std::string& line) { return transfer ? transfer->NextLine(line) : outcome->lines.Next(line); }
    bool Failed() const { return transfer ? transfer->Failed() : outcome->failed; }
    [[noreturn]] void ThrowFailure() const {
        if (transfer) transfer->ThrowFailure();
        throw InternetError(outcome->failure);
    }
    std::string FinalUrl() const { return transfer ? transfer->FinalUrl() : outcome->finalUrl; }
};

}  // namespace

struct CFetchAhead::Impl : ITransferObserver {
    class PageFile;

    Impl(const std::atomic<bool>* stopFlag, int connectionCount, const FetchLimits& fetchLimits);
    ~Impl() override;

    void TransferStatus(const CPageTransfer* from, int stage, const char* info) noexcept override;
    bool AcceptBody(const CPageTransfer* from, std::size_t bytes) noexcept override;

    bool StopRequested() const { return stop != nullptr && stop->load(); }
    std::unique_ptr<IPageFile> Open(const std::string& url);
    bool ReadLine(Fetch& fetch, std::string& line);
    void Close(std::unique_ptr<Fetch> fetch);
    void EndAll();

    std::unique_ptr<Fetch> Start(const std::string& url, bool ahead);
    // Out of the multi handle and given up, if still under way.
    void Stop(Fetch& fetch);
    // An ended transfer leaves its outcome and goes back for the next page.
    void Finish(Fetch& fetch);
    void Recycle(std::unique_ptr<Fetch> fetch);
    // One round of network work; with `wait`, then waits a little for the sockets.
    void Drive(bool wait);
    void Arrived(Fetch& fetch);
    void FillSlots();
    void ResumePaused();
    // Drops what was fetched ahead and can no longer be reached.
    void Sweep();
    std::size_t Running() const;
    std::size_t WaitingBytes() const;
    bool Requested(const std::string& url) const;
    void Show(const std::string& text);
    [[noreturn]] void ThrowStopped();

    const std::atomic<bool>* stop;
    const std::size_t connections;
    const FetchLimits limits;
    std::atomic<IStatusTarget*> target{nullptr};
    std::atomic<bool> statusEnabled{false};
    bool inCall = false;

    CurlSharePtr share;
    CurlMultiPtr multi;
    std::vector<std::unique_ptr<CPageTransfer>> spare;
    IFetchPlanner* planner = nullptr;

    // Fetched or under way, not yet taken by the worker.
    std::unordered_map<std::string, std::unique_ptr<Fetch>> waiting;
    // URLs for which no request can be made; the worker learns why when it asks.
    std::unordered_set<std::string> refused;
    // The page the worker asked for last, and the file it reads it through.
    std::string current;
    PageFile* file = nullptr;
    std::size_t takenSinceSweep = 0;
    // Something the planner foresees from has changed (a page taken or arrived):
    // only then is it asked again, for its walk is not free.
    bool planChanged = true;
    FetchStats stats;
};

// The page handed to the worker; it owns its fetch. Once the fetcher has moved
// on or ended, the page is cut off from it.
class CFetchAhead::Impl::PageFile : public IPageFile {
public:
    PageFile(Impl* fetcher, std::unique_ptr<Fetch> fetch) : m_fetcher(fetcher), m_fetch(std::move(fetch)) {}
    ~PageFile() override { Close(); }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    bool ReadString(std::string& line) override {
        line.clear();
        if (!m_fetch) return false;
        if (m_fetcher == nullptr) throw InternetError("The page was abandoned before it was read to the end");
        return m_fetcher->ReadLine(*m_fetch, line);
    }

    void Close() override {
        if (!m_fetch) return;
        if (m_fetcher != nullptr)
            m_fetcher->Close(std::move(m_fetch));
        m_fetch.reset();
        m_fetcher = nullptr;
    }

    std::string FinalUrl() const override { return m_fetch ? m_fetch->FinalUrl() : std::string(); }

    bool Transferring() const { return m_fetch && m_fetch->inMulti; }

    // The fetcher moves on: the transfer leaves the multi handle before it goes.
    void Detach() {
        if (m_fetch && m_fetcher != nullptr) m_fetcher->Stop(*m_fetch);
        m_fetcher = nullptr;
    }

private:
    Impl* m_fetcher;
    std::unique_ptr<Fetch> m_fetch;
};

CFetchAhead::Impl::Impl(const std::atomic<bool>* stopFlag, int connectionCount, const FetchLimits& fetchLimits)
    : stop(stopFlag), connections(static_cast<std::size_t>(connectionCount < 1 ? 1 : connectionCount)),
      limits(fetchLimits) {
    SearchHandles handles = MakeSearchHandles();
    share = std::move(handles.share);
    multi = std::move(handles.multi);
}

CFetchAhead::Impl::~Impl() {
    EndAll();
    // Easy handles before the multi handle, whose pool still reports its closing
    // connections to this object; the share handle last.
    spare.clear();
    multi.reset();
    share.reset();
}

void CFetchAhead::Impl::TransferStatus(const CPageTransfer* from, int stage, const char* info) noexcept {
    // A pooled connection closing belongs to no page the worker waits for.
    if (from == nullptr) return;
    auto* fetch = static_cast<Fetch*>(from->Owner());
    if (fetch == nullptr) return;
    try {
        fetch->lastStatus = ConnectionStatusText(stage, info);
        if (fetch->awaited) Show(fetch->lastStatus);
    } catch (...) {
        // Inside libcurl's callbacks: a status that cannot be kept is no reason to fail a page.
    }
}

bool CFetchAhead::Impl::AcceptBody(const CPageTransfer* from, std::size_t bytes) noexcept {
    const auto* fetch = static_cast<const Fetch*>(from->Owner());
    // The page the worker waits for never waits for memory.
    if (fetch == nullptr || fetch->awaited || !fetch->ahead) return true;
    return WaitingBytes() + bytes <= kMaxWaitingBytes;
}

void CFetchAhead::Impl::Show(const std::string& text) {
    if (!inCall || !statusEnabled.load()) return;
    IStatusTarget* to = target.load();
    if (to == nullptr) return;
    try {
        to->SetStatusText(text);
    } catch (...) {
    }
}

std::size_t CFetchAhead::Impl::Running() const {
    std::size_t running = 0;
    for (const auto& [url, fetch] : waiting) running += fetch->inMulti ? 1 : 0;
    // The page being read counts while its body is still coming.
    if (file != nullptr && file->Transferring()) running += 1;
    return running;
}

std::size_t CFetchAhead::Impl::WaitingBytes() const {
    std::size_t bytes = 0;
    for (const auto& [url, fetch] : waiting) bytes += fetch->Pending();
    return bytes;
}

bool CFetchAhead::Impl::Requested(const std::string& url) const {
    return url == current || waiting.count(url) != 0 || refused.count(url) != 0;
}

std::unique_ptr<Fetch> CFetchAhead::Impl::Start(const std::string& url, bool ahead) {
    auto fetch = std::make_unique<Fetch>();
    fetch->url = url;
    fetch->ahead = ahead;
    if (spare.empty()) {
        fetch->transfer = std::make_unique<CPageTransfer>(*this, limits, stop, share.get());
    } else {
        fetch->transfer = std::move(spare.back());
        spare.pop_back();
    }
    fetch->transfer->SetOwner(fetch.get());
    try {
        fetch->transfer->Begin(url);
    } catch (...) {
        fetch->transfer->SetOwner(nullptr);
        spare.push_back(std::move(fetch->transfer));
        throw;
    }
    ++stats.requests;
    if (ahead) ++stats.fetchedAhead;
    if (curl_multi_add_handle(multi.get(), fetch->transfer->Handle()) == CURLM_OK) {
        fetch->inMulti = true;
    } else {
        fetch->transfer->Abandon("The request could not be started");
        Finish(*fetch);
    }
    return fetch;
}

void CFetchAhead::Impl::Stop(Fetch& fetch) {
    if (fetch.inMulti) {
        curl_multi_remove_handle(multi.get(), fetch.transfer->Handle());
        fetch.inMulti = false;
    }
    if (!fetch.transfer) return;
    fetch.transfer->Abandon("The transfer was ended before the page was read");
    Finish(fetch);
}

void CFetchAhead::Impl::Finish(Fetch& fetch) {
    if (!fetch.transfer || fetch.transfer->Running()) return;
    fetch.outcome = fetch.transfer->TakeOutcome();
    fetch.transfer->SetOwner(nullptr);
    spare.push_back(std::move(fetch.transfer));
}

void CFetchAhead::Impl::Recycle(std::unique_ptr<Fetch> fetch) {
    if (fetch) Stop(*fetch);
}

void CFetchAhead::Impl::Arrived(Fetch& fetch) {
    if (planner == nullptr) return;
    std::string text = std::move(fetch.readText);
    fetch.readText.clear();
    text += fetch.transfer->JoinedLines();
    planner->PageArrived(fetch.url, fetch.transfer->FinalUrl(), text);
}

void CFetchAhead::Impl::Drive(bool wait) {
    int running = 0;
    const CURLMcode mc = PerformAndComplete(multi.get(), running, [this](CPageTransfer& done) {
        planChanged = true;
        auto* fetch = static_cast<Fetch*>(done.Owner());
        if (fetch == nullptr) return;
        fetch->inMulti = false;
        if (!done.Failed()) Arrived(*fetch);
        Finish(*fetch);
    });
    if (mc != CURLM_OK) {
        // The multi handle itself broke: nothing under way can finish.
        for (auto& [url, fetch] : waiting)
            if (fetch->inMulti) Stop(*fetch);
    }
    FillSlots();
    ResumePaused();
    if (wait && running > 0) curl_multi_poll(multi.get(), nullptr, 0, kStopPollMilliseconds, nullptr);
}

void CFetchAhead::Impl::FillSlots() {
    if (planner == nullptr || StopRequested() || !planChanged) return;
    std::size_t running = Running();
    if (running >= connections) return;
    planChanged = false;
    if (WaitingBytes() >= kMaxWaitingBytes) {
        Sweep();
        if (WaitingBytes() >= kMaxWaitingBytes) return;
    }
    const std::vector<std::string> next =
        planner->NextToFetch(connections - running, connections * kPagesAheadPerConnection,
                             [this](const std::string& url) { return Requested(url); });
    for (const std::string& url : next) {
        if (Requested(url)) continue;
        try {
            waiting.emplace(url, Start(url, true));
        } catch (const InternetError&) {
            refused.insert(url);
        }
    }
}

void CFetchAhead::Impl::ResumePaused() {
    for (auto& [url, fetch] : waiting) {
        if (!fetch->Paused()) continue;
        if (WaitingBytes() >= kMaxWaitingBytes) return;
        fetch->transfer->Resume();
    }
}

void CFetchAhead::Impl::Sweep() {
    // Only a page taken since the last sweep can have made others unreachable.
    if (planner == nullptr || takenSinceSweep == 0) return;
    takenSinceSweep = 0;
    const std::unordered_set<std::string> reachable = planner->Reachable();
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (reachable.count(it->first) != 0) {
            ++it;
            continue;
        }
        ++stats.neverReached;
        planner->Forget(it->first);
        Recycle(std::move(it->second));
        it = waiting.erase(it);
    }
}

void CFetchAhead::Impl::ThrowStopped() { throw InternetError("The search was stopped"); }

std::unique_ptr<IPageFile> CFetchAhead::Impl::Open(const std::string& url) {
    CallScope scope(inCall);
    // One page at a time: a page still open is cut off from the fetcher.
    if (file != nullptr) {
        file->Detach();
        file = nullptr;
    }
    if (planner != nullptr && !current.empty() && current != url) planner->Forget(current);
    current = url;
    ++takenSinceSweep;
    planChanged = true;
    if (StopRequested()) ThrowStopped();

    Drive(false);
    std::unique_ptr<Fetch> fetch;
    if (auto it = waiting.find(url); it != waiting.end()) {
        fetch = std::move(it->second);
        waiting.erase(it);
    } else {
        refused.erase(url);
        fetch = Start(url, false);
    }
    fetch->awaited = true;
    if (fetch->transfer) fetch->transfer->Resume();
    // A page that is already here shows the last stage it went through.
    if (!fetch->lastStatus.empty()) Show(fetch->lastStatus);

    // The page is open once its body has begun (or its transfer has ended): name,
    // connection and request failures are the opening's, not the reading's.
    while (fetch->Coming() && fetch->Pending() == 0) {
        if (StopRequested()) {
            Recycle(std::move(fetch));
            ThrowStopped();
        }
        Drive(true);
    }
    if (fetch->Failed() && fetch->Pending() == 0) {
        try {
            fetch->ThrowFailure();
        } catch (...) {
            Recycle(std::move(fetch));
            throw;
        }
    }
    auto page = std::make_unique<PageFile>(this, std::move(fetch));
    file = page.get();
    return page;
}

bool CFetchAhead::Impl::ReadLine(Fetch& fetch, std::string& line) {
    CallScope scope(inCall);
    if (StopRequested()) {
        Stop(fetch);
        ThrowStopped();
    }
    for (;;) {
        if (fetch.NextLine(line)) {
            if (fetch.Coming() && planner != nullptr) fetch.readText += line;
            return true;
        }
        if (!fetch.Coming()) {
            // A transfer that broke off leaves a fragment of a line behind at most;
            // it is not handed out as if the page had ended there.
            if (fetch.Failed()) fetch.ThrowFailure();
            return false;
        }
        Drive(true);
        if (StopRequested()) {
            Stop(fetch);
            ThrowStopped();
        }
    }
}

void CFetchAhead::Impl::Close(std::unique_ptr<Fetch> fetch) {
    CallScope scope(inCall);
    file = nullptr;
    // A page closed before its end: the rest of the body is not wanted.
    Recycle(std::move(fetch));
    Show(ConnectionStatusText(kHandleClosing, nullptr));
}

void CFetchAhead::Impl::EndAll() {
    if (file != nullptr) {
        file->Detach();
        file = nullptr;
    }
    for (auto& [url, fetch] : waiting) {
        if (fetch->ahead) ++stats.neverReached;
        Recycle(std::move(fetch));
    }
    waiting.clear();
    refused.clear();
    current.clear();
    takenSinceSweep = 0;
}

CFetchAhead::CFetchAhead(const std::atomic<bool>* stop, int connections, const FetchLimits& limits)
    : m_impl(std::make_unique<Impl>(stop, connections, limits)) {}

CFetchAhead::~CFetchAhead() = default;

void CFetchAhead::SetPlanner(IFetchPlanner* planner) { m_impl->planner = planner; }

void CFetchAhead::SetStatusTarget(IStatusTarget* target) { m_impl->target = target; }

void CFetchAhead::EnableStatusCallback(bool enable) { m_impl->statusEnabled = enable; }

std::unique_ptr<IPageFile> CFetchAhead::OpenURL(const std::string& url) { return m_impl->Open(url); }

void CFetchAhead::EndSearch() { m_impl->EndAll(); }

FetchStats CFetchAhead::Stats() const { return m_impl->stats; }
