// The session on the real web's terms: https, compressed bodies, redirects, and
// pages that are too large or take too long.
#include <brotli/encode.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "crawl/PageScan.h"
#include "crawl/SearchSession.h"
#include "support/FetchLines.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/TestHttpServer.h"
#include "support/TestTlsServer.h"

namespace {

// Bodies sent as they are: the server compresses text types on its own.
constexpr const char* kRawType = "application/octet-stream";

std::string Brotli(const std::string& text) {
    std::string out(BrotliEncoderMaxCompressedSize(text.size()), '\0');
    std::size_t size = out.size();
    BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, text.size(),
                          reinterpret_cast<const uint8_t*>(text.data()), &size, reinterpret_cast<uint8_t*>(out.data()));
    out.resize(size);
    return out;
}

std::string Gzip(const std::string& text) {
    httplib::detail::gzip_compressor compressor;
    std::string out;
    compressor.compress(text.data(), text.size(), true, [&out](const char* data, size_t size) {
        out.append(data, size);
        return true;
    });
    return out;
}

TEST(SearchSessionWeb, HttpsNeedsATrustedCertificateForTheHost) {
    TestTlsServer good;
    TestTlsServer wrongName("DNS:wrong.example");
    TestCertificate stranger;
    for (TestTlsServer* server : {&good, &wrongName}) {
        server->Page("/", "<a href=\"x.zip\">\n");
        server->Start();
    }
    const std::string goodCert = good.CertificateFile();
    const std::string wrongNameCert = wrongName.CertificateFile();
    const std::string strangerCert = stranger.CertificateFile();
    TempDir dir;
    WriteFileBytes("empty.pem", "");
    const std::string emptyBundle = (dir.Path() / "empty.pem").string();
    const std::optional<std::string> unset;
    struct Row {
        const char* what;
        TestTlsServer& server;
        std::optional<std::string> caBundle;  // CURL_CA_BUNDLE
        std::optional<std::string> certFile;  // SSL_CERT_FILE
        bool opens;
    } rows[] = {
        {"trusted", good, unset, goodCert, true},
        {"only the system's store", good, unset, unset, false},
        {"another certificate trusted", good, unset, strangerCert, false},
        {"trusted, for another host name", wrongName, unset, wrongNameCert, false},
        // Either bundle trusts: one of them often names the system's store.
        {"CURL_CA_BUNDLE beside SSL_CERT_FILE", good, goodCert, strangerCert, true},
        {"SSL_CERT_FILE beside CURL_CA_BUNDLE", good, strangerCert, goodCert, true},
        {"a bundle that cannot be read", good, "/nonexistent/ca.pem", unset, false},
        {"a bundle without certificates", good, unset, emptyBundle, false},
        {"a bundle that cannot be read beside the trusted one", good, "/nonexistent/ca.pem", goodCert, true},
    };
    for (const Row& row : rows) {
        ScopedEnv bundle("CURL_CA_BUNDLE", row.caBundle);
        ScopedEnv certFile("SSL_CERT_FILE", row.certFile);
        CSearchSession session;
        if (row.opens)
            EXPECT_EQ(Fetch(session, row.server.Url("/")), "<a href=\"x.zip\">") << row.what;
        else
            EXPECT_THROW(Fetch(session, row.server.Url("/")), InternetError) << row.what;
    }
}

TEST(SearchSessionWeb, TrustedCertificatesAreReadOnceForAllConnections) {
    TestTlsServer server;
    server.Server().set_keep_alive_max_count(1);  // every answer ends its connection
    server.Page("/a", "a");
    server.Page("/b", "b");
    server.Start();
    TempDir dir;
    WriteFileBytes("trust.pem", ReadFileBytes(server.CertificateFile()));
    ScopedEnv bundle("CURL_CA_BUNDLE", std::nullopt);
    ScopedEnv certFile("SSL_CERT_FILE", (dir.Path() / "trust.pem").string());
    CSearchSession session;
    EXPECT_EQ(Fetch(session, server.Url("/a")), "a");
    std::filesystem::remove(dir.Path() / "trust.pem");
    // The next connection trusts what was read for the first.
    EXPECT_EQ(Fetch(session, server.Url("/b")), "b");
}

