#include "crawl/SearchSession.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "crawl/LineSplitter.h"
#include "ui/ProgramName.h"

namespace {

// The connection's progress stages, numbered as the status line has always known them.
enum StatusCode {
    kResolvingName = 10,
    kNameResolved = 11,
    kConnectingToServer = 20,
    kConnectedToServer = 21,
    kSendingRequest = 30,
    kRequestSent = 31,
    kReceivingResponse = 40,
    kResponseReceived = 41,
    kClosingConnection = 50,
    kConnectionClosed = 51,
    kHandleCreated = 60,
    kHandleClosing = 70,
    kRequestComplete = 100,
};

// How long one wait for the network may last before the stop request is looked at again.
constexpr int kPollMilliseconds = 100;
constexpr long kConnectTimeoutSeconds = 60;
// A page from which no byte has come for this long fails like a broken connection.
constexpr long kStallSeconds = 60;
constexpr long kMaxRedirects = 20;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

}  // namespace

std::string CSearchSession::StatusText(int code, const char* info) {
    const char* text = "NOOP";
    bool withInfo = false;
    switch (code) {
        case kResolvingName: text = "Resolving DNS enty for "; withInfo = true; break;
        case kNameResolved: text = "DNS: "; withInfo = true; break;
        case kConnectingToServer: text = "Connecting to"; withInfo = true; break;
        case kConnectedToServer: text = "Connected to"; withInfo = true; break;
        case kSendingRequest: text = "Sending request"; break;
        case kRequestSent: text = "Request send"; break;
        case kReceivingResponse: text = "Waiting for reply"; break;
        case kResponseReceived: text = "Response received"; break;
        case kClosingConnection: text = "Closing connection"; break;
        case kConnectionClosed: text = "Connection closed"; break;
        case kHandleCreated: text = "Handle created"; break;
        case kHandleClosing: text = "Handle closed"; break;
        case kRequestComplete: text = "Request complete"; break;
        default: break;
    }
    std::string result = text;
    if (withInfo && info != nullptr) result += info;
    return result;
}

struct CSearchSession::Impl {
    class PageFile;

    explicit Impl(const std::atomic<bool>* stopFlag);
    ~Impl();

    bool StopRequested() const { return stop != nullptr && stop->load(); }
    void Status(int code, const char* info = nullptr);
    void Status(int code, const std::string& info) { Status(code, info.c_str()); }

    std::unique_ptr<IPageFile> Open(const std::string& url);
    bool ReadLine(std::string& line);
    void CloseFile();
    // Ends the transfer in progress, if any; its connection cannot be reused.
    void AbortTransfer();
    // One round of network work: runs what is due, then waits a little for the sockets.
    void Drive();
    [[noreturn]] void ThrowTransferError() const;
    [[noreturn]] void ThrowStopped();

    // libcurl's callbacks; `userdata` is the Impl.
    static size_t OnBody(char* data, size_t size, size_t count, void* userdata);
    static size_t OnHeader(char* data, size_t size, size_t count, void* userdata);
    static int OnProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int OnResolverStart(void* resolverState, void* reserved, void* userdata);
    static curl_socket_t OnOpenSocket(void* userdata, curlsocktype purpose, curl_sockaddr* address);
    static int OnCloseSocket(void* userdata, curl_socket_t socket);
    static int OnPreRequest(void* userdata, char* primaryIp, char* localIp, int primaryPort, int localPort);
    static int OnDebug(CURL* handle, curl_infotype type, char* data, size_t size, void* userdata);

    const std::atomic<bool>* stop;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::atomic<IStatusTarget*> target{nullptr};
    std::atomic<bool> statusEnabled{false};
    // Status texts go out only while the caller is inside OpenURL, ReadString or
    // Close: that is the worker's thread. Connections closed when the session ends
    // (on whichever thread ends it) stay silent.
    bool inCall = false;

    // The page being read.
    PageFile* file = nullptr;
    CLineSplitter splitter;
    bool transferActive = false;  // the easy handle is in the multi handle
    bool transferDone = false;
    CURLcode transferResult = CURLE_OK;
    std::array<char, CURL_ERROR_SIZE> errorText{};

    // Progress of the request under way, for the status texts.
    bool resolving = false;
    bool connecting = false;
    bool requestSent = false;
};

// The page handed to the worker. It reads through its session; once the session
// has moved on to another page or has ended, the page is cut off from it.
class CSearchSession::Impl::PageFile : public IPageFile {
public:
    explicit PageFile(Impl* session) : m_session(session) {}
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

