#pragma once
// Foresees the pages the worker will open, so that they can be fetched before
// it asks for them. It walks the queue as the worker will: the entry in
// process, the pages that entry will queue, depth-first, then the entries
// behind it. Of a page that has been fetched already it knows the links, found
// by the crawl's own rules (exclusions, "+" base, "*", same host, follow test)
// applied early; of the rest it knows only the page itself.
//
// It runs on the worker's thread, inside the fetcher's calls, and reads the
// crawl's state there without changing anything.
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crawl/FetchAhead.h"

class CSearch;

class CFetchPlanner : public IFetchPlanner {
public:
    explicit CFetchPlanner(const CSearch& search) : m_search(search) {}

    std::vector<std::string> NextToFetch(std::size_t count, std::size_t window,
                                         const std::function<bool(const std::string&)>& requested) override;
    void PageArrived(const std::string& url, const std::string& finalUrl, const std::string& text) override;
    std::unordered_set<std::string> Reachable() override;
    void Forget(const std::string& url) override;
    // A new search begins.
    void Clear();

private:
    // A page as the worker will take it: its queue entry, the base in force
    // when the entry keeps it, and whether it is one of the project's own entries.
    struct Node {
        std::string entry;
        std::string base;
        bool start = false;
    };
    // What the links of a fetched page will queue. A page once in the page list
    // stays there, so the entries found known are dropped for good.
    struct Links {
        std::vector<std::string> entries;
        std::string base;
    };

    // Calls `visit` for every page in the order the worker will open them, as
    // far as it can be told, until `visit` returns false or `limit` pages.
    template <typename Visit>
    void Walk(std::size_t limit, Visit visit);
    Links LinksOf(const Node& node, const std::string& url, const std::string& finalUrl,
                  const std::string& text) const;

    const CSearch& m_search;
    std::unordered_map<std::string, Node> m_planned;  // by URL: how each page was foreseen
    std::unordered_map<std::string, Links> m_links;   // by URL: the pages fetched
};
