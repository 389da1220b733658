// Whole crawls side by side, each measured as a separate program run:
// netzspurer-crawl one page at a time (--connections 1), the same at its
// default, and wget2 -r at its own default threads and at our default's count.
// The sites: generated ones of 2,000, 20,000 and 100,000 pages and the Python,
// Apache and PostgreSQL manuals, served by nginx on 127.0.0.1, and a generated
// site that answers each request only after 20 ms or 100 ms. Every figure is
// the median of several runs; the targets stand beside them with PASS or MISS.
//
//   build/crawl_compare [--reps K] [--quick] [--only NAME[,NAME...]]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ChildRun.h"
#include "bench/GeneratedSite.h"
#include "support/TestCertificate.h"
#include "support/TestNginx.h"

#ifndef NETZSPURER_CRAWL_BIN
#define NETZSPURER_CRAWL_BIN "netzspurer-crawl"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultReps = 5;
// A run is killed after this much, plus a little per page and twice the
// server's delay per page: generous, yet a crawl that collapses on a large
// site costs minutes, not hours.
constexpr auto kRunTimeBase = std::chrono::seconds(30);
constexpr auto kRunTimePerPage = std::chrono::milliseconds(4);

// The targets.
constexpr double kScalingLimit = 1.3;            // time per page, largest generated site over the smallest
constexpr double kWget2FactorNoDelay = 1.5;      // default's speed over wget2's, served without delay
constexpr double kWget2FactorDelayed = 1.0;      // the same on the delayed sites
constexpr long kMemoryAllowanceKiB = 64 * 1024;  // over the page list, which N=1 holds as well
// Pages fetched ahead that the worker never took, of all pages: each was asked
// for again, or in vain.
constexpr double kMostFetchedInVain = 0.01;

// What netzspurer-crawl takes for a page, so that wget2 fetches the same:
// a path ending in "/" or in a name without an extension, or an .htm/.html name.
constexpr const char* kWget2PageRegex = R"(^[^?#]*(/[^./?#]*|\.[a-z]*htm[^/?#]*)([?#].*)?$)";

struct Site {
    enum class Kind { Generated, Manual, Delayed };
    std::string name;
    Kind kind = Kind::Generated;
    int pages = 0;       // generated: its pages; a manual: its html files, for the time limit
    fs::path folder;     // a manual's
    std::string start;   // the start page's path
    bool https = false;  // with HTTP/2 and gzip
    int delayMs = 0;
    double wget2Factor = kWget2FactorNoDelay;
};

struct Config {
    std::string label;
    bool wget2 = false;
    std::vector<std::string> options;
};

// The medians of one configuration's successful runs on one site.
struct Figures {
    int runs = 0;
    int succeeded = 0;
    std::string failure;        // how the first failed run ended
    std::string failureOutput;  // the first line it wrote on standard error
    double timedOutAfter = 0;   // wall seconds of a run that was killed
    double wall = 0;
    double cpu = 0;
    double serverCpu = -1;  // what the server spent on the run; negative: not known
    long peakKiB = 0;
    long pages = 0;
    long neverReached = -1;
    bool sameAsReference = true;  // every run's report and summary
    bool Usable() const { return succeeded > 0 && failure.empty(); }
};

struct Target {
    std::string what;
    std::string figure;
    std::optional<bool> met;  // none: could not be measured
};

struct Options {
    int reps = kDefaultReps;
    bool quick = false;
    std::vector<std::string> only;
};

std::vector<Target> g_targets;

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

long NumberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + label.size(), nullptr, 10);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The results page's date differs from run to run; it stands in the head.
std::string ReportWithoutDate(const fs::path& file) {
    static const std::regex date(R"(\d\d:\d\d:\d\d, \w+, \w+ \d\d, \d{4})");
    std::string report = ReadWholeFile(file);
    const std::size_t head = std::min<std::size_t>(report.size(), 64 * 1024);
    return std::regex_replace(report.substr(0, head), date, "DATE") + report.substr(head);
}

