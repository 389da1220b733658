#pragma once
// The crawl's manners towards each origin (scheme, host and port) it fetches
// from: what the origin's robots.txt lets it fetch, how far apart requests to
// it must start (its Crawl-delay), and until when a busy server asked to be
// left alone. The fetcher's network thread keeps them for a search's length.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "crawl/RobotsTxt.h"

class CHostGates {
public:
    using Clock = std::chrono::steady_clock;

    enum class Verdict {
        Go,           // the request may start now
        Wait,         // not yet: the origin's robots.txt is coming, or the origin is to be left alone a while
        NeedRobots,   // the origin's robots.txt is to be read first
        Disallowed,   // its robots.txt keeps the crawler off the page
        Unreachable,  // its robots.txt could not be asked for: neither can the page
    };

    // `obeyRobots` false: robots.txt is neither read nor obeyed (a site the user owns).
    explicit CHostGates(bool obeyRobots) : m_obeyRobots(obeyRobots) {}

    // "scheme://host:port" of an http(s) URL, scheme and host in lower case, the
    // port always written; empty for anything else.
    static std::string OriginOf(std::string_view url);
    static std::string RobotsUrlOf(const std::string& origin) { return origin + "/robots.txt"; }

    Verdict Check(std::string_view url, Clock::time_point now);
    void RobotsFetching(const std::string& origin);
    // `rules` now speak for the origin, its Crawl-delay with them.
    void RobotsRead(const std::string& origin, CRobotsTxt rules);
    // No answer came for the origin's robots.txt: none of its pages is asked for
    // (RFC 9309 has them all disallowed), and each fails with `reason`.
    void RobotsUnreachable(const std::string& origin, std::string reason);
    const std::string& UnreachableReason(std::string_view url);
    // A request to the URL's origin starts now: the next waits out its Crawl-delay.
    void Started(std::string_view url, Clock::time_point now);
    // The origin answered busy: nothing more goes to it before `until`.
    void HoldUntil(std::string_view url, Clock::time_point until);

private:
    enum class Robots { Unknown, Fetching, Known };
    struct Origin {
        Robots robots = Robots::Unknown;
        std::string unreachable;  // why its robots.txt could not be asked for
        CRobotsTxt rules = CRobotsTxt::AllowAll();
        Clock::duration crawlDelay{};
        Clock::time_point nextStart{};
    };

    const bool m_obeyRobots;
    std::unordered_map<std::string, Origin> m_origins;
};
