// netzspurer-crawl as a user runs it: in the project's folder, against a
// 127.0.0.1 server, its output and exit status read back.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/TerminalText.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

extern char** environ;

namespace {

struct Outcome {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

class Runner {
public:
    // Starts the program in the current directory, its output going to files.
    explicit Runner(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {NETZSPURER_CRAWL_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> raw;
        for (auto& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "runner.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, "runner.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The program's own handling of Ctrl-C is under test, whatever this process does with it.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        m_ok = posix_spawn(&m_pid, raw[0], &actions, &attr, raw.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }

    void Signal(int sig) const { kill(m_pid, sig); }

    Outcome Wait() {
        Outcome o;
        if (!m_ok) return o;
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = ReadFileBytes("runner.out");
        o.err = ReadFileBytes("runner.err");
        return o;
    }

private:
    pid_t m_pid = -1;
    bool m_ok = false;
};

Outcome RunCrawler(const std::vector<std::string>& args) { return Runner(args).Wait(); }

// A project file as the editor writes it: CR LF after every line.
void WriteProject(const std::string& name, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += line + "\r\n";
    WriteFileBytes(name + ".nsp", bytes);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class RunnerTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(RunnerTest, HelpAndVersion) {
    const Outcome help = RunCrawler({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: netzspurer-crawl NAME\n", 0), 0u);
    EXPECT_TRUE(Contains(help.out, "--export FILE")) << help.out;
    const Outcome version = RunCrawler({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("netzspurer-crawl ", 0), 0u);
}

TEST_F(RunnerTest, BadUsageAndUnloadableProjectsExitWithTwo) {
    WriteProject("new", {"__URLSECTION__", "http://127.0.0.1:1/"});
    WriteProject("Broken", {".ZIP", "http://no-url-section/"});
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "Usage: netzspurer-crawl NAME"},
        {{"a", "b"}, "Usage: netzspurer-crawl NAME"},
        {{"--bogus"}, "Usage: netzspurer-crawl NAME"},
        {{""}, "Usage: netzspurer-crawl NAME"},
        {{"Missing"}, "Error: Project file missing!\n"},
        {{"Broken"}, "Error: Project file missing!\n"},
        // The placeholder of a new project, even with a file of that name beside it.
        {{"NEW"}, "Please provide another name for this project!"},
        {{"new"}, "Please provide another name for this project!"},
        // Export mistakes are found before the project is even looked for.
        {{"Missing", "--export", "r.pdf"}, "the export file r.pdf must end in .txt, .csv or .json"},
        {{"Missing", "--export=r"}, "the export file r must end in .txt, .csv or .json"},
        {{"Missing", "--export"}, "--export needs FILE"},
        {{"--export", "a.txt", "--export=b.csv", "Missing"}, "--export given twice"},
        {{"Missing", "--max-memory", "12X"}, "--max-memory takes a size"},
        {{"Missing", "--max-memory=0"}, "--max-memory takes a size"},
        {{"Missing", "--max-pages", "0"}, "--max-pages takes a number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.back());
        const Outcome o = RunCrawler(c.args);
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(Contains(o.err, c.message)) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists("Missing.htm"));
    EXPECT_FALSE(std::filesystem::exists("new.htm"));
}

TEST(TerminalSafeTest, ControlBytesBecomePercentHex) {
    const std::pair<std::string, std::string> cases[] = {
        {"http://h/a b.zip", "http://h/a b.zip"},
        {"\x1b]0;owned\x07\r\n\t", "%1B]0;owned%07%0D%0A%09"},
        {std::string("a\0b", 3), "a%00b"},
        {"\x1f\x20\x7e\x7f", "%1F ~%7F"},
        // C1 controls: as code points, and as lone bytes outside UTF-8.
        {"\xC2\x80\xC2\x9B\xC2\x9D\xC2\x9F", "%C2%80%C2%9B%C2%9D%C2%9F"},
        {"\x80\x9B[2J\x9F", "%80%9B[2J%9F"},
        {"\xC1\x9B\xE0\x82\x9B", "\xC1%9B\xE0%82%9B"},  // overlong forms are bytes
        {"\xE2\x80", "\xE2%80"},                        // cut short at the end
        // Bidirectional embeddings, overrides and isolates, and their neighbours.
        {"a\xE2\x80\xAA\xE2\x80\xAE"
         "b",
         "a%E2%80%AA%E2%80%AEb"},
        {"\xE2\x81\xA6\xE2\x81\xA9", "%E2%81%A6%E2%81%A9"},
        {"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA", "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
        // Other text, valid or not, as it is.
        {"100%\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "100%\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\xA0\xE9\xFF", "\xA0\xE9\xFF"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(TerminalSafe(in), out);
}

// Pages are registered before the server starts, so that its threads only read them.
class RunnerCrawlTest : public RunnerTest {
protected:
    std::string U(const std::string& path) const { return server.Url(path); }
    TestHttpServer server;
};

TEST_F(RunnerCrawlTest, CrawlWritesTheReportAndPrintsTheTrueCounts) {
    std::string refused;
    {
        TestHttpServer gone;
        gone.Start();
        refused = gone.Url("/x.htm");
    }
    server.Page("/index.htm", "<a href=\"a.htm\"><a href=\"private/p.htm\">\r\n<a href=\"i.zip\">\r\n");
    server.Page("/a.htm", "<a href=\"a1.zip\"><a href=\"a2.zip\">");
    server.Start();
    WriteProject("Site", {".ZIP", "__URLSECTION__", U("/index.htm"), "!private", refused});
    const Outcome o = RunCrawler({"Site"});
    EXPECT_EQ(o.status, 0) << o.err;
    // index.htm, a.htm, "!private", the refused page.
    EXPECT_EQ(o.out, "Pages scanned: 4\nHits: 3\nBytes retrieved: " + std::to_string(40 + 16 + 34) +
                         "\nFailed: " + refused + "\n");
    EXPECT_EQ(o.err, "");  // not a terminal: no progress line
    const std::string report = ReadFileBytes("Site.htm");
    EXPECT_TRUE(Contains(report, "Search results for Site.htm"));
    EXPECT_TRUE(Contains(report, U("/a1.zip")));
    EXPECT_TRUE(Contains(report, U("/i.zip")));
    EXPECT_EQ(report.substr(report.size() - 21), "</font></body></html>");
    // The crawl consumes the entries of its own copy; the project file stays as it was.
    EXPECT_TRUE(Contains(ReadFileBytes("Site.nsp"), "!private\r\n"));
}

TEST_F(RunnerCrawlTest, AllLinksComesFromTheProjectFile) {
    server.Page("/index.htm", "<a href=\"a.htm\"><a href=\"b.gif\">");
    server.Start();
    WriteProject("All", {"__ALLLINKS__", ".ZIP", "__URLSECTION__", "*" + U("/index.htm")});
    const Outcome o = RunCrawler({"All"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Pages scanned: 1\nHits: 2\nBytes retrieved: 32\n");
}

// A site without end: every page links to three new ones and a download.
TEST_F(RunnerCrawlTest, LimitsEndASiteWithoutEndAndKeepWhatWasFound) {
    server.Server().Get(R"(/t(\d+)\.htm)", [](const httplib::Request& req, httplib::Response& res) {
        const std::string n = req.matches[1];
        std::string body = "<a href=\"z" + n + ".zip\">";
        for (const char* k : {"1", "2", "3"}) body += "<a href=\"t" + n + k + ".htm\">";
        res.set_content(body, "text/html");
    });
    server.Start();
    WriteProject("Trap", {".ZIP", "__URLSECTION__", U("/t0.htm")});
    const struct {
        std::vector<std::string> limit;
        const char* said;
    } cases[] = {
        {{"--max-memory", "64K"}, "Stopped: memory limit reached\n"},
        {{"--max-pages=25"}, "Pages scanned: 25\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        std::vector<std::string> args = {"Trap", "--export", "Trap.txt"};
        args.insert(args.end(), c.limit.begin(), c.limit.end());
        const Outcome o = RunCrawler(args);
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_TRUE(Contains(o.out, c.said)) << o.out;
        EXPECT_TRUE(o.out.ends_with("limit reached\n")) << o.out;
        const std::string report = ReadFileBytes("Trap.htm");
        EXPECT_TRUE(Contains(report, U("/z0.zip")));
        EXPECT_TRUE(report.ends_with("</font></body></html>"));
        EXPECT_TRUE(Contains(ReadFileBytes("Trap.txt"), U("/z0.zip") + "\n"));
    }
}

TEST_F(RunnerTest, ProjectWithoutEntriesWritesAnEmptyReport) {
    WriteProject("Empty", {"__URLSECTION__"});
    const Outcome o = RunCrawler({"Empty"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Pages scanned: 0\nHits: 0\nBytes retrieved: 0\n");
    EXPECT_TRUE(std::filesystem::exists("Empty.htm"));
}

TEST_F(RunnerCrawlTest, ReportThatCannotBeWrittenExitsWithOne) {
    server.Page("/index.htm", "<a href=\"i.zip\">");
    server.Start();
    WriteProject("Site", {".ZIP", "__URLSECTION__", U("/index.htm")});
    std::filesystem::create_directory("Site.htm");
    const Outcome o = RunCrawler({"Site"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Error: Share violation!\n");
    EXPECT_EQ(o.out, "Pages scanned: 1\nHits: 1\nBytes retrieved: 16\n");
}

TEST_F(RunnerCrawlTest, ExportsReadBackInEachFormat) {
    std::string refused;
    {
        TestHttpServer gone;
        gone.Start();
        refused = gone.Url("/x.htm");
    }
    // a.htm becomes known (queued) before index.htm has its first hit, so it comes first.
    server.Page("/index.htm", "<a href=\"a.htm\"><a href=\"x,y.zip\"><a href=\"i.zip\">");
    server.Page("/a.htm", "<a href=\"i.zip\"><a href=\"a1.zip\">");
    server.Start();
    WriteProject("Site", {".ZIP", "__URLSECTION__", U("/index.htm"), refused});
    const std::string a = U("/a.htm"), index = U("/index.htm"), i = U("/i.zip"), a1 = U("/a1.zip"), xy = U("/x,y.zip");
    const std::pair<std::string, std::string> cases[] = {
        {"Site.txt", i + "\n" + a1 + "\n" + xy + "\n"},
        {"Site.CSV", "page,hit\r\n" + a + "," + i + "\r\n" + a + "," + a1 + "\r\n" + index + ",\"" + xy + "\"\r\n" +
                         index + "," + i + "\r\n"},
        {"Site.json", nlohmann::json{{"counters", {{"pages_scanned", 3}, {"hits", 4}, {"bytes_retrieved", 83}}},
                                     {"pages", {{{"url", a}, {"hits", {i, a1}}}, {{"url", index}, {"hits", {xy, i}}}}},
                                     {"failed_urls", {refused}}}
                          .dump()},
    };
    for (const auto& [file, expected] : cases) {
        const Outcome o = RunCrawler({"Site", "--export", file});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out, "Pages scanned: 3\nHits: 4\nBytes retrieved: 83\nFailed: " + refused + "\n");
        const std::string written = ReadFileBytes(file);
        if (file.ends_with(".json"))
            EXPECT_EQ(nlohmann::json::parse(written), nlohmann::json::parse(expected));
        else
            EXPECT_EQ(written, expected) << file;
    }
}

// A page can put raw control bytes into a link; the link fails and is listed.
TEST_F(RunnerCrawlTest, ControlBytesFromPagesArePrintedAsPercentHex) {
    std::string refused;
    {
        TestHttpServer gone;
        gone.Start();
        refused = gone.Url("/");
    }
    const std::string page = "<a href=\"" + refused + "\x1b]0;owned\x07\x7f\xC2\x9B\x9D\xE2\x80\xAE.htm\">";
    server.Page("/index.htm", page);
    server.Start();
    WriteProject("Site", {".ZIP", "__URLSECTION__", U("/index.htm")});
    const Outcome o = RunCrawler({"Site"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Pages scanned: 2\nHits: 0\nBytes retrieved: " + std::to_string(page.size()) +
                         "\nFailed: " + refused + "%1B]0;owned%07%7F%C2%9B%9D%E2%80%AE.htm\n");
}

// Ctrl-C while the runner waits in the middle of a page that does not come.
class RunnerSignalTest : public RunnerCrawlTest, public ::testing::WithParamInterface<int> {};

TEST_P(RunnerSignalTest, StopsLikeCancelAndKeepsWhatWasFound) {
    struct Stall {
        std::mutex mutex;
        std::condition_variable changed;
        bool requested = false;
        bool released = false;
    };
    auto stall = std::make_shared<Stall>();
    server.Server().Get("/slow.htm", [stall](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1'000'000, "text/html", [stall](size_t, size_t, httplib::DataSink&) {
            // The header has gone out; the body never comes.
            std::unique_lock<std::mutex> lock(stall->mutex);
            stall->requested = true;
            stall->changed.notify_all();
            stall->changed.wait(lock, [&] { return stall->released; });
            return false;
        });
    });
    server.Page("/index.htm", "<a href=\"i.zip\">");
    server.Start();
    std::string refused;
    {
        TestHttpServer gone;
        gone.Start();
        refused = gone.Url("/x.htm");
    }
    WriteProject("Site", {".ZIP", "__URLSECTION__", refused, "*" + U("/index.htm"), U("/slow.htm"), U("/never.htm")});

    // One page at a time: slow.htm is asked for only once the worker has reached it.
    Runner runner({"Site", "--export", "Site.txt", "--connections", "1"});
    {
        std::unique_lock<std::mutex> lock(stall->mutex);
        stall->changed.wait(lock, [&] { return stall->requested; });
    }
    runner.Signal(GetParam());
    const Outcome o = runner.Wait();
    {
        std::lock_guard<std::mutex> lock(stall->mutex);
        stall->released = true;
        stall->changed.notify_all();
    }
    // As a shell reports an end by the signal: 130 for Ctrl-C, 143 for SIGTERM.
    EXPECT_EQ(o.status, 128 + GetParam()) << o.err;
    // The refused page and index.htm are done; slow.htm was in process.
    EXPECT_EQ(o.out, "Pages scanned: 2\nHits: 1\nBytes retrieved: 16\nFailed: " + refused + "\n");
    EXPECT_TRUE(Contains(ReadFileBytes("Site.htm"), U("/i.zip")));
    EXPECT_EQ(ReadFileBytes("Site.txt"), U("/i.zip") + "\n");
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, RunnerSignalTest, ::testing::Values(SIGINT, SIGTERM));

}  // namespace
