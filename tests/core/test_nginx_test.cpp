// The nginx fixture itself: other tests and the benchmarks take on trust that
// it speaks HTTP/2, compresses pages and closes connections when told.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/TestNginx.h"

namespace {

size_t Append(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct Reply {
    CURLcode code = CURLE_OK;
    long httpVersion = 0;
    long newConnections = 0;
    std::string headers;
    std::string body;
};

Reply Get(CURL* curl, const std::string& url) {
    Reply reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_HTTP_VERSION, &reply.httpVersion);
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &reply.newConnections);
    return reply;
}

}  // namespace

TEST(TestNginx, ServesCompressedPagesOverHttp2) {
    if (!TestNginx::Available()) GTEST_SKIP() << "nginx is not installed";
    TempDir site;
    std::string page = "<html><body>\n";
    for (int i = 0; i < 50; ++i) page += "<a href=\"p" + std::to_string(i) + ".htm\">item</a>\n";
    page += "</body></html>\n";
    WriteFileBytes("index.html", page);
    TestCertificate certificate;
    NginxOptions options;
    options.root = site.Path();
    options.https = options.http2 = options.gzip = true;
    options.certificateFile = certificate.CertificateFile();
    options.keyFile = certificate.KeyFile();
    TestNginx nginx(options);

    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_CAINFO, certificate.CertificateFile().c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip");
    const Reply reply = Get(curl, nginx.Url("/index.html"));
    curl_easy_cleanup(curl);

    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.httpVersion, CURL_HTTP_VERSION_2_0);
    EXPECT_NE(reply.headers.find("content-encoding: gzip"), std::string::npos) << reply.headers;
    EXPECT_EQ(reply.body, page);
}

TEST(TestNginx, ClosesTheConnectionAfterTheRequestLimit) {
    if (!TestNginx::Available()) GTEST_SKIP() << "nginx is not installed";
    TempDir site;
    WriteFileBytes("a.htm", "a");
    NginxOptions options;
    options.root = site.Path();
    options.keepaliveRequests = 2;
    TestNginx nginx(options);

    CURL* curl = curl_easy_init();
    long connections = 0;
    for (int i = 0; i < 4; ++i) {
        const Reply reply = Get(curl, nginx.Url("/a.htm"));
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.body, "a");
        connections += reply.newConnections;
    }
    curl_easy_cleanup(curl);
    EXPECT_EQ(connections, 2);
}
