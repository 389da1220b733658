// Whole crawls side by side: netzspurer-crawl one page at a time, the same with
// its default fetching ahead, and wget2 -r where it is installed, each on sites
// this program generates and serves on 127.0.0.1, with and without a delay per
// response. Prints pages per second, wall and CPU time, peak memory, the pages
// fetched ahead but never reached, and whether both reports are the same.
//
//   build/crawl_compare [--quick]
#include <httplib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#ifndef NETZSPURER_CRAWL_BIN
#define NETZSPURER_CRAWL_BIN "netzspurer-crawl"
#endif

namespace fs = std::filesystem;

namespace {

struct Site {
    const char* name;
    int pages;
    int linksPerPage;
    int delayMs;
};

// Each page links to `linksPerPage` others spread over the site, to two
// downloads of its own and, now and then, to another host.
std::string PageBody(int page, const Site& site) {
    std::string body = "<html><head><title>Page " + std::to_string(page) + "</title></head><body>\n";
    for (int k = 0; k < site.linksPerPage; ++k) {
        const int target = static_cast<int>((static_cast<long long>(page) * 7919 + k * 104729 + 1) % site.pages);
        body += "<p>Some text about item " + std::to_string(target) + ".</p><a href=\"p" + std::to_string(target) +
                ".htm\">item " + std::to_string(target) + "</a>\n";
    }
    body += "<a href=\"files/f" + std::to_string(page) + ".zip\">zip</a> <a href=\"/files/g" + std::to_string(page) +
            ".pdf\">pdf</a> <a href=\"http://elsewhere.example/x" + std::to_string(page % 10) + ".zip\">mirror</a>\n";
    return body + "</body></html>\n";
}

class SiteServer {
public:
    explicit SiteServer(const Site& site) {
        // One thread per kept-alive connection at least, for every client here.
        m_server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        // As web servers answer: without it, each small response waits for the
        // client's delayed acknowledgement.
        m_server.set_tcp_nodelay(true);
        m_server.Get(R"(/p(\d+)\.htm)", [site](const httplib::Request& req, httplib::Response& res) {
            if (site.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(site.delayMs));
            const int page = std::stoi(req.matches[1]);
            if (page >= site.pages) {
                res.status = 404;
                return;
            }
            res.set_content(PageBody(page, site), "text/html");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::yield();
    }
    ~SiteServer() {
        m_server.stop();
        m_thread.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

struct Run {
    double wall = 0;
    double cpu = 0;
    long peakKiB = 0;
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `args` in `dir`, with its output in files; measures what the child used.
Run Measure(const std::vector<std::string>& args, const fs::path& dir) {
    Run run;
    // What is still buffered must not be written again by the child.
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (!freopen("out.txt", "w", stdout) || !freopen("err.txt", "w", stderr)) _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(dir / "out.txt");
    run.err = ReadFile(dir / "err.txt");
    return run;
}

bool Installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The results page without its date, which differs from run to run.
std::string ReportWithoutDate(const fs::path& file) {
    static const std::regex date(R"(\d\d:\d\d:\d\d, \w+, \w+ \d\d, \d{4})");
    return std::regex_replace(ReadFile(file), date, "DATE");
}

void Row(const char* what, int pages, const Run& run, const std::string& extra) {
    std::printf("  %-26s %8.1f pages/s  wall %6.2f s  cpu %5.2f s  peak %7.1f MiB  %s\n", what,
                run.wall > 0 ? pages / run.wall : 0.0, run.wall, run.cpu, run.peakKiB / 1024.0, extra.c_str());
}

void Compare(const Site& site, const fs::path& root) {
    SiteServer server(site);
    std::printf("%s: %d pages, %d links a page, %d ms a response\n", site.name, site.pages, site.linksPerPage,
                site.delayMs);
    const std::string project = ".ZIP\r\n.PDF\r\n__URLSECTION__\r\n" + server.Url("/p0.htm") + "\r\n";
    std::string reports[2];
    Run runs[2];
    const char* const counts[] = {"1", nullptr};
    for (int i = 0; i < 2; ++i) {
        const fs::path dir = root / (std::string(site.name) + (i == 0 ? "-n1" : "-default"));
        fs::create_directories(dir);
        std::ofstream(dir / "Bench.nsp", std::ios::binary) << project;
        std::vector<std::string> args = {NETZSPURER_CRAWL_BIN, "Bench", "--fetch-stats"};
        if (counts[i] != nullptr) args.insert(args.end(), {"--connections", counts[i]});
        runs[i] = Measure(args, dir);
        reports[i] = ReportWithoutDate(dir / "Bench.htm");
    }
    std::string stats = runs[1].err;
    while (!stats.empty() && stats.back() == '\n') stats.pop_back();
    Row("netzspurer-crawl, N=1", site.pages, runs[0], "");
    Row("netzspurer-crawl, default", site.pages, runs[1], stats);
    std::printf("  reports and summaries of N=1 and the default %s; default %.1fx as fast as N=1\n",
                reports[0] == reports[1] && runs[0].out == runs[1].out && !reports[0].empty() ? "identical"
                                                                                              : "DIFFER",
                runs[1].wall > 0 ? runs[0].wall / runs[1].wall : 0.0);
    if (Installed("wget2")) {
        const fs::path dir = root / (std::string(site.name) + "-wget2");
        fs::create_directories(dir);
        const Run wget2 = Measure({"wget2", "-r", "-l", "0", "-nd", "--no-robots", "-q", "--delete-after",
                                   "-P", dir.string(), server.Url("/p0.htm")},
                                  dir);
        Row("wget2 -r (5 threads)", site.pages, wget2, "");
        std::printf("  default %.2fx the speed of wget2 -r\n", runs[1].wall > 0 ? wget2.wall / runs[1].wall : 0.0);
    } else {
        std::printf("  wget2 is not installed; apt install wget2 to compare\n");
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const fs::path root = fs::temp_directory_path() / ("netzspurer-crawl-compare-" + std::to_string(getpid()));
    fs::create_directories(root);
    const Site sites[] = {
        {"delayed-500", 500, 20, 20},
        {"plain-500", 500, 20, 0},
        {"plain-5000", quick ? 1000 : 5000, 20, 0},
    };
    for (const Site& site : sites) Compare(site, root);
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
