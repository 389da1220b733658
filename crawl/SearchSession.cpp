#include "crawl/SearchSession.h"

#include "crawl/CallScope.h"
#include "crawl/ConnectionStatus.h"
#include "crawl/CurlHandles.h"
#include "crawl/PageTransfer.h"

std::string CSearchSession::StatusText(int code, const char* info) { return ConnectionStatusText(code, info); }

struct CSearchSession::Impl : ITransferObserver {
    class PageFile;

    Impl(const std::atomic<bool>* stopFlag, const FetchLimits& limits);
    ~Impl() override;

    bool StopRequested() const { return stop != nullptr && stop->load(); }
    void TransferStatus(const CPageTransfer* from, int stage, const char* info) noexcept override;

    std::unique_ptr<IPageFile> Open(const std::string& url);
    bool ReadLine(std::string& line);
    void CloseFile();
    // Ends the transfer in progress, if any; its connection cannot be reused.
    void AbortTransfer();
    // One round of network work: runs what is due, then waits a little for the sockets.
    void Drive();
    [[noreturn]] void ThrowStopped();

    const std::atomic<bool>* stop;
    std::atomic<IStatusTarget*> target{nullptr};
    std::atomic<bool> statusEnabled{false};
    // Status texts go out only while the caller is inside OpenURL, ReadString or
    // Close: that is the worker's thread. Connections closed when the session ends
    // (on whichever thread ends it) stay silent.
    bool inCall = false;

    CurlSharePtr share;
    CurlMultiPtr multi;
    std::unique_ptr<CPageTransfer> transfer;
    bool transferInMulti = false;
    // The page being read.
    PageFile* file = nullptr;
    FetchStats stats;
};

// The page handed to the worker. It reads through its session; once the session
// has moved on to another page or has ended, the page is cut off from it.
class CSearchSession::Impl::PageFile : public IPageFile {
public:
    PageFile(Impl* session, std::string finalUrl) : m_session(session), m_finalUrl(std::move(finalUrl)) {}
    ~PageFile() override { Close(); }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    bool ReadString(std::string& line) override {
        line.clear();
        if (m_closed) return false;
        if (m_session == nullptr) throw InternetError("The page was abandoned before it was read to the end");
        return m_session->ReadLine(line);
    }

    void Close() override {
        if (m_closed) return;
        m_closed = true;
        if (m_session != nullptr) m_session->CloseFile();
        m_session = nullptr;
    }

    std::string FinalUrl() const override { return m_finalUrl; }

    void Detach() { m_session = nullptr; }

private:
    Impl* m_session;
    const std::string m_finalUrl;
    bool m_closed = false;
};

CSearchSession::Impl::Impl(const std::atomic<bool>* stopFlag, const FetchLimits& limits) : stop(stopFlag) {
    SearchHandles handles = MakeSearchHandles();
    share = std::move(handles.share);
    multi = std::move(handles.multi);
    transfer = std::make_unique<CPageTransfer>(*this, limits, stop, share.get());
}

CSearchSession::Impl::~Impl() {
    if (file != nullptr) file->Detach();
    file = nullptr;
    if (transferInMulti) curl_multi_remove_handle(multi.get(), transfer->Handle());
    // The easy handle goes first: it still refers to the multi handle's connections,
    // and the share handle cannot go while a handle uses it. The pool's connections
    // close with the multi handle and report to this object, still whole here.
    transfer.reset();
    multi.reset();
    share.reset();
}

void CSearchSession::Impl::TransferStatus(const CPageTransfer*, int stage, const char* info) noexcept {
    if (!inCall || !statusEnabled.load()) return;
    IStatusTarget* to = target.load();
    if (to == nullptr) return;
    // This runs inside libcurl's callbacks, which no exception may cross; a status
    // line that cannot be shown is no reason to fail a page.
    try {
        to->SetStatusText(ConnectionStatusText(stage, info));
    } catch (...) {
    }
}

void CSearchSession::Impl::ThrowStopped() {
    AbortTransfer();
    throw InternetError("The search was stopped");
}

void CSearchSession::Impl::AbortTransfer() {
    if (transferInMulti) {
        curl_multi_remove_handle(multi.get(), transfer->Handle());
        transferInMulti = false;
    }
    transfer->Abandon("The transfer was ended before the page was read");
}

void CSearchSession::Impl::Drive() {
    int running = 0;
    const CURLMcode mc = PerformAndComplete(multi.get(), running, [this](CPageTransfer& done) {
        if (&done == transfer.get()) transferInMulti = false;
    });
    if (mc != CURLM_OK && transfer->Running()) {
        if (transferInMulti) curl_multi_remove_handle(multi.get(), transfer->Handle());
        transferInMulti = false;
        transfer->Abandon(curl_multi_strerror(mc));
    }
    if (transfer->Running()) curl_multi_poll(multi.get(), nullptr, 0, kStopPollMilliseconds, nullptr);
}

std::unique_ptr<IPageFile> CSearchSession::Impl::Open(const std::string& url) {
    CallScope scope(inCall);
    // One page at a time: a page still open is cut off from the session.
    if (file != nullptr) {
        file->Detach();
        file = nullptr;
    }
    AbortTransfer();
    if (StopRequested()) throw InternetError("The search was stopped");

    transfer->Begin(url);
    ++stats.requests;
    if (curl_multi_add_handle(multi.get(), transfer->Handle()) != CURLM_OK) {
        transfer->Abandon("The request could not be started");
        throw InternetError("The request could not be started");
    }
    transferInMulti = true;

    // The page is open once its body has begun (or the transfer has ended): name,
    // connection and request failures are the opening's, not the reading's.
    while (transfer->Running() && transfer->Pending() == 0) {
        if (StopRequested()) ThrowStopped();
        Drive();
    }
    if (transfer->Failed() && transfer->Pending() == 0) transfer->ThrowFailure();

    auto page = std::make_unique<PageFile>(this, transfer->FinalUrl());
    file = page.get();
    return page;
}

bool CSearchSession::Impl::ReadLine(std::string& line) {
    CallScope scope(inCall);
    if (StopRequested()) ThrowStopped();
    for (;;) {
        if (transfer->NextLine(line)) return true;
        if (transfer->Done()) {
            // A transfer that broke off leaves a fragment of a line behind at most;
            // it is not handed out as if the page had ended there.
            if (transfer->Failed()) transfer->ThrowFailure();
            return false;
        }
        Drive();
        if (StopRequested()) ThrowStopped();
    }
}

void CSearchSession::Impl::CloseFile() {
    CallScope scope(inCall);
    // A page closed before its end: the rest of the body is not wanted.
    AbortTransfer();
    file = nullptr;
    TransferStatus(nullptr, kHandleClosing, nullptr);
}

CSearchSession::CSearchSession(const std::atomic<bool>* stop, const FetchLimits& limits)
    : m_impl(std::make_unique<Impl>(stop, limits)) {}

CSearchSession::~CSearchSession() = default;

void CSearchSession::SetStatusTarget(IStatusTarget* target) { m_impl->target = target; }

void CSearchSession::EnableStatusCallback(bool enable) { m_impl->statusEnabled = enable; }

std::unique_ptr<IPageFile> CSearchSession::OpenURL(const std::string& url) { return m_impl->Open(url); }

FetchStats CSearchSession::Stats() const { return m_impl->stats; }
