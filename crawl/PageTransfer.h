#pragma once
// One page's transfer on libcurl: an easy handle with everything a page request
// needs (agent, redirects within web pages, certificate checks, compressed bodies,
// the fetch limits, the stop request), the body decoded and joined into the
// page's text as it arrives, the connection's stages as it goes, and the outcome.
//
// The transfer does not drive itself: its owner adds Handle() to a multi handle,
// drives that, and reports the end through PerformAndComplete. Several transfers
// may share one multi handle (and with it the connection pool) and one share
// handle (the cookies and TLS sessions of the search); all of them run on one
// thread. A transfer is out of every multi handle before it is destroyed.
#include <curl/curl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "crawl/CurlHandles.h"
#include "crawl/FetchLimits.h"
#include "crawl/LineSplitter.h"
#include "crawl/TrustStore.h"

class CContentDecoder;
class CPageTransfer;

// Hears what the transfers it is given to do. A connection outlives its transfer
// in the multi handle's pool and reports its closing here then: the observer
// must outlive the multi handle. Every call comes from within libcurl and must not throw.
class ITransferObserver {
public:
    virtual ~ITransferObserver() = default;
    // A connection stage (crawl/ConnectionStatus.h); `transfer` is null for a
    // pooled connection that closes after its transfer.
    virtual void TransferStatus(const CPageTransfer* transfer, int stage, const char* info) noexcept = 0;
    // How many more decoded body bytes `transfer` may take now. None pauses it
    // until Resume(); what it holds back meanwhile is at most a piece of its
    // compressed body.
    virtual std::size_t BodyBudget(const CPageTransfer* /*transfer*/) noexcept { return static_cast<std::size_t>(-1); }
    // `transfer` holds `held` more bytes (decoded body bytes, and what its
    // decoder grew by), and `text` more bytes of its text are whole lines.
    virtual void BodyTaken(const CPageTransfer* /*transfer*/, std::size_t /*held*/, std::size_t /*text*/) noexcept {}
};

// What a transfer leaves behind once it has ended. Holds no connection.
struct PageOutcome {
    std::string text;            // the body's lines joined; when failed, its whole lines before the failure
    long status = 0;             // the HTTP status of the last answer
    bool busy = false;           // the server answered 429 or 503: the page is to be asked for again
    long retryAfterSeconds = 0;  // when busy: how long to wait first
    bool skipped = false;        // never asked for: robots.txt keeps crawlers off it
    std::size_t bodyBytes = 0;   // decoded body bytes taken
    // From the request sent to the answer's first byte, summed over redirects; 0 when none came.
    std::chrono::microseconds answerTime{};
    std::string finalUrl;
    bool failed = false;
    std::string failure;  // the InternetError's text when failed
};

// Runs what is due on `multi`, then takes every transfer it reports ended out of
// it at once (so that its connection returns to the pool), completes it and
// hands it to `ended`. A request that failed only because the server had closed
// its kept connection goes out once more instead. Returns libcurl's word on the
// multi handle itself.
CURLMcode PerformAndComplete(CURLM* multi, int& running, const std::function<void(CPageTransfer&)>& ended);

// Seconds a busy server asks to be left alone, from its Retry-After header as
// written (seconds or an HTTP date; `now` for the latter): at most 60, and 5
// when it says nothing that can be read.
long RetryAfterSeconds(std::string_view value, std::time_t now);

class CPageTransfer {
public:
    // `stop` (may be null) is the search's stop request; `share` (may be null)
    // the share handle whose cookies and TLS sessions the transfer uses;
    // `trust` (null: read from the environment now) the certificates it trusts.
    CPageTransfer(ITransferObserver& observer, const FetchLimits& limits, const std::atomic<bool>* stop = nullptr,
                  CURLSH* share = nullptr, std::shared_ptr<const CTrustStore> trust = nullptr);
    ~CPageTransfer();
    CPageTransfer(const CPageTransfer&) = delete;
    CPageTransfer& operator=(const CPageTransfer&) = delete;

    CURL* Handle() const { return m_easy.get(); }
    // The transfer whose handle a multi handle names in its messages.
    static CPageTransfer* FromHandle(CURL* easy);

