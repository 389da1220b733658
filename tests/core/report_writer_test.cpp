#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crawl/CrawlState.h"
#include "project/AtomicFile.h"
#include "results/ReportWriter.h"
#include "support/FileSizeLimit.h"
#include "support/HeapPeak.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"

namespace {

// Pins the time zone for one test, so that a fixed time has one local reading.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

// A page list of our own, built from (url, hits) pairs in order.
class Pages {
public:
    Pages& Add(const std::string& url, std::vector<std::string> hits) {
        auto record = std::make_unique<PageRecord>();
        record->url = url;
        record->hits = std::move(hits);
        if (!m_records.empty()) m_records.back()->next = record.get();
        m_records.push_back(std::move(record));
        return *this;
    }
    const PageRecord* Head() const { return m_records.empty() ? nullptr : m_records.front().get(); }

private:
    std::vector<std::unique_ptr<PageRecord>> m_records;
};

constexpr std::time_t kWhen = 1796652309;  // 14:05:09, Monday, December 07, 2026 (UTC)

// The page's fixed text, written out here once more so that any change to it shows.
const std::string kHead = "<html><head></head><body BGCOLOR=#000000><font face=\"Arial\" size=\"-1\">";
const std::string kTitleStart =
    "<TABLE BORDER=1 cellspacing=0 cellpadding=0 WIDTH=100%><TR><TD BGCOLOR=#000000><FONT "
    "SIZE=-1 COLOR=#FFFFFF><B>Search results for ";
const std::string kTitleMiddle = "</B></TD><TD BGCOLOR=#000000><FONT SIZE=-1 COLOR=#FFFFFF><B>";
const std::string kTitleEnd = "</B></TD></TR>";
const std::string kFirstRowStart = "<TR><TD BGCOLOR=#80b3ce><FONT SIZE=-1><a href=\"";
const std::string kLinkMiddle = "\">";
const std::string kFirstRowMiddle = "</a></FONT></TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1><a href=\"";
const std::string kFurtherRowStart = "<TR><TD BGCOLOR=#80b3ce>+</TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1><a href=\"";
const std::string kRowEnd = "</a></FONT></TD></TR>";
const std::string kFooter =
    "</TABLE><BR><font COLOR=#FFFFFF><center>automagically generated with velmor "
    "Netzspurer<BR></center></font>";
const std::string kTail = "</font></body></html>";

std::string Header(const std::string& title) {
    return kHead + kTitleStart + title + kTitleMiddle + "14:05:09, Monday, December 07, 2026" + kTitleEnd;
}

std::string Link(const std::string& url) { return url + kLinkMiddle + url; }

class ReportWriterTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedTimeZone utc{"UTC0"};
    ScriptedMessageBox box;
};

TEST_F(ReportWriterTest, SearchWithoutHitsHasOnlyTheTitleRow) {
    Pages pages;
    pages.Add("http://h/a.htm", {}).Add("http://h/b.htm", {});
    EXPECT_EQ(WriteReport("Downloads.htm", pages.Head(), box, kWhen), 1);
    EXPECT_EQ(ReadFileBytes("Downloads.htm"), Header("Downloads.htm") + kFooter + kTail);
    EXPECT_TRUE(box.Shown().empty());
}

TEST_F(ReportWriterTest, OneHitGivesOneFirstRow) {
    Pages pages;
    pages.Add("http://h/a.htm", {"http://h/x.zip"});
    ASSERT_EQ(WriteReport("P.htm", pages.Head(), box, kWhen), 1);
    EXPECT_EQ(ReadFileBytes("P.htm"), Header("P.htm") + kFirstRowStart + Link("http://h/a.htm") + kFirstRowMiddle +
                                          Link("http://h/x.zip") + kRowEnd + kFooter + kTail);
}

