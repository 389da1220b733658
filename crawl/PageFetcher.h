#pragma once
// The crawl's only road to the network. The worker asks for a page and reads it
// through a small interface; behind it there is one fetcher, which can keep
// several pages in flight for the pages the worker will want next, and which
// reads each page once: the links it found on a page fetched ahead are the ones
// the worker uses.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct CrawlRules;
struct PageScan;

// Raised when a page cannot be opened or read: the crawl records the URL as failed.
class InternetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised instead when the site's robots.txt keeps crawlers off the page: it is
// neither fetched nor failed.
class RobotsExclusion : public InternetError {
public:
    using InternetError::InternetError;
};

// Receives the connection status texts while a page is opened and read.
class IStatusTarget {
public:
    virtual ~IStatusTarget() = default;
    virtual void SetStatusText(const std::string& text) = 0;
};

// A page as the worker asks for it: its address and what its queue entry makes
// of its links. Two requests for one URL that differ in any of these read the
// page's links differently.
struct PageRequest {
    std::string url;        // marks and leading blanks removed
    bool start = false;     // one of the project's own entries: the crawl's site moves with its redirects
    bool recursive = true;  // false: nothing on the page is followed
    bool plus = false;      // the base is made from where the page landed
    std::string base;       // otherwise the base in force for the page ("" for none)

    bool operator==(const PageRequest&) const = default;
};

class IPageFile {
public:
    virtual ~IPageFile() = default;
    // Waits for more of the body and returns true with the number of bytes it
    // added to the page's text (whole lines, joined); false once nothing is left.
    // Throws InternetError when reading fails or the search is stopped.
    virtual bool ReadMore(std::size_t& added) = 0;
    // The page's text read so far. A fetcher that scans its pages itself need not keep it.
    virtual const std::string& Text() const = 0;
    // The page's checksum and links as the fetcher read them under `request`, once
    // the body is read to its end; null when it made none under that request.
    virtual std::shared_ptr<const PageScan> Scan(const PageRequest& /*request*/) const { return nullptr; }
    virtual void Close() = 0;
    // The address the body is read from, after redirects: the page's own
    // address, against which its relative links resolve. Empty when it is the
    // URL that was opened.
    virtual std::string FinalUrl() const { return {}; }
};

// A page handed over line by line; its text is its lines joined.
class CLinePageFile : public IPageFile {
public:
    // Next line of the body; false (and an empty line) when nothing is left.
    virtual bool ReadString(std::string& line) = 0;

    bool ReadMore(std::size_t& added) final {
        std::string line;
        if (!ReadString(line)) return false;
        m_text += line;
        added = line.size();
        return true;
    }
    const std::string& Text() const final { return m_text; }

private:
    std::string m_text;
};

// What fetching cost a search, for those who measure it.
struct FetchStats {
    std::size_t requests = 0;          // pages asked of servers
    std::size_t fetchedAhead = 0;      // of them, before the worker asked for them
    std::size_t neverReached = 0;      // of those, pages the worker never took
    std::size_t peakWaitingBytes = 0;  // the most that pages fetched ahead held at once
};

// Foresees the pages the worker will open. The fetcher asks it again, on the
// worker's thread, whenever pages have arrived that may let it see farther.
class IFetchPlanner {
public:
    virtual ~IFetchPlanner() = default;
    virtual void Replan() = 0;
};

class IPageFetcher {
public:
    virtual ~IPageFetcher() = default;
    virtual void SetStatusTarget(IStatusTarget* target) = 0;
    virtual void EnableStatusCallback(bool enable) = 0;
    // The search's link rules, fixed while it runs: pages are scanned with them.
    virtual void BeginSearch(std::shared_ptr<const CrawlRules> /*rules*/) {}
    // Null when the URL is of a kind that cannot be handed back as a file;
    // throws InternetError when it cannot be opened.
    virtual std::unique_ptr<IPageFile> Open(const PageRequest& request) { return OpenURL(request.url); }
    virtual std::unique_ptr<IPageFile> OpenURL(const std::string& url) = 0;

    // How many pages ahead of the worker the fetcher wants to be told of; 0: it
    // fetches only what the worker asks for.
    virtual std::size_t Lookahead() const { return 0; }
    // How long the servers lately took to begin their answers, once asked.
    virtual std::chrono::microseconds TypicalAnswerTime() const { return {}; }
    virtual void SetPlanner(IFetchPlanner* /*planner*/) {}
    // Whether the sites' robots.txt files are read and obeyed (they are unless told otherwise).
    virtual void ObeyRobots(bool /*obey*/) {}
    // The pages the worker will probably open next, the soonest first; replaces
    // what was foreseen before.
    virtual void Foresee(std::vector<PageRequest> /*next*/) {}
    // The scans of pages fetched ahead that have arrived since the last call.
    virtual std::vector<std::shared_ptr<const PageScan>> TakeArrivals() { return {}; }

    // The worker has ended, finished or stopped: every transfer still under way
    // ends, and what was fetched for it and not taken is dropped.
    virtual void EndSearch() {}
    virtual FetchStats Stats() const { return {}; }
};