std::string CommandOutput(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// Read from the program itself, so the benchmark follows when it changes.
int DefaultConnections() {
    static const std::regex given(R"(default (\d+)\))");
    const std::string help = CommandOutput(std::string(NETZSPURER_CRAWL_BIN) + " --help");
    std::smatch match;
    return std::regex_search(help, match, given) ? std::stoi(match[1]) : 6;
}

std::string Wget2Version() {
    const std::string line = FirstLine(CommandOutput("wget2 --version"));
    return line.substr(0, line.find(" - "));
}

long CountHtmlFiles(const fs::path& folder) {
    long count = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::follow_directory_symlink, ec), end;
         it != end; it.increment(ec)) {
        if (it->path().filename().string().find(".htm") != std::string::npos) ++count;
    }
    return count;
}

// The server a site is crawled on, for as long as the object lives.
class SiteServer {
public:
    SiteServer(const Site& site, const fs::path& generatedFolder) {
        if (site.kind == Site::Kind::Delayed) {
            m_delayed = std::make_unique<DelayedSiteServer>(site.pages, site.delayMs);
            return;
        }
        NginxOptions options;
        options.root = site.kind == Site::Kind::Manual ? site.folder : generatedFolder;
        if (site.https) {
            m_certificate = std::make_unique<TestCertificate>("IP:127.0.0.1");
            options.https = options.http2 = options.gzip = true;
            options.certificateFile = m_certificate->CertificateFile();
            options.keyFile = m_certificate->KeyFile();
        }
        m_nginx = std::make_unique<TestNginx>(options);
    }

    std::string Url(const std::string& path) const { return m_nginx ? m_nginx->Url(path) : m_delayed->Url(path); }
    std::string CertificateFile() const { return m_certificate ? m_certificate->CertificateFile() : ""; }
    // What the server has spent so far; negative for the delayed server, which
    // runs inside the benchmark.
    double CpuSeconds() const { return m_nginx ? m_nginx->CpuSeconds() : -1; }

private:
    std::unique_ptr<TestCertificate> m_certificate;
    std::unique_ptr<TestNginx> m_nginx;
    std::unique_ptr<DelayedSiteServer> m_delayed;
};

struct Sample {
    bool ok = false;
    long pages = 0;
    long neverReached = -1;
    std::size_t signature = 0;
};

Sample RunOnce(const Config& config, const SiteServer& server, const Site& site, const fs::path& dir,
               std::chrono::milliseconds timeout, ChildRun& run) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string start = server.Url(site.start);
    const std::string certificate = server.CertificateFile();
    Sample sample;
    if (config.wget2) {
        std::vector<std::string> args = {"wget2",
                                         "-r",
                                         "-l",
                                         "0",
                                         "-nd",
                                         "--no-robots",
                                         "-q",
                                         "--delete-after",
                                         "--filter-urls",
                                         std::string("--accept-regex=") + kWget2PageRegex,
                                         "--stats-site=csv:site.csv"};
        if (!certificate.empty()) args.push_back("--ca-certificate=" + certificate);
        args.insert(args.end(), config.options.begin(), config.options.end());
        args.push_back(start);
        run = RunChild(args, dir, {}, timeout);
        // 8: the server answered some request with an error, as sites do.
        sample.ok = run.end == ChildRun::End::Exited && (run.exitCode == 0 || run.exitCode == 8);
        const std::string stats = ReadWholeFile(dir / "site.csv");
        sample.pages = std::max<long>(0, static_cast<long>(std::count(stats.begin(), stats.end(), '\n')) - 1);
        return sample;
    }
    std::ofstream(dir / "Bench.nsp", std::ios::binary) << ".ZIP\r\n.PDF\r\n__URLSECTION__\r\n" << start << "\r\n";
    std::vector<std::string> args = {NETZSPURER_CRAWL_BIN, "Bench", "--fetch-stats"};
    args.insert(args.end(), config.options.begin(), config.options.end());
    std::vector<std::string> env;
    if (!certificate.empty()) env.push_back("SSL_CERT_FILE=" + certificate);
    run = RunChild(args, dir, env, timeout);
    sample.ok = run.end == ChildRun::End::Exited && run.exitCode == 0;
    sample.pages = NumberAfter(run.out, "Pages scanned: ");
    sample.neverReached = NumberAfter(run.err, "Never reached: ");
    sample.signature = std::hash<std::string>{}(ReportWithoutDate(dir / "Bench.htm") + "\n\n" + run.out);
    return sample;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string FailureNote(const Figures& f) {
    return f.failure + " in " + std::to_string(f.runs - f.succeeded) + " of " + std::to_string(f.runs) + " runs" +
           (f.failureOutput.empty() ? "" : ": " + f.failureOutput);
}

