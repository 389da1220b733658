// netzspurer-crawl: runs one search project without windows, the way the
// project editor's "Search", then "Start" and "Show results" would, and writes
// the same results page.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/RunnerConsole.h"
#include "app/RunnerOptions.h"
#include "app/TerminalText.h"
#include "ui/MessageBox.h"
#include "crawl/CrawlState.h"
#include "crawl/HeapTuning.h"
#include "crawl/Search.h"
#include "crawl/SearchProgress.h"
#include "project/ProjectData.h"
#include "project/ProjectFile.h"
#include "project/UrlEntry.h"
#include "results/Export.h"
#include "results/ReportWriter.h"

#ifndef NETZSPURER_VERSION
#define NETZSPURER_VERSION "unknown"
#endif

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitUsage = 2;
// As shells report a program ended by a signal: 128 + the signal's number.
constexpr int kExitInterrupted = 128 + SIGINT;
constexpr int kExitTerminated = 128 + SIGTERM;

const std::string kUsage =
    "Usage: netzspurer-crawl NAME\n"
    "Runs the search project NAME (the file NAME.nsp in the current directory)\n"
    "and writes its results page NAME.htm.\n"
    "\n"
    "  --export FILE    also write the results to FILE, in the form its extension\n"
    "                   chooses:\n"
    "                     .txt   the distinct hit URLs, one a line (for wget -i)\n"
    "                     .csv   one row per hit: page,hit\n"
    "                     .json  the counts, the pages with their hits, the failed URLs\n"
    "  --connections N  keep up to N pages in flight, fetching ahead of the search\n"
    "                   (1 to " +
    std::to_string(CSearch::kMaxConnections) + ", default " + std::to_string(CSearch::kDefaultConnections) +
    "); 1 fetches one page at a time.\n"
    "                   The results are the same with any N.\n"
    "  --max-memory SIZE  stop when the crawl's own data (found pages and hits,\n"
    "                   the queue) passes SIZE (such as 512M or 2G; default a\n"
    "                   quarter of the machine's memory), keeping what was found\n"
    "  --max-pages N    stop after N pages, keeping what was found\n"
    "  --ignore-robots  neither read nor obey the sites' robots.txt (for sites\n"
    "                   of your own); pages robots.txt keeps crawlers off are\n"
    "                   otherwise skipped and listed as \"Skipped (robots.txt)\"\n"
    "  --fetch-stats    at the end, tell on standard error how many pages were\n"
    "                   requested, fetched ahead, and fetched ahead but never reached,\n"
    "                   and the most memory pages fetched ahead held at once\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Ctrl-C (or SIGTERM) ends the search early and keeps what was found; a second\n"
    "Ctrl-C ends the program at once. Ctrl-C while the results are being written\n"
    "ends it too, and leaves the old results page and export as they were.\n"
    "Exit status: 0 results page (and export) written, 1 results page or export\n"
    "not written or a limit ended the search, 2 bad usage or project file missing,\n"
    "130 interrupted, 143 terminated.\n";

// The worker's end and the signals both arrive here, one byte each, so the main
// thread needs nothing but a blocking read to wait for whichever comes first.
int g_wakeRead = -1;
int g_wakeWrite = -1;
constexpr char kWakeSignal = 'S';
constexpr char kWakeFinished = 'F';

// The first stop signal asks the search to stop and keep what it found; a
// second one ends the program at once, where it stands. Once the results are
// being written, any stop signal abandons the write instead: the results page
// and the export are each written to a file of their own that replaces the
// old one only when complete, so the old one then stays whole and the
// temporary file is removed before the program ends.
volatile std::sig_atomic_t g_stopSignal = 0;  // the latest that counted
volatile std::sig_atomic_t g_writingResults = 0;
std::atomic<bool> g_cancelWrite{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnSignal(int signal) {
    if (g_writingResults != 0) {
        g_stopSignal = signal;
        g_cancelWrite.store(true);
        return;
    }
    if (g_stopSignal != 0) ::_exit(128 + signal);
    g_stopSignal = signal;
    const int saved = errno;
    const char c = kWakeSignal;
    if (::write(g_wakeWrite, &c, 1) < 0) {
        // Nothing to be done inside a handler; the pipe is only full if a byte is already waiting.
    }
    errno = saved;
}

void Wake(char reason) {
    if (::write(g_wakeWrite, &reason, 1) < 0) {
        // As above: a full pipe already holds a wake-up.
    }
}

bool SetUpWakePipe() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    for (int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The handler must never block on a full pipe.
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    g_wakeRead = fds[0];
    g_wakeWrite = fds[1];
    return true;
}

void InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the main thread's read is to be interrupted
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    // A closed standard output must not kill the run before the report is written.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

char WaitForWake() {
    for (;;) {
        char c = 0;
        ssize_t n = ::read(g_wakeRead, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) continue;
        return kWakeFinished;  // the pipe is broken; nothing better to wait for
    }
}

class ConsoleProgress : public ISearchProgress {
public:
    explicit ConsoleProgress(RunnerConsole& console) : m_console(console) {}
    void SetStatusText(const std::string& text) override {
        m_console.Update(nullptr, &text, nullptr, nullptr, nullptr);
    }
    void UrlOpened(const std::string& url) override { m_console.Update(&url, nullptr, nullptr, nullptr, nullptr); }
    void CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) override {
        m_console.Update(nullptr, nullptr, &pages, &hits, &bytes);
    }
    void SearchFinished() override { Wake(kWakeFinished); }

private:
    RunnerConsole& m_console;
};

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "netzspurer-crawl: " << TerminalSafe(problem) << "\n";
    std::cerr << kUsage;
    return kExitUsage;
}

