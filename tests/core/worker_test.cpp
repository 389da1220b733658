// The crawl worker and the search's start and end: against fake fetchers where
// a page must misbehave on cue, against a 127.0.0.1 server with the real
// session elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "project/ProjectData.h"
#include "results/SearchResults.h"
#include "support/RecordingProgress.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestTlsServer.h"

namespace {

// ---------------------------------------------------------------- fake fetcher

struct FakePage {
    std::vector<std::string> lines;
    enum Failure { None, NoFile, OpenError, OtherOpenError, ReadError } failure = None;
    std::size_t failAtLine = 0;  // ReadError: lines delivered before the error
    // Blocking until the search is asked to stop, then carrying on as told.
    enum Block { NoBlock, BlockInOpen, BlockInReadThenThrow, BlockInReadThenDeliver } block = NoBlock;
    std::size_t blockAtLine = 0;
};

class FakeFetcher : public IPageFetcher {
public:
    std::map<std::string, FakePage> pages;      // unknown URLs are empty pages
    std::map<std::string, std::string> landed;  // where a redirect took a request
    std::vector<std::string> opened;            // every OpenURL call, in order
    IStatusTarget* target = nullptr;
    bool statusEnabled = false;
    const CSearch* search = nullptr;
    std::atomic<bool> blocked{false};

    void SetStatusTarget(IStatusTarget* t) override { target = t; }
    void EnableStatusCallback(bool enable) override { statusEnabled = enable; }

    std::unique_ptr<IPageFile> OpenURL(const std::string& url) override;

    void Status(const std::string& text) {
        if (target != nullptr && statusEnabled) target->SetStatusText(text);
    }
    // Waits, as a transfer would, until the search is asked to stop.
    void BlockUntilStop() {
        blocked = true;
        while (!search->StopRequested()) std::this_thread::yield();
    }
};

class FakeFile : public CLinePageFile {
public:
    FakeFile(FakeFetcher& fetcher, FakePage page, std::string finalUrl)
        : m_fetcher(fetcher), m_page(std::move(page)), m_finalUrl(std::move(finalUrl)) {}
    // A session closing its handle reports it, stopped or not.
    ~FakeFile() override { m_fetcher.Status("Handle closed"); }

    bool ReadString(std::string& line) override {
        line.clear();
        if (m_page.block != FakePage::NoBlock && m_page.block != FakePage::BlockInOpen &&
            m_next == m_page.blockAtLine && !m_blockedOnce) {
            m_blockedOnce = true;
            m_fetcher.BlockUntilStop();
            if (m_page.block == FakePage::BlockInReadThenThrow) throw InternetError("stopped");
            line = "<a href=\"late.zip\">";  // a line that arrives just as the stop is asked for
            return true;
        }
        if (m_page.failure == FakePage::ReadError && m_next == m_page.failAtLine)
            throw InternetError("connection reset");
        if (m_next >= m_page.lines.size()) return false;
        line = m_page.lines[m_next++];
        return true;
    }
    void Close() override {}
    std::string FinalUrl() const override { return m_finalUrl; }

private:
    FakeFetcher& m_fetcher;
    FakePage m_page;
    std::string m_finalUrl;
    std::size_t m_next = 0;
    bool m_blockedOnce = false;
};

std::unique_ptr<IPageFile> FakeFetcher::OpenURL(const std::string& url) {
    opened.push_back(url);
    Status("Connecting to" + url);
    FakePage page;
    if (auto it = pages.find(url); it != pages.end()) page = it->second;
    switch (page.failure) {
        case FakePage::NoFile: return nullptr;
        case FakePage::OpenError: throw InternetError("name not resolved");
        case FakePage::OtherOpenError: throw std::runtime_error("something else");
        default: break;
    }
    if (page.block == FakePage::BlockInOpen) BlockUntilStop();
    return std::make_unique<FakeFile>(*this, page, landed[url]);
}

// ---------------------------------------------------------------- helpers

// A project of `entries` whose hits are the links to ZIP files.
ProjectData Project(StringList entries, int allLinks = 0) {
    ProjectData project;
    project.m_urlList = std::move(entries);
    project.m_resourcePatterns = {".ZIP"};
    project.m_allLinks = allLinks;
    return project;
}

const PageRecord* RecordOf(const CSearch& search, const std::string& url) {
    for (const PageRecord* r = search.State().m_pageList.Head(); r != nullptr; r = r->next)
        if (r->url == url) return r;
    return nullptr;
}

StringList HitsOf(const CSearch& search, const std::string& url) {
    const PageRecord* r = RecordOf(search, url);
    return r == nullptr ? StringList{} : r->hits;
}

std::size_t PagesWithHits(const CSearch& search) {
    std::size_t n = 0;
    for (const PageRecord* r = search.State().m_pageList.Head(); r != nullptr; r = r->next)
        n += r->hits.empty() ? 0 : 1;
    return n;
}

std::vector<std::string> Queue(const CSearch& search) {
    const UrlQueue& queue = search.State().m_urlQueue;
    return {queue.begin(), queue.end()};
}

class CrawlTest : public ::testing::Test {
protected:
    // Opens the search on `project`, starts it and waits for its end.
    static void RunToEnd(CSearch& search, const ProjectData& project, RecordingProgress& progress,
                         ScriptedMessageBox& box) {
        ASSERT_TRUE(RunSearchToEnd(search, project, progress, box));
        EXPECT_FALSE(search.IsRunning());
    }