void PrintRow(const std::string& label, const Figures& f, const std::string& sameness) {
    if (f.succeeded == 0) {
        std::printf("  %-27s %s\n", label.c_str(), FailureNote(f).c_str());
        return;
    }
    const double perPage = f.pages > 0 ? static_cast<double>(f.peakKiB) / static_cast<double>(f.pages) : 0;
    std::printf("  %-27s %7ld %9.0f %9.3f %8.2f %8s %9.1f %9.2f %8s  %s%s\n", label.c_str(), f.pages,
                f.wall > 0 ? static_cast<double>(f.pages) / f.wall : 0.0, f.wall, f.cpu,
                f.serverCpu >= 0 ? Fixed(f.serverCpu, 2).c_str() : "-", static_cast<double>(f.peakKiB) / 1024.0,
                perPage, f.neverReached >= 0 ? std::to_string(f.neverReached).c_str() : "-", sameness.c_str(),
                f.failure.empty() ? "" : ("  " + FailureNote(f)).c_str());
}

void AddTarget(const std::string& what, const std::string& figure, std::optional<bool> met) {
    g_targets.push_back({what, figure, met});
    std::printf("  target: %-64s %-28s %s\n", what.c_str(), figure.c_str(), !met ? "n/a" : *met ? "PASS" : "MISS");
}

// Speed of `fast` over `slow` (by wall time) against `factor`.
void AddSpeedTarget(const std::string& what, const Figures& fast, const Figures& slow, double factor) {
    // Past its time limit the slower side still sets a bound.
    if (fast.Usable() && slow.timedOutAfter > 0) {
        const double atLeast = slow.timedOutAfter / fast.wall;
        AddTarget(what, "over " + Fixed(atLeast, 2) + "x (other: TIMEOUT)",
                  atLeast >= factor ? std::optional<bool>(true) : std::nullopt);
        return;
    }
    // The default must finish every run; the other side's runs that did finish still count.
    if (!fast.Usable() || slow.succeeded == 0) {
        AddTarget(what, !fast.Usable() ? "default: " + fast.failure : "other: " + slow.failure,
                  fast.Usable() ? std::nullopt : std::optional<bool>(false));
        return;
    }
    const double ratio = slow.wall / fast.wall;
    AddTarget(what, Fixed(ratio, 2) + "x (at least " + Fixed(factor, 1) + "x)", ratio >= factor);
}

