#include "project/UrlEntry.h"

#include <string_view>

#include "project/AsciiText.h"

const char* const kUrlSyntaxMessage =
    "Syntax error: start URLs with http:// for recursively (standard) search, *http:// for a "
    "non recursively search,\n !http:// to exclude URLS from search and +http:// to search only "
    "inside a given (sub)directory!";

namespace {

bool IsPrefixChar(char c) { return c == '+' || c == '*' || c == '!'; }

}  // namespace

UrlMode UrlEntryMode(const std::string& entry) {
    if (entry.empty()) return UrlMode::Default;
    switch (entry.front()) {
        case '+': return UrlMode::SubdirsOnly;
        case '*': return UrlMode::NonRecursive;
        case '!': return UrlMode::Exclude;
        default: return UrlMode::Default;
    }
}

std::string StripUrlPrefix(const std::string& entry) {
    if (!entry.empty() && IsPrefixChar(entry.front())) return entry.substr(1);
    return entry;
}

std::string WithUrlPrefix(const std::string& entry, UrlMode mode) {
    std::string bare = StripUrlPrefix(entry);
    switch (mode) {
        case UrlMode::SubdirsOnly: return "+" + bare;
        case UrlMode::NonRecursive: return "*" + bare;
        case UrlMode::Exclude: return "!" + bare;
        case UrlMode::Default: break;
    }
    return bare;
}

bool CheckUrlEntry(const std::string& typed, std::string& trimmed) {
    trimmed = Trim(typed);
    std::string_view rest(trimmed);
    // Only one prefix character is allowed, so a second one lands in the
    // scheme test below and fails there.
    if (!rest.empty() && IsPrefixChar(rest.front())) rest.remove_prefix(1);
    for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")})
        if (rest.size() >= scheme.size() && EqualsNoCase(rest.substr(0, scheme.size()), scheme)) return true;
    return false;
}

bool IsNewProjectName(const std::string& name) { return EqualsNoCase(name, "new"); }