    TempDir dir;
    RecordingProgress progress;
    ScriptedMessageBox box;
};

class FakeCrawlTest : public CrawlTest {
protected:
    FakeCrawlTest() {
        auto owned = std::make_unique<FakeFetcher>();
        fetcher = owned.get();
        search = std::make_unique<CSearch>(std::move(owned));
        fetcher->search = search.get();
    }
    void RunToEnd(const ProjectData& project) { CrawlTest::RunToEnd(*search, project, progress, box); }

    FakeFetcher* fetcher;
    std::unique_ptr<CSearch> search;
};

// ---------------------------------------------------------------- entries

TEST_F(FakeCrawlTest, EntryPrefixesLengthAndBase) {
    const struct {
        std::string entry;
        std::string opened;  // empty: not fetched
        bool recursive;
        std::string base;  // the base before the entry is "PREV"
    } cases[] = {
        {"http://", "", true, "PREV"},  // 7 characters
        {"http://x", "http://x", true, ""},
        {" \t\r\n\v\fhttp://", "", true, "PREV"},
        {" \r\nhttp://x", "http://x", true, ""},
        {"*http:/", "", true, "PREV"},  // 7 with its mark
        {"*http://", "http://", false, ""},
        {"!http://h/a.htm", "", true, "PREV"},
        {" !http://h/a.htm", "!http://h/a.htm", true, ""},  // not an exclusion once indented
        {"-http://h/docs/a.htm", "http://h/docs/a.htm", true, "PREV"},
        {"*-http://h/docs/a.htm", "http://h/docs/a.htm", false, "PREV"},
        {"+http://h/docs/index.html", "http://h/docs/index.html", true, "http://h/docs"},
        {"+http://h/docs/", "http://h/docs/", true, "http://h/docs/"},
        {"+http://h/docs?x=1", "http://h/docs?x=1", true, "http://h/docs"},
        {"+http://h/d/f.htm?x=a/b", "http://h/d/f.htm?x=a/b", true, "http://h/d/f.htm?x=a"},
        {"+http://www.h.com", "http://www.h.com", true, "http:/"},
        {"*+http://h/docs/", "http://h/docs/", false, "http://h/docs/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        auto owned = std::make_unique<FakeFetcher>();
        FakeFetcher& fake = *owned;
        CSearch one(std::move(owned));
        RecordingProgress shown;
        one.OpenSearch(Project({}), &shown, &box);
        one.Worker().m_bRecursive = true;
        one.Worker().m_strBase = "PREV";
        one.State().m_urlQueue = {c.entry, "http://next/"};
        one.Worker().ProcessUrl(c.entry);
        EXPECT_EQ(Queue(one), std::vector<std::string>{"http://next/"});
        if (c.opened.empty()) {
            EXPECT_TRUE(fake.opened.empty());
            EXPECT_TRUE(shown.Opened().empty());
        } else {
            EXPECT_EQ(fake.opened, std::vector<std::string>{c.opened});
            EXPECT_EQ(shown.Opened(), std::vector<std::string>{c.opened});
        }
        EXPECT_EQ(one.Worker().m_bRecursive, c.recursive);
        EXPECT_EQ(one.Worker().m_strBase, c.base);
        EXPECT_TRUE(one.State().m_failedUrls.empty());
    }
}

TEST_F(FakeCrawlTest, RedirectsMoveTheStartButNeverAFollowedLinkOffTheSite) {
    const std::string listing =
        "<a href=\"a.htm\"><a href=\"x.zip\"><a href=\"http://h/back.htm\"><a href=\"http://h/docs-old/y.htm\">";
    const struct {
        std::string entry, landed;
        std::vector<std::string> opened;
        StringList hits;  // of the entry's page
    } cases[] = {
        // A start entry continues where it landed, a "+" entry takes its base from there.
        {"http://h/",
         "https://www.h/docs/",
         {"http://h/", "https://www.h/docs/a.htm"},
         {"https://www.h/docs/a.htm", "https://www.h/docs/x.zip", "http://h/back.htm", "http://h/docs-old/y.htm"}},
        {"+http://h/docs",
         "http://h/docs/",
         {"http://h/docs", "http://h/docs/a.htm"},
         {"http://h/docs/a.htm", "http://h/docs/x.zip", "http://h/back.htm", "http://h/docs-old/y.htm"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        auto owned = std::make_unique<FakeFetcher>();
        const std::string url = c.entry[0] == '+' ? c.entry.substr(1) : c.entry;
        owned->pages[url].lines = {listing};
        owned->landed[url] = c.landed;
        CSearch one(std::move(owned));
        RecordingProgress shown;
        CrawlTest::RunToEnd(one, Project({c.entry}, 1), shown, box);
        EXPECT_EQ(shown.Opened(), c.opened);
        EXPECT_EQ(HitsOf(one, url), c.hits);
    }

    // A followed link that lands on another host: read and hit-tested, nothing of it followed.
    fetcher->pages["http://h/"].lines = {"<a href=\"moved.htm\">"};
    fetcher->pages["http://h/moved.htm"].lines = {listing};
    fetcher->landed["http://h/moved.htm"] = "http://other/new/";
    RunToEnd(Project({"http://h/"}, 1));
    EXPECT_EQ(progress.Opened(), (std::vector<std::string>{"http://h/", "http://h/moved.htm"}));
    EXPECT_EQ(HitsOf(*search, "http://h/moved.htm"), (StringList{"http://other/new/a.htm", "http://other/new/x.zip",
                                                                 "http://h/back.htm", "http://h/docs-old/y.htm"}));
}

TEST_F(FakeCrawlTest, NothingChangesOnceTheStopIsAskedForBetweenLinks) {
    search->OpenSearch(Project({"http://h/a.htm"}, 1), nullptr, &box);
    search->RequestStop();
    search->Worker().ExtractLinks("<a href=\"x.zip\"><a href=\"b.htm\">");
    search->Worker().HandleLink("y.zip");
    search->Worker().ClassifyLink("http://h/z.htm");
    EXPECT_EQ(search->State().m_pageList.Head(), nullptr);
    EXPECT_EQ(search->State().m_nHits, 0);
    EXPECT_EQ(Queue(*search), std::vector<std::string>{"http://h/a.htm"});
}

// ---------------------------------------------------------------- failures

TEST_F(FakeCrawlTest, PagesThatCannotBeReadAreListedAndTheCrawlGoesOn) {
    const struct {
        const char* name;
        FakePage page;
        std::int64_t bytes;
    } cases[] = {
        {"open error", {{}, FakePage::OpenError}, 0},
        {"unexpected exception", {{}, FakePage::OtherOpenError}, 0},
        // The hit on the first line is dropped with the rest of the page.
        {"read error", {{"<a href=\"x.zip\">", "abc"}, FakePage::ReadError, 2}, 19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto owned = std::make_unique<FakeFetcher>();
        FakeFetcher& fake = *owned;
        CSearch one(std::move(owned));
        fake.search = &one;
        fake.pages["http://h/bad.htm"] = c.page;
        fake.pages["http://h/good.htm"] = {{"<a href=\"y.zip\">"}};
        RecordingProgress shown;
        ScriptedMessageBox quiet;
        CrawlTest::RunToEnd(one, Project({" *http://h/bad.htm", "http://h/good.htm"}), shown, quiet);
        EXPECT_EQ(one.State().m_failedUrls, StringList{"http://h/bad.htm"});
        EXPECT_EQ(fake.opened, (std::vector<std::string>{"http://h/bad.htm", "http://h/good.htm"}));
        EXPECT_TRUE(HitsOf(one, "http://h/bad.htm").empty());
        EXPECT_EQ(HitsOf(one, "http://h/good.htm"), StringList{"http://h/y.zip"});
        EXPECT_EQ(one.State().m_nBytes, c.bytes + 16);
        EXPECT_EQ(one.State().m_nHits, 1);
        EXPECT_EQ(one.State().m_nPages, 3);
        EXPECT_TRUE(quiet.Shown().empty());
        EXPECT_TRUE(one.State().m_urlQueue.empty());
    }
}

TEST_F(FakeCrawlTest, NoFileShowsTheWinSockMessageAndTheEntryLeavesLikeAnEmptyPage) {
    fetcher->pages["http://h/odd"] = {{}, FakePage::NoFile};
    fetcher->pages["http://h/next.htm"] = {{"<a href=\"n.zip\">"}};
    RunToEnd(Project({"http://h/odd", "http://h/next.htm"}));
    const auto shown = box.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "WinSock: URL could not be opened!");
    EXPECT_EQ(shown[0].caption, "Error");
    EXPECT_EQ(shown[0].icon, MsgIcon::Stop);
    EXPECT_EQ(progress.Opened(), std::vector<std::string>{"http://h/next.htm"});
    EXPECT_TRUE(search->State().m_failedUrls.empty());
    EXPECT_EQ(HitsOf(*search, "http://h/next.htm"), StringList{"http://h/n.zip"});
    EXPECT_EQ(search->State().m_nPages, 3);
}

// ---------------------------------------------------------------- counters

TEST_F(FakeCrawlTest, CountersFollowEveryLineAndTheTrueValuesEndEachStep) {
    fetcher->pages["http://h/a.htm"] = {{"ab", "cde"}};
    fetcher->pages["http://h/b.htm"] = {{"<a href=\"1.zip\"><a href=\"2.zip\">"}};
    RunToEnd(Project({"*http://h/a.htm", "!skip", "*http://h/b.htm"}));
    struct Shown {
        std::int32_t pages, hits;
        std::int64_t bytes;
    };
    // Per line the position of the page in process; after each step the entries
    // taken so far, with the hits of the page just scanned.
    const Shown expected[] = {
        {1, 0, 2},  {1, 0, 5},  {1, 0, 5},  // a.htm: two lines, then its step ends
        {2, 0, 5},                          // "!skip"
        {3, 0, 37}, {3, 2, 37},             // b.htm: its line, then its step with 2 hits
        {3, 2, 37},                         // the crawl has ended
    };
    const auto counters = progress.Counters();
    ASSERT_EQ(counters.size(), std::size(expected));
    for (std::size_t i = 0; i < counters.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(counters[i].pages, expected[i].pages);
        EXPECT_EQ(counters[i].hits, expected[i].hits);
        EXPECT_EQ(counters[i].bytes, expected[i].bytes);
    }
    EXPECT_EQ(search->State().m_nPages, 4);
    const auto events = progress.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, Event::Counters);
    EXPECT_EQ(events.back().kind, Event::Finished);
}

TEST_F(FakeCrawlTest, StatusTextsReachTheProgressThroughTheSession) {
    RunToEnd(Project({"http://h/a.htm"}));
    EXPECT_TRUE(fetcher->statusEnabled);
    const auto statuses = progress.Statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), "Connecting tohttp://h/a.htm");
}

// ---------------------------------------------------------------- stopping

TEST_F(FakeCrawlTest, StopChangesNothingAfterTheWorkerSeesIt) {
    const struct {
        const char* name;
        FakePage::Block block;
        std::int64_t bytes;
    } cases[] = {
        {"in the open call", FakePage::BlockInOpen, 16},
        {"in a read that then fails", FakePage::BlockInReadThenThrow, 16 + 3},
        {"in a read that then delivers a line", FakePage::BlockInReadThenDeliver, 16 + 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto owned = std::make_unique<FakeFetcher>();
        FakeFetcher& fake = *owned;
        CSearch one(std::move(owned));
        fake.search = &one;
        fake.pages["http://h/first.htm"] = {{"<a href=\"1.zip\">"}};
        FakePage slow{{"abc", "<a href=\"2.zip\">"}};
        slow.block = c.block;
        slow.blockAtLine = 1;
        fake.pages["http://h/slow.htm"] = slow;
        RecordingProgress shown;
        shown.search = &one;
        one.OpenSearch(Project({"*http://h/first.htm", "*http://h/slow.htm", "http://h/never.htm"}), &shown, &box);
        ASSERT_TRUE(one.Start());
        while (!fake.blocked) std::this_thread::yield();
        EXPECT_TRUE(one.IsRunning());
        EXPECT_FALSE(one.Start());  // one worker per search
        one.Stop();

        EXPECT_TRUE(one.StopRequested());
        EXPECT_FALSE(one.IsRunning());
        EXPECT_FALSE(shown.AnyAfterStop());
        EXPECT_FALSE(shown.Finished());
        EXPECT_EQ(Queue(one), (std::vector<std::string>{"*http://h/slow.htm", "http://h/never.htm"}));
        EXPECT_TRUE(one.State().m_failedUrls.empty());
        EXPECT_EQ(one.State().m_nPages, 2);
        EXPECT_EQ(one.State().m_nHits, 1);
        EXPECT_EQ(one.State().m_nBytes, c.bytes);
        EXPECT_EQ(HitsOf(one, "http://h/first.htm"), StringList{"http://h/1.zip"});
        EXPECT_TRUE(HitsOf(one, "http://h/slow.htm").empty());
        EXPECT_EQ(fake.opened, (std::vector<std::string>{"http://h/first.htm", "http://h/slow.htm"}));
    }
}

TEST_F(FakeCrawlTest, AWorkerThatHasEndedIsNotStoppedAgain) {
    RunToEnd(Project({"http://h/a.htm"}));
    search->Stop();
    EXPECT_FALSE(search->StopRequested());
    EXPECT_TRUE(progress.Finished());
}

// ---------------------------------------------------------------- the search's start and end

TEST_F(FakeCrawlTest, OpenSearchResetsAndCollectsTheExclusions) {
    const StringList entries = {"!a", "http://h/x.htm", "!b", " !c"};
    CrawlState& state = search->State();
    state.m_urlQueue = {"http://h/left.htm"};
    state.m_excludeList = {"!earlier"};
    state.m_pageList.AddPage("http://h/old.htm");
    state.m_nPages = 9;
    state.m_nHits = 9;
    state.m_nBytes = 9;
    search->OpenSearch(Project(entries), &progress, &box);
    EXPECT_EQ(state.m_nPages, 1);
    EXPECT_EQ(state.m_nHits, 0);
    EXPECT_EQ(state.m_nBytes, 0);
    EXPECT_EQ(state.m_excludeList, (StringList{"!earlier", "!a", "!b"}));
    EXPECT_EQ(state.m_pageList.Head(), nullptr);
    EXPECT_NE(fetcher->target, nullptr);
    EXPECT_TRUE(fetcher->statusEnabled);
    EXPECT_FALSE(search->IsRunning());
    EXPECT_TRUE(fetcher->opened.empty());
    EXPECT_EQ(Queue(*search), entries);
}

TEST_F(FakeCrawlTest, StartOnAnEmptyQueueEndsAtOnceWithTrueCounters) {
    RunToEnd(Project({}));
    const auto counters = progress.Counters();
    ASSERT_EQ(counters.size(), 1u);
    EXPECT_EQ(counters[0].pages, 0);
    EXPECT_EQ(search->State().m_nPages, 1);
}

// A crawl stopped in its second page, with one failed URL and one page of hits.
class CancelTest : public FakeCrawlTest {
protected:
    void SetUp() override {
        FakeCrawlTest::SetUp();
        fetcher->pages["http://h/gone.htm"] = {{}, FakePage::OpenError};
        fetcher->pages["http://h/a.htm"] = {{"<a href=\"a.zip\">"}};
        FakePage slow{{"x"}};
        slow.block = FakePage::BlockInReadThenThrow;
        fetcher->pages["http://h/slow.htm"] = slow;
        progress.search = search.get();
        search->OpenSearch(Project({"*http://h/gone.htm", "*http://h/a.htm", "*http://h/slow.htm", "!nothing"}),
                           &progress, &box);
        ASSERT_TRUE(search->Start());
        while (!fetcher->blocked) std::this_thread::yield();
    }
};

TEST_F(CancelTest, KeepWritesWhatWasFoundAndKeepsTheFailedUrls) {
    EXPECT_EQ(KeepFound(*search, "P.htm", box), 1);
    EXPECT_FALSE(search->IsRunning());
    const std::string report = ReadFileBytes("P.htm");
    EXPECT_NE(report.find("http://h/a.zip"), std::string::npos);
    EXPECT_TRUE(search->State().m_urlQueue.empty());
    EXPECT_TRUE(search->State().m_excludeList.empty());
    EXPECT_EQ(search->State().m_failedUrls, StringList{"http://h/gone.htm"});
    EXPECT_EQ(HitsOf(*search, "http://h/a.htm"), StringList{"http://h/a.zip"});
    EXPECT_FALSE(progress.AnyAfterStop());
}

TEST_F(CancelTest, DiscardEmptiesEverythingAndWritesNoReport) {
    search->CancelDiscard();
    EXPECT_FALSE(search->IsRunning());
    EXPECT_FALSE(std::filesystem::exists("P.htm"));
    EXPECT_EQ(search->State().m_pageList.Head(), nullptr);
    EXPECT_TRUE(search->State().m_urlQueue.empty());
    EXPECT_TRUE(search->State().m_excludeList.empty());
    EXPECT_TRUE(search->State().m_failedUrls.empty());
    EXPECT_TRUE(box.Shown().empty());
}

TEST_F(FakeCrawlTest, CancelBeforeStartKeepsAnEmptyReportOrNothing) {
    search->OpenSearch(Project({"http://h/a.htm"}), &progress, &box);
    EXPECT_EQ(KeepFound(*search, "P.htm", box), 1);
    EXPECT_EQ(ReadFileBytes("P.htm").find("<TR><TD BGCOLOR=#80b3ce>"), std::string::npos);
    EXPECT_TRUE(search->State().m_urlQueue.empty());
    EXPECT_TRUE(fetcher->opened.empty());
}

TEST_F(FakeCrawlTest, ShowResultsListsTheFailedUrlsBeforeTheReport) {
    for (bool withFailure : {true, false}) {
        SCOPED_TRACE(withFailure);
        std::filesystem::remove("P.htm");
        auto owned = std::make_unique<FakeFetcher>();
        owned->pages["http://h/gone.htm"] = {{}, withFailure ? FakePage::OpenError : FakePage::None};
        CSearch one(std::move(owned));
        RecordingProgress shown;
        CrawlTest::RunToEnd(one, Project({"http://h/gone.htm", "http://h/a.htm"}), shown, box);

        std::vector<std::string> listed;
        bool reportExisted = false;
        StringList& failed = one.State().m_failedUrls;
        const int written = ShowResults(one, "P.htm", box, [&] {
            reportExisted = std::filesystem::exists("P.htm");
            listed.assign(failed.begin(), failed.end());
            failed.clear();
        });
        EXPECT_EQ(written, 1);
        EXPECT_TRUE(std::filesystem::exists("P.htm"));
        EXPECT_FALSE(reportExisted);
        EXPECT_EQ(listed, withFailure ? std::vector<std::string>{"http://h/gone.htm"} : std::vector<std::string>{});
    }
}

// ---------------------------------------------------------------- against a server

class ServerCrawlTest : public CrawlTest {
protected:
    void SetUp() override { server.Start(); }
    // A crawl with the real session, run to its end.
    void Crawl(StringList entries) { Crawl(std::move(entries), progress); }
    void Crawl(StringList entries, RecordingProgress& shown) {
        search = std::make_unique<CSearch>();
        RunToEnd(*search, Project(std::move(entries)), shown, box);
    }
    std::string U(const std::string& path) const { return server.Url(path); }

    TestHttpServer server;
    std::unique_ptr<CSearch> search;
};

TEST_F(ServerCrawlTest, BodiesAreReadLineByLineAndJoined) {
    const std::string longLine = std::string(120, 'a') + "<a href=\"long.zip\">" + std::string(161, 'b');
    const struct {
        const char* path;
        std::string body;
        int status;
        std::int64_t bytes;
        const char* hit;  // empty: none
    } cases[] = {
        // A tag split over lines is whole again once the lines are joined.
        {"/crlf.htm", "<a hr\r\nef=\"crlf.zip\">\r\n", 200, 19, "crlf.zip"},
        {"/long.htm", longLine + "\n", 200, 300, "long.zip"},
        {"/nolf.htm", "x\n<a href=\"last.zip\">", 200, 20, "last.zip"},
        {"/empty.htm", "", 200, 0, ""},
        {"/missing.htm", "<html><a href=\"lost.zip\"></html>", 404, 32, "lost.zip"},
    };
    for (const auto& c : cases) server.Page(c.path, c.body, c.status);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        RecordingProgress shown;
        Crawl({"*" + U(c.path)}, shown);
        EXPECT_EQ(shown.Opened(), std::vector<std::string>{U(c.path)});
        EXPECT_EQ(search->State().m_nBytes, c.bytes);
        EXPECT_EQ(search->State().m_nPages, 2);
        EXPECT_TRUE(search->State().m_failedUrls.empty());
        if (*c.hit)
            EXPECT_EQ(HitsOf(*search, U(c.path)), StringList{U(std::string("/") + c.hit)});
        else
            EXPECT_EQ(PagesWithHits(*search), 0u);
        EXPECT_FALSE(shown.Statuses().empty());
    }
}

TEST_F(ServerCrawlTest, BodyCutOffBeforeItsLengthFailsButItsBytesCount) {
    server.Server().Get("/cut.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "text/html", [](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset > 0) return false;  // the connection drops here
            const std::string part = "line one\n<a href=\"cut.zip\">\npartial";
            sink.write(part.data(), part.size());
            return true;
        });
    });
    server.Page("/next.htm", "<a href=\"next.zip\">");
    Crawl({U("/cut.htm"), U("/next.htm")});
    EXPECT_EQ(search->State().m_failedUrls, StringList{U("/cut.htm")});
    EXPECT_EQ(search->State().m_nBytes, 8 + 18 + 19);
    EXPECT_TRUE(HitsOf(*search, U("/cut.htm")).empty());
    EXPECT_EQ(HitsOf(*search, U("/next.htm")), StringList{U("/next.zip")});
    EXPECT_EQ(search->State().m_nHits, 1);
    EXPECT_EQ(search->State().m_nPages, 3);
}

