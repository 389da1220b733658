#include "crawl/CurlHandles.h"

#include <mutex>

#include "crawl/PageFetcher.h"
#include "crawl/TrustStore.h"

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

SearchHandles MakeSearchHandles() {
    InitCurlOnce();
    SearchHandles handles;
    handles.share.reset(curl_share_init());
    handles.multi.reset(curl_multi_init());
    if (!handles.share || !handles.multi) throw InternetError("The internet library could not be opened");
    // All on the worker's thread: the share handle needs no locks.
    CURLSH* share = handles.share.get();
    if (curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK)
        throw InternetError("The internet library could not be set up");
    handles.trust = CTrustStore::FromEnvironment();
    return handles;
}
