#pragma once
// A self-signed server certificate and its key, made for a test by the openssl
// command into a directory of their own, which goes with the object. A client
// trusts the certificate by taking CertificateFile() as its bundle.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class TestCertificate {
public:
    // `altNames` as openssl writes a subjectAltName: "IP:127.0.0.1,DNS:localhost".
    explicit TestCertificate(const std::string& altNames = "IP:127.0.0.1,DNS:localhost") {
        std::string pattern = (std::filesystem::temp_directory_path() / "netzspurer-cert-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no directory for a test certificate");
        m_dir = pattern;
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
            " -subj /CN=netzspurer-test -addext 'subjectAltName=" +
            altNames +
            "'"
            " -keyout '" +
            KeyFile() + "' -out '" + CertificateFile() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 || !std::filesystem::exists(CertificateFile())) {
            Remove();
            throw std::runtime_error("openssl could not make a test certificate for " + altNames);
        }
    }
    ~TestCertificate() { Remove(); }
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    std::string CertificateFile() const { return (m_dir / "cert.pem").string(); }
    std::string KeyFile() const { return (m_dir / "key.pem").string(); }

private:
    void Remove() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::filesystem::path m_dir;
};