TEST_F(ServerCrawlTest, RefusedConnectionIsAFailedUrlWithoutAMessage) {
    std::string refused;
    {
        TestHttpServer gone;
        gone.Start();
        refused = gone.Url("/a.htm");
    }
    server.Page("/next.htm", "x");
    Crawl({"  " + refused, U("/next.htm")});
    EXPECT_EQ(search->State().m_failedUrls, StringList{refused});
    EXPECT_EQ(progress.Opened(), std::vector<std::string>{U("/next.htm")});
    EXPECT_TRUE(box.Shown().empty());
    EXPECT_EQ(search->State().m_nPages, 3);
}

TEST_F(ServerCrawlTest, DirectoryListingWithParentLinksEnds) {
    // As a web server lists its folders: every folder links back to its parent.
    for (const char* folder : {"/", "/sub/", "/sub/deeper/", "/other/"}) {
        std::string body = "<a href=\"../\">../</a>";
        if (std::string(folder) == "/") body += "<a href=\"sub/\">sub/</a><a href=\"other/\">other/</a>";
        if (std::string(folder) == "/sub/") body += "<a href=\"deeper/\">deeper/</a><a href=\"f.zip\">f</a>";
        server.Page(folder, body);
    }
    Crawl({U("/")});
    // The start page has no record until it yields a hit, so the first link back to it queues it once more.
    EXPECT_EQ(progress.Opened(),
              (std::vector<std::string>{U("/"), U("/other/"), U("/sub/"), U("/sub/deeper/"), U("/")}));
    EXPECT_EQ(HitsOf(*search, U("/sub/")), StringList{U("/sub/f.zip")});
}

