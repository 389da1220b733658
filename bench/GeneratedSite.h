#pragma once
// Sites of any size made up for the benchmarks: pages p0.htm ... pN.htm, each
// linking to others spread over the site, to two downloads of its own and to
// another host. Written out as files for a web server, or served straight from
// memory with a delay per response, as a slow site answers.
#include <httplib.h>

#include <filesystem>
#include <string>
#include <thread>

constexpr int kLinksPerGeneratedPage = 20;

std::string GeneratedPage(int page, int pages);

void WriteGeneratedSite(const std::filesystem::path& folder, int pages);

// Serves the generated pages on 127.0.0.1, each after `delayMs`; other paths are 404.
class DelayedSiteServer {
public:
    DelayedSiteServer(int pages, int delayMs);
    ~DelayedSiteServer();
    DelayedSiteServer(const DelayedSiteServer&) = delete;
    DelayedSiteServer& operator=(const DelayedSiteServer&) = delete;

    std::string Url(const std::string& path) const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};
