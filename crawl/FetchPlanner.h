#pragma once
// Foresees the pages the worker will open, so that they can be fetched before
// it asks for them. It follows the worker's own order, from the page in
// process: the pages that page will queue (when its scan has come), depth-first
// through the scans that have come, then the entries behind it in the queue.
// Of a page whose scan has not come it knows only the page itself.
//
// Past a page whose links are not known yet, the pages foreseen are a guess
// that it leads to no page not known already. Over a whole crawl a page leads
// to one new page on average; early in a large site each leads to many, and a
// page fetched on the guess waits until most of the site is done, while the
// pages the worker wants next queue behind it. So guesses are made only while
// the pages lately taken led to few new pages each, or while the servers are
// slow to answer: then a guess that comes true saves a wait, and one that
// does not costs little.
//
// It looks only as far ahead as the fetcher fetches, and each step costs the
// same however long the queue: the queue is read where the walk needs it, and a
// link found known is dropped from its page's list for good.
//
// It runs on the worker's thread, between the worker's steps and while the
// worker waits for a page, and reads the crawl's state without changing it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "crawl/PageFetcher.h"

class CCrawlWorker;
struct PageScan;

class CFetchPlanner : public IFetchPlanner {
public:
    // A walk takes at most this many steps a page it foresees: links known by
    // now, or queued before, are passed over on the way.
    static constexpr std::size_t kStepsPerPageForeseen = 32;
    // Guesses stop while the pages lately taken led to this many new pages each.
    static constexpr double kMostQueuedPerPageForGuesses = 10;
    // How much each page taken weighs in that average.
    static constexpr double kWeightOfAPageTaken = 1.0 / 16;
    // A search's first pages, its site's tables of contents, are too few to
    // judge by: guesses are made as always until this many are taken.
    static constexpr std::size_t kPagesTakenBeforeJudging = 64;
    // Servers that take this long to begin an answer are worth every guess.
    static constexpr std::chrono::microseconds kSlowAnswer{5000};

    CFetchPlanner(const CCrawlWorker& worker, IPageFetcher& fetcher) : m_worker(worker), m_fetcher(fetcher) {}

    void Replan() override;
    // The worker has read the page in process: what it links to is known now.
    void PageTaken(const std::shared_ptr<const PageScan>& scan);
    // A new search begins.
    void Clear();

private:
    // A page whose scan has come: the links it would queue, in the order the
    // worker would take them (the last link first), those found known dropped.
    struct Node {
        std::weak_ptr<const PageScan> scan;
        std::string base;  // the base in force for its links
        // Its links are taken last first: the first `head` of them in that order are known pages.
        std::size_t head = 0;
    };

    void Learn(const std::shared_ptr<const PageScan>& scan);
    // True when every page that `scan` links to is known: it queues nothing.
    bool LeadsNowhereNew(const PageScan& scan) const;
    // Foresees the pages from the page in process on. `belowPageInProcess`: only
    // the pages below it are walked, then what the last walk foresaw behind it
    // follows, the page in process having been foreseen first.
    void Walk(bool belowPageInProcess);
    // Drops the nodes whose scans the fetcher no longer keeps.
    void Prune();

    const CCrawlWorker& m_worker;
    IPageFetcher& m_fetcher;
    std::unordered_map<std::size_t, Node> m_nodes;  // by the UrlHash of the page's URL
    const std::string m_noBase;
    std::size_t m_pruneAt = 64;
    // What the last walk foresaw, with each page's identity and the scan whose
    // links it went through (none when they were not known); the worker has
    // taken the first m_foreseenTaken of them since, each as foreseen.
    std::vector<PageRequest> m_foreseen;
    std::vector<std::size_t> m_foreseenHashes;
    std::vector<std::weak_ptr<const PageScan>> m_foreseenScans;
    std::size_t m_foreseenTaken = 0;
    double m_queuedPerPage = 0;      // new pages each page lately taken led to, the latest weighing most
    std::size_t m_queuedBefore = 0;  // the worker's pages queued when the last page was taken
    std::size_t m_pagesTaken = 0;
};