    // Readies the handle for `url`, which must be an http or https address; throws
    // InternetError otherwise. The handle must not be in a multi handle.
    void Begin(const std::string& url);
    // The same for a file read as it is rather than as a page's lines (robots.txt):
    // its first `maxBytes` bytes, what lies beyond them left unread, and at most
    // `maxRedirects` redirects followed.
    void BeginFile(const std::string& url, std::size_t maxBytes, long maxRedirects);
    // The multi handle reports the transfer ended with `result`; the handle is out of it.
    void Complete(CURLcode result);
    // A request that failed on a connection kept from an earlier request before
    // any byte of its answer came (the server had closed it: a keep-alive
    // timeout, an HTTP/2 GOAWAY) never reached the page. True when the transfer
    // has been readied to go out again, once, on a new connection.
    bool RetryOnNewConnection(CURLcode result);
    // The transfer is given up before its end (stop, page left early): it fails
    // with `reason`. The handle is out of the multi handle. A transfer already
    // ended keeps its outcome.
    void Abandon(const char* reason);

    // Takes up a transfer that its observer paused: what it held back comes first.
    // A transfer whose body had all come may end here (Done()); one whose held
    // bytes fail to decode fails here (Failed() while Running()): its owner ends it.
    void Resume();
    bool Paused() const { return m_paused; }

    // Whatever the owner wants to find again from the transfer.
    void SetOwner(void* owner) { m_owner = owner; }
    void* Owner() const { return m_owner; }

    bool Running() const { return m_state == State::Running; }
    bool Done() const { return m_state == State::Done; }
    bool Failed() const { return m_result != CURLE_OK || !m_failure.empty(); }
    std::string FailureText() const;
    // The body has begun (the page's own, after any redirects).
    bool BodyBegun() const { return m_bodyBegun; }
    // The page's text so far: its whole lines joined.
    const std::string& Text() const { return m_text; }
    // An ended transfer hands over what it leaves and is ready for the next page.
    PageOutcome TakeOutcome();

    // Where the body comes from after redirects; empty while it is the URL that
    // was begun. Final once the body has begun or the transfer has ended.
    std::string FinalUrl() const;

private:
    enum class State { Idle, Running, Done };

    void Fail(std::string reason);
    // The body has all come: the transfer ends once what it holds is decoded.
    void Finish();
    void Status(int stage, const char* info = nullptr) { m_observer.TransferStatus(this, stage, info); }
    bool StopRequested() const { return m_stop != nullptr && m_stop->load(); }
    // Takes raw body bytes: the whole piece, or none when the transfer must wait.
    // False when the page fails on them.
    enum class Take { All, Wait, Fail };
    Take TakeBody(std::string_view raw);
    void ReserveText();
    // Decodes what the decoder holds, within the budget; false when the page fails.
    bool DrainDecoder();
    // Adds decoded body bytes to the text; false when the page fails on them.
    bool AddDecoded(std::string_view decoded);

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
    std::shared_ptr<const CTrustStore> m_trust;
    CurlEasyPtr m_easy;

    State m_state = State::Idle;
    bool m_paused = false;
    bool m_retried = false;
    bool m_wireDone = false;  // libcurl is done with the transfer
    void* m_owner = nullptr;
    std::string m_wireUrl;  // the URL as sent, to tell a redirect from none
    // The response under way: its header's content codings, and whether its body has begun.
    std::string m_contentEncoding;
    std::string m_retryAfter;  // the answer's Retry-After, as written
    bool m_busy = false;       // the answer is a 429 or 503
    bool m_rawFile = false;    // read as a file, not as a page's lines
    bool m_fileCut = false;    // the file reached its bound
    std::size_t m_fileBytes = 0;
    bool m_headerSeen = false;  // any byte of any answer
    bool m_bodyBegun = false;
    std::unique_ptr<CContentDecoder> m_decoder;
    std::size_t m_decoderBytes = 0;  // the decoder's memory as last reported
    CLineSplitter m_lines;
    std::string m_text;
    std::size_t m_bodyBytes = 0;  // decoded, as the limit counts them
    CURLcode m_result = CURLE_OK;
    std::string m_failure;   // why the transfer failed, when libcurl's word is not the whole story
    std::string m_brokeOff;  // the connection broke off after a compressed body began: why
    std::array<char, CURL_ERROR_SIZE> m_errorText{};

    // Progress of the request under way, for the stages reported.
    bool m_resolving = false;
    bool m_connecting = false;
    bool m_requestSent = false;
};
