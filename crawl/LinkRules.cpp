#include "crawl/LinkRules.h"

#include <algorithm>

#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "crawl/Url.h"
#include "project/AsciiText.h"

namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string_view WithoutPageMark(std::string_view entry) {
    if (!entry.empty() && (entry[0] == '+' || entry[0] == '*' || entry[0] == '-')) entry.remove_prefix(1);
    return entry;
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

bool ContainsUpper(std::string_view upperText, std::string_view part) {
    // Spares a copy of the pattern per link, which adds up over thousands of links a page.
    if (part.empty()) return true;
    auto it = std::search(upperText.begin(), upperText.end(), part.begin(), part.end(),
                          [](char t, char p) { return t == UpperChar(p); });
    return it != upperText.end();
}

PageContext PageContextOfEntry(std::string_view entry) {
    PageContext page;
    page.address = std::string(WithoutPageMark(entry));
    page.host = std::string(HostOf(page.address));
    return page;
}

PageContext PageContextOf(const std::string& queuedUrl, const std::string& finalUrl, bool startEntry) {
    PageContext page;
    page.address = finalUrl.empty() ? queuedUrl : finalUrl;
    if (startEntry) {
        page.host = std::string(HostOf(page.address));
    } else {
        page.host = std::string(HostOf(queuedUrl));
        page.followLinks = EqualsNoCase(HostOf(page.address), page.host);
    }
    return page;
}

ResolvedLink ResolveLink(std::string_view link, const PageContext& page) {
    ResolvedLink resolved{LinkKind::OtherScheme, {}};
    if (HasScheme(link)) {
        resolved.url = std::string(link);
        if (!IsHttpUrl(link)) return resolved;
    } else {
        // "//host/x" takes the page's scheme; everything relative is merged with
        // the page's own address, as a browser does.
        resolved.url = ResolveUrl(page.address, link);
    }
    const std::string_view host = HostOf(resolved.url);
    resolved.kind = !host.empty() && EqualsNoCase(host, page.host) ? LinkKind::SameHost : LinkKind::OffHost;
    return resolved;
}

std::string ClassifiedForm(std::string_view url) {
    std::string form = TrimLeft(url);
    if (!form.empty() && (form[0] == '+' || form[0] == '-' || form[0] == '*' || form[0] == '!')) form.erase(0, 1);
    if (IsHttpUrl(form)) form = NormalHttpUrl(form);
    return form;
}

bool IsExcluded(std::string_view upperUrl, const StringList& exclusions) {
    for (const std::string& entry : exclusions) {
        // An entry is its "!" and the text to exclude; an empty entry has no text at all.
        if (entry.empty()) continue;
        if (ContainsUpper(upperUrl, std::string_view(entry).substr(1))) return true;
    }
    return false;
}

std::optional<std::string> FollowTarget(std::string_view url, std::string_view upper, std::string_view base) {
    if (!upper.starts_with("HTTP://") && !upper.starts_with("HTTPS://")) return std::nullopt;
    if (!base.empty() && !Contains(url, base)) return std::nullopt;

    std::string_view cut = url;
    cut = cut.substr(0, cut.find('#'));
    cut = cut.substr(0, cut.find('"'));
    // The link was judged by its host before the cut; a quote in its user
    // information ("http://other\"@host/") would leave another host standing.
    if (HostOf(cut) != HostOf(url)) return std::nullopt;

    for (std::string_view never : kNeverFollowed)
        if (Contains(upper, never)) return std::nullopt;
    if (upper.find_first_of(kNeverFollowedChars) != std::string_view::npos) return std::nullopt;
    if (!IsPage(cut, upper)) return std::nullopt;
    if (cut.size() > kMaxQueuedUrlLength) return std::nullopt;
    return std::string(cut);
}

std::optional<std::string> FollowedEntry(std::string_view link, const PageContext& page,
                                         const StringList& exclusions, std::string_view base) {
    const std::string trimmed = TrimLeft(link);
    if (trimmed.empty() || !page.followLinks) return std::nullopt;
    ResolvedLink resolved = ResolveLink(trimmed, page);
    if (resolved.kind != LinkKind::SameHost) return std::nullopt;
    const std::string url = ClassifiedForm(resolved.url);
    const std::string upper = ToUpperAscii(url);
    if (url.empty() || IsExcluded(upper, exclusions)) return std::nullopt;
    std::optional<std::string> target = FollowTarget(url, upper, base);
    if (!target || base.empty()) return target;
    return "-" + *target;
}

const PageContext& CSearch::CurrentPage() {
    if (m_page) return *m_page;
    // Called without a page set up by the worker: the entry in process is the page.
    m_entryPage = PageContextOfEntry(g_UrlList.front());
    return m_entryPage;
}

void CSearch::RecordHit(const std::string& url, std::string_view upper) {
    const std::string& pageEntry = g_UrlList.front();
    if (g_AllLinks == 1) {
        AddHit(pageEntry, url);
        ++m_nHits;
        return;
    }
    for (const std::string& pattern : g_ResourcePatterns) {
        if (ContainsUpper(upper, pattern)) {
            AddHit(pageEntry, url);
            ++m_nHits;
        }
    }
}

void CSearch::HandleLink(std::string link) {
    if (m_stop) return;
    link = TrimLeft(link);
    if (link.empty() || g_UrlList.empty()) return;

    ResolvedLink resolved = ResolveLink(link, CurrentPage());
    if (resolved.kind != LinkKind::OffHost) {
        ClassifyLink(std::move(resolved.url));
        return;
    }
    // Another host is never followed, but what it offers still counts as found.
    RecordHit(resolved.url, ToUpperAscii(resolved.url));
}

void CSearch::ClassifyLink(std::string url) {
    if (m_stop || g_UrlList.empty()) return;
    url = ClassifiedForm(url);
    if (url.empty()) return;
    const std::string upper = ToUpperAscii(url);
    if (IsExcluded(upper, g_ExcludeList)) return;

    RecordHit(url, upper);

    if (!m_bRecursive || !CurrentPage().followLinks) return;
    std::optional<std::string> page = FollowTarget(url, upper, m_strBase);
    if (!page) return;
    if (AddPage(*page) == 1)
        g_UrlList.insert(g_UrlList.begin() + 1, m_strBase.empty() ? std::move(*page) : "-" + *page);
}
