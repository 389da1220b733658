#pragma once
// An HTTP server on 127.0.0.1 for tests, on a port the system picks. Pages are
// registered as path -> body; handlers can be registered for anything else.
#include <httplib.h>

#include <string>
#include <thread>
#include <utility>

// What the plain and the TLS test servers share.
template <typename HttplibServer>
class BasicTestServer {
public:
    template <typename... Args>
    BasicTestServer(std::string scheme, Args&&... args)
        : m_scheme(std::move(scheme)), m_server(std::forward<Args>(args)...) {}
    ~BasicTestServer() { Stop(); }
    BasicTestServer(const BasicTestServer&) = delete;
    BasicTestServer& operator=(const BasicTestServer&) = delete;

    HttplibServer& Server() { return m_server; }

    // Serves `body` as text/html at `path` (status 200 unless given).
    void Page(const std::string& path, const std::string& body, int status = 200) {
        m_server.Get(path, [body, status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, "text/html");
        });
    }

    void Start() {
        // As web servers answer: without it each small response waits for the
        // client's delayed acknowledgement.
        m_server.set_tcp_nodelay(true);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // The socket listens from bind on; wait for the accept loop all the same.
        while (!m_server.is_running()) std::this_thread::yield();
    }
    void Stop() {
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }

    int Port() const { return m_port; }
    // "SCHEME://127.0.0.1:PORT" + path
    std::string Url(const std::string& path = "/") const {
        return m_scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
    }

protected:
    bool Valid() const { return m_server.is_valid(); }

private:
    std::string m_scheme;
    HttplibServer m_server;
    std::thread m_thread;
    int m_port = 0;
};

class TestHttpServer : public BasicTestServer<httplib::Server> {
public:
    TestHttpServer() : BasicTestServer("http") {}
};
