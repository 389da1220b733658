#include "crawl/PageTransfer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "crawl/ConnectionStatus.h"
#include "crawl/ContentDecoder.h"
#include "crawl/PageFetcher.h"
#include "crawl/Url.h"
#include "project/AsciiText.h"
#include "ui/ProgramName.h"

namespace {

constexpr long kMaxRedirects = 20;
// The codings the transfer's decoder undoes, offered to servers.
constexpr const char* kAcceptedCodings = "gzip, deflate, br, zstd";
// Decoded output is taken in steps of at most this, so that the budget is looked at often.
constexpr std::size_t kDecodeStep = 64 * 1024;
// libcurl's receive buffer for a transfer. Over HTTP/2, libcurl 7.88 reads up to
// 32 KiB of a connection at once and parks what a stream's buffer cannot take
// until the socket stirs again; when the parked bytes hold the stream's end, the
// transfer waits for an event that never comes, until the server closes the
// connection. A buffer larger than such a read is never left with parked bytes.
constexpr long kReceiveBufferBytes = 64 * 1024;

// How long a busy server asks to be left alone: Retry-After in seconds or as an
// HTTP date, at most this long; this long when it does not say.
constexpr long kMaxRetryAfterSeconds = 60;
constexpr long kDefaultRetryAfterSeconds = 5;

// Failures of a request sent on a kept connection that the server had already closed.
bool FailedOnClosedConnection(CURLcode result) {
    return result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING ||
           result == CURLE_HTTP2 || result == CURLE_HTTP2_STREAM;
}

// Failures of a connection that ended, or broke, while a body came.
bool BrokeOff(CURLcode result) {
    return result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR || result == CURLE_HTTP2 ||
           result == CURLE_HTTP2_STREAM;
}

std::string AddressText(const sockaddr* address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    const void* raw = nullptr;
    if (address->sa_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    else if (address->sa_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (raw == nullptr || inet_ntop(address->sa_family, raw, text.data(), text.size()) == nullptr) return {};
    return text.data();
}

bool IsHttpScheme(const char* scheme) { return std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0; }

// Checks the URL and brings it into the form sent on the wire (see WireForm). A text
// without a scheme is refused rather than guessed at: "mailto:a@b" must not turn
// into a request to host "b".
std::string PrepareUrl(const std::string& url) {
    std::string text;
    try {
        text = WireForm(url);
    } catch (const std::invalid_argument& e) {
        throw InternetError(e.what());
    }

    CURLU* handle = curl_url();
    if (handle == nullptr) throw InternetError("Out of memory");
    std::string result;
    std::string error;
    CURLUcode rc = curl_url_set(handle, CURLUPART_URL, text.c_str(), 0);
    if (rc != CURLUE_OK) {
        error = std::string("The URL is invalid: ") + curl_url_strerror(rc);
    } else {
        char* scheme = nullptr;
        char* full = nullptr;
        if (curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK || !IsHttpScheme(scheme))
            error = std::string("Protocol \"") + (scheme ? scheme : "") + "\" not supported";
        else if (curl_url_get(handle, CURLUPART_URL, &full, 0) != CURLUE_OK)
            error = "The URL is invalid";
        else
            result = full;
        curl_free(scheme);
        curl_free(full);
    }
    curl_url_cleanup(handle);
    if (!error.empty()) throw InternetError(error);
    return result;
}

}  // namespace

long RetryAfterSeconds(std::string_view value, std::time_t now) {
    if (value.empty()) return kDefaultRetryAfterSeconds;
    long seconds = -1;
    if (value.find_first_not_of("0123456789") == std::string_view::npos) {
        seconds = value.size() > 6 ? kMaxRetryAfterSeconds : std::stol(std::string(value));
    } else {
        const std::time_t when = curl_getdate(std::string(value).c_str(), nullptr);
        if (when != -1) seconds = when > now ? static_cast<long>(when - now) : 0;
    }
    if (seconds < 0) return kDefaultRetryAfterSeconds;
    return std::min(seconds, kMaxRetryAfterSeconds);
}

CPageTransfer::CPageTransfer(ITransferObserver& observer, const FetchLimits& limits, const std::atomic<bool>* stop,
                             CURLSH* share, std::shared_ptr<const CTrustStore> trust)
    : m_observer(observer), m_limits(limits), m_stop(stop), m_trust(std::move(trust)) {
    InitCurlOnce();
    m_easy.reset(curl_easy_init());
    if (!m_easy) throw InternetError("The internet library could not be opened");

    CURL* easy = m_easy.get();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK; };
    const std::string agent = ProgramFileName();
    set(CURLOPT_PRIVATE, static_cast<void*>(this));
    set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    // Only web pages: a page must not be able to send the crawl to a local file or
    // another service by a redirect.
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // A page whose server cannot prove who it is fails like one that cannot be reached.
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_trust) m_trust = CTrustStore::FromEnvironment();
    ok = ok && m_trust->ApplyTo(easy);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // The codings the transfer can undo are offered; a body is decoded also when
    // a server sends a coding unasked, since an undecoded body would hide its links.
    // The body is decoded here rather than by libcurl, which goes on decoding
    // into memory while a transfer is paused: a tiny compressed body could then
    // fill it.
    set(CURLOPT_ACCEPT_ENCODING, kAcceptedCodings);
    set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // Cookies live in memory for the search's length (in the share handle, when there is one).
    if (share != nullptr) set(CURLOPT_SHARE, share);
    set(CURLOPT_COOKIEFILE, "");
    // libcurl reads 0 as no bound at all; a bound is never switched off.
    auto atLeastOne = [](long seconds) { return std::max(1L, seconds); };
    set(CURLOPT_CONNECTTIMEOUT, atLeastOne(m_limits.connectTimeoutSeconds));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, atLeastOne(m_limits.stallSeconds));
    set(CURLOPT_TIMEOUT, atLeastOne(m_limits.totalSeconds));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // A stop during a slow name lookup must not wait for the lookup to end.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_ERRORBUFFER, m_errorText.data());

    set(CURLOPT_WRITEFUNCTION, &CPageTransfer::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &CPageTransfer::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &CPageTransfer::OnProgress);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_RESOLVER_START_FUNCTION, &CPageTransfer::OnResolverStart);
    set(CURLOPT_RESOLVER_START_DATA, this);
    set(CURLOPT_OPENSOCKETFUNCTION, &CPageTransfer::OnOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, this);
    // A pooled connection may close after this transfer is gone: it tells the observer.
    set(CURLOPT_CLOSESOCKETFUNCTION, &CPageTransfer::OnCloseSocket);
    set(CURLOPT_CLOSESOCKETDATA, &m_observer);
    set(CURLOPT_PREREQFUNCTION, &CPageTransfer::OnPreRequest);
    set(CURLOPT_PREREQDATA, this);
    // The debug feed is the only word libcurl gives when a request has gone out.
    set(CURLOPT_DEBUGFUNCTION, &CPageTransfer::OnDebug);
    set(CURLOPT_DEBUGDATA, this);
    set(CURLOPT_VERBOSE, 1L);
    if (!ok) throw InternetError("The internet library could not be set up");
}

