#include "bench/GeneratedSite.h"

#include <chrono>
#include <fstream>
#include <stdexcept>

std::string GeneratedPage(int page, int pages) {
    std::string body = "<html><head><title>Page " + std::to_string(page) + "</title></head><body>\n";
    for (int k = 0; k < kLinksPerGeneratedPage; ++k) {
        // Spread over the whole site, so a depth-first crawl keeps jumping.
        const int target = static_cast<int>((static_cast<long long>(page) * 7919 + k * 104729 + 1) % pages);
        body += "<p>Some text about item " + std::to_string(target) + ".</p><a href=\"p" + std::to_string(target) +
                ".htm\">item " + std::to_string(target) + "</a>\n";
    }
    body += "<a href=\"files/f" + std::to_string(page) + ".zip\">zip</a> <a href=\"/files/g" + std::to_string(page) +
            ".pdf\">pdf</a> <a href=\"http://elsewhere.example/x" + std::to_string(page % 10) + ".zip\">mirror</a>\n";
    return body + "</body></html>\n";
}

void WriteGeneratedSite(const std::filesystem::path& folder, int pages) {
    std::filesystem::create_directories(folder);
    for (int page = 0; page < pages; ++page) {
        std::ofstream out(folder / ("p" + std::to_string(page) + ".htm"), std::ios::binary);
        out << GeneratedPage(page, pages);
        if (!out) throw std::runtime_error("could not write the generated site into " + folder.string());
    }
}

DelayedSiteServer::DelayedSiteServer(int pages, int delayMs) {
    // Far more threads than any client here keeps connections: each kept-alive
    // connection holds one, and a waiting response must not queue behind another.
    m_server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    // As web servers answer: without it, each small response waits for the
    // client's delayed acknowledgement.
    m_server.set_tcp_nodelay(true);
    m_server.Get(R"(/p(\d+)\.htm)", [pages, delayMs](const httplib::Request& req, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const int page = std::stoi(req.matches[1]);
        if (page >= pages) {
            res.status = 404;
            return;
        }
        res.set_content(GeneratedPage(page, pages), "text/html");
    });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("the delaying server found no port");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    while (!m_server.is_running()) std::this_thread::yield();
}

DelayedSiteServer::~DelayedSiteServer() {
    m_server.stop();
    m_thread.join();
}

std::string DelayedSiteServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}