    void Detach() { m_session = nullptr; }

private:
    Impl* m_session;
    bool m_closed = false;
};

namespace {

// Marks the span of a call from the worker, during which status texts may go out.
class CallScope {
public:
    explicit CallScope(bool& flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~CallScope() { m_flag = m_old; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    bool& m_flag;
    bool m_old;
};

}  // namespace

CSearchSession::Impl::Impl(const std::atomic<bool>* stopFlag) : stop(stopFlag) {
    InitCurlOnce();
    easy = curl_easy_init();
    multi = curl_multi_init();
    if (easy == nullptr || multi == nullptr) {
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) curl_multi_cleanup(multi);
        throw InternetError("The internet library could not be opened");
    }

    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK; };
    const std::string agent = ProgramFileName();
    set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    // Only web pages: a page must not be able to send the crawl to a local file or
    // another service by a redirect.
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Cookies live in memory for the search's length.
    set(CURLOPT_COOKIEFILE, "");
    set(CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    set(CURLOPT_NOSIGNAL, 1L);
    // A stop during a slow name lookup must not wait for the lookup to end.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_ERRORBUFFER, errorText.data());

    set(CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_RESOLVER_START_FUNCTION, &Impl::OnResolverStart);
    set(CURLOPT_RESOLVER_START_DATA, this);
    set(CURLOPT_OPENSOCKETFUNCTION, &Impl::OnOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, this);
    set(CURLOPT_CLOSESOCKETFUNCTION, &Impl::OnCloseSocket);
    set(CURLOPT_CLOSESOCKETDATA, this);
    set(CURLOPT_PREREQFUNCTION, &Impl::OnPreRequest);
    set(CURLOPT_PREREQDATA, this);
    // The debug feed is the only word libcurl gives when a request has gone out.
    set(CURLOPT_DEBUGFUNCTION, &Impl::OnDebug);
    set(CURLOPT_DEBUGDATA, this);
    set(CURLOPT_VERBOSE, 1L);
    if (!ok) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        throw InternetError("The internet library could not be set up");
    }
}

CSearchSession::Impl::~Impl() {
    if (file != nullptr) file->Detach();
    file = nullptr;
    if (transferActive) curl_multi_remove_handle(multi, easy);
    // The easy handle goes first: it still refers to the multi handle's connections.
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
}

void CSearchSession::Impl::Status(int code, const char* info) {
    if (!inCall || !statusEnabled.load()) return;
    IStatusTarget* to = target.load();
    if (to == nullptr) return;
    // This runs inside libcurl's callbacks, which no exception may cross; a status
    // line that cannot be shown is no reason to fail a page.
    try {
        to->SetStatusText(CSearchSession::StatusText(code, info));
    } catch (...) {
    }
}

void CSearchSession::Impl::ThrowStopped() {
    AbortTransfer();
    throw InternetError("The search was stopped");
}

void CSearchSession::Impl::ThrowTransferError() const {
    std::string message = curl_easy_strerror(transferResult);
    if (errorText[0] != '\0') message += std::string(" (") + errorText.data() + ")";
    throw InternetError(message);
}

void CSearchSession::Impl::AbortTransfer() {
    if (transferActive) {
        curl_multi_remove_handle(multi, easy);
        transferActive = false;
        // What was buffered of a page ended early must not later pass for the whole page.
        if (!transferDone) {
            transferResult = CURLE_ABORTED_BY_CALLBACK;
            std::snprintf(errorText.data(), errorText.size(), "%s", "The transfer was ended before the page was read");
        }
    }
    transferDone = true;
}

void CSearchSession::Impl::Drive() {
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
            transferResult = msg->data.result;
            transferDone = true;
        }
    }
    if (mc != CURLM_OK && !transferDone) {
        transferResult = CURLE_RECV_ERROR;
        std::snprintf(errorText.data(), errorText.size(), "%s", curl_multi_strerror(mc));
        transferDone = true;
    }
    if (transferDone) {
        // Out of the multi handle at once: the connection returns to the pool for the next page.
        if (transferActive) curl_multi_remove_handle(multi, easy);
        transferActive = false;
        if (transferResult == CURLE_OK) {
            splitter.Finish();
            Status(kRequestComplete);
        }
        return;
    }
    curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
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

    const std::string wireUrl = PrepareUrl(url);
    splitter = CLineSplitter();
    transferDone = false;
    transferResult = CURLE_OK;
    errorText[0] = '\0';
    resolving = connecting = requestSent = false;
    if (curl_easy_setopt(easy, CURLOPT_URL, wireUrl.c_str()) != CURLE_OK)
        throw InternetError("The URL is invalid");

    Status(kHandleCreated);
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) throw InternetError("The request could not be started");
    transferActive = true;

    // The page is open once its body has begun (or the transfer has ended): name,
    // connection and request failures are the opening's, not the reading's.
    while (!transferDone && splitter.Pending() == 0) {
        if (StopRequested()) ThrowStopped();
        Drive();
    }
    if (transferDone && transferResult != CURLE_OK && splitter.Pending() == 0) ThrowTransferError();

    auto page = std::make_unique<PageFile>(this);
    file = page.get();
    return page;
}