CPageTransfer::~CPageTransfer() = default;

CURLMcode PerformAndComplete(CURLM* multi, int& running, const std::function<void(CPageTransfer&)>& ended) {
    const CURLMcode mc = curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CPageTransfer* done = CPageTransfer::FromHandle(msg->easy_handle);
        const CURLcode result = msg->data.result;
        curl_multi_remove_handle(multi, msg->easy_handle);
        if (done == nullptr) continue;
        if (done->RetryOnNewConnection(result) && curl_multi_add_handle(multi, done->Handle()) == CURLM_OK) {
            ++running;
            continue;
        }
        done->Complete(result);
        // A body whose decoding waits for memory ends when its owner resumes it.
        if (done->Done()) ended(*done);
    }
    return mc;
}

CPageTransfer* CPageTransfer::FromHandle(CURL* easy) {
    char* self = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_PRIVATE, &self) != CURLE_OK) return nullptr;
    return reinterpret_cast<CPageTransfer*>(self);
}

void CPageTransfer::Begin(const std::string& url) {
    const std::string wireUrl = PrepareUrl(url);
    if (curl_easy_setopt(m_easy.get(), CURLOPT_URL, wireUrl.c_str()) != CURLE_OK ||
        curl_easy_setopt(m_easy.get(), CURLOPT_FRESH_CONNECT, 0L) != CURLE_OK ||
        curl_easy_setopt(m_easy.get(), CURLOPT_MAXREDIRS, kMaxRedirects) != CURLE_OK)
        throw InternetError("The URL is invalid");
    m_wireUrl = wireUrl;
    m_contentEncoding.clear();
    m_retryAfter.clear();
    m_busy = false;
    m_rawFile = false;
    m_fileCut = false;
    m_headerSeen = false;
    m_bodyBegun = false;
    m_decoder.reset();
    m_decoderBytes = 0;
    m_lines = CLineSplitter();
    m_text.clear();
    m_bodyBytes = 0;
    m_result = CURLE_OK;
    m_failure.clear();
    m_brokeOff.clear();
    m_errorText[0] = '\0';
    m_resolving = m_connecting = m_requestSent = false;
    m_paused = false;
    m_retried = false;
    m_wireDone = false;
    m_state = State::Running;
    Status(kHandleCreated);
}