TEST_F(ServerCrawlTest, HttpsSiteIsCrawledLikeHttpFromWhereTheStartLanded) {
    TestTlsServer tls;
    ScopedEnv trust("SSL_CERT_FILE", tls.CertificateFile());
    tls.Start();
    const std::string site = tls.Url("/docs/");
    server.Server().Get("/start", [site](const httplib::Request&, httplib::Response& res) { res.set_redirect(site); });
    tls.Page("/docs/", "<a href=\"a.htm\"><a href=\"/docs/b.htm#top\"><a href=\"pack.zip\">");
    tls.Page("/docs/a.htm", "<a href=\"../docs/b.htm\"><a href=\"sub/c.zip\">");
    tls.Page("/docs/b.htm", "<a href=\"https://127.0.0.1:1/elsewhere.zip\">");
    Crawl({U("/start")});
    EXPECT_TRUE(search->State().m_failedUrls.empty());
    EXPECT_EQ(progress.Opened(),
              (std::vector<std::string>{U("/start"), tls.Url("/docs/b.htm"), tls.Url("/docs/a.htm")}));
    EXPECT_EQ(HitsOf(*search, U("/start")), StringList{tls.Url("/docs/pack.zip")});
    EXPECT_EQ(HitsOf(*search, tls.Url("/docs/a.htm")), StringList{tls.Url("/docs/sub/c.zip")});
    EXPECT_EQ(HitsOf(*search, tls.Url("/docs/b.htm")), StringList{"https://127.0.0.1:1/elsewhere.zip"});
    search.reset();  // its kept-alive connections go before the server stops
}

