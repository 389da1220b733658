#include "crawl/HostGates.h"

#include <algorithm>

#include "crawl/Url.h"
#include "project/AsciiText.h"

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

// The path and query a robots.txt rule is matched against: "/" when the path is empty.
std::string PathAndQueryOf(std::string_view url) {
    const UrlParts parts = SplitUrl(url);
    std::string out = parts.path.empty() ? std::string("/") : std::string(parts.path);
    if (parts.hasQuery) {
        out += '?';
        out += parts.query;
    }
    return out;
}

}  // namespace

std::string CHostGates::OriginOf(std::string_view url) {
    const UrlParts parts = SplitUrl(url);
    if (!parts.hasAuthority || !IsHttpUrl(url)) return {};
    const std::string scheme = Lower(parts.scheme);
    std::string_view authority = parts.authority;
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = HostOf(url);
    std::string_view port = authority.substr(std::min(authority.size(), host.size()));
    if (port.starts_with(':')) port.remove_prefix(1);
    if (port.empty()) port = scheme == "https" ? "443" : "80";
    return scheme + "://" + Lower(host) + ":" + std::string(port);
}

CHostGates::Verdict CHostGates::Check(std::string_view url, Clock::time_point now) {
    const std::string key = OriginOf(url);
    // No web address: no origin to ask, and the request fails on its own.
    if (key.empty()) return Verdict::Go;
    Origin& origin = m_origins[key];
    if (m_obeyRobots) {
        if (origin.robots == Robots::Unknown) return Verdict::NeedRobots;
        if (origin.robots == Robots::Fetching) return Verdict::Wait;
        if (!origin.unreachable.empty()) return Verdict::Unreachable;
        if (!origin.rules.Allows(PathAndQueryOf(url))) return Verdict::Disallowed;
    }
    return now < origin.nextStart ? Verdict::Wait : Verdict::Go;
}

void CHostGates::RobotsFetching(const std::string& origin) { m_origins[origin].robots = Robots::Fetching; }

void CHostGates::RobotsRead(const std::string& origin, CRobotsTxt rules) {
    Origin& known = m_origins[origin];
    known.robots = Robots::Known;
    if (const std::optional<double> delay = rules.CrawlDelay())
        known.crawlDelay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*delay));
    known.rules = std::move(rules);
}

void CHostGates::RobotsUnreachable(const std::string& origin, std::string reason) {
    Origin& known = m_origins[origin];
    known.robots = Robots::Known;
    known.rules = CRobotsTxt::DisallowAll();
    known.unreachable = reason.empty() ? std::string("The site could not be reached") : std::move(reason);
}

const std::string& CHostGates::UnreachableReason(std::string_view url) { return m_origins[OriginOf(url)].unreachable; }

void CHostGates::Started(std::string_view url, Clock::time_point now) {
    Origin& origin = m_origins[OriginOf(url)];
    origin.nextStart = std::max(origin.nextStart, now + origin.crawlDelay);
}

void CHostGates::HoldUntil(std::string_view url, Clock::time_point until) {
    Origin& origin = m_origins[OriginOf(url)];
    origin.nextStart = std::max(origin.nextStart, until);
}
