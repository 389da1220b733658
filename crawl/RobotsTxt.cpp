#include "crawl/RobotsTxt.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "project/AsciiText.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kRobotsTxtPath = "/robots.txt";

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// The part of the file that is read: up to its last line end within the
// bound when it is longer, so that no rule is read cut short, and without a
// byte order mark.
std::string_view ReadPart(std::string_view bytes) {
    if (bytes.size() > kMaxRobotsTxtBytes) {
        if (IsLineEnd(bytes[kMaxRobotsTxtBytes])) {
            bytes = bytes.substr(0, kMaxRobotsTxtBytes);
        } else {
            const std::size_t lastEnd = bytes.substr(0, kMaxRobotsTxtBytes).find_last_of("\r\n");
            bytes = lastEnd == std::string_view::npos ? std::string_view() : bytes.substr(0, lastEnd + 1);
        }
    }
    if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
    return bytes;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
    return text;
}

// The leading letters, "_" and "-" of `text`: the part of a User-agent value that names a crawler.
std::string_view ProductToken(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size()) {
        const char c = text[n];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-')) break;
        ++n;
    }
    return text.substr(0, n);
}

bool IsForAnyCrawler(std::string_view agentValue) {
    return agentValue.starts_with('*') && (agentValue.size() == 1 || IsWhiteSpace(agentValue[1]));
}

enum class Key { UserAgent, Allow, Disallow, CrawlDelay, Other };

struct Line {
    Key key = Key::Other;
    std::string_view value;
};

// A line's key and value, both without comment and surrounding blanks; Other
// when the line holds no colon.
Line ParseLine(std::string_view text) {
    text = text.substr(0, text.find('#'));
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return {};
    const std::string_view key = Trimmed(text.substr(0, colon));
    Line line{Key::Other, Trimmed(text.substr(colon + 1))};
    if (EqualsNoCase(key, "user-agent"))
        line.key = Key::UserAgent;
    else if (EqualsNoCase(key, "allow"))
        line.key = Key::Allow;
    else if (EqualsNoCase(key, "disallow"))
        line.key = Key::Disallow;
    else if (EqualsNoCase(key, "crawl-delay"))
        line.key = Key::CrawlDelay;
    return line;
}

// Seconds as a plain decimal number ("5", "0.5"), capped; none for anything
// else: negative, exponent, units, text.
std::optional<double> CrawlDelaySeconds(std::string_view value) {
    double seconds = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, seconds, std::chars_format::fixed);
    if (value.empty() || error != std::errc() || stop != end || !std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return std::min(seconds, kMaxCrawlDelaySeconds);
}

// What the groups of one kind (those naming the crawler, or those for "*") say together.
struct GroupRules {
    std::vector<RobotsRule> rules;
    std::optional<double> crawlDelay;

    void Add(const Line& line) {
        if (line.key == Key::CrawlDelay) {
            if (!crawlDelay) crawlDelay = CrawlDelaySeconds(line.value);
        } else if (!line.value.empty()) {  // an empty Disallow forbids nothing
            rules.push_back({CRobotsPattern(line.value), line.key == Key::Allow});
        }
    }
};

template <typename LineFn>
void ForEachLine(std::string_view text, LineFn&& onLine) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && !IsLineEnd(text[end])) ++end;
        onLine(text.substr(start, end - start));
        start = end + 1;  // the line feed of a CR LF makes an empty line, which says nothing
    }
}

}  // namespace

CRobotsTxt CRobotsTxt::Parse(std::string_view bytes, std::string_view agent) {
    const std::string_view token = ProductToken(Trimmed(agent));
    GroupRules named;   // the groups that name the crawler
    GroupRules anyone;  // the groups for "*"
    bool namedSeen = false;
    // What the group being read is for; before the first User-agent line, rules belong to no group.
    bool namesCrawler = false;
    bool forAnyone = false;
    bool inAgentLines = false;  // the last line that counted was a User-agent line
    ForEachLine(ReadPart(bytes), [&](std::string_view text) {
        const Line line = ParseLine(text);
        switch (line.key) {
            case Key::Other: return;
            case Key::UserAgent:
                if (!inAgentLines) namesCrawler = forAnyone = false;  // a new group begins
                inAgentLines = true;
                if (IsForAnyCrawler(line.value)) {
                    forAnyone = true;
                } else {
                    const std::string_view name = ProductToken(line.value);
                    if (!name.empty() && EqualsNoCase(name, token)) namesCrawler = namedSeen = true;
                }
                return;
            default:
                inAgentLines = false;
                if (namesCrawler) named.Add(line);
                if (forAnyone) anyone.Add(line);
        }
    });

    GroupRules& obeyed = namedSeen ? named : anyone;
    CRobotsTxt robots;
    robots.m_rules = std::move(obeyed.rules);
    robots.m_crawlDelay = obeyed.crawlDelay;
    robots.SortRules();
    return robots;
}

CRobotsTxt CRobotsTxt::AllowAll() { return CRobotsTxt(); }

CRobotsTxt CRobotsTxt::DisallowAll() {
    CRobotsTxt robots;
    robots.m_rules.push_back({CRobotsPattern("*"), false});
    return robots;
}

void CRobotsTxt::SortRules() {
    std::stable_sort(m_rules.begin(), m_rules.end(), [](const RobotsRule& a, const RobotsRule& b) {
        const std::size_t aSpecificity = a.pattern.Specificity();
        const std::size_t bSpecificity = b.pattern.Specificity();
        if (aSpecificity != bSpecificity) return aSpecificity > bSpecificity;
        return a.allow && !b.allow;
    });
}

bool CRobotsTxt::Allows(std::string_view pathAndQuery) const {
    if (m_rules.empty()) return true;
    const std::string path = DecodedRobotsPath(pathAndQuery.empty() ? std::string_view("/") : pathAndQuery);
    if (path == kRobotsTxtPath) return true;
    for (const RobotsRule& rule : m_rules)
        if (rule.pattern.Matches(path)) return rule.allow;
    return true;
}
