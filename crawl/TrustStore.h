#pragma once
// The certificates a search trusts: named when it starts, read once at its
// first connection over TLS, and handed to each of its connections. Reading
// the system's bundle of 140-odd certificates costs some 20 ms of CPU: read
// per connection, a crawl over https paid that again for every connection it
// opened; read at the start, a crawl over http paid it for nothing.
//
// What is trusted: the bundles named in the environment, CURL_CA_BUNDLE (as
// curl reads it) and SSL_CERT_FILE (as OpenSSL does), both: desktops and build
// machines often set one of them to the system's store, and a certificate
// trusted through the other must not fail for it. None named: libcurl's own
// bundle. The system's certificate folder that libcurl knows is trusted too.
// A bundle was named (or is libcurl's own) but none could be read: every
// https page fails, rather than falling back to another store.
#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

class CTrustStore {
public:
    // Named by the environment as it is now.
    static std::shared_ptr<const CTrustStore> FromEnvironment();
    ~CTrustStore();
    CTrustStore(const CTrustStore&) = delete;
    CTrustStore& operator=(const CTrustStore&) = delete;

    // Sets `easy` to verify its servers against these certificates; false when
    // libcurl refuses an option.
    bool ApplyTo(CURL* easy) const;

private:
    CTrustStore() = default;
    static CURLcode OnSslContext(CURL* easy, void* sslContext, void* self);

    std::vector<std::string> m_files;  // the distinct bundles named
    // When libcurl's TLS is OpenSSL's: read once, and shared by every connection's context.
    struct Store;
    std::unique_ptr<Store> m_store;
    // Otherwise: with two bundles named, what they hold, together.
    std::string m_certificates;
};
