#pragma once
// Splits an absolute URL into the parts the crawl rules need.
#include <string>

struct ParsedUrl {
    std::string authority;  // everything between "//" and the next "/", port and user included
    std::string host;       // authority without user information and port
    std::string path;       // from the first "/" after the host, query included
};

// An URL that cannot be parsed yields empty parts.
ParsedUrl ParseUrl(const std::string& url);