TEST_F(ReportWriterTest, FurtherHitsGetPlusRowsAndPagesWithoutHitsAreLeftOut) {
    Pages pages;
    pages.Add("http://h/", {"http://h/1.zip", "http://h/2.zip", "http://h/3.zip"})
        .Add("http://h/empty.htm", {})
        .Add("http://h/b.htm", {"http://h/4.zip"});
    ASSERT_EQ(WriteReport("P.htm", pages.Head(), box, kWhen), 1);
    const std::string expected =
        Header("P.htm") + kFirstRowStart + Link("http://h/") + kFirstRowMiddle + Link("http://h/1.zip") + kRowEnd +
        kFurtherRowStart + Link("http://h/2.zip") + kRowEnd + kFurtherRowStart + Link("http://h/3.zip") + kRowEnd +
        kFirstRowStart + Link("http://h/b.htm") + kFirstRowMiddle + Link("http://h/4.zip") + kRowEnd + kFooter + kTail;
    const std::string written = ReadFileBytes("P.htm");
    EXPECT_EQ(written, expected);
    EXPECT_EQ(written.find('\n'), std::string::npos);
    EXPECT_EQ(written.find('\r'), std::string::npos);
    EXPECT_EQ(written.find('\0'), std::string::npos);
}

TEST_F(ReportWriterTest, UrlsAndTitleCannotCarryMarkup) {
    Pages pages;
    pages.Add("http://h/a.htm?x=1&y=2", {"http://h/\"><script>alert(1)</script>.zip"});
    ASSERT_EQ(WriteReport("a&b<c>.htm", pages.Head(), box, kWhen), 1);
    const std::string page = "http://h/a.htm?x=1&amp;y=2";
    const std::string hit = "http://h/&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;.zip";
    const std::string written = ReadFileBytes("a&b<c>.htm");
    EXPECT_EQ(written, Header("a&amp;b&lt;c&gt;.htm") + kFirstRowStart + Link(page) + kFirstRowMiddle + Link(hit) +
                           kRowEnd + kFooter + kTail);
    EXPECT_EQ(written.find("<script"), std::string::npos);
}

TEST_F(ReportWriterTest, UrlsThatRunScriptAreTextNotLinks) {
    Pages pages;
    pages.Add("http://h/a.htm", {"data:text/html,<b>x</b>.zip", "http://h/ok.zip", "vbscript:y.zip"})
        .Add(" javascript:void(0)", {"http://h/z.zip"});
    ASSERT_EQ(WriteReport("P.htm", pages.Head(), box, kWhen), 1);
    EXPECT_EQ(ReadFileBytes("P.htm"),
              Header("P.htm") + kFirstRowStart + Link("http://h/a.htm") +
                  "</a></FONT></TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1>data:text/html,&lt;b&gt;x&lt;/b&gt;.zip"
                  "</FONT></TD></TR>" +
                  kFurtherRowStart + Link("http://h/ok.zip") + kRowEnd +
                  "<TR><TD BGCOLOR=#80b3ce>+</TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1>vbscript:y.zip"
                  "</FONT></TD></TR>"
                  "<TR><TD BGCOLOR=#80b3ce><FONT SIZE=-1> javascript:void(0)</FONT></TD>"
                  "<TD BGCOLOR=#d5d3a8><FONT SIZE=-1><a href=\"" +
                  Link("http://h/z.zip") + kRowEnd + kFooter + kTail);
}

TEST(RunsScriptTest, ReadsTheSchemeAsABrowserDoes) {
    const struct {
        std::string url;
        bool runs;
    } cases[] = {
        {"JavaScript:x", true},
        {std::string("\0\x01\x1f javascript:x", 16), true},
        {"java\tscript:x", true},
        {"\njava\rscr\nipt:x", true},
        {"http://h/javascript:x.zip", false},
        {"/javascript:x", false},
        {"java script:x", false},  // a blank inside is no scheme: a relative link
        {"javascripts:x", false},
        {"java%73cript:x", false},
        {"javascript", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(RunsScript(c.url), c.runs) << c.url;
}

TEST(EscapeHtmlTest, EscapesTheFourMarkupCharactersOnly) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"http://h/a.htm", "http://h/a.htm"},
        {"&", "&amp;"},
        {"&amp;", "&amp;amp;"},  // an entity in a link is text, not an entity
        {"<>\"", "&lt;&gt;&quot;"},
        {"it's", "it's"},
        {"\xE4\xF6", "\xE4\xF6"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeHtml(c.in), c.out) << c.in;
}

