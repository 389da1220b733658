#include <algorithm>
#include <string_view>

#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "crawl/UrlParser.h"
#include "project/AsciiText.h"
#include "project/ProjectData.h"

namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// `upperText` is already upper-cased; `part` is in any case. Spares a copy of the
// pattern per link, which adds up over thousands of links a page.
bool ContainsUpper(std::string_view upperText, std::string_view part) {
    if (part.empty()) return true;
    auto it = std::search(upperText.begin(), upperText.end(), part.begin(), part.end(),
                          [](char t, char p) { return t == UpperChar(p); });
    return it != upperText.end();
}

std::string WithoutPageMark(const std::string& entry) {
    if (!entry.empty() && (entry[0] == '+' || entry[0] == '*' || entry[0] == '-'))
        return entry.substr(1);
    return entry;
}

// Where the authority of `url` ends, as an offset into `url`: the start of the path.
std::size_t AuthorityEnd(const std::string& url, const ParsedUrl& parsed) {
    std::size_t sep = url.find("://");
    if (sep == std::string::npos || (parsed.authority.empty() && parsed.path.empty())) return 0;
    return sep + 3 + parsed.authority.size();
}

struct PageDirectory {
    std::string url;   // ends with "/"
    std::string path;  // from the first "/" after the host
};

PageDirectory DirectoryOf(const std::string& pageUrl, const ParsedUrl& parsed) {
    std::size_t authEnd = AuthorityEnd(pageUrl, parsed);
    std::string dir = pageUrl.substr(0, pageUrl.find('?'));
    std::size_t lastSlash = parsed.path.rfind('/');
    std::string_view lastSegment = std::string_view(parsed.path).substr(lastSlash == std::string::npos ? 0 : lastSlash + 1);
    if (Contains(lastSegment, ".")) {
        // Only a "/" of the path may be cut at; the "//" of the scheme is no directory.
        std::size_t cut = dir.rfind('/');
        if (cut != std::string::npos && cut >= authEnd) dir.resize(cut);
    }
    if (dir.empty() || dir.back() != '/') dir += '/';

    PageDirectory result;
    std::size_t pathStart = dir.find('/', std::min(authEnd, dir.size()));
    result.path = pathStart == std::string::npos ? "/" : dir.substr(pathStart);
    result.url = std::move(dir);
    return result;
}

// Drops the last `levels` segments of a directory path ("/a/b/"), never above "/".
std::string ClimbDirectory(std::string path, std::size_t levels) {
    while (levels-- > 0 && path.size() > 1) {
        std::size_t slash = path.rfind('/', path.size() - 2);
        if (slash == std::string::npos) break;
        path.resize(slash + 1);
    }
    return path;
}

std::string CollapseSlashes(const std::string& url, const std::string& upper) {
    std::size_t schemeSlash = 0;
    if (Contains(upper, "HTTP://")) schemeSlash = 5;
    if (Contains(upper, "HTTPS://")) schemeSlash = 6;
    if (Contains(upper, "MAILTO://")) schemeSlash = 7;
    if (Contains(upper, "FTP://")) schemeSlash = 4;

    std::string out;
    out.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '/' && i + 1 < url.size() && url[i + 1] == '/' && i != schemeSlash) continue;
        out += url[i];
    }
    return out;
}

constexpr std::string_view kNeverFollowed[] = {"_VTI_BIN", ".DLL", ".EXE", "JAVASCRIPT:", "CGI-BIN/", "MAILTO:"};
constexpr std::string_view kNeverFollowedChars = "\\|{}()";
constexpr std::string_view kPageExtensions[] = {".HTM", ".CGI", ".ASP", ".SHTM", ".DHTM", ".PHTM", ".PL"};

bool IsPage(std::string_view cut, std::string_view upper) {
    if (cut.empty() || cut.back() == '/') return true;
    std::size_t mark = cut.find_last_of("./");
    if (mark == std::string_view::npos || cut[mark] == '/') return true;
    return std::any_of(std::begin(kPageExtensions), std::end(kPageExtensions),
                       [&](std::string_view ext) { return Contains(upper, ext); });
}

}  // namespace