std::vector<Figures> CompareOn(const Site& site, const std::vector<Config>& configs, int reps, const fs::path& root) {
    const fs::path siteDir = root / site.name;
    fs::path generated;
    if (site.kind == Site::Kind::Generated) {
        generated = siteDir / "site";
        WriteGeneratedSite(generated, site.pages);
    }
    const long pagesForTime = site.kind == Site::Kind::Manual ? CountHtmlFiles(site.folder) : site.pages;
    const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
        kRunTimeBase + pagesForTime * (kRunTimePerPage + 2 * std::chrono::milliseconds(site.delayMs)));
    SiteServer server(site, generated);

    std::printf("%s: %s, %s, %d run%s each, killed after %lld s\n", site.name.c_str(),
                site.kind == Site::Kind::Manual ? site.folder.c_str()
                                                : (std::to_string(site.pages) + " generated pages").c_str(),
                site.delayMs > 0 ? (std::to_string(site.delayMs) + " ms a response (cpp-httplib)").c_str()
                : site.https     ? "nginx https, HTTP/2, gzip"
                                 : "nginx http",
                reps, reps == 1 ? "" : "s", static_cast<long long>(timeout.count() / 1000));
    std::fflush(stdout);

    struct Collected {
        std::vector<double> wall, cpu, serverCpu, peak, never;
        std::vector<Sample> samples;
        bool gaveUp = false;
    };
    std::vector<Collected> collected(configs.size());
    std::vector<Figures> figures(configs.size());
    // Round by round, so that a slow spell of the machine spreads over all.
    for (int rep = 0; rep < reps; ++rep) {
        for (std::size_t c = 0; c < configs.size(); ++c) {
            if (collected[c].gaveUp) continue;
            ChildRun run;
            const double serverBefore = server.CpuSeconds();
            const Sample sample = RunOnce(configs[c], server, site, siteDir / std::to_string(c), timeout, run);
            const double serverAfter = server.CpuSeconds();
            Figures& f = figures[c];
            ++f.runs;
            if (!sample.ok) {
                if (f.failure.empty()) {
                    f.failure = run.end == ChildRun::End::TimedOut  ? "TIMEOUT"
                                : run.end == ChildRun::End::Crashed ? "CRASHED (" + run.Describe() + ")"
                                                                    : "FAILED (" + run.Describe() + ")";
                    f.failureOutput = FirstLine(run.err);
                }
                // One run past the limit tells enough; more would only cost time.
                if (run.end == ChildRun::End::TimedOut) {
                    collected[c].gaveUp = true;
                    f.timedOutAfter = run.wallSeconds;
                }
                continue;
            }
            ++f.succeeded;
            collected[c].wall.push_back(run.wallSeconds);
            collected[c].cpu.push_back(run.cpuSeconds);
            if (serverBefore >= 0 && serverAfter >= serverBefore)
                collected[c].serverCpu.push_back(serverAfter - serverBefore);
            collected[c].peak.push_back(static_cast<double>(run.peakKiB));
            collected[c].never.push_back(static_cast<double>(sample.neverReached));
            collected[c].samples.push_back(sample);
        }
    }
    const Sample* reference = collected[0].samples.empty() ? nullptr : &collected[0].samples.front();
    std::printf("  %-27s %7s %9s %9s %8s %8s %9s %9s %8s  %s\n", "", "pages", "pages/s", "wall s", "cpu s", "server s",
                "peak MiB", "KiB/page", "unreached", "report vs N=1");
    for (std::size_t c = 0; c < configs.size(); ++c) {
        Figures& f = figures[c];
        const Collected& got = collected[c];
        if (!got.samples.empty()) {
            f.wall = Median(got.wall);
            f.cpu = Median(got.cpu);
            if (!got.serverCpu.empty()) f.serverCpu = Median(got.serverCpu);
            f.peakKiB = static_cast<long>(Median(got.peak));
            f.neverReached = static_cast<long>(Median(got.never));
            f.pages = got.samples.front().pages;
        }
        std::string sameness = "-";
        if (!configs[c].wget2 && reference != nullptr && !got.samples.empty()) {
            f.sameAsReference = std::all_of(got.samples.begin(), got.samples.end(),
                                            [&](const Sample& s) { return s.signature == reference->signature; });
            sameness =
                c == 0 ? (f.sameAsReference ? "reference" : "VARIES") : (f.sameAsReference ? "identical" : "DIFFERS");
        }
        PrintRow(configs[c].label, f, sameness);
    }
    // With every core busy, a run can end no sooner than its own CPU time and
    // the server's spread over the cores: where the wall time comes near it,
    // the machine, not the program, sets the pace.
    const long cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    std::string floors;
    for (std::size_t c = 0; c < configs.size(); ++c) {
        const Figures& f = figures[c];
        if (f.succeeded == 0 || f.serverCpu < 0) continue;
        floors += "  " + configs[c].label + " " + Fixed((f.cpu + f.serverCpu) / static_cast<double>(cores), 3);
    }
    if (!floors.empty()) std::printf("  floor, (cpu + server) s / %ld cores:%s\n", cores, floors.c_str());
    fs::remove_all(siteDir);
    return figures;
}

