#include "crawl/QueueEntry.h"

#include <utility>

#include "project/AsciiText.h"

namespace {
// An entry shorter than this (marks and all) is no URL and is dropped unfetched.
constexpr std::size_t kShortestEntry = 8;
}  // namespace

std::string WithoutMarks(std::string_view entry) {
    std::string url = TrimLeft(entry);
    if (!url.empty() && url[0] == '*') url.erase(0, 1);
    if (!url.empty() && url[0] == '-') url.erase(0, 1);
    if (!url.empty() && url[0] == '+') url.erase(0, 1);
    return url;
}

QueueEntry ParseQueueEntry(std::string_view entry) {
    QueueEntry parsed;
    if (!entry.empty() && entry[0] == '!') return parsed;
    std::string url = TrimLeft(entry);
    if (url.size() < kShortestEntry) return parsed;
    parsed.fetched = true;
    parsed.recursive = url[0] != '*';
    if (!parsed.recursive) url.erase(0, 1);
    parsed.keepsBase = !url.empty() && url[0] == '-';
    if (parsed.keepsBase) url.erase(0, 1);
    parsed.plus = !url.empty() && url[0] == '+';
    if (parsed.plus) url.erase(0, 1);
    parsed.url = std::move(url);
    return parsed;
}

// A last segment with a dot names a file, so the base is the URL up to its
// last slash; otherwise the URL (without its query) is itself the directory.
std::string BaseOfPlusEntry(const std::string& url) {
    const std::string b = url.substr(0, url.find('?'));
    if (b.empty()) return b;
    std::size_t i = b.size() - 1;
    while (i > 0 && b[i] != '/' && b[i] != '.') --i;
    if (b[i] != '.') return b;
    // Cut at the last slash of the whole URL, query included, so a query that
    // holds a slash keeps part of itself in the base.
    return url.substr(0, url.rfind('/'));
}

PageRequest RequestOf(QueueEntry entry, bool start, const std::string& baseInForce) {
    PageRequest request;
    request.url = std::move(entry.url);
    request.start = start;
    request.recursive = entry.recursive;
    request.plus = entry.plus;
    // A "+" entry makes its base from where it lands; any other keeps the base
    // in force or has none.
    if (!entry.plus && entry.keepsBase) request.base = baseInForce;
    return request;
}
