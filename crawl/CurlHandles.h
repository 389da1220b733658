#pragma once
// Owning pointers for libcurl's handles, and the library's one-time start.
#include <curl/curl.h>

#include <memory>

class CTrustStore;

// libcurl's global start is not thread-safe on its own; every handle is made after it.
void InitCurlOnce();

struct CurlEasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlShareCleanup {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};

using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiCleanup>;
using CurlSharePtr = std::unique_ptr<CURLSH, CurlShareCleanup>;

// The handles one search fetches through: a multi handle for its connections,
// and a share handle for its cookies and TLS sessions, which every transfer of
// the search uses, with the certificates they all trust. Throws InternetError
// when libcurl cannot make them.
struct SearchHandles {
    CurlSharePtr share;
    CurlMultiPtr multi;
    std::shared_ptr<const CTrustStore> trust;
};
SearchHandles MakeSearchHandles();