TEST(SearchSessionWeb, CompressedBodiesAreReadDecoded) {
    const std::string page = "<a href=\"a.zip\">\r\n" + std::string(300, 'z') + "\nlast";
    const std::string text = "<a href=\"a.zip\">" + std::string(300, 'z') + "last";
    TestHttpServer server;
    server.Server().Get("/unasked", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(Gzip(page), kRawType);
    });
    server.Server().Get("/asked", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Accept-Encoding").find("gzip") == std::string::npos) {
            res.set_content("not asked", kRawType);
            return;
        }
        res.set_header("Content-Encoding", "gzip");
        res.set_content(Gzip(page), kRawType);
    });
    // Compressed by the server itself, in the encoding it likes best of those offered.
    server.Page("/chosen", page);
    server.Start();
    CSearchSession session;
    for (const char* path : {"/unasked", "/asked", "/chosen"})
        EXPECT_EQ(Fetch(session, server.Url(path)), text) << path;
}

// A connection that breaks off after the body (as HTTP/2 servers close after a
// GOAWAY) loses nothing when the body's own framing says it is whole.
TEST(SearchSessionWeb, ConnectionBrokenOffAfterAWholeBodyLosesNothing) {
    const std::string page = "<a href=\"a.zip\">\n" + std::string(5000, 'w') + "\nend";
    const std::string packed = Gzip(page);
    TestHttpServer server;
    auto brokenOff = [&](const std::string& path, const char* coding, std::string body) {
        server.Server().Get(path, [coding, body](const httplib::Request&, httplib::Response& res) {
            if (*coding != '\0') res.set_header("Content-Encoding", coding);
            res.set_chunked_content_provider(kRawType, [body](size_t, httplib::DataSink& sink) {
                sink.write(body.data(), body.size());
                return false;  // the connection closes without the last chunk
            });
        });
    };
    brokenOff("/whole", "gzip", packed);
    brokenOff("/cut", "gzip", packed.substr(0, packed.size() / 2));
    brokenOff("/plain", "", page);  // nothing tells where a plain body ends
    server.Start();
    CSearchSession session;
    EXPECT_EQ(Fetch(session, server.Url("/whole")), "<a href=\"a.zip\">" + std::string(5000, 'w') + "end");
    EXPECT_THROW(Fetch(session, server.Url("/cut")), InternetError);
    EXPECT_THROW(Fetch(session, server.Url("/plain")), InternetError);
}

TEST(SearchSessionWeb, FinalUrlIsWhereTheBodyCameFrom) {
    TestHttpServer server;
    server.Page("/dir/page", "here\n");
    server.Page("/a b", "blank\n");
    const std::string viaName = "http://localhost:";
    server.Server().Get("/old", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("dir/page"); });
    server.Server().Get("/away", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(viaName + std::to_string(server.Port()) + "/dir/page");
    });
    server.Start();
    const struct Row {
        std::string url;
        std::string finalUrl;
    } rows[] = {
        {server.Url("/old"), server.Url("/dir/page")},
        {server.Url("/away"), viaName + std::to_string(server.Port()) + "/dir/page"},
        // Read where it was asked for, though sent in another spelling.
        {server.Url("/dir/page"), ""},
        {server.Url("/a b"), ""},
    };
    CSearchSession session;
    for (const Row& row : rows) {
        auto file = session.OpenURL(row.url);
        EXPECT_EQ(file->FinalUrl(), row.finalUrl) << row.url;
        std::size_t added = 0;
        EXPECT_TRUE(file->ReadMore(added)) << row.url;
        file->Close();
        EXPECT_EQ(file->FinalUrl(), row.finalUrl) << row.url;
    }
}

TEST(SearchSessionWeb, PagesPastTheSizeLimitFail) {
    FetchLimits limits;
    limits.maxBodyBytes = 64 * 1024;
    const std::string line(63, 'x');
    std::string atLimit;
    while (atLimit.size() < limits.maxBodyBytes) atLimit += line + "\n";
    TestHttpServer server;
    server.Server().Get("/at-limit",
                        [&](const httplib::Request&, httplib::Response& res) { res.set_content(atLimit, kRawType); });
    server.Server().Get("/past-limit", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(atLimit + "y", kRawType);
    });
    // Small on the wire, past the limit once unpacked.
    server.Page("/packed", std::string(16 * limits.maxBodyBytes, 'p'));
    server.Server().Get("/endless", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(kRawType, [&](size_t, httplib::DataSink& sink) {
            const std::string block = std::string(1023, 'e') + "\n";
            // Bounded, so that the server ends even if the client never gives up.
            for (int i = 0; i < 100000 && sink.is_writable(); ++i) {
                if (!sink.write(block.data(), block.size())) return false;
            }
            return false;
        });
    });
    server.Start();
    CSearchSession session(nullptr, limits);

    EXPECT_EQ(Fetch(session, server.Url("/at-limit")).size(), limits.maxBodyBytes / 64 * 63);
    for (const char* path : {"/past-limit", "/packed", "/endless"}) {
        std::size_t bytes = 0;
        try {
            auto file = session.OpenURL(server.Url(path));
            for (std::size_t added = 0; file->ReadMore(added);) bytes += added;
            ADD_FAILURE() << path << " was read to its end";
        } catch (const InternetError&) {
        }
        EXPECT_LE(bytes, limits.maxBodyBytes) << path;
    }
    // The session goes on with the next page.
    EXPECT_EQ(Fetch(session, server.Url("/at-limit")).size(), limits.maxBodyBytes / 64 * 63);
}

