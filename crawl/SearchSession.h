#pragma once
// The HTTP session of one search, on libcurl: the crawl's one fetcher. With one
// connection it fetches the page the worker asks for; with more, it also keeps
// the pages the worker will probably want next in flight, as the worker's
// planner foresees them, and keeps what arrives until the worker takes it. A
// page taken from there gives the worker the same text, checksum, links, final
// address and failure as one fetched when asked for, so the crawl's order,
// counting and results do not change with the number of connections.
//
// The transfers run on a thread of the session's own, which also decodes each
// page, joins its lines and scans its links, while the worker records the
// pages before it. Everything the worker sees (pages, status texts) it sees on
// its own thread, inside Open and the page's calls.
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "crawl/FetchLimits.h"
#include "crawl/PageFetcher.h"

class CSearchSession : public IPageFetcher {
public:
    // Pages fetched ahead and waiting for the worker hold at most this many bytes:
    // the decoded body while it comes, then the page's scan. Beyond it no more
    // pages are fetched ahead, and those under way pause.
    static constexpr std::size_t kMaxWaitingBytes = std::size_t{64} * 1024 * 1024;
    // A page is fetched ahead only while this much room is left: with less it
    // would pause at its first bytes.
    static constexpr std::size_t kRoomForAPage = kMaxWaitingBytes / 64;
    // Without that room, pages that arrived ahead but are no longer foreseen
    // make room for those that are, at most one for this many pages asked for:
    // each is asked for again when the worker reaches it, and the server's load
    // is not to grow for speed. Beyond that, what is foreseen waits for the
    // worker to take pages.
    static constexpr std::size_t kRequestsPerDrop = 100;
    // The worker's planner looks this many pages ahead a connection. A
    // depth-first crawl takes next the pages below the one in process, known
    // only once that page is read: the look-ahead must reach past a page's
    // siblings to the pages below them, so that they come while the worker is
    // busy. Each step of the planner costs the same however far it looks.
    static constexpr std::size_t kPagesAheadPerConnection = 16;

    // `stop` is the search's stop request; a transfer in progress ends soon after
    // it is set. `connections`: the pages kept in flight.
    explicit CSearchSession(const std::atomic<bool>* stop = nullptr, const FetchLimits& limits = {},
                            int connections = 1);
    ~CSearchSession() override;
    CSearchSession(const CSearchSession&) = delete;
    CSearchSession& operator=(const CSearchSession&) = delete;

    void SetStatusTarget(IStatusTarget* target) override;
    void EnableStatusCallback(bool enable) override;
    void BeginSearch(std::shared_ptr<const CrawlRules> rules) override;
    std::unique_ptr<IPageFile> Open(const PageRequest& request) override;
    std::unique_ptr<IPageFile> OpenURL(const std::string& url) override;
    std::size_t Lookahead() const override;
    std::chrono::microseconds TypicalAnswerTime() const override;
    void SetPlanner(IFetchPlanner* planner) override;
    void ObeyRobots(bool obey) override;
    void Foresee(std::vector<PageRequest> next) override;
    std::vector<std::shared_ptr<const PageScan>> TakeArrivals() override;
    void EndSearch() override;
    FetchStats Stats() const override;

    // The text shown for a status code of the connection's progress.
    static std::string StatusText(int code, const char* info);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