TEST_F(ServerCrawlTest, RedirectedPageCountsForItsEntry) {
    server.Server().Get("/old.htm",
                        [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/new/page.htm"); });
    // Links resolve where the server sent the crawl; the hits belong to the entry.
    server.Page("/new/page.htm", "<a href=\"x.zip\">");
    Crawl({U("/old.htm")});
    EXPECT_EQ(progress.Opened(), std::vector<std::string>{U("/old.htm")});
    EXPECT_EQ(HitsOf(*search, U("/old.htm")), StringList{U("/new/x.zip")});
}

class SameTextTest : public ServerCrawlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SameTextTest, SecondPageIsScannedOnlyIfTheFirstHadNoHits) {
    const bool withHits = GetParam();
    const std::string text = withHits ? "<a href=\"q.zip\"><a href=\"q.htm\">" : "<a href=\"q.htm\">";
    server.Page("/a/p.htm", text);
    server.Page("/b/p.htm", text);
    Crawl({U("/a/p.htm"), U("/b/p.htm")});
    std::vector<std::string> expected = {U("/a/p.htm"), U("/a/q.htm"), U("/b/p.htm")};
    if (!withHits) expected.push_back(U("/b/q.htm"));
    EXPECT_EQ(progress.Opened(), expected);
    EXPECT_EQ(search->State().m_nBytes, static_cast<std::int64_t>(2 * text.size()));
    EXPECT_EQ(search->State().m_nHits, withHits ? 1 : 0);
    EXPECT_TRUE(HitsOf(*search, U("/b/p.htm")).empty());
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutHits, SameTextTest, ::testing::Bool());

TEST_F(ServerCrawlTest, CrawlIsDepthFirstAndStartEntriesKeepTheirOrder) {
    server.Page("/s1.htm", "<a href=\"l1.htm\"><a href=\"l2.htm\"><a href=\"l3.htm\">");
    server.Page("/l3.htm", "<a href=\"m.htm\">");
    server.Page("/s2.htm", "<a href=\"n.htm\">");
    for (const char* p : {"/l1.htm", "/l2.htm", "/m.htm", "/n.htm"}) server.Page(p, "x");
    Crawl({U("/s1.htm"), U("/s2.htm")});
    EXPECT_EQ(progress.Opened(), (std::vector<std::string>{U("/s1.htm"), U("/l3.htm"), U("/m.htm"), U("/l2.htm"),
                                                           U("/l1.htm"), U("/s2.htm"), U("/n.htm")}));
    EXPECT_EQ(search->State().m_nPages, 8);
    EXPECT_TRUE(search->State().m_urlQueue.empty());
}

TEST_F(ServerCrawlTest, StarEntryRecordsHitsAndFollowsNothing) {
    server.Page("/star.htm", "<a href=\"a.htm\"><a href=\"b.zip\">");
    server.Page("/a.htm", "<a href=\"c.zip\">");
    Crawl({"*" + U("/star.htm")});
    EXPECT_EQ(progress.Opened(), std::vector<std::string>{U("/star.htm")});
    EXPECT_EQ(HitsOf(*search, U("/star.htm")), StringList{U("/b.zip")});
}

TEST_F(ServerCrawlTest, PlusEntryKeepsItsBaseForThePagesBelowIt) {
    server.Page("/docs/index.htm", "<a href=\"a.htm\"><a href=\"/other/b.htm\">");
    server.Page("/docs/a.htm", "<a href=\"sub/c.htm\"><a href=\"/other/d.htm\">");
    server.Page("/docs/sub/c.htm", "<a href=\"c.zip\">");
    server.Page("/free/e.htm", "<a href=\"" + U("/other/f.htm") + "\">");
    server.Page("/other/f.htm", "x");
    Crawl({"+" + U("/docs/index.htm"), U("/free/e.htm")});
    EXPECT_EQ(progress.Opened(), (std::vector<std::string>{U("/docs/index.htm"), U("/docs/a.htm"), U("/docs/sub/c.htm"),
                                                           U("/free/e.htm"), U("/other/f.htm")}));
    EXPECT_EQ(HitsOf(*search, U("/docs/sub/c.htm")), StringList{U("/docs/sub/c.zip")});
    EXPECT_EQ(search->Worker().m_strBase, "");
}

TEST_F(ServerCrawlTest, ExclusionEntriesAreNeverFetchedAndDropMatchingLinks) {
    server.Page("/site.htm",
                "<a href=\"private/a.htm\"><a href=\"Private/x.zip\"><a href=\"pub/b.htm\">"
                "<a href=\"pub/y.zip\">");
    server.Page("/pub/b.htm", "x");
    server.Page("/private/a.htm", "<a href=\"z.zip\">");
    Crawl({"!PRIVATE", U("/site.htm"), "!nothing-here"});
    EXPECT_EQ(progress.Opened(), (std::vector<std::string>{U("/site.htm"), U("/pub/b.htm")}));
    EXPECT_EQ(HitsOf(*search, U("/site.htm")), StringList{U("/pub/y.zip")});
    EXPECT_EQ(search->State().m_nPages, 5);
}

TEST_F(ServerCrawlTest, ProjectOfExclusionsOnlyFetchesNothing) {
    Crawl({"!a", "!http://x/"});
    EXPECT_TRUE(progress.Opened().empty());
    EXPECT_EQ(search->State().m_nPages, 3);
    EXPECT_EQ(search->State().m_pageList.Head(), nullptr);
}

// A page that sends part of its body and then waits until the test lets it go.
struct Stall {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
};

TEST_F(ServerCrawlTest, StopInTheMiddleOfALargeSlowPage) {
    // Shared with the server's thread, which may still be on its way out when the test ends.
    auto stall = std::make_shared<Stall>();
    std::string firstPart;
    for (int i = 0; i < 200; ++i) firstPart += "<a href=\"f" + std::to_string(i) + ".zip\">line\n";
    server.Server().Get("/big.htm", [stall, firstPart](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(10'000'000, "text/html",
                                 [stall, firstPart](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         sink.write(firstPart.data(), firstPart.size());
                                         return true;
                                     }
                                     std::unique_lock<std::mutex> lock(stall->mutex);
                                     stall->changed.wait(lock, [&] { return stall->released; });
                                     return false;
                                 });
    });
    server.Page("/first.htm", "<a href=\"one.zip\">");
    struct Release {
        std::shared_ptr<Stall> s;
        ~Release() { s->Release(); }
    } releaseAtEnd{stall};

    search = std::make_unique<CSearch>();
    progress.search = search.get();
    search->OpenSearch(Project({"*" + U("/first.htm"), U("/big.htm"), U("/never.htm")}), &progress, &box);
    ASSERT_TRUE(search->Start());
    const std::int64_t expectedBytes = 18 + static_cast<std::int64_t>(firstPart.size() - 200);
    progress.WaitUntil([&](const std::vector<Event>& events) {
        return !events.empty() && events.back().kind == Event::Counters && events.back().bytes == expectedBytes;
    });
    search->Stop();

    EXPECT_FALSE(search->IsRunning());
    EXPECT_FALSE(progress.AnyAfterStop());
    EXPECT_FALSE(progress.Finished());
    EXPECT_EQ(search->State().m_nBytes, expectedBytes);
    EXPECT_EQ(search->State().m_nPages, 2);
    EXPECT_EQ(search->State().m_nHits, 1);
    EXPECT_TRUE(search->State().m_failedUrls.empty());
    EXPECT_TRUE(HitsOf(*search, U("/big.htm")).empty());
    EXPECT_EQ(Queue(*search), (std::vector<std::string>{U("/big.htm"), U("/never.htm")}));
}

}  // namespace
