// Fetching ahead changes nothing of a search's results: the same sites crawled
// one page at a time and with several connections give the same report,
// counters, failed URLs and fetched-URL list, in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "project/ProjectData.h"
#include "results/ReportWriter.h"
#include "results/SearchResults.h"
#include "support/RecordingProgress.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace {

struct Outcome {
    std::string report;
    std::int32_t pages = 0;
    std::int32_t hits = 0;
    std::int64_t bytes = 0;
    StringList failed;
    std::vector<std::string> opened;
    FetchStats stats;
};

// Small enough that a page without end fails soon.
FetchLimits TestLimits() {
    FetchLimits limits;
    limits.maxBodyBytes = 256 * 1024;
    return limits;
}

ProjectData Project(const StringList& entries, const StringList& patterns) {
    ProjectData project;
    project.m_urlList = entries;
    project.m_resourcePatterns = patterns;
    return project;
}

Outcome Crawl(int connections, const StringList& entries, const StringList& patterns) {
    CSearch search(connections, TestLimits());
    RecordingProgress progress;
    ScriptedMessageBox box;
    EXPECT_TRUE(RunSearchToEnd(search, Project(entries, patterns), progress, box));

    const CrawlState& state = search.State();
    Outcome out;
    WriteReport("r.htm", state.m_pageList.Head(), box, 0);
    out.report = ReadFileBytes("r.htm");
    out.pages = state.m_nPages;
    out.hits = state.m_nHits;
    out.bytes = state.m_nBytes;
    out.failed = state.m_failedUrls;
    out.opened = progress.Opened();
    out.stats = search.FetchStatistics();
    return out;
}

// A site with what makes a crawl's order matter: pages linking each other in
// many ways, redirects within the site and off it, a folder without its slash,
// a page cut off, one without end, a missing page with links, and two pages of
// the same text.
void ServeSite(TestHttpServer& server, const std::string& otherHost) {
    constexpr int kPages = 40;
    for (int i = 0; i < kPages; ++i) {
        std::string body = "<h1>Page " + std::to_string(i) + "</h1>\n";
        for (int k = 1; k <= 4; ++k)
            body += "<a href=\"p" + std::to_string((i * 7 + k * 11) % kPages) + ".htm\">x</a>\n";
        body += "<a href=\"files/f" + std::to_string(i) + ".zip\">zip</a>\n";
        if (i % 5 == 0) body += "<a href=\"/moved" + std::to_string(i) + "\">moved</a>\n";
        if (i % 9 == 0) body += "<a href=\"/folder\">folder</a> <a href=\"/twin/a.htm\">t</a>\n";
        if (i % 13 == 0) body += "<a href=\"/cut.htm\">cut</a> <a href=\"/gone.htm\">gone</a>\n";
        if (i % 17 == 0) body += "<a href=\"/endless.htm\">endless</a>\n";
        server.Page("/p" + std::to_string(i) + ".htm", body);
    }
    for (int i = 0; i < kPages; i += 5) {
        const std::string to = i % 10 == 0 ? "/p" + std::to_string(i + 1) + ".htm" : otherHost + "/away.htm";
        server.Server().Get("/moved" + std::to_string(i),
                            [to](const httplib::Request&, httplib::Response& res) { res.set_redirect(to); });
    }
    server.Server().Get("/folder",
                        [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/folder/"); });
    server.Page("/folder/", "<a href=\"inside.htm\"></a><a href=\"../p3.htm\"></a><a href=\"pack.zip\">");
    server.Page("/folder/inside.htm", "<a href=\"deep.zip\"><a href=\"/twin/b.htm\">");
    const std::string twin = "<a href=\"same.zip\"><a href=\"only-if-scanned.htm\">";
    server.Page("/twin/a.htm", twin);
    server.Page("/twin/b.htm", twin);
    server.Page("/twin/only-if-scanned.htm", "<a href=\"late.zip\">");
    server.Page("/gone.htm", "<a href=\"from-404.zip\"><a href=\"p39.htm\">", 404);
    // Its bytes up to the page limit count, whoever fetched it and when.
    server.Server().Get("/endless.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
            const std::string block = "<a href=\"e.zip\">" + std::string(1000, 'e') + "\n";
            for (int i = 0; i < 1000 && sink.is_writable(); ++i)
                if (!sink.write(block.data(), block.size())) return false;
            return false;
        });
    });
    server.Server().Get("/cut.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "text/html", [](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset > 0) return false;
            const std::string part = "<a href=\"cut.zip\">\n<a href=\"p2";
            sink.write(part.data(), part.size());
            return true;
        });
    });
}

class FetchAheadTest : public ::testing::Test {
protected:
    void SetUp() override {
        other.Page("/away.htm", "<a href=\"away.zip\"><a href=\"next.htm\">");
        other.Start();
        ServeSite(server, other.Url(""));
        server.Start();
    }
    std::string U(const std::string& path) const { return server.Url(path); }

    TempDir dir;
    TestHttpServer other;
    TestHttpServer server;
};