void CSearch::HandleLink(std::string link) {
    link = TrimLeft(link);
    if (link.empty() || g_UrlList.empty()) return;
    if (link.starts_with("./")) link.erase(0, 2);

    const std::string pageUrl = WithoutPageMark(g_UrlList.front());
    const ParsedUrl page = ParseUrl(pageUrl);

    const std::string upper = ToUpperAscii(link);
    if (Contains(upper, "HTTPS://") || Contains(upper, "FTP://") || Contains(upper, "MAILTO:")) {
        ClassifyLink(std::move(link));
        return;
    }
    if (Contains(upper, "HTTP://")) {
        const std::string host = ParseUrl(link).host;
        if (!host.empty() && EqualsNoCase(host, page.host)) {
            ClassifyLink(std::move(link));
            return;
        }
        // Another host is never followed, but what it offers still counts as found.
        const std::string& pageEntry = g_UrlList.front();
        if (g_AllLinks == 1) {
            AddHit(pageEntry, link);
            ++m_nHits;
            return;
        }
        for (const std::string& pattern : g_ResourcePatterns) {
            if (ContainsUpper(upper, pattern)) {
                AddHit(pageEntry, link);
                ++m_nHits;
            }
        }
        return;
    }

    // Root and parent links keep the page's port and user information: a site
    // served on another port has its root there too.
    const PageDirectory dir = DirectoryOf(pageUrl, page);
    std::string absolute;
    if (link.size() > 4 && (link.starts_with("../") || link.starts_with("/../"))) {
        std::size_t run = link.find_first_not_of("./");
        if (run == std::string::npos) run = link.size();
        const auto levels = static_cast<std::size_t>(std::count(link.begin(), link.begin() + static_cast<std::ptrdiff_t>(run), '/'));
        absolute = "http://" + page.authority + ClimbDirectory(dir.path, levels) + link.substr(run);
    } else if (link.starts_with('/')) {
        absolute = "http://" + page.authority + link;
    } else {
        absolute = dir.url + link;
    }
    ClassifyLink(std::move(absolute));
}

void CSearch::ClassifyLink(std::string url) {
    url = TrimLeft(url);
    if (url.empty() || g_UrlList.empty()) return;
    if (url[0] == '+' || url[0] == '-' || url[0] == '*' || url[0] == '!') url.erase(0, 1);

    url = CollapseSlashes(url, ToUpperAscii(url));
    const std::string upper = ToUpperAscii(url);

    for (const std::string& entry : g_ExcludeList) {
        // An entry is its "!" and the text to exclude; an empty entry has no text at all.
        if (entry.empty()) continue;
        if (ContainsUpper(upper, std::string_view(entry).substr(1))) return;
    }

    const std::string& pageEntry = g_UrlList.front();
    if (g_AllLinks == 1) {
        AddHit(pageEntry, url);
        ++m_nHits;
    } else {
        for (const std::string& pattern : g_ResourcePatterns) {
            if (ContainsUpper(upper, pattern)) {
                AddHit(pageEntry, url);
                ++m_nHits;
            }
        }
    }

    if (!m_bRecursive || !upper.starts_with("HTTP://")) return;
    if (!m_strBase.empty() && !Contains(url, m_strBase)) return;

    std::string_view cut = url;
    cut = cut.substr(0, cut.find('#'));
    cut = cut.substr(0, cut.find('"'));

    for (std::string_view never : kNeverFollowed)
        if (Contains(upper, never)) return;
    if (upper.find_first_of(kNeverFollowedChars) != std::string::npos) return;
    if (!IsPage(cut, upper)) return;

    std::string page(cut);
    if (AddPage(page) == 1)
        g_UrlList.insert(g_UrlList.begin() + 1, m_strBase.empty() ? std::move(page) : "-" + page);
}
