#pragma once
// One page's transfer on libcurl: an easy handle with everything a page request
// needs (agent, redirects within web pages, certificate checks, compressed bodies,
// the fetch limits, the stop request), the body cut into lines as it arrives, the
// connection's stages as it goes, and the outcome.
//
// The transfer does not drive itself: its owner adds Handle() to a multi handle,
// drives that, and reports the end with Complete(). Several transfers may share
// one multi handle (and with it the connection pool) and one share handle (the
// cookies and TLS sessions of the search); all of them run on one thread. A
// transfer is out of every multi handle before it is destroyed.
#include <curl/curl.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include "crawl/CurlHandles.h"
#include "crawl/FetchLimits.h"
#include "crawl/LineSplitter.h"

// Hears the connection stages (crawl/ConnectionStatus.h) of the transfers it is
// given to. A connection outlives its transfer in the multi handle's pool and
// reports its closing here then: the observer must outlive the multi handle.
class CPageTransfer;

class ITransferObserver {
public:
    virtual ~ITransferObserver() = default;
    // Called from within libcurl: must not throw. `transfer` is null for a pooled
    // connection that closes after its transfer.
    virtual void TransferStatus(const CPageTransfer* transfer, int stage, const char* info) noexcept = 0;
    // More body bytes have come for `transfer`; false pauses it until Resume().
    virtual bool AcceptBody(const CPageTransfer* /*transfer*/, std::size_t /*bytes*/) noexcept { return true; }
};

// What a transfer leaves behind once it has ended: the body not yet taken as
// lines, where it came from, and how it ended. Holds no connection.
struct PageOutcome {
    CLineSplitter lines;
    std::string finalUrl;
    bool failed = false;
    std::string failure;  // the InternetError's text when failed
};

class CPageTransfer;

// Runs what is due on `multi`, then takes every transfer it reports ended out of
// it at once (so that its connection returns to the pool), completes it and
// hands it to `ended`. Returns libcurl's word on the multi handle itself.
CURLMcode PerformAndComplete(CURLM* multi, int& running, const std::function<void(CPageTransfer&)>& ended);

class CPageTransfer {
public:
    // `stop` (may be null) is the search's stop request; `share` (may be null)
    // the share handle whose cookies and TLS sessions the transfer uses.
    CPageTransfer(ITransferObserver& observer, const FetchLimits& limits,
                  const std::atomic<bool>* stop = nullptr, CURLSH* share = nullptr);
    CPageTransfer(const CPageTransfer&) = delete;
    CPageTransfer& operator=(const CPageTransfer&) = delete;

    CURL* Handle() const { return m_easy.get(); }
    // The transfer whose handle a multi handle names in its messages.
    static CPageTransfer* FromHandle(CURL* easy);

    // Readies the handle for `url`, which must be an http or https address; throws
    // InternetError otherwise. The handle must not be in a multi handle.
    void Begin(const std::string& url);
    // The multi handle reports the transfer ended with `result`; the handle is out of it.
    void Complete(CURLcode result);
    // The transfer is given up before its end (stop, page left early): it fails
    // with `reason`, and what it had buffered is dropped. The handle is out of the
    // multi handle. A transfer already ended keeps its outcome.
    void Abandon(const char* reason);

    // Takes up a transfer that its observer paused; what libcurl held back comes now.
    void Resume();
    bool Paused() const { return m_paused; }

    // Whatever the owner wants to find again from the transfer.
    void SetOwner(void* owner) { m_owner = owner; }
    void* Owner() const { return m_owner; }

    bool Running() const { return m_state == State::Running; }
    bool Done() const { return m_state == State::Done; }
    bool Failed() const { return m_result != CURLE_OK || !m_failure.empty(); }
    [[noreturn]] void ThrowFailure() const;
    std::string FailureText() const;

    // Body bytes received but not yet taken as lines.
    std::size_t Pending() const { return m_lines.Pending(); }
    // The next whole line; false when none is ready yet (or none is left).
    bool NextLine(std::string& line) { return m_lines.Next(line); }
    // The lines not yet taken, joined as the worker joins a page's lines.
    std::string JoinedLines() const;
    // An ended transfer hands over what it leaves and is ready for the next page.
    PageOutcome TakeOutcome();

    // Where the body comes from after redirects; empty while it is the URL that
    // was begun. Final once the body has begun or the transfer has ended.
    std::string FinalUrl() const;

private:
    enum class State { Idle, Running, Done };

    void Fail(std::string reason);
    void Status(int stage, const char* info = nullptr) { m_observer.TransferStatus(this, stage, info); }
    bool StopRequested() const { return m_stop != nullptr && m_stop->load(); }

    // libcurl's callbacks; `userdata` is the transfer (the observer for closing sockets).
    static size_t OnBody(char* data, size_t size, size_t count, void* userdata);
    static size_t OnHeader(char* data, size_t size, size_t count, void* userdata);
    static int OnProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int OnResolverStart(void* resolverState, void* reserved, void* userdata);
    static curl_socket_t OnOpenSocket(void* userdata, curlsocktype purpose, curl_sockaddr* address);
    static int OnCloseSocket(void* observer, curl_socket_t socket);
    static int OnPreRequest(void* userdata, char* primaryIp, char* localIp, int primaryPort, int localPort);
    static int OnDebug(CURL* handle, curl_infotype type, char* data, size_t size, void* userdata);

    ITransferObserver& m_observer;
    const FetchLimits m_limits;
    const std::atomic<bool>* m_stop;
    CurlEasyPtr m_easy;

    State m_state = State::Idle;
    bool m_paused = false;
    void* m_owner = nullptr;
    std::string m_wireUrl;  // the URL as sent, to tell a redirect from none
    CLineSplitter m_lines;
    std::size_t m_bodyBytes = 0;  // decoded, as the limit counts them
    CURLcode m_result = CURLE_OK;
    std::string m_failure;  // why the transfer failed, when libcurl's word is not the whole story
    std::array<char, CURL_ERROR_SIZE> m_errorText{};

    // Progress of the request under way, for the stages reported.
    bool m_resolving = false;
    bool m_connecting = false;
    bool m_requestSent = false;
};