void SiteTargets(const Site& site, const std::vector<Figures>& f, bool haveWget2) {
    const Figures& one = f[0];
    const Figures& fallback = f[1];
    AddSpeedTarget(site.name + ": default never slower than N=1", fallback, one, 1.0);
    if (one.Usable() && fallback.Usable()) {
        AddTarget(site.name + ": default's report as N=1's", fallback.sameAsReference ? "identical" : "differs",
                  fallback.sameAsReference && one.sameAsReference);
    }
    if (haveWget2) {
        AddSpeedTarget(site.name + ": default vs wget2 (its default threads)", fallback, f[2], site.wget2Factor);
    }
    if (one.Usable() && fallback.Usable()) {
        AddTarget(site.name + ": default's peak memory within N=1's + 64 MiB",
                  Fixed(static_cast<double>(fallback.peakKiB) / 1024.0, 1) + " of " +
                      Fixed(static_cast<double>(one.peakKiB + kMemoryAllowanceKiB) / 1024.0, 1) + " MiB",
                  fallback.peakKiB <= one.peakKiB + kMemoryAllowanceKiB);
    } else {
        AddTarget(site.name + ": default's peak memory", "not measured", std::nullopt);
    }
    if (fallback.Usable() && fallback.pages > 0 && fallback.neverReached >= 0) {
        const double share = static_cast<double>(fallback.neverReached) / static_cast<double>(fallback.pages);
        AddTarget(site.name + ": default's pages fetched ahead in vain",
                  Fixed(100.0 * share, 2) + "% (at most " + Fixed(100.0 * kMostFetchedInVain, 0) + "%)",
                  share <= kMostFetchedInVain);
    }
}

std::vector<Site> Sites(bool quick) {
    std::vector<Site> sites;
    const int sizes[] = {2000, 20000, 100000};
    const int quickSizes[] = {500, 2000, 5000};
    for (int i = 0; i < 3; ++i) {
        const int pages = quick ? quickSizes[i] : sizes[i];
        sites.push_back({"generated-" + std::to_string(pages), Site::Kind::Generated, pages, {}, "/p0.htm"});
    }
    struct Manual {
        const char* name;
        const char* folder;
        const char* start;
        bool https;
    };
    const Manual manuals[] = {
        {"python-manual", "/usr/share/doc/python3-doc/html", "/index.html", false},
        {"apache-manual", "/usr/share/doc/apache2-doc/manual", "/index.html", true},
        {"postgresql-manual", "/usr/share/doc/postgresql-doc-15/html", "/index.html", false},
    };
    for (const Manual& m : manuals) {
        Site site{m.name, Site::Kind::Manual, 0, m.folder, m.start, m.https};
        sites.push_back(site);
    }
    for (const int delay : {20, 100}) {
        Site site{"delayed-" + std::to_string(delay) + "ms", Site::Kind::Delayed, quick ? 100 : 500, {}, "/p0.htm"};
        site.delayMs = delay;
        site.wget2Factor = kWget2FactorDelayed;
        sites.push_back(site);
    }
    return sites;
}

