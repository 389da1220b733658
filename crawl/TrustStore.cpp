#include "crawl/TrustStore.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string_view>

#include "crawl/CurlHandles.h"

// Read when the first connection over TLS is made: a crawl over http alone never reads it.
struct CTrustStore::Store {
    std::vector<std::string> bundles;  // the bundles to read: those named, else libcurl's own
    std::string folder;                // libcurl's certificate folder, if it has one
    std::once_flag read;
    X509_STORE* certificates = nullptr;
    bool unreadable = false;  // no bundle it was to hold could be read

    void Read();
    ~Store() { X509_STORE_free(certificates); }
};

void CTrustStore::Store::Read() {
    certificates = X509_STORE_new();
    if (certificates == nullptr) {
        unreadable = true;
        return;
    }
    bool readOne = bundles.empty();
    for (const std::string& bundle : bundles)
        readOne = X509_STORE_load_file(certificates, bundle.c_str()) == 1 || readOne;
    unreadable = !readOne;
    // The folder is looked into only for the issuer a server's chain names.
    if (!folder.empty()) X509_STORE_load_path(certificates, folder.c_str());
}

namespace {

std::vector<std::string> NamedBundles() {
    std::vector<std::string> files;
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        if (std::find(files.begin(), files.end(), value) == files.end()) files.emplace_back(value);
    }
    return files;
}

bool CurlUsesOpenSsl() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && info->ssl_version != nullptr &&
           std::string_view(info->ssl_version).starts_with("OpenSSL");
}

// libcurl's own bundle and certificate folder, as it was built.
struct CurlDefaults {
    std::string bundle;
    std::string folder;
};

CurlDefaults DefaultsOfCurl() {
    CurlDefaults defaults;
    CurlEasyPtr easy(curl_easy_init());
    if (!easy) return defaults;
    char* text = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_CAINFO, &text) == CURLE_OK && text != nullptr) defaults.bundle = text;
    text = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_CAPATH, &text) == CURLE_OK && text != nullptr) defaults.folder = text;
    return defaults;
}

}  // namespace

CTrustStore::~CTrustStore() = default;

std::shared_ptr<const CTrustStore> CTrustStore::FromEnvironment() {
    InitCurlOnce();
    std::shared_ptr<CTrustStore> trust(new CTrustStore);
    trust->m_files = NamedBundles();
    if (CurlUsesOpenSsl()) {
        auto store = std::make_unique<Store>();
        CurlDefaults defaults = DefaultsOfCurl();
        store->bundles = trust->m_files;
        if (store->bundles.empty() && !defaults.bundle.empty()) store->bundles.push_back(std::move(defaults.bundle));
        store->folder = std::move(defaults.folder);
        trust->m_store = std::move(store);
        return trust;
    }
    if (trust->m_files.size() < 2) return trust;
    for (const std::string& name : trust->m_files) {
        std::ifstream file(name, std::ios::binary);
        trust->m_certificates.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        trust->m_certificates += '\n';
    }
    return trust;
}

CURLcode CTrustStore::OnSslContext(CURL*, void* sslContext, void* self) {
    Store& store = *static_cast<const CTrustStore*>(self)->m_store;
    std::call_once(store.read, [&] { store.Read(); });
    if (store.unreadable) return CURLE_SSL_CACERT_BADFILE;
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store.certificates);
    return CURLE_OK;
}

bool CTrustStore::ApplyTo(CURL* easy) const {
    if (m_store) {
        // libcurl reads nothing itself; the context of each connection gets the store.
        return curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<char*>(nullptr)) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<char*>(nullptr)) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CTrustStore::OnSslContext) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, const_cast<CTrustStore*>(this)) == CURLE_OK;
    }
    // One file is named as a file, so that libcurl reads it once for all
    // connections where it can; two are handed over as what they hold.
    if (m_files.size() == 1) return curl_easy_setopt(easy, CURLOPT_CAINFO, m_files.front().c_str()) == CURLE_OK;
    if (m_files.size() > 1) {
        curl_blob blob{const_cast<char*>(m_certificates.data()), m_certificates.size(), CURL_BLOB_COPY};
        return curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob) == CURLE_OK;
    }
    return true;
}