void CPageTransfer::BeginFile(const std::string& url, std::size_t maxBytes, long maxRedirects) {
    Begin(url);
    m_rawFile = true;
    m_fileBytes = std::min(maxBytes, m_limits.maxBodyBytes);
    curl_easy_setopt(m_easy.get(), CURLOPT_MAXREDIRS, maxRedirects);
}

bool CPageTransfer::RetryOnNewConnection(CURLcode result) {
    if (m_state != State::Running || m_retried || m_headerSeen || !FailedOnClosedConnection(result)) return false;
    long connects = -1;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_NUM_CONNECTS, &connects) != CURLE_OK || connects != 0) return false;
    if (curl_easy_setopt(m_easy.get(), CURLOPT_FRESH_CONNECT, 1L) != CURLE_OK) return false;
    m_retried = true;
    m_resolving = m_connecting = m_requestSent = false;
    m_errorText[0] = '\0';
    return true;
}

void CPageTransfer::Complete(CURLcode result) {
    if (m_state != State::Running) return;
    m_result = m_fileCut ? CURLE_OK : result;
    // A connection may break off after the last byte of the page: HTTP/2 servers
    // close it after a GOAWAY, and libcurl can read that close before the
    // stream's end. A body whose own framing says it is whole is the page.
    if (m_result != CURLE_OK && m_bodyBegun && !m_busy && BrokeOff(result)) {
        curl_off_t length = -1;
        if (m_decoder) {
            // Only the compressed stream can tell, once it is all decoded.
            m_brokeOff = FailureText();
            m_result = CURLE_OK;
        } else if (curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
                   length > 0 && static_cast<curl_off_t>(m_bodyBytes) == length) {
            m_result = CURLE_OK;
        }
    }
    m_wireDone = true;
    Finish();
}

void CPageTransfer::Finish() {
    if (!Failed() && m_decoder && m_decoder->Pending()) {
        // The body is all here, but what it decodes to waits for memory.
        if (DrainDecoder() && m_decoder->Pending()) {
            m_paused = true;
            return;
        }
    }
    m_state = State::Done;
    m_paused = false;
    if (Failed()) return;
    if (m_decoder && !m_decoder->Finish()) {
        Fail(m_brokeOff.empty() ? m_decoder->Error() : m_brokeOff);
        return;
    }
    if (!m_rawFile) {
        const std::size_t added = m_lines.JoinRest(m_text);
        if (added != 0) m_observer.BodyTaken(this, 0, added);
    }
    Status(kRequestComplete);
}

void CPageTransfer::Abandon(const char* reason) {
    if (m_state == State::Running) {
        m_state = State::Done;
        Fail(reason);
    }
}

void CPageTransfer::Fail(std::string reason) {
    // The decoder may be the caller: it goes with the outcome, not here.
    if (m_failure.empty()) m_failure = std::move(reason);
}

std::string CPageTransfer::FailureText() const {
    if (!m_failure.empty()) return m_failure;
    std::string message = curl_easy_strerror(m_result);
    if (m_errorText[0] != '\0') message += std::string(" (") + m_errorText.data() + ")";
    return message;
}

PageOutcome CPageTransfer::TakeOutcome() {
    PageOutcome outcome;
    outcome.finalUrl = FinalUrl();
    curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &outcome.status);
    outcome.busy = m_busy && !Failed();
    if (outcome.busy) outcome.retryAfterSeconds = RetryAfterSeconds(m_retryAfter, std::time(nullptr));
    outcome.failed = Failed();
    if (outcome.failed) outcome.failure = FailureText();
    outcome.text = std::move(m_text);
    outcome.bodyBytes = m_bodyBytes;
    curl_off_t sent = 0;
    curl_off_t firstByte = 0;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_PRETRANSFER_TIME_T, &sent) == CURLE_OK &&
        curl_easy_getinfo(m_easy.get(), CURLINFO_STARTTRANSFER_TIME_T, &firstByte) == CURLE_OK && firstByte > sent)
        outcome.answerTime = std::chrono::microseconds(firstByte - sent);
    m_text = std::string();
    m_lines = CLineSplitter();
    m_decoder.reset();
    m_state = State::Idle;
    return outcome;
}