bool CSearchSession::Impl::ReadLine(std::string& line) {
    CallScope scope(inCall);
    if (StopRequested()) ThrowStopped();
    for (;;) {
        if (splitter.Next(line)) return true;
        if (transferDone) {
            // A transfer that broke off leaves a fragment of a line behind at most;
            // it is not handed out as if the page had ended there.
            if (transferResult != CURLE_OK) ThrowTransferError();
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
    splitter = CLineSplitter();
    Status(kHandleClosing);
}

size_t CSearchSession::Impl::OnBody(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    self->splitter.Feed(std::string_view(data, size * count));
    return size * count;
}

size_t CSearchSession::Impl::OnHeader(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const std::string_view header(data, size * count);
    // The blank line ends a response's header block (a redirect's as well as the page's).
    if (header == "\r\n" || header == "\n") self->Status(kResponseReceived);
    return size * count;
}

int CSearchSession::Impl::OnProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Impl*>(userdata)->StopRequested() ? 1 : 0;
}

int CSearchSession::Impl::OnResolverStart(void*, void*, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    // The URL under way (after a redirect, the new one) names the host.
    std::string host;
    char* current = nullptr;
    if (curl_easy_getinfo(self->easy, CURLINFO_EFFECTIVE_URL, &current) == CURLE_OK && current != nullptr) {
        if (CURLU* handle = curl_url()) {
            char* part = nullptr;
            if (curl_url_set(handle, CURLUPART_URL, current, 0) == CURLUE_OK &&
                curl_url_get(handle, CURLUPART_HOST, &part, 0) == CURLUE_OK)
                host = part;
            curl_free(part);
            curl_url_cleanup(handle);
        }
    }
    self->resolving = true;
    self->Status(kResolvingName, host);
    return 0;
}

curl_socket_t CSearchSession::Impl::OnOpenSocket(void* userdata, curlsocktype, curl_sockaddr* address) {
    auto* self = static_cast<Impl*>(userdata);
    const std::string text = AddressText(&address->addr);
    // libcurl has no word for the end of a lookup; the first address it tries is its result.
    if (self->resolving) {
        self->resolving = false;
        self->Status(kNameResolved, text);
    }
    self->connecting = true;
    self->Status(kConnectingToServer, text);
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int CSearchSession::Impl::OnCloseSocket(void* userdata, curl_socket_t socket) {
    auto* self = static_cast<Impl*>(userdata);
    self->Status(kClosingConnection);
    const int rc = close(socket);
    self->Status(kConnectionClosed);
    return rc;
}

int CSearchSession::Impl::OnPreRequest(void* userdata, char* primaryIp, char*, int, int) {
    auto* self = static_cast<Impl*>(userdata);
    // A connection kept from an earlier request is not announced again.
    if (self->connecting) {
        self->connecting = false;
        self->Status(kConnectedToServer, primaryIp);
    }
    self->requestSent = false;
    self->Status(kSendingRequest);
    return CURL_PREREQFUNC_OK;
}

int CSearchSession::Impl::OnDebug(CURL*, curl_infotype type, char*, size_t, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    // A request's header may go out in several pieces; it is sent once.
    if (type == CURLINFO_HEADER_OUT && !self->requestSent) {
        self->requestSent = true;
        self->Status(kRequestSent);
        self->Status(kReceivingResponse);
    }
    return 0;
}

CSearchSession::CSearchSession(const std::atomic<bool>* stop) : m_impl(std::make_unique<Impl>(stop)) {}

CSearchSession::~CSearchSession() = default;

void CSearchSession::SetStatusTarget(IStatusTarget* target) { m_impl->target = target; }

void CSearchSession::EnableStatusCallback(bool enable) { m_impl->statusEnabled = enable; }

std::unique_ptr<IPageFile> CSearchSession::OpenURL(const std::string& url) { return m_impl->Open(url); }