// A name given whole picks that site alone; a part of names picks every site it is in.
bool Selected(const Site& site, const std::vector<Site>& sites, const Options& options) {
    if (options.only.empty()) return true;
    return std::any_of(options.only.begin(), options.only.end(), [&](const std::string& part) {
        const bool whole = std::any_of(sites.begin(), sites.end(), [&](const Site& s) { return s.name == part; });
        return whole ? site.name == part : site.name.find(part) != std::string::npos;
    });
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    bool repsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--reps" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            options.reps = std::atoi(argv[++i]);
            repsGiven = true;
        } else if (arg == "--only" && i + 1 < argc) {
            std::stringstream names(argv[++i]);
            for (std::string name; std::getline(names, name, ',');) options.only.push_back(name);
        } else {
            return std::nullopt;
        }
    }
    if (options.quick && !repsGiven) options.reps = 1;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: crawl_compare [--reps K] [--quick] [--only NAME[,NAME...]]\n");
        return 2;
    }
    if (!TestNginx::Available()) {
        std::fprintf(stderr, "crawl_compare needs nginx (%s): apt install nginx-light\n", TestNginx::kBinary);
        return 1;
    }
    const auto began = std::chrono::steady_clock::now();
    const int connections = DefaultConnections();
    const bool haveWget2 = !FindProgram("wget2").empty();
    std::vector<Config> configs = {
        {"netzspurer-crawl N=1", false, {"--connections", "1"}},
        {"netzspurer-crawl default", false, {}},
    };
    if (haveWget2) {
        configs.push_back({"wget2 (5 threads)", true, {}});
        configs.push_back({"wget2 --max-threads=" + std::to_string(connections),
                           true,
                           {"--max-threads=" + std::to_string(connections)}});
    }
    std::printf("Crawls on 127.0.0.1; netzspurer-crawl's default is N=%d; %s; medians of %d run%s; %ld cores\n\n",
                connections, haveWget2 ? Wget2Version().c_str() : "wget2 not installed", options->reps,
                options->reps == 1 ? "" : "s", sysconf(_SC_NPROCESSORS_ONLN));

    const fs::path root = fs::temp_directory_path() / ("netzspurer-crawl-compare-" + std::to_string(getpid()));
    std::vector<std::pair<Site, std::vector<Figures>>> generated;
    const std::vector<Site> sites = Sites(options->quick);
    for (const Site& site : sites) {
        if (!Selected(site, sites, *options)) continue;
        if (site.kind == Site::Kind::Manual && !fs::exists(site.folder)) {
            std::printf("%s: %s is not installed; skipped\n\n", site.name.c_str(), site.folder.c_str());
            continue;
        }
        try {
            const std::vector<Figures> figures = CompareOn(site, configs, options->reps, root);
            SiteTargets(site, figures, haveWget2);
            if (site.kind == Site::Kind::Generated) generated.emplace_back(site, figures);
        } catch (const std::exception& e) {
            std::printf("  could not run: %s\n", e.what());
            AddTarget(site.name, "could not run", false);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::error_code ec;
    fs::remove_all(root, ec);

    if (generated.size() >= 2) {
        const auto& [small, smallFigures] = generated.front();
        const auto& [large, largeFigures] = generated.back();
        const Figures& a = smallFigures[1];
        const Figures& b = largeFigures[1];
        const std::string what =
            "time per page, default, " + std::to_string(large.pages) + " vs " + std::to_string(small.pages) + " pages";
        if (a.Usable() && b.Usable() && a.pages > 0 && b.pages > 0) {
            const double ratio = (b.wall / static_cast<double>(b.pages)) / (a.wall / static_cast<double>(a.pages));
            AddTarget(what, Fixed(ratio, 2) + "x (at most " + Fixed(kScalingLimit, 1) + "x)", ratio <= kScalingLimit);
        } else {
            AddTarget(what, "not measured", false);
        }
        std::printf("\n");
    }

    int passed = 0;
    int missed = 0;
    std::printf("Targets:\n");
    for (const Target& t : g_targets) {
        if (t.met) ++(*t.met ? passed : missed);
        std::printf("  %-4s  %-64s %s\n", !t.met ? "n/a" : *t.met ? "PASS" : "MISS", t.what.c_str(), t.figure.c_str());
    }
    std::printf("%d passed, %d missed; %.0f s in all\n", passed, missed,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    return 0;
}
