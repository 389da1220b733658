#pragma once
// What a host's /robots.txt lets the crawler fetch. The crawl reads the file
// once per host and scheme before the first page there and skips the pages
// it disallows; a host whose file is missing (4xx) allows everything, one
// that fails (5xx, unreachable) allows nothing.
//
// The file is read as RFC 9309 describes it: "key: value" lines, keys in any
// case, "#" to the end of a line a comment, lines of unknown keys or without
// a colon skipped. One or more User-agent lines start a group, the Allow,
// Disallow and Crawl-delay lines after them belong to it. The crawler obeys
// the groups that name its product token, all of them taken together, or,
// when none does, the groups for "*"; with neither, everything is allowed.
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "crawl/RobotsPattern.h"

// A robots.txt past this many bytes is read up to its last whole line within them.
inline constexpr std::size_t kMaxRobotsTxtBytes = 500 * 1024;
// A longer Crawl-delay is taken as this: a site must not stall its crawl for hours.
inline constexpr double kMaxCrawlDelaySeconds = 30.0;

struct RobotsRule {
    CRobotsPattern pattern;
    bool allow = false;
};

class CRobotsTxt {
public:
    // What the file of `bytes` says to the crawler whose product token is
    // `agent` ("netzspurer-crawl"). A User-agent line names the crawler when
    // its leading letters, "_" and "-" equal the token in any case:
    // "Netzspurer-Crawl/1.0" does.
    static CRobotsTxt Parse(std::string_view bytes, std::string_view agent);
    static CRobotsTxt AllowAll();
    static CRobotsTxt DisallowAll();

    // Whether the crawler may fetch the page of this path and query ("/a/b?x=1";
    // "" is "/"). The most specific matching rule decides, Allow over Disallow
    // when they are equally specific; no matching rule allows. /robots.txt
    // itself is always allowed.
    bool Allows(std::string_view pathAndQuery) const;

    // Seconds to wait between two pages of the host: the first valid
    // Crawl-delay of the crawler's groups (a number not below 0, fractions
    // allowed), at most kMaxCrawlDelaySeconds. None when no group gives one.
    std::optional<double> CrawlDelay() const { return m_crawlDelay; }

private:
    // Most specific first, Allow before Disallow when equal: the first that matches decides.
    void SortRules();

    std::vector<RobotsRule> m_rules;
    std::optional<double> m_crawlDelay;
};