TEST(SearchSessionWeb, PageThatNeverEndsFailsAfterTheTotalTime) {
    FetchLimits limits;
    limits.totalSeconds = 1;
    TestHttpServer server;
    server.Page("/next", "next\n");
    server.Server().Get("/drip", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(kRawType, [](size_t, httplib::DataSink& sink) {
            // A byte now and then, often enough never to stall; bounded, so that the
            // server ends even if the client never gives up.
            for (int i = 0; i < 600 && sink.is_writable(); ++i) {
                if (!sink.write("x", 1)) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return false;
        });
    });
    server.Start();
    CSearchSession session(nullptr, limits);
    EXPECT_THROW(Fetch(session, server.Url("/drip")), InternetError);
    EXPECT_EQ(Fetch(session, server.Url("/next")), "next");
}

// Pages fetched ahead hold at most the session's bound, counted in decoded
// bytes: tiny compressed bodies that unpack past the page limit only pause.
TEST(SearchSessionWeb, PagesFetchedAheadHoldTheirBoundDecoded) {
    std::string unpacked;
    for (const std::string line = std::string(63, 'x') + "\n"; unpacked.size() <= FetchLimits::kMaxBodyBytes;)
        unpacked += line;
    const std::string bomb = Brotli(unpacked);
    ASSERT_LT(bomb.size(), 100'000u);
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    TestHttpServer server;
    server.Server().Get(R"(/bomb\d+)", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Encoding", "br");
        res.set_content(bomb, kRawType);
    });
    server.Server().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return released; });
        res.set_content("slow\n", kRawType);
    });
    server.Start();

    constexpr int kConnections = 6;
    CSearchSession session(nullptr, FetchLimits{}, kConnections);
    std::vector<PageRequest> bombs;
    for (int i = 0; i < 30; ++i) {
        bombs.emplace_back();
        bombs.back().url = server.Url("/bomb" + std::to_string(i));
    }
    session.Foresee(bombs);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    });
    EXPECT_EQ(Fetch(session, server.Url("/slow")), "slow");
    release.join();
    const FetchStats stats = session.Stats();
    // At least every connection but the slow page's.
    EXPECT_GE(stats.fetchedAhead, static_cast<std::size_t>(kConnections - 1));
    // The bound, plus a decoder's windows for each transfer that came first.
    EXPECT_LE(stats.peakWaitingBytes, CSearchSession::kMaxWaitingBytes + kConnections * (std::size_t{20} << 20))
        << stats.peakWaitingBytes;
    // Taken by the worker, such a page fails at the page limit, its lines up to it counted.
    std::size_t counted = 0;
    auto file = session.OpenURL(server.Url("/bomb0"));
    EXPECT_THROW(for (std::size_t added = 0; file->ReadMore(added);) counted += added, InternetError);
    EXPECT_EQ(counted, FetchLimits::kMaxBodyBytes / 64 * 63);
}

// A host named in Unicode is reached in its ASCII form whatever the locale,
// here through a proxy that sees what is asked of it.
TEST(SearchSessionWeb, HostsInUnicodeAndBytesBeyondAsciiGoOutEncoded) {
    std::mutex mutex;
    std::vector<std::string> asked;
    TestHttpServer proxy;
    proxy.Server().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        asked.push_back(req.target);
        res.set_content("<a href=\"x.zip\">", "text/html");
    });
    proxy.Start();
    ScopedEnv through("http_proxy", proxy.Url(""));
    ScopedEnv none("no_proxy", std::nullopt);
    CSearchSession session;
    session.ObeyRobots(false);
    EXPECT_EQ(Fetch(session,
                    "http://b\xC3\xBC"
                    "cher.test/caf\xC3\xA9 1.html"),
              "<a href=\"x.zip\">");
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(asked, std::vector<std::string>{"http://xn--bcher-kva.test/caf%C3%A9%201.html"});
}

}  // namespace
