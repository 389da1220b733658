// netzspurer-crawl: runs one search project without windows, the way the
// project editor's "Search", then "Start" and "Show results" would, and writes
// the same results page.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "ui/MessageBox.h"
#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "crawl/SearchProgress.h"
#include "project/ProjectData.h"
#include "project/ProjectFile.h"
#include "project/UrlEntry.h"

#ifndef NETZSPURER_VERSION
#define NETZSPURER_VERSION "unknown"
#endif

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

const char* const kUsage =
    "Usage: netzspurer-crawl NAME\n"
    "Runs the search project NAME (the file NAME.nsp in the current directory)\n"
    "and writes its results page NAME.htm.\n"
    "\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Ctrl-C ends the search early and keeps what was found.\n"
    "Exit status: 0 results page written, 1 results page not written,\n"
    "2 bad usage or project file missing, 130 interrupted.\n";

// The worker's end and the signals both arrive here, one byte each, so the main
// thread needs nothing but a blocking read to wait for whichever comes first.
int g_wakeRead = -1;
int g_wakeWrite = -1;
constexpr char kWakeSignal = 'S';
constexpr char kWakeFinished = 'F';

extern "C" void OnSignal(int) {
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

// The one-line progress display on a terminal's standard error, shared with
// the message boxes so that a message never lands in the middle of the line.
class Console {
public:
    Console() : m_tty(::isatty(STDERR_FILENO) == 1) {}

    void Message(const std::string& caption, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ClearLocked();
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        std::fflush(stderr);
        DrawLocked(true);
    }

    void Update(const std::string* url, const std::string* status, const std::int32_t* pages,
                const std::int32_t* hits, const std::int64_t* bytes) {
        if (!m_tty) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (url != nullptr) m_url = *url;
        if (status != nullptr) m_status = *status;
        if (pages != nullptr) m_pages = *pages;
        if (hits != nullptr) m_hits = *hits;
        if (bytes != nullptr) m_bytes = *bytes;
        // Counters change with every line read; a terminal need not see each one.
        DrawLocked(url != nullptr);
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ClearLocked();
        m_url.clear();
    }

private:
    void DrawLocked(bool force) {
        if (!m_tty || m_url.empty()) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - m_lastDraw < std::chrono::milliseconds(50)) return;
        m_lastDraw = now;
        std::string line = "Pages " + std::to_string(m_pages) + "  Hits " + std::to_string(m_hits) +
                           "  Bytes " + std::to_string(m_bytes) + "  " + m_url;
        if (!m_status.empty()) line += "  [" + m_status + "]";
        std::size_t width = 80;
        winsize ws{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) width = ws.ws_col;
        // One column short of the edge, or the terminal wraps and \r redraws one line too low.
        if (line.size() > width - 1) line.resize(width - 1);
        for (char& c : line) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        }
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    void ClearLocked() {
        if (!m_tty || !m_drawn) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }

    const bool m_tty;
    std::mutex m_mutex;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::string m_url;
    std::string m_status;
    std::int32_t m_pages = 0;
    std::int32_t m_hits = 0;
    std::int64_t m_bytes = 0;
};

class ConsoleMessageBox : public IMessageBox {
public:
    explicit ConsoleMessageBox(Console& console) : m_console(console) {}
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon,
                   MsgButtons buttons) override {
        m_console.Message(caption, text);
        return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    }

private:
    Console& m_console;
};

class ConsoleProgress : public ISearchProgress {
public:
    explicit ConsoleProgress(Console& console) : m_console(console) {}
    void SetStatusText(const std::string& text) override {
        m_console.Update(nullptr, &text, nullptr, nullptr, nullptr);
    }
    void UrlOpened(const std::string& url) override {
        m_console.Update(&url, nullptr, nullptr, nullptr, nullptr);
    }
    void CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) override {
        m_console.Update(nullptr, nullptr, &pages, &hits, &bytes);
    }
    void SearchFinished() override { Wake(kWakeFinished); }

private:
    Console& m_console;
};

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "netzspurer-crawl: " << problem << "\n";
    std::cerr << kUsage;
    return kExitUsage;
}

int Run(const std::string& name) {
    Console console;
    ConsoleMessageBox box(console);

    if (!SetUpWakePipe()) {
        box.Show("Process could not be started!", "Error", MsgIcon::Stop, MsgButtons::Ok);
        return kExitNotWritten;
    }
    InstallSignalHandlers();

    // The new-project placeholder never has a file: the editor refuses to save under it.
    if (IsNewProjectName(name)) {
        box.Show("Please provide another name for this project!", "Important",
                 MsgIcon::Information, MsgButtons::Ok);
        return kExitUsage;
    }
    // As the project list does before it opens the editor.
    g_ResourcePatterns.clear();
    g_UrlList.clear();
    g_ExcludeList.clear();
    if (!LoadProject(name)) {
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
        search = std::make_unique<CSearch>();
    } catch (const std::exception& e) {
        ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
        box.Show(e.what(), "Error", MsgIcon::Stop, MsgButtons::Ok);
        return kExitNotWritten;
    }
    search->m_strReportFile = name + ".htm";
    search->OpenSearch(&progress, &box);

    bool started = false;
    if (!g_UrlList.empty()) {
        started = search->Start();
        if (!started) {
            ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
            box.Show("Process could not be started!", "Error", MsgIcon::Stop, MsgButtons::Ok);
            return kExitNotWritten;
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);

    // A project without URL entries ends at once with an empty results page.
    const bool interrupted = started && WaitForWake() == kWakeSignal;

    std::vector<std::string> failed;
    int written = 0;
    if (interrupted) {
        written = search->CancelKeep();
        failed = g_FailedUrls;
    } else {
        written = search->ShowResults([&failed] {
            failed.assign(g_FailedUrls.begin(), g_FailedUrls.end());
            g_FailedUrls.clear();
        });
    }
    console.Clear();

    // m_nPages runs one ahead of the entries whose step has ended.
    std::cout << "Pages scanned: " << (search->m_nPages - 1) << "\n"
              << "Hits: " << search->m_nHits << "\n"
              << "Bytes retrieved: " << search->m_nBytes << "\n";
    for (const std::string& url : failed) std::cout << "Failed: " << url << "\n";
    std::cout.flush();

    if (interrupted) return kExitInterrupted;
    return written == 1 ? kExitWritten : kExitNotWritten;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::cout << kUsage;
            return 0;
        } else if (!optionsEnded && arg == "--version") {
            std::cout << "netzspurer-crawl " << NETZSPURER_VERSION << "\n";
            return 0;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() != 1) return Usage(names.empty() ? "no project name given" : "one project name only");
    if (names.front().empty()) return Usage("the project name is empty");
    return Run(names.front());
}
