#include "crawl/PageTransfer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "crawl/ConnectionStatus.h"
#include "crawl/PageFetcher.h"
#include "ui/ProgramName.h"

namespace {

constexpr long kMaxRedirects = 20;

std::string AddressText(const sockaddr* address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    const void* raw = nullptr;
    if (address->sa_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    else if (address->sa_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (raw == nullptr || inet_ntop(address->sa_family, raw, text.data(), text.size()) == nullptr)
        return {};
    return text.data();
}

bool IsHttpScheme(const char* scheme) {
    return std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
}

// Checks the URL and brings it into the form sent on the wire. Page links carry
// blanks and non-ASCII bytes now and then; they are sent percent-encoded. A text
// without a scheme is refused rather than guessed at: "mailto:a@b" must not turn
// into a request to host "b".
std::string PrepareUrl(const std::string& url) {
    std::string text;
    text.reserve(url.size());
    for (char c : url) {
        if (c == ' ')
            text += "%20";
        else
            text += c;
    }

    CURLU* handle = curl_url();
    if (handle == nullptr) throw InternetError("Out of memory");
    std::string result;
    std::string error;
    CURLUcode rc = curl_url_set(handle, CURLUPART_URL, text.c_str(), CURLU_URLENCODE);
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

// The certificates that the bundles named in the environment hold, CURL_CA_BUNDLE
// (as curl reads it) and SSL_CERT_FILE (as OpenSSL does) together: desktops and
// build machines often set one of them to the system's store, and a certificate
// trusted through the other must not fail for it. Unset: the system's store.
struct CaBundle {
    bool named = false;       // the environment names a bundle
    std::string certificates;  // what the named bundles that could be read hold
};

CaBundle CaBundleFromEnvironment() {
    CaBundle bundle;
    std::vector<std::string> read;
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        bundle.named = true;
        if (std::find(read.begin(), read.end(), value) != read.end()) continue;
        read.emplace_back(value);
        std::ifstream file(value, std::ios::binary);
        bundle.certificates.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        bundle.certificates += '\n';
    }
    return bundle;
}

}  // namespace

CPageTransfer::CPageTransfer(ITransferObserver& observer, const FetchLimits& limits,
                             const std::atomic<bool>* stop, CURLSH* share)
    : m_observer(observer), m_limits(limits), m_stop(stop) {
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
    const CaBundle caBundle = CaBundleFromEnvironment();
    if (caBundle.named) {
        // A named bundle that holds nothing trusts nothing: https fails rather
        // than silently falling back to another store.
        curl_blob blob{const_cast<char*>(caBundle.certificates.data()), caBundle.certificates.size(),
                       CURL_BLOB_COPY};
        set(CURLOPT_CAINFO_BLOB, &blob);
    }
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Every encoding libcurl knows is offered, and so every encoding it knows is
    // decoded, also when a server sends one unasked: an undecoded body would hide its links.
    set(CURLOPT_ACCEPT_ENCODING, "");
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

CURLMcode PerformAndComplete(CURLM* multi, int& running, const std::function<void(CPageTransfer&)>& ended) {
    const CURLMcode mc = curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CPageTransfer* done = CPageTransfer::FromHandle(msg->easy_handle);
        const CURLcode result = msg->data.result;
        curl_multi_remove_handle(multi, msg->easy_handle);
        if (done == nullptr) continue;
        done->Complete(result);
        ended(*done);
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
    if (curl_easy_setopt(m_easy.get(), CURLOPT_URL, wireUrl.c_str()) != CURLE_OK)
        throw InternetError("The URL is invalid");
    m_wireUrl = wireUrl;
    m_lines = CLineSplitter();
    m_bodyBytes = 0;
    m_result = CURLE_OK;
    m_failure.clear();
    m_errorText[0] = '\0';
    m_resolving = m_connecting = m_requestSent = false;
    m_paused = false;
    m_state = State::Running;
    Status(kHandleCreated);
}

void CPageTransfer::Complete(CURLcode result) {
    if (m_state != State::Running) return;
    m_state = State::Done;
    m_result = result;
    if (!Failed()) {
        m_lines.Finish();
        Status(kRequestComplete);
    }
}

void CPageTransfer::Abandon(const char* reason) {
    if (m_state == State::Running) {
        m_state = State::Done;
        // What was buffered of a page ended early must not later pass for the whole page.
        Fail(reason);
    }
    m_lines = CLineSplitter();
}

void CPageTransfer::Fail(std::string reason) {
    if (m_failure.empty()) m_failure = std::move(reason);
    // Nothing of a failed page is read any more: its buffer goes at once.
    m_lines = CLineSplitter();
}

std::string CPageTransfer::FailureText() const {
    if (!m_failure.empty()) return m_failure;
    std::string message = curl_easy_strerror(m_result);
    if (m_errorText[0] != '\0') message += std::string(" (") + m_errorText.data() + ")";
    return message;
}

void CPageTransfer::ThrowFailure() const { throw InternetError(FailureText()); }

PageOutcome CPageTransfer::TakeOutcome() {
    PageOutcome outcome;
    outcome.finalUrl = FinalUrl();
    outcome.failed = Failed();
    if (outcome.failed) outcome.failure = FailureText();
    outcome.lines = std::move(m_lines);
    m_lines = CLineSplitter();
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

size_t CPageTransfer::OnBody(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    const size_t bytes = size * count;
    if (bytes > self->m_limits.maxBodyBytes - self->m_bodyBytes) {
        self->Fail("The page is larger than " + std::to_string(self->m_limits.maxBodyBytes) + " bytes");
        return CURL_WRITEFUNC_ERROR;
    }
    if (!self->m_observer.AcceptBody(self, bytes)) {
        // libcurl keeps these bytes and hands them over again once resumed.
        self->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    self->m_bodyBytes += bytes;
    self->m_lines.Feed(std::string_view(data, bytes));
    return bytes;
}

void CPageTransfer::Resume() {
    if (!m_paused) return;
    m_paused = false;
    curl_easy_pause(m_easy.get(), CURLPAUSE_CONT);
}

std::string CPageTransfer::JoinedLines() const {
    CLineSplitter lines = m_lines;
    std::string text;
    text.reserve(lines.Pending());
    for (std::string line; lines.Next(line);) text += line;
    return text;
}

size_t CPageTransfer::OnHeader(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<CPageTransfer*>(userdata);
    const std::string_view header(data, size * count);
    // The blank line ends a response's header block (a redirect's as well as the page's).
    if (header == "\r\n" || header == "\n") self->Status(kResponseReceived);
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