// The summary goes to standard output, which may be a terminal too.
void PrintLine(const std::string& text) { std::cout << TerminalSafe(text) << "\n"; }

// The numbers printed at the end and exported.
SearchCounters FinalCounters(const CrawlState& state) {
    // m_nPages runs one ahead of the entries whose step has ended.
    return SearchCounters{state.m_nPages - 1, state.m_nHits, state.m_nBytes};
}

// Written at the same moment as the results page and from the same lists.
bool WriteRequestedExport(const RunnerOptions& options, const PageRecord* pages, const SearchCounters& counters,
                          const StringList& failed, IMessageBox& box) {
    if (!options.exportFile) return true;
    if (WriteExport(*options.exportFile, options.exportFormat, pages, counters, failed, &g_cancelWrite)) return true;
    if (g_cancelWrite) return false;
    box.Show("The export could not be written to " + *options.exportFile, "Error", MsgIcon::Stop, MsgButtons::Ok);
    return false;
}

int Run(const RunnerOptions& options) {
    const std::string& name = options.projectName;
    RunnerConsole console;
    ConsoleMessageBox box(console);

    if (!SetUpWakePipe()) {
        box.Show("Process could not be started!", "Error", MsgIcon::Stop, MsgButtons::Ok);
        return kExitNotWritten;
    }
    InstallSignalHandlers();

    // The new-project placeholder never has a file: the editor refuses to save under it.
    if (IsNewProjectName(name)) {
        box.Show("Please provide another name for this project!", "Important", MsgIcon::Information, MsgButtons::Ok);
        return kExitUsage;
    }
    ProjectData project;
    if (!LoadProject(name, project)) {
        box.Show("Project file missing!", "Error", MsgIcon::Stop, MsgButtons::Ok);
        return kExitUsage;
    }

    // The worker and whatever threads the session starts inherit this mask, so
    // Ctrl-C interrupts only the main thread's wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t oldMask;
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, &oldMask);

    ConsoleProgress progress(console);
    std::unique_ptr<CSearch> search;
    try {
        search = std::make_unique<CSearch>(options.connections);
    } catch (const std::exception& e) {
        ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
        box.Show(e.what(), "Error", MsgIcon::Stop, MsgButtons::Ok);
        return kExitNotWritten;
    }
    search->m_limits = options.limits;
    search->m_obeyRobots = options.obeyRobots;
    search->OpenSearch(project, &progress, &box);
    const CrawlState& state = search->State();

    bool started = false;
    if (!state.m_urlQueue.empty()) {
        started = search->Start();
        if (!started) {
            ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
            box.Show("Process could not be started!", "Error", MsgIcon::Stop, MsgButtons::Ok);
            return kExitNotWritten;
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);

    // A project without URL entries ends at once with an empty results page.
    if (started && WaitForWake() == kWakeSignal) search->RequestStop();
    // Until the worker has returned, a second signal still ends the program at once.
    search->Stop();

    // As "Show results" or Cancel with "Save found? Yes" in the window: the
    // results page of what was found, then the export, from the same lists.
    const StringList& failed = state.m_failedUrls;
    const StringList& skipped = state.m_skippedUrls;
    const SearchCounters counters = FinalCounters(state);
    const PageRecord* pages = state.m_pageList.Head();
    g_writingResults = 1;
    const int written = WriteReport(name + ".htm", pages, box, std::time(nullptr), &g_cancelWrite);
    const bool exported = !g_cancelWrite && WriteRequestedExport(options, pages, counters, failed, box);
    g_writingResults = 0;
    console.Clear();

    PrintLine("Pages scanned: " + std::to_string(counters.pagesScanned));
    PrintLine("Hits: " + std::to_string(counters.hits));
    PrintLine("Bytes retrieved: " + std::to_string(counters.bytesRetrieved));
    for (const std::string& url : failed) PrintLine("Failed: " + url);
    for (const std::string& url : skipped) PrintLine(kSkippedByRobots + url);
    if (!skipped.empty()) PrintLine("Pages skipped (robots.txt): " + std::to_string(skipped.size()));
    const LimitReached limit = search->Limit();
    if (limit != LimitReached::None) PrintLine(LimitReachedText(limit));
    std::cout.flush();
    if (options.fetchStats) {
        const FetchStats stats = search->FetchStatistics();
        std::cerr << "Requests: " << stats.requests << "  Fetched ahead: " << stats.fetchedAhead
                  << "  Never reached: " << stats.neverReached << "  Peak waiting bytes: " << stats.peakWaitingBytes
                  << "\nCrawl data bytes: " << search->CrawlBytes() << "  Page list bytes: " << state.m_pageList.Bytes()
                  << "\n";
    }

    int code = written == 1 && exported && limit == LimitReached::None ? kExitWritten : kExitNotWritten;
    if (g_stopSignal != 0) code = g_stopSignal == SIGTERM ? kExitTerminated : kExitInterrupted;
    // Everything is written and every thread has ended. A large search's lists
    // hold millions of blocks: handing them back one by one kept the program
    // running a third of a second after a search of 250,000 pages, where the
    // system takes the whole heap back at once.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace

int main(int argc, char** argv) {
    const RunnerCommandLine line = ParseRunnerCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
        case RunnerAction::ShowHelp: std::cout << kUsage; return 0;
        case RunnerAction::ShowVersion: std::cout << "netzspurer-crawl " << NETZSPURER_VERSION << "\n"; return 0;
        case RunnerAction::BadUsage: return Usage(line.problem);
        case RunnerAction::Run: break;
    }
    KeepPageBlocksInHeap();
    return Run(line.options);
}
