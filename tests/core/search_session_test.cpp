#include "crawl/SearchSession.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crawl/LineSplitter.h"
#include "ui/ProgramName.h"
#include "support/FetchLines.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace {

using namespace std::chrono_literals;

// Far beyond what a transfer on 127.0.0.1 needs; a server stays silent at most
// kSilence, longer than that bound and shorter than the session's 60 s stall bound.
constexpr auto kGenerousBound = 30s;
constexpr auto kSilence = 50s;
// The server holds back what it compresses until the body ends; streamed bodies
// are sent in a type it leaves as it is, so that each piece goes out when written.
constexpr const char* kUncompressedType = "application/octet-stream";

class RecordingTarget : public IStatusTarget {
public:
    void SetStatusText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.push_back(text);
        if (std::this_thread::get_id() != m_owner) ++m_foreignCalls;
    }
    Lines Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_texts, {});
    }
    int ForeignCalls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_foreignCalls;
    }

private:
    std::mutex m_mutex;
    Lines m_texts;
    const std::thread::id m_owner = std::this_thread::get_id();
    int m_foreignCalls = 0;
};

// A port on 127.0.0.1 on which nobody listens: bound, then given up.
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Holds a server handler back until the test opens it; opened at the latest when
// the test ends, so that the server can stop.
class Gate {
public:
    ~Gate() { Open(); }
    void Open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    // False when the bound ran out first.
    bool Wait(std::chrono::seconds bound) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, bound, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

TEST(SearchSession, StatusTextTable) {
    struct Row {
        int code;
        const char* info;
        const char* text;
    } rows[] = {
        {10, "www.example.com", "Resolving DNS enty for www.example.com"},
        {11, "10.0.0.1", "DNS: 10.0.0.1"},
        {20, "10.0.0.1", "Connecting to10.0.0.1"},
        {21, "10.0.0.1", "Connected to10.0.0.1"},
        {10, nullptr, "Resolving DNS enty for "},
        {21, nullptr, "Connected to"},
        {30, "x", "Sending request"},
        {31, "x", "Request send"},
        {40, nullptr, "Waiting for reply"},
        {41, nullptr, "Response received"},
        {50, nullptr, "Closing connection"},
        {51, nullptr, "Connection closed"},
        {60, nullptr, "Handle created"},
        {70, nullptr, "Handle closed"},
        {100, "x", "Request complete"},
        {0, nullptr, "NOOP"},
        {12, "x", "NOOP"},
        {-1, nullptr, "NOOP"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CSearchSession::StatusText(row.code, row.info), row.text) << "code " << row.code;
}

TEST(SearchSession, ReadsTheTextOfPages) {
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += "<a href=\"/p" + std::to_string(i) + "\">" + std::string(i % 400, 'x') + (i % 2 ? "\r\n" : "\n");
    CLineSplitter whole;
    whole.Feed(big);
    whole.Finish();
    std::string bigText;
    for (std::string line; whole.Next(line);) bigText += line;

    TestHttpServer server;
    server.Page("/short", "ab\r\ncd\n" + std::string(300, 'y') + "\nlast");
    server.Page("/big", big);
    server.Page("/empty", "");
    server.Page("/missing", "<html>\n<a href=\"/home\">Home</a>\n", 404);
    server.Start();
    CSearchSession session;

    EXPECT_EQ(Fetch(session, server.Url("/short")), "abcd" + std::string(300, 'y') + "last");
    // Many network reads give the same text as the body cut into lines at once.
    EXPECT_EQ(Fetch(session, server.Url("/big")), bigText);
    EXPECT_EQ(Fetch(session, server.Url("/empty")), "");
    EXPECT_EQ(Fetch(session, server.Url("/missing")), "<html><a href=\"/home\">Home</a>");
}

TEST(SearchSession, UrlsThatCannotBeOpenedThrow) {
    TempDir dir;
    WriteFileBytes("secret.txt", "local file\n");
    const Lines urls = {
        "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/",
        "file://" + (dir.Path() / "secret.txt").string(),
        "ftp://127.0.0.1/",
        "mailto:someone@127.0.0.1",
        "127.0.0.1/index.html",
        "",
    };
    CSearchSession session;
    for (const std::string& url : urls) EXPECT_THROW(session.OpenURL(url), InternetError) << url;
}

TEST(SearchSession, RedirectsAreFollowedWithinWebPagesOnly) {
    TempDir dir;
    WriteFileBytes("secret.txt", "local file\n");
    const std::string fileUrl = "file://" + (dir.Path() / "secret.txt").string();
    TestHttpServer server;
    server.Page("/new", "moved here\n");
    auto redirect = [&server](const std::string& from, const std::string& to) {
        server.Server().Get(from, [to](const httplib::Request&, httplib::Response& res) { res.set_redirect(to); });
    };
    redirect("/old", "/new");
    redirect("/local", fileUrl);
    redirect("/loop", "/loop");
    server.Start();
    CSearchSession session;

    EXPECT_EQ(Fetch(session, server.Url("/old")), "moved here");
    // A page must not lead the crawl into the machine's own files.
    EXPECT_THROW(Fetch(session, server.Url("/local")), InternetError);
    EXPECT_THROW(Fetch(session, server.Url("/loop")), InternetError);
    EXPECT_EQ(Fetch(session, server.Url("/new")), "moved here");
}

TEST(SearchSession, BodyCutOffBeforeItsLengthThrowsAfterTheLinesBeforeIt) {
    TestHttpServer server;
    server.Server().Get("/cut", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "text/html", [](size_t, size_t, httplib::DataSink& sink) {
            sink.write("one\ntwo\nthr", 11);
            return false;  // the connection breaks off here
        });
    });
    server.Start();
    CSearchSession session;
    auto file = session.OpenURL(server.Url("/cut"));
    std::size_t counted = 0;
    std::size_t added = 0;
    // The fragment is not passed off as the page's last line.
    EXPECT_THROW(while (file->ReadMore(added)) counted += added, InternetError);
    EXPECT_EQ(counted, 6u);
}

