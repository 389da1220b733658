#pragma once
// Where a link leads and whether the crawl follows it, as pure functions of
// the link, its page and the search's rules. DecideLink is the one decision:
// the fetcher makes it for every link of a page it has read, and the worker
// records what it decided, so each page is read once and both always agree.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crawl/Url.h"
#include "project/ProjectData.h"

// A followed link longer than this is not queued (it can still be a hit): a
// page that links to ever longer addresses of itself must not fill the memory.
inline constexpr std::size_t kMaxQueuedUrlLength = 4096;

// The page whose links are handled.
struct PageContext {
    std::string address;      // relative links resolve against it: where the page was read from
    std::string host;         // a link is followed only on this host
    bool followLinks = true;  // false: the page lies off the crawl's site, nothing of it is followed
};

// The context of the page in process when nothing but its queue entry is known.
PageContext PageContextOfEntry(std::string_view entry);
// The context of a page queued at `queuedUrl` and read from `finalUrl` (empty:
// from where it was queued). A start entry that moved takes the crawl's site
// along; a followed link that landed on another host is read for its hits, but
// nothing of it is followed.
PageContext PageContextOf(const std::string& queuedUrl, const std::string& finalUrl, bool startEntry);

enum class LinkKind {
    OtherScheme,  // mailto:, ftp:, javascript: ...: classified as written, never followed
    SameHost,     // http(s) on the page's host: classified, may be followed
    OffHost,      // http(s) elsewhere, or with no host: hit test only
};

struct ResolvedLink {
    LinkKind kind;
    std::string url;
    bool classified = false;  // url is in its classified form already (see ClassifiedForm)
};

// `link` has its leading white space removed and is not empty. `address`,
// when given, is page.address split; a relative link on the page's host is
// then resolved into its classified form at once.
ResolvedLink ResolveLink(std::string_view link, const PageContext& page, const UrlParts* address = nullptr);

// The form in which a classified link is tested, recorded and queued: without
// leading blanks and mark, an http(s) URL in its normal form.
std::string ClassifiedForm(std::string_view url);

// True when an exclusion entry ("!" and its text) matches the upper-cased url.
bool IsExcluded(std::string_view upperUrl, const StringList& exclusions);

// The URL to queue for a classified link when the follow test passes: cut at
// its fragment, within `base` when one is in force, a page and not a program.
// `upperUrl` is the upper-cased form of `url`.
std::optional<std::string> FollowTarget(std::string_view url, std::string_view upperUrl, std::string_view base);

// The queue entry that a link found on `page` becomes when the crawl follows
// it, with `base` in force and the exclusion entries `exclusions`: what the
// worker queues for a new page. Empty when the link is not followed.
std::optional<std::string> FollowedEntry(std::string_view link, const PageContext& page, const StringList& exclusions,
                                         std::string_view base);

// True when `upperText` (upper-cased) contains `part` in any case.
bool ContainsUpper(std::string_view upperText, std::string_view part);

// The search's rules for links, fixed while it runs; kept upper-cased, as
// they are compared.
struct CrawlRules {
    StringList exclusions;  // the texts of the "!" entries ("!" removed)
    StringList patterns;    // the resource patterns
    bool allLinks = false;  // every link is a hit, once
};
// From the exclusion entries ("!" and text), the resource patterns and the all-links flag.
CrawlRules MakeCrawlRules(const StringList& exclusionEntries, const StringList& patterns, int allLinks);

// All that the decision for a page's links depends on besides the rules and the link.
struct LinkContext {
    PageContext page;
    bool recursive = true;  // false: nothing of the page is followed
    std::string base;       // links are followed only if they contain it ("" for none)
};

// What one link comes to.
struct LinkDecision {
    std::string url;                 // as recorded; empty when the link comes to nothing
    std::uint32_t hits = 0;          // times it counts as a hit: patterns it contains, or 1 with "All links"
    std::uint32_t followLength = 0;  // not 0: the page to queue, when new, is url's first followLength bytes
    bool repeated = false;           // an earlier link of the page leads to the same page: it is queued already

    std::string_view Follow() const { return std::string_view(url).substr(0, followLength); }
    bool Matters() const { return hits != 0 || followLength != 0; }
};

// A link value as found on a page; `address`, when given, is the page's address
// split, for the many links of one page.
LinkDecision DecideLink(std::string_view link, const LinkContext& context, const CrawlRules& rules,
                        const UrlParts* address = nullptr);
// A link already resolved to an address on the page's host (or of another scheme).
LinkDecision DecideClassified(std::string_view url, const LinkContext& context, const CrawlRules& rules);