TEST_F(FetchAheadTest, ResultsAreTheSameWithAnyNumberOfConnections) {
    std::string refused;
    {
        TestHttpServer gone;
        gone.Start();
        refused = gone.Url("/x.htm");
    }
    const struct {
        const char* name;
        StringList entries;
        StringList patterns;
    } projects[] = {
        {"whole site", {U("/p0.htm")}, {".ZIP"}},
        {"modes",
         {"!p17", "+" + U("/folder/"), "*" + U("/p4.htm"), refused, U("/p20.htm"), "!twin/"},
         {".ZIP", ".HTM"}},
        {"every link", {U("/p9.htm"), U("/gone.htm")}, {""}},
    };
    for (const auto& project : projects) {
        SCOPED_TRACE(project.name);
        const Outcome one = Crawl(1, project.entries, project.patterns);
        const Outcome many = Crawl(6, project.entries, project.patterns);
        EXPECT_EQ(many.report, one.report);
        EXPECT_EQ(std::tie(many.pages, many.hits, many.bytes), std::tie(one.pages, one.hits, one.bytes));
        EXPECT_EQ(many.failed, one.failed);
        EXPECT_EQ(many.opened, one.opened);
        EXPECT_EQ(one.stats.fetchedAhead, 0u);
        EXPECT_GT(many.stats.fetchedAhead, 0u);
        // Never more requests than pages opened and failed, bar what was never reached.
        EXPECT_LE(many.stats.requests, one.stats.requests + many.stats.neverReached);
    }
}

TEST_F(FetchAheadTest, StopEndsAFetchedAheadCrawlAndKeepsAWholeReport) {
    // Slow enough that the stop comes while transfers are under way.
    TestHttpServer slow;
    for (int i = 0; i < 300; ++i) {
        slow.Server().Get("/s" + std::to_string(i) + ".htm", [i](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            res.set_content("<a href=\"s" + std::to_string(i + 1) + ".htm\"><a href=\"s" + std::to_string(i + 2) +
                                ".htm\"><a href=\"f" + std::to_string(i) + ".zip\">",
                            "text/html");
        });
    }
    slow.Start();
    CSearch search(6);
    RecordingProgress progress;
    ScriptedMessageBox box;
    progress.search = &search;
    search.OpenSearch(Project({slow.Url("/s0.htm")}, {".ZIP"}), &progress, &box);
    ASSERT_TRUE(search.Start());
    progress.WaitUntil([](const std::vector<Event>& events) {
        return std::count_if(events.begin(), events.end(), [](const Event& e) { return e.kind == Event::Opened; }) >=
               10;
    });
    search.Stop();
    EXPECT_FALSE(search.IsRunning());
    EXPECT_FALSE(progress.AnyAfterStop());
    EXPECT_FALSE(progress.Finished());
    EXPECT_GT(search.FetchStatistics().fetchedAhead, 0u);

    EXPECT_EQ(KeepFound(search, "kept.htm", box), 1);
    const std::string report = ReadFileBytes("kept.htm");
    EXPECT_TRUE(report.ends_with("</font></body></html>"));
    // Every page whose links were handled before the stop has its hit in the report;
    // the last one opened may have been in process.
    const std::vector<std::string> opened = progress.Opened();
    for (std::size_t i = 0; i + 1 < opened.size(); ++i) {
        const std::string number = opened[i].substr(opened[i].rfind("/s") + 2);
        const std::string hit = slow.Url("/f" + number.substr(0, number.find('.')) + ".zip");
        EXPECT_NE(report.find(hit), std::string::npos) << opened[i];
    }
}

// A page of many thousand new links keeps the planner walking through them
// while the pages below it come slowly: a stop still ends the crawl at once
// and keeps a whole report.
TEST_F(FetchAheadTest, StopEndsACrawlBelowAPageOfManyLinks) {
    TestHttpServer many;
    std::string index;
    for (int i = 0; i < 50000; ++i)
        index += "<a href=\"/m" + std::to_string(i) + ".htm\">" + std::to_string(i) + "</a>\n";
    many.Page("/index.htm", index);
    many.Server().Get(R"(/m\d+\.htm)", [](const httplib::Request& req, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        res.set_content("<a href=\"" + req.path + ".zip\">", "text/html");
    });
    many.Start();
    CSearch search(6);
    RecordingProgress progress;
    ScriptedMessageBox box;
    progress.search = &search;
    search.OpenSearch(Project({many.Url("/index.htm")}, {".ZIP"}), &progress, &box);
    ASSERT_TRUE(search.Start());
    progress.WaitUntil([](const std::vector<Event>& events) {
        return std::count_if(events.begin(), events.end(), [](const Event& e) { return e.kind == Event::Opened; }) >= 5;
    });
    search.Stop();
    EXPECT_FALSE(search.IsRunning());
    EXPECT_FALSE(progress.AnyAfterStop());
    EXPECT_EQ(KeepFound(search, "kept.htm", box), 1);
    EXPECT_TRUE(ReadFileBytes("kept.htm").ends_with("</font></body></html>"));
}

}  // namespace
