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
#include <string>

#include "crawl/CurlHandles.h"
#include "crawl/FetchLimits.h"
#include "crawl/LineSplitter.h"

// Hears the connection stages (crawl/ConnectionStatus.h) of the transfers it is
// given to. A connection outlives its transfer in the multi handle's pool and
// reports its closing here then: the observer must outlive the multi handle.
class ITransferObserver {
public:
    virtual ~ITransferObserver() = default;
    // Called from within libcurl: must not throw.
    virtual void TransferStatus(int stage, const char* info) noexcept = 0;
};

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

    bool Running() const { return m_state == State::Running; }
    bool Done() const { return m_state == State::Done; }
    bool Failed() const { return m_result != CURLE_OK || !m_failure.empty(); }
    [[noreturn]] void ThrowFailure() const;

    // Body bytes received but not yet taken as lines.
    std::size_t Pending() const { return m_lines.Pending(); }
    // The next whole line; false when none is ready yet (or none is left).
    bool NextLine(std::string& line) { return m_lines.Next(line); }

    // Where the body comes from after redirects; empty while it is the URL that
    // was begun. Final once the body has begun or the transfer has ended.
    std::string FinalUrl() const;

private:
    enum class State { Idle, Running, Done };

    void Fail(std::string reason);
    void Status(int stage, const char* info = nullptr) { m_observer.TransferStatus(stage, info); }
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
