#pragma once
// How long a page may take and how large it may grow before the crawl gives it
// up. A page past any of these bounds fails like a broken connection: its URL is
// listed as failed and the crawl goes on with the next entry. Each transfer
// (crawl/PageTransfer.cpp) applies them; a time below one second counts as one.
#include <cstddef>

// How long one wait for the network may last before the stop request is looked at again.
inline constexpr int kStopPollMilliseconds = 100;

struct FetchLimits {
    static constexpr long kConnectTimeoutSeconds = 60;
    // A page from which no byte has come for this long has stalled.
    static constexpr long kStallSeconds = 60;
    // A server that drips a byte now and then never stalls; this bounds a page as a whole.
    static constexpr long kTotalSeconds = 5 * 60;
    // Counted after decoding, so that a small compressed body cannot unpack into
    // more than this. A body that never ends fails here instead of growing without bound.
    static constexpr std::size_t kMaxBodyBytes = std::size_t{64} * 1024 * 1024;

    long connectTimeoutSeconds = kConnectTimeoutSeconds;
    long stallSeconds = kStallSeconds;
    long totalSeconds = kTotalSeconds;
    std::size_t maxBodyBytes = kMaxBodyBytes;
};
