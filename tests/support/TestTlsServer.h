#pragma once
// An HTTPS server on 127.0.0.1 for tests, on a port the system picks, with a
// certificate made for it. A client trusts the server when it takes
// CertificateFile() as its certificate bundle, e.g. through SSL_CERT_FILE:
//     TestTlsServer server;
//     ScopedEnv trust("SSL_CERT_FILE", server.CertificateFile());
#include <httplib.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "support/TestCertificate.h"

class TestTlsServer {
public:
    // `altNames`: the names the certificate is made for (see TestCertificate).
    explicit TestTlsServer(const std::string& altNames = "IP:127.0.0.1,DNS:localhost")
        : m_certificate(altNames),
          m_server(m_certificate.CertificateFile().c_str(), m_certificate.KeyFile().c_str()) {
        if (!m_server.is_valid()) throw std::runtime_error("the TLS test server could not take its certificate");
    }
    ~TestTlsServer() { Stop(); }
    TestTlsServer(const TestTlsServer&) = delete;
    TestTlsServer& operator=(const TestTlsServer&) = delete;

    httplib::Server& Server() { return m_server; }
    std::string CertificateFile() const { return m_certificate.CertificateFile(); }

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
        while (!m_server.is_running()) std::this_thread::yield();
    }
    void Stop() {
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }

    int Port() const { return m_port; }
    // "https://127.0.0.1:PORT" + path
    std::string Url(const std::string& path = "/") const {
        return "https://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    TestCertificate m_certificate;
    httplib::SSLServer m_server;
    std::thread m_thread;
    int m_port = 0;
};