TEST(SearchSession, RequestsCarryAgentAndCookiesOverOneConnection) {
    TestHttpServer server;
    std::mutex mutex;
    std::vector<httplib::Request> requests;
    server.Server().Get(R"(/\w+)", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(req);
        if (req.path == "/set") res.set_header("Set-Cookie", "visit=42; Path=/");
        res.set_content("x\n", "text/html");
    });
    server.Start();
    CSearchSession session;
    Fetch(session, server.Url("/set"));
    Fetch(session, server.Url("/check"));

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(ProgramFileName(), "core_tests");
    EXPECT_EQ(requests[0].get_header_value("User-Agent"), "core_tests");
    EXPECT_FALSE(requests[0].has_header("Cookie"));
    EXPECT_EQ(requests[1].get_header_value("Cookie"), "visit=42");
    EXPECT_EQ(requests[0].remote_port, requests[1].remote_port) << "a new connection for the second page";
}

TEST(SearchSession, StatusTextsFollowTheRequestOnTheCallingThread) {
    TestHttpServer server;
    server.Page("/", "a\n");
    server.Start();
    RecordingTarget target;
    CSearchSession session;
    // Its robots.txt would be asked for first, over the same connection.
    session.ObeyRobots(false);
    session.SetStatusTarget(&target);
    session.EnableStatusCallback(true);

    Fetch(session, server.Url("/"));
    EXPECT_EQ(target.Take(),
              (Lines{"Handle created", "Resolving DNS enty for 127.0.0.1", "DNS: 127.0.0.1", "Connecting to127.0.0.1",
                     "Connected to127.0.0.1", "Sending request", "Request send", "Waiting for reply",
                     "Response received", "Request complete", "Handle closed"}));
    // The kept connection is neither looked up nor connected again.
    Fetch(session, server.Url("/"));
    EXPECT_EQ(target.Take(), (Lines{"Handle created", "Sending request", "Request send", "Waiting for reply",
                                    "Response received", "Request complete", "Handle closed"}));
    // The host is named as the URL names it.
    Fetch(session, "http://localhost:" + std::to_string(server.Port()) + "/");
    const Lines viaName = target.Take();
    ASSERT_GE(viaName.size(), 2u);
    EXPECT_EQ(viaName[1], "Resolving DNS enty for localhost");
    EXPECT_EQ(target.ForeignCalls(), 0);

    session.EnableStatusCallback(false);
    Fetch(session, server.Url("/"));
    EXPECT_EQ(target.Take(), Lines{});
}

