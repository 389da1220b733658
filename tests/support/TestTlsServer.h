#pragma once
// An HTTPS server on 127.0.0.1 for tests, on a port the system picks, with a
// certificate made for it. A client trusts the server when it takes
// CertificateFile() as its certificate bundle, e.g. through SSL_CERT_FILE:
//     TestTlsServer server;
//     ScopedEnv trust("SSL_CERT_FILE", server.CertificateFile());
#include <stdexcept>
#include <string>

#include "support/TestCertificate.h"
#include "support/TestHttpServer.h"

// The certificate is made before the server that takes it.
struct TestTlsCertificate {
    explicit TestTlsCertificate(const std::string& altNames) : certificate(altNames) {}
    TestCertificate certificate;
};

class TestTlsServer : private TestTlsCertificate, public BasicTestServer<httplib::SSLServer> {
public:
    // `altNames`: the names the certificate is made for (see TestCertificate).
    explicit TestTlsServer(const std::string& altNames = "IP:127.0.0.1,DNS:localhost")
        : TestTlsCertificate(altNames),
          BasicTestServer("https", certificate.CertificateFile().c_str(), certificate.KeyFile().c_str()) {
        if (!Valid()) throw std::runtime_error("the TLS test server could not take its certificate");
    }

    std::string CertificateFile() const { return certificate.CertificateFile(); }
};
