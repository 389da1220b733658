#pragma once
// The crawl's only road to the network. The worker opens a page and reads it line
// by line; a fetcher that works ahead over several connections can take the
// session's place behind this interface without touching the crawl rules.
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

// Raised when a page cannot be opened or read: the crawl records the URL as failed.
class InternetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Receives the connection status texts while a page is opened and read.
class IStatusTarget {
public:
    virtual ~IStatusTarget() = default;
    virtual void SetStatusText(const std::string& text) = 0;
};

class IPageFile {
public:
    virtual ~IPageFile() = default;
    // Next line of the body; false (and an empty line) when nothing is left.
    // Throws InternetError when reading fails or the search is stopped.
    virtual bool ReadString(std::string& line) = 0;
    virtual void Close() = 0;
    // The address the body is read from, after redirects: the page's own
    // address, against which its relative links resolve. Empty when it is the
    // URL that was opened.
    virtual std::string FinalUrl() const { return {}; }
};

// What fetching cost a search, for those who measure it.
struct FetchStats {
    std::size_t requests = 0;      // pages asked of servers
    std::size_t fetchedAhead = 0;  // of them, before the worker asked for them
    std::size_t neverReached = 0;  // of those, pages the worker never took
};

class IPageFetcher {
public:
    virtual ~IPageFetcher() = default;
    virtual void SetStatusTarget(IStatusTarget* target) = 0;
    virtual void EnableStatusCallback(bool enable) = 0;
    // Null when the URL is of a kind that cannot be handed back as a file;
    // throws InternetError when it cannot be opened.
    virtual std::unique_ptr<IPageFile> OpenURL(const std::string& url) = 0;
    // The worker has ended, finished or stopped: every transfer still under way
    // ends, and what was fetched for it and not taken is dropped.
    virtual void EndSearch() {}
    virtual FetchStats Stats() const { return {}; }
};