TEST(SearchSession, FirstLineArrivesWhileTheBodyIsStillComing) {
    Gate gate;
    std::atomic<bool> released{false};
    TestHttpServer server;
    server.Server().Get("/stream", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(kUncompressedType, [&](size_t, httplib::DataSink& sink) {
            sink.write("first\n", 6);
            released = gate.Wait(kGenerousBound);
            sink.write("second\n", 7);
            sink.done();
            return true;
        });
    });
    server.Start();
    CSearchSession session;
    auto file = session.OpenURL(server.Url("/stream"));
    std::size_t added = 0;
    ASSERT_TRUE(file->ReadMore(added));
    EXPECT_EQ(added, 5u);
    gate.Open();
    ASSERT_TRUE(file->ReadMore(added));
    EXPECT_EQ(added, 6u);
    EXPECT_FALSE(file->ReadMore(added));
    EXPECT_EQ(file->Text(), "firstsecond");
    // Had the session waited for the whole body, the server would have gone on only when its bound ran out.
    EXPECT_TRUE(released);
}

TEST(SearchSession, StopEndsAStalledTransfer) {
    Gate gate;
    TestHttpServer server;
    server.Server().Get("/endless", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(kUncompressedType, [&](size_t, httplib::DataSink& sink) {
            sink.write("first\n", 6);
            gate.Wait(kSilence);
            return false;
        });
    });
    server.Start();
    std::atomic<bool> stop{false};
    CSearchSession session(&stop);
    auto file = session.OpenURL(server.Url("/endless"));
    std::size_t added = 0;
    ASSERT_TRUE(file->ReadMore(added));

    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop = true;
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(file->ReadMore(added), InternetError);
    const auto waited = std::chrono::steady_clock::now() - started;
    stopper.join();
    // The server is still silent: only the stop can have ended the read so soon.
    EXPECT_LT(waited, kGenerousBound);

    // What came before the stop is not a whole page, whatever the flag says later.
    stop = false;
    EXPECT_THROW(file->ReadMore(added), InternetError);
    stop = true;
    file.reset();
    EXPECT_THROW(session.OpenURL(server.Url("/endless")), InternetError);
    gate.Open();  // lets the server's handler end, so the server stops at once
}

TEST(SearchSession, PageLeftEarlyLeavesNothingForTheNext) {
    std::string longBody;
    for (int i = 0; i < 20000; ++i) longBody += "old line " + std::to_string(i) + "\n";
    TestHttpServer server;
    server.Page("/long", longBody);
    server.Page("/next", "next page\n");
    server.Start();
    CSearchSession session;
    std::size_t added = 0;

    auto closed = session.OpenURL(server.Url("/long"));
    ASSERT_TRUE(closed->ReadMore(added));
    closed->Close();
    EXPECT_FALSE(closed->ReadMore(added));
    EXPECT_EQ(Fetch(session, server.Url("/next")), "next page");

    // A page still open when the next is opened is cut off, not quietly ended.
    auto left = session.OpenURL(server.Url("/long"));
    EXPECT_EQ(Fetch(session, server.Url("/next")), "next page");
    EXPECT_THROW(while (left->ReadMore(added)){}, InternetError);
}

}  // namespace
