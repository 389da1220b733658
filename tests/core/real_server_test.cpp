// Crawls through nginx, as the web serves pages: HTTP/2 with gzip over TLS,
// and a server that closes its kept connections after a few requests (on
// HTTP/2 with a GOAWAY). The same crawl at one and at six connections must
// come out byte for byte the same, with every page read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "project/ProjectData.h"
#include "results/ReportWriter.h"
#include "support/RecordingProgress.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/TestNginx.h"

namespace {

constexpr int kPages = 40;
constexpr int kBoundaryPages = 12;

std::size_t GzipSize(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);  // as nginx compresses by default
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    const std::size_t size = z.total_out;
    deflateEnd(&z);
    return size;
}

// Pages of text that compresses about as a manual's does, from some 10 KiB to
// 80 KiB after gzip; and pages that compress to just under 16 KiB, where the
// end of a stream once stayed unread in a transfer's buffer of that size.
void WriteSite(const std::filesystem::path& root) {
    std::mt19937 random(2026);
    const char* const words[] = {"module", "function", "returns", "the", "value", "of",  "an",   "object",
                                 "list",   "string",   "index",   "see", "also",  "for", "each", "call"};
    auto write = [&](const std::string& name, const std::string& body) {
        std::ofstream(root / name, std::ios::binary) << body;
    };
    for (int i = 0; i < kPages; ++i) {
        std::string body = "<html><body><h1>Page " + std::to_string(i) + "</h1>\n";
        for (int k = 1; k <= 3; ++k)
            body += "<a href=\"p" + std::to_string((i * 7 + k * 13) % kPages) + ".htm\">x</a>\n";
        body += "<a href=\"files/f" + std::to_string(i) + ".zip\">zip</a>\n";
        if (i == 0)
            for (int b = 0; b < kBoundaryPages; ++b) body += "<a href=\"b" + std::to_string(b) + ".htm\">b</a>\n";
        const std::size_t size = 30'000 + static_cast<std::size_t>(i) * 6'000;
        while (body.size() < size) {
            body += words[random() % std::size(words)];
            body += (random() % 12 == 0) ? "\n" : " ";
        }
        write("p" + std::to_string(i) + ".htm", body + "</body></html>\n");
    }
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \n";
    for (int b = 0; b < kBoundaryPages; ++b) {
        const std::size_t target = 16'195 + static_cast<std::size_t>(b) * 5;
        std::string body = "<html><body><a href=\"files/b" + std::to_string(b) + ".zip\">zip</a>\n";
        while (GzipSize(body) < target)
            for (int k = 0; k < 16; ++k) body += letters[random() % letters.size()];
        write("b" + std::to_string(b) + ".htm", body);
    }
}
struct Outcome {
    std::string report;
    std::int32_t pages = 0;
    std::int64_t bytes = 0;
    StringList failed;
};

Outcome Crawl(int connections, const std::string& start) {
    ProjectData project;
    project.m_urlList = {start};
    project.m_resourcePatterns = {".ZIP"};
    // A stalled page fails soon instead of after a minute.
    FetchLimits limits;
    limits.stallSeconds = 5;
    limits.totalSeconds = 20;
    CSearch search(connections, limits);
    RecordingProgress progress;
    ScriptedMessageBox box;
    EXPECT_TRUE(RunSearchToEnd(search, project, progress, box));
    const CrawlState& state = search.State();
    Outcome out;
    WriteReport("r.htm", state.m_pageList.Head(), box, 0);
    out.report = ReadFileBytes("r.htm");
    out.pages = state.m_nPages;
    out.bytes = state.m_nBytes;
    out.failed = state.m_failedUrls;
    return out;
}

class RealServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestNginx::Available()) GTEST_SKIP() << "nginx is not installed";
        WriteSite(site.Path());
    }
    // Crawls the site served by nginx with `options` at one and at six connections.
    void CrawlBoth(NginxOptions options) {
        options.root = site.Path();
        options.https = true;
        options.http2 = true;
        options.certificateFile = certificate.CertificateFile();
        options.keyFile = certificate.KeyFile();
        TestNginx nginx(options);
        ScopedEnv trust("SSL_CERT_FILE", certificate.CertificateFile());
        ScopedEnv noOther("CURL_CA_BUNDLE", std::nullopt);
        const Outcome one = Crawl(1, nginx.Url("/p0.htm"));
        const Outcome six = Crawl(6, nginx.Url("/p0.htm"));
        EXPECT_EQ(one.failed, StringList{});
        EXPECT_EQ(six.failed, StringList{});
        EXPECT_EQ(one.pages - 1, kPages + kBoundaryPages);
        EXPECT_TRUE(six.report == one.report) << "the reports of one and six connections differ";
        EXPECT_EQ(std::tie(six.pages, six.bytes), std::tie(one.pages, one.bytes));
    }

    TempDir work;
    TempDir site;
    TestCertificate certificate;
};

TEST_F(RealServerTest, PagesOverHttp2WithGzipAllCome) {
    NginxOptions options;
    options.gzip = true;
    CrawlBoth(options);
}

// A request sent on a connection the server had already closed is sent again on a new one.
TEST_F(RealServerTest, ConnectionsClosedAfterThreeRequestsChangeNothing) {
    NginxOptions options;
    options.gzip = true;
    options.keepaliveRequests = 3;
    CrawlBoth(options);
}

}  // namespace