std::string CPageTransfer::FinalUrl() const {
    char* effective = nullptr;
    if (m_state == State::Idle || curl_easy_getinfo(m_easy.get(), CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK ||
        effective == nullptr || m_wireUrl == effective)
        return {};
    return effective;
}

bool CPageTransfer::AddDecoded(std::string_view decoded) {
    if (m_rawFile) {
        // A file is kept as it comes, up to its bound; what lies beyond is not read.
        const std::size_t room = m_fileBytes - std::min(m_fileBytes, m_text.size());
        m_text.append(decoded.substr(0, room));
        m_bodyBytes += std::min(room, decoded.size());
        if (decoded.size() <= room) return true;
        m_fileCut = true;
        return false;
    }
    bool fits = true;
    if (decoded.size() > m_limits.maxBodyBytes - m_bodyBytes) {
        // The bytes up to the limit are read like any others: what is counted of
        // such a page does not depend on how the body was cut into pieces.
        decoded = decoded.substr(0, m_limits.maxBodyBytes - m_bodyBytes);
        fits = false;
    }
    m_bodyBytes += decoded.size();
    const std::size_t added = m_lines.Join(decoded, m_text);
    // A decoder's windows count like the body they make: a compressed page
    // fetched ahead may declare megabytes of them.
    std::size_t grown = 0;
    if (m_decoder) {
        const std::size_t now = m_decoder->MemoryUse();
        if (now > m_decoderBytes) grown = now - m_decoderBytes;
        m_decoderBytes = std::max(now, m_decoderBytes);
    }
    m_observer.BodyTaken(this, decoded.size() + grown, added);
    if (!fits) Fail("The page is larger than " + std::to_string(m_limits.maxBodyBytes) + " bytes");
    return fits;
}

bool CPageTransfer::DrainDecoder() {
    while (m_decoder->Pending() && !Failed()) {
        const std::size_t budget = m_observer.BodyBudget(this);
        if (budget == 0) return true;
        bool ok = true;
        const std::size_t step = std::min(budget, kDecodeStep);
        const std::size_t produced = m_decoder->Decode(step, [&](std::string_view piece) {
            if (ok) ok = AddDecoded(piece);
        });
        if (!ok) return false;
        if (m_decoder->Failed()) {
            Fail(m_decoder->Error());
            return false;
        }
        if (produced < step) break;  // all that it holds is decoded
    }
    return !Failed();
}

void CPageTransfer::ReserveText() {
    // A page of known length is read into one buffer, instead of one that grows
    // and is copied again and again; the length is the server's word, so the
    // page limit bounds it.
    curl_off_t length = -1;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length <= 0) return;
    m_text.reserve(std::min(static_cast<std::size_t>(length), m_limits.maxBodyBytes));
}

CPageTransfer::Take CPageTransfer::TakeBody(std::string_view raw) {
    if (Failed()) return Take::Fail;
    // A busy server's answer is not the page: it is asked for again later.
    if (m_busy) return Take::All;
    if (!m_bodyBegun) {
        m_bodyBegun = true;
        auto decoder = std::make_unique<CContentDecoder>(m_contentEncoding);
        if (decoder->Failed()) {
            Fail("The page's content coding cannot be undone: " + decoder->Error());
            return Take::Fail;
        }
        if (!decoder->Identity()) m_decoder = std::move(decoder);
    }
    if (!m_decoder) {
        if (m_text.empty()) ReserveText();
        if (m_observer.BodyBudget(this) < raw.size()) return Take::Wait;
        return AddDecoded(raw) ? Take::All : Take::Fail;
    }
    // Compressed: the piece is taken when nothing of the last one waits; what it
    // decodes to beyond the budget waits in the decoder, as compressed bytes.
    if (m_decoder->Pending()) return Take::Wait;
    m_decoder->Feed(raw);
    return DrainDecoder() ? Take::All : Take::Fail;
}

