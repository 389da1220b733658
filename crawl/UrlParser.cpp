#include "crawl/UrlParser.h"

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A scheme is a letter followed by letters, digits, "+", "-" or ".". Anything
// else in front of "://" (a relative link that merely carries an URL in its
// query, say) makes the text unparseable rather than an URL of a strange scheme.
bool IsScheme(const std::string& url, std::size_t end) {
    if (end == 0 || !IsAlpha(url[0])) return false;
    for (std::size_t i = 1; i < end; ++i) {
        char c = url[i];
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

std::string HostOf(const std::string& authority) {
    std::size_t start = authority.rfind('@');
    start = (start == std::string::npos) ? 0 : start + 1;
    if (start < authority.size() && authority[start] == '[') {
        std::size_t close = authority.find(']', start);
        if (close == std::string::npos) return authority.substr(start);
        return authority.substr(start, close - start + 1);
    }
    std::size_t colon = authority.find(':', start);
    if (colon == std::string::npos) return authority.substr(start);
    return authority.substr(start, colon - start);
}

}  // namespace

ParsedUrl ParseUrl(const std::string& url) {
    ParsedUrl parsed;
    std::size_t sep = url.find("://");
    if (sep == std::string::npos || !IsScheme(url, sep)) return parsed;
    std::size_t begin = sep + 3;
    // A query or fragment straight after the host ends the authority as a "/" does;
    // otherwise "http://host?x" would name a host "host?x".
    std::size_t end = url.find_first_of("/?#", begin);
    if (end == std::string::npos) end = url.size();
    parsed.authority = url.substr(begin, end - begin);
    parsed.host = HostOf(parsed.authority);
    parsed.path = url.substr(end);
    return parsed;
}
