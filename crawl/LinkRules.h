#pragma once
// Where a link leads and whether the crawl follows it, as pure functions of
// the link and its page. The search applies them to the page in process and
// records what they decide; the fetcher that works ahead applies the same
// functions to pages it has fetched early, so both always agree.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

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
};

// `link` has its leading white space removed and is not empty.
ResolvedLink ResolveLink(std::string_view link, const PageContext& page);

// The form in which a classified link is tested, recorded and queued: without
// leading blanks and mark, an http(s) URL in its normal form.
std::string ClassifiedForm(std::string_view url);

// True when an exclusion entry ("!" and its text) matches the upper-cased url.
bool IsExcluded(std::string_view upperUrl, const StringList& exclusions);

// The URL to queue for a classified link when the follow test passes: cut at
// its fragment, within `base` when one is in force, a page and not a program.
// `upperUrl` is the upper-cased form of `url`.
std::optional<std::string> FollowTarget(std::string_view url, std::string_view upperUrl,
                                        std::string_view base);

// The queue entry that a link found on `page` becomes when the crawl follows
// it, with `base` in force: what ClassifyLink queues for a new page, without
// recording anything. Empty when the link is not followed.
std::optional<std::string> FollowedEntry(std::string_view link, const PageContext& page,
                                         const StringList& exclusions, std::string_view base);

// True when `upperText` (upper-cased) contains `part` in any case.
bool ContainsUpper(std::string_view upperText, std::string_view part);