size_t CPageTransfer::OnBody(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    const size_t bytes = size * count;
    switch (self->TakeBody(std::string_view(data, bytes))) {
        case Take::All:
            if (self->m_decoder && self->m_decoder->Pending()) self->m_paused = true;
            return bytes;
        case Take::Wait:
            // libcurl keeps these bytes and hands them over again once resumed.
            self->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        case Take::Fail: break;
    }
    return CURL_WRITEFUNC_ERROR;
}

void CPageTransfer::Resume() {
    if (!m_paused || m_state != State::Running) return;
    if (m_wireDone) {
        Finish();
        return;
    }
    if (m_decoder && m_decoder->Pending() && (!DrainDecoder() || m_decoder->Pending())) return;
    m_paused = false;
    curl_easy_pause(m_easy.get(), CURLPAUSE_CONT);
}

size_t CPageTransfer::OnHeader(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    const std::string_view header(data, size * count);
    self->m_headerSeen = true;
    // The blank line ends a response's header block (a redirect's as well as the page's).
    if (header == "\r\n" || header == "\n") {
        self->Status(kResponseReceived);
        // The status of the answer whose header ends here: a busy server's body is no page.
        long status = 0;
        curl_easy_getinfo(self->m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
        self->m_busy = status == 429 || status == 503;
    } else if (header.starts_with("HTTP/")) {
        self->m_contentEncoding.clear();
        self->m_retryAfter.clear();
    } else if (constexpr std::string_view name = "content-encoding:";
               header.size() > name.size() && EqualsNoCase(header.substr(0, name.size()), name)) {
        // Several header lines list their codings in turn.
        if (!self->m_contentEncoding.empty()) self->m_contentEncoding += ',';
        self->m_contentEncoding += Trim(header.substr(name.size()));
    } else if (constexpr std::string_view retry = "retry-after:";
               header.size() > retry.size() && EqualsNoCase(header.substr(0, retry.size()), retry)) {
        self->m_retryAfter = Trim(header.substr(retry.size()));
    }
    return size * count;
}

int CPageTransfer::OnProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CPageTransfer*>(userdata)->StopRequested() ? 1 : 0;
}

int CPageTransfer::OnResolverStart(void*, void*, void* userdata) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    // The URL under way (after a redirect, the new one) names the host.
    std::string host;
    char* current = nullptr;
    if (curl_easy_getinfo(self->m_easy.get(), CURLINFO_EFFECTIVE_URL, &current) == CURLE_OK && current != nullptr) {
        if (CURLU* handle = curl_url()) {
            char* part = nullptr;
            if (curl_url_set(handle, CURLUPART_URL, current, 0) == CURLUE_OK &&
                curl_url_get(handle, CURLUPART_HOST, &part, 0) == CURLUE_OK)
                host = part;
            curl_free(part);
            curl_url_cleanup(handle);
        }
    }
    self->m_resolving = true;
    self->Status(kResolvingName, host.c_str());
    return 0;
}

curl_socket_t CPageTransfer::OnOpenSocket(void* userdata, curlsocktype, curl_sockaddr* address) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    const std::string text = AddressText(&address->addr);
    // libcurl has no word for the end of a lookup; the first address it tries is its result.
    if (self->m_resolving) {
        self->m_resolving = false;
        self->Status(kNameResolved, text.c_str());
    }
    self->m_connecting = true;
    self->Status(kConnectingToServer, text.c_str());
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int CPageTransfer::OnCloseSocket(void* observer, curl_socket_t socket) {
    auto* to = static_cast<ITransferObserver*>(observer);
    to->TransferStatus(nullptr, kClosingConnection, nullptr);
    const int rc = close(socket);
    to->TransferStatus(nullptr, kConnectionClosed, nullptr);
    return rc;
}

int CPageTransfer::OnPreRequest(void* userdata, char* primaryIp, char*, int, int) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    // A connection kept from an earlier request is not announced again.
    if (self->m_connecting) {
        self->m_connecting = false;
        self->Status(kConnectedToServer, primaryIp);
    }
    self->m_requestSent = false;
    self->Status(kSendingRequest);
    return CURL_PREREQFUNC_OK;
}

int CPageTransfer::OnDebug(CURL*, curl_infotype type, char*, size_t, void* userdata) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    // A request's header may go out in several pieces; it is sent once.
    if (type == CURLINFO_HEADER_OUT && !self->m_requestSent) {
        self->m_requestSent = true;
        self->Status(kRequestSent);
        self->Status(kReceivingResponse);
    }
    return 0;
}
