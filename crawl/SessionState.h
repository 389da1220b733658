#pragma once
// What the session's two sides share: the worker, which asks for pages, reads
// them and foresees the next, and the session's network thread, which drives
// the transfers and scans what arrives. Everything here is under the one lock,
// except what is marked as the network thread's own.
#include <condition_variable>
#include <deque>
#include <optional>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crawl/PageFetcher.h"
#include "crawl/PageScan.h"
#include "crawl/PageTransfer.h"

// One page asked of a server, from the request until the worker is done with it.
struct Fetch {
    Fetch(PageRequest asked, bool early) : request(std::move(asked)), ahead(early) {}

    PageRequest request;   // as foreseen; as the worker asked, once it has taken the page
    const bool ahead;      // asked for before the worker wanted it
    bool awaited = false;  // the worker has taken it
    bool dropped = false;  // nobody wants it any more: its transfer ends
    bool started = false;  // the network thread has taken it up
    bool opened = false;   // its body has begun, or it has ended
    bool ended = false;
    bool failed = false;
    // Fetched ahead, held back for memory, and failed: perhaps through the wait,
    // so the failure is not the page's own. It is asked for again when taken.
    bool untrusted = false;
    bool skipped = false;      // its origin's robots.txt keeps crawlers off it
    int attempts = 0;          // requests that a busy server turned away
    std::string robotsOrigin;  // not a page: the robots.txt of this origin
    std::string failure;
    std::string finalUrl;
    std::size_t bytes = 0;         // its text so far: whole lines, joined
    std::size_t waitingBytes = 0;  // what it adds to the waiting sum
    std::string text;              // its text once ended, kept when the worker had taken it by then
    std::shared_ptr<const PageScan> scan;
    std::vector<std::string> statuses;  // status texts the worker has yet to show
    std::string lastStatus;
    // Its transfer has ended well and it waits for its scan, which ends it.
    std::optional<PageOutcome> unscanned;

    // The network thread's own.
    std::unique_ptr<CPageTransfer> transfer;
    bool inMulti = false;
    bool wasPaused = false;
};

struct SessionShared {
    std::mutex mutex;
    std::condition_variable changed;  // the worker waits on it

    // Fetched ahead and not yet taken, and the page the worker reads, by URL.
    std::unordered_map<std::string, std::shared_ptr<Fetch>> fetches;
    std::shared_ptr<Fetch> awaited;
    // Left by the worker before their end: the network thread ends them.
    std::vector<std::shared_ptr<Fetch>> retired;
    std::vector<PageRequest> foresight;
    std::size_t foresightTaken = 0;  // the foresight before it is under way or was there already
    std::size_t inFlight = 0;        // transfers under way, as the network thread last counted
    std::vector<std::shared_ptr<const PageScan>> arrivals;
    // Pages read whole and waiting for their scan, in the order they ended.
    std::deque<std::shared_ptr<Fetch>> toScan;
    // The running sum of what pages fetched ahead hold while they wait.
    std::size_t waiting = 0;
    bool ending = false;
    // Something the worker may wait for has changed since it last looked.
    bool news = false;
    bool workerWaiting = false;  // the worker waits for news
    FetchStats stats;
};