TEST_F(ReportWriterTest, ExistingLongerReportIsReplacedWhole) {
    WriteFileBytes("P.htm", std::string(10000, 'x'));
    ASSERT_EQ(WriteReport("P.htm", nullptr, box, kWhen), 1);
    EXPECT_EQ(ReadFileBytes("P.htm"), Header("P.htm") + kFooter + kTail);
}

TEST_F(ReportWriterTest, EveryFileFailureIsAShareViolation) {
    std::filesystem::create_directory("IsADirectory.htm");
    for (const std::string name : {"IsADirectory.htm", "missing/dir/P.htm", ""}) {
        ScriptedMessageBox failures;
        EXPECT_EQ(WriteReport(name, nullptr, failures, kWhen), 0) << name;
        const auto shown = failures.Shown();
        ASSERT_EQ(shown.size(), 1u) << name;
        EXPECT_EQ(shown[0].text, "Share violation!");
        EXPECT_EQ(shown[0].caption, "Error");
        EXPECT_EQ(shown[0].icon, MsgIcon::Stop);
        EXPECT_EQ(shown[0].buttons, MsgButtons::Ok);
    }
    EXPECT_TRUE(std::filesystem::is_directory("IsADirectory.htm"));
}

TEST_F(ReportWriterTest, FailedWriteLeavesTheOldReportAlone) {
    const std::string old = "<html>the last good report</html>";
    WriteFileBytes("P.htm", old);
    Pages pages;
    for (int i = 0; i < 100; ++i) pages.Add("http://h/" + std::to_string(i) + ".htm", {"http://h/x.zip"});
    {
        FileSizeLimit limit(256);  // as a full disk
        ASSERT_TRUE(limit.Ok());
        EXPECT_EQ(WriteReport("P.htm", pages.Head(), box, kWhen), 0);
    }
    EXPECT_EQ(box.Texts(), std::vector<std::string>{"Share violation!"});
    EXPECT_EQ(ReadFileBytes("P.htm"), old);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(".")) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"P.htm"});
}

TEST_F(ReportWriterTest, CancelledWriteLeavesTheOldReportAndTellsNothing) {
    const std::string old = "<html>the last good report</html>";
    WriteFileBytes("P.htm", old);
    Pages pages;
    pages.Add("http://h/a.htm", {"http://h/x.zip"});
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(WriteReport("P.htm", pages.Head(), box, kWhen, &cancel), 0);
    EXPECT_TRUE(box.Shown().empty());
    EXPECT_EQ(ReadFileBytes("P.htm"), old);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(".")) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"P.htm"});
}

// A report hundreds of times the bound: the writer holds its buffer and one URL
// at a time, never the page.
TEST_F(ReportWriterTest, WritingLongHitsHoldsLittleMoreThanTheBuffer) {
    const std::string dir = "http://h/" + std::string(1000, 'd') + "/";
    std::vector<std::string> hits;
    for (int i = 0; i < 50000; ++i) hits.push_back(dir + std::to_string(i) + ".zip");
    Pages pages;
    pages.Add(dir + "index.htm", std::move(hits));
    const std::int64_t bound = 2 * CAtomicFile::kBufferBytes;
    HeapPeak peak;
    ASSERT_EQ(WriteReport("P.htm", pages.Head(), box, kWhen), 1);
    EXPECT_LT(peak.Bytes(), bound);
    EXPECT_GT(std::filesystem::file_size("P.htm"), 500u * bound);
}

TEST(ReportDateTest, FormatsLocalTimeInEnglish) {
    const struct {
        const char* tz;
        std::time_t when;
        const char* text;
    } cases[] = {
        {"UTC0", 0, "00:00:00, Thursday, January 01, 1970"},
        {"UTC0", 1796652309, "14:05:09, Monday, December 07, 2026"},
        {"UTC0", 1709197687, "09:08:07, Thursday, February 29, 2024"},
        {"UTC0", 978307199, "23:59:59, Sunday, December 31, 2000"},
        {"UTC0", 1688472000, "12:00:00, Tuesday, July 04, 2023"},
        // Local time, not UTC: two hours east the evening is already the next day.
        {"XYZ-2", 978307199, "01:59:59, Monday, January 01, 2001"},
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.tz);
        EXPECT_EQ(FormatReportDate(c.when), c.text) << c.tz << " " << c.when;
    }
}

}  // namespace
