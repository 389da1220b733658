// The crawl as a good citizen of the web: it reads each site's robots.txt
// first and keeps off what it disallows, spaces its requests as Crawl-delay
// asks, and waits for a busy server as it says before asking again.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "crawl/CrawlState.h"
#include "crawl/PageTransfer.h"
#include "crawl/Search.h"
#include "project/ProjectData.h"
#include "support/RecordingProgress.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestHttpServer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
    std::vector<std::string> opened;
    StringList failed;
    StringList skipped;
    std::int64_t bytes = 0;
};

Outcome Crawl(const std::string& start, int connections, bool obeyRobots = true) {
    ProjectData project;
    project.m_urlList = {start};
    project.m_resourcePatterns = {".ZIP"};
    CSearch search(connections);
    search.m_obeyRobots = obeyRobots;
    RecordingProgress progress;
    ScriptedMessageBox box;
    EXPECT_TRUE(RunSearchToEnd(search, project, progress, box));
    const CrawlState& state = search.State();
    return {progress.Opened(), state.m_failedUrls, state.m_skippedUrls, state.m_nBytes};
}

// Every request the server had, with when it came.
class RequestLog {
public:
    void Add(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths.push_back(path);
        m_times.push_back(Clock::now());
    }
    std::vector<std::string> Paths() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_paths;
    }
    std::vector<Clock::time_point> Times() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_times;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_paths;
    std::vector<Clock::time_point> m_times;
};

TEST(MannersTest, RobotsTxtKeepsTheCrawlOffWhatItDisallows) {
    const struct {
        const char* name;
        int status;
        std::string robots;
        std::vector<std::string> opened;  // paths, in order
        std::vector<std::string> skipped;
    } cases[] = {
        {"rules for the crawler, else for all",
         200,
         "User-agent: *\nDisallow: /\n\nUser-agent: core_tests\nDisallow: /private/\nAllow: /private/ok.htm\n",
         {"/index.htm", "/private/ok.htm", "/a.htm"},
         {"/private/p.htm"}},
        {"no robots.txt", 404, "", {"/index.htm", "/private/ok.htm", "/private/p.htm", "/a.htm"}, {}},
        {"a server error keeps off everything", 500, "", {}, {"/index.htm"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RequestLog log;
        TestHttpServer server;
        server.Server().Get("/robots.txt", [&](const httplib::Request& req, httplib::Response& res) {
            log.Add(req.path);
            res.status = c.status;
            res.set_content(c.robots, "text/plain");
        });
        server.Page("/index.htm", "<a href=\"a.htm\"><a href=\"private/p.htm\"><a href=\"private/ok.htm\">");
        for (const char* page : {"/a.htm", "/private/p.htm", "/private/ok.htm"}) server.Page(page, "page");
        server.Start();
        for (int connections : {1, 6}) {
            const Outcome out = Crawl(server.Url("/index.htm"), connections);
            std::vector<std::string> opened, skipped;
            for (const std::string& url : out.opened) opened.push_back(url.substr(server.Url("").size()));
            for (const std::string& url : out.skipped) skipped.push_back(url.substr(server.Url("").size()));
            EXPECT_EQ(opened, c.opened) << connections;
            EXPECT_EQ(skipped, c.skipped) << connections;
            EXPECT_TRUE(out.failed.empty());
        }
        // Read once a search, before any page.
        EXPECT_EQ(log.Paths(), (std::vector<std::string>{"/robots.txt", "/robots.txt"}));
        // A site of the user's own: robots.txt is neither read nor obeyed.
        const Outcome ignored = Crawl(server.Url("/index.htm"), 6, false);
        EXPECT_EQ(ignored.opened.size(), 4u);
        EXPECT_EQ(log.Paths().size(), 2u);
    }
}

TEST(MannersTest, CrawlDelaySpacesTheRequestsAtAnyNumberOfConnections) {
    RequestLog log;
    TestHttpServer server;
    server.Page("/robots.txt", "User-agent: *\nCrawl-delay: 0.3\n");
    server.Server().Get(R"(/p(\d)\.htm)", [&](const httplib::Request& req, httplib::Response& res) {
        log.Add(req.path);
        res.set_content("<a href=\"p1.htm\"><a href=\"p2.htm\"><a href=\"p3.htm\">", "text/html");
    });
    server.Start();
    Crawl(server.Url("/p0.htm"), 6);
    const std::vector<Clock::time_point> times = log.Times();
    ASSERT_EQ(times.size(), 4u);
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(280)) << i;
}

TEST(MannersTest, BusyServerIsAskedAgainAsItSaysThenGivenUp) {
    RequestLog log;
    int busyLeft = 2;
    TestHttpServer server;
    server.Page("/robots.txt", "", 404);
    server.Server().Get("/index.htm", [&](const httplib::Request& req, httplib::Response& res) {
        log.Add(req.path);
        res.set_content("<a href=\"busy.htm\"><a href=\"late.htm\">", "text/html");
    });
    server.Server().Get("/late.htm", [&](const httplib::Request& req, httplib::Response& res) {
        log.Add(req.path);
        if (busyLeft-- > 0) {
            res.status = 429;
            res.set_header("Retry-After", "1");
            res.set_content("<a href=\"never.zip\">slow down</a>", "text/html");
            return;
        }
        res.set_content("<a href=\"late.zip\">", "text/html");
    });
    server.Server().Get("/busy.htm", [&](const httplib::Request& req, httplib::Response& res) {
        log.Add(req.path);
        res.status = 503;
        res.set_header("Retry-After", "0");
        res.set_content("maintenance", "text/plain");
    });
    server.Start();
    const Outcome out = Crawl(server.Url("/index.htm"), 1);
    EXPECT_EQ(out.failed, StringList{server.Url("/busy.htm")});
    EXPECT_EQ(out.opened, (std::vector<std::string>{server.Url("/index.htm"), server.Url("/late.htm")}));
    // Only the page's own body counts: none of what the busy answers said.
    EXPECT_EQ(out.bytes, std::int64_t{38 + 19});
    const std::vector<std::string> paths = log.Paths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/late.htm"), 3);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/busy.htm"), 3);
}

TEST(MannersTest, RetryAfterInSecondsOrAsADate) {
    const std::time_t now = 1'800'000'000;  // 2027-01-15 08:00:00 UTC
    const std::pair<std::string, long> cases[] = {
        {"", 5},
        {"0", 0},
        {"7", 7},
        {"120", 60},
        {"99999999999", 60},
        {"soon", 5},
        {"-3", 5},
        {"Fri, 15 Jan 2027 08:00:30 GMT", 30},
        {"Fri, 15 Jan 2027 07:00:00 GMT", 0},
    };
    for (const auto& [value, seconds] : cases) EXPECT_EQ(RetryAfterSeconds(value, now), seconds) << value;
}

}  // namespace
