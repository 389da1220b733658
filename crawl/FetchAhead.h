#pragma once
// A fetcher that works ahead. Besides the page the worker asks for, it keeps
// transfers in flight for the pages the worker will probably ask for next, as
// its planner foresees them, and keeps what arrives by URL until the worker
// takes it. A page taken from here gives the worker the same lines, the same
// final address and the same failure as one fetched when asked for, so the
// crawl's order, counting and results do not change with it.
//
// Everything runs on the worker's thread, inside OpenURL, ReadString and Close:
// the transfers move on while the worker waits for a page.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "crawl/FetchLimits.h"
#include "crawl/PageFetcher.h"

// Foresees the pages the worker will open.
class IFetchPlanner {
public:
    virtual ~IFetchPlanner() = default;
    // Up to `count` URLs, among the next `window` pages the worker will probably
    // open, the soonest first, none of them one for which `requested` holds.
    virtual std::vector<std::string> NextToFetch(std::size_t count, std::size_t window,
                                                 const std::function<bool(const std::string&)>& requested) = 0;
    // A page has arrived whole from `finalUrl` (empty: from `url` itself); `text`
    // is its lines joined as the worker joins them.
    virtual void PageArrived(const std::string& url, const std::string& finalUrl, const std::string& text) = 0;
    // The URLs the worker can still reach, as far as the planner can tell.
    virtual std::unordered_set<std::string> Reachable() = 0;
    // Nothing more is wanted of `url`'s page.
    virtual void Forget(const std::string& url) = 0;
};

class CFetchAhead : public IPageFetcher {
public:
    // Pages fetched ahead and waiting for the worker hold at most this many body
    // bytes; beyond it, no more are fetched ahead and those under way pause.
    static constexpr std::size_t kMaxWaitingBytes = std::size_t{64} * 1024 * 1024;
    // Only the next this many pages a connection, in the order the worker will
    // take them, are fetched ahead: enough to keep every connection busy while the
    // worker catches up; farther ahead the foresight grows uncertain and dear.
    static constexpr std::size_t kPagesAheadPerConnection = 8;

    // `connections`: transfers kept in flight. `stop`: the search's stop request.
    CFetchAhead(const std::atomic<bool>* stop, int connections, const FetchLimits& limits = {});
    ~CFetchAhead() override;
    CFetchAhead(const CFetchAhead&) = delete;
    CFetchAhead& operator=(const CFetchAhead&) = delete;

    // Without a planner nothing is fetched ahead.
    void SetPlanner(IFetchPlanner* planner);

    void SetStatusTarget(IStatusTarget* target) override;
    void EnableStatusCallback(bool enable) override;
    std::unique_ptr<IPageFile> OpenURL(const std::string& url) override;
    void EndSearch() override;
    FetchStats Stats() const override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
