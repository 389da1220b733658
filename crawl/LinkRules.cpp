#include "crawl/LinkRules.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "crawl/Url.h"
#include "project/AsciiText.h"

namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `part` stands in `text`. Every link is searched for every pattern and
// page extension, texts of a few bytes in an URL of a few dozen: the places
// where part's first and last bytes both stand are found sixteen at a time, and
// only there is the rest compared, where a search byte by byte would stop at
// every "." of the URL.
bool Contains(std::string_view text, std::string_view part) {
#if defined(__SSE2__)
    const std::size_t size = part.size();
    if (size < 2 || size > text.size()) return text.find(part) != std::string_view::npos;
    const std::size_t lastStart = text.size() - size;
    const __m128i first = _mm_set1_epi8(part.front());
    const __m128i last = _mm_set1_epi8(part.back());
    std::size_t i = 0;
    // Both loads stay inside `text`: the second ends at i + size + 14 <= lastStart + size - 1.
    for (; i + 16 <= lastStart + 1; i += 16) {
        const __m128i atFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const __m128i atLast = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + size - 1));
        auto starts = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(atFirst, first), _mm_cmpeq_epi8(atLast, last))));
        for (; starts != 0; starts &= starts - 1) {
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(starts));
            if (std::memcmp(text.data() + at + 1, part.data() + 1, size - 2) == 0) return true;
        }
    }
    for (; i <= lastStart; ++i) {
        if (text[i] == part.front() && text[i + size - 1] == part.back() &&
            std::memcmp(text.data() + i + 1, part.data() + 1, size - 2) == 0)
            return true;
    }
    return false;
#else
    return text.find(part) != std::string_view::npos;
#endif
}

std::string_view WithoutPageMark(std::string_view entry) {
    if (!entry.empty() && (entry[0] == '+' || entry[0] == '*' || entry[0] == '-')) entry.remove_prefix(1);
    return entry;
}

constexpr std::string_view kNeverFollowed[] = {"_VTI_BIN", ".DLL", ".EXE", "JAVASCRIPT:", "CGI-BIN/", "MAILTO:"};
constexpr std::string_view kNeverFollowedChars = "\\|{}()";
constexpr std::string_view kPageExtensions[] = {".HTM", ".CGI", ".ASP", ".SHTM", ".DHTM", ".PHTM", ".PL"};

// Every followed link is looked through for the texts and characters above in
// one pass: for each byte, which of the texts start with it (bit k for text k),
// and whether it is a character never followed (the top bit).
constexpr std::uint8_t kNeverFollowedChar = 0x80;
constexpr auto kNeverFollowedStart = [] {
    static_assert(std::size(kNeverFollowed) < 8);
    std::array<std::uint8_t, 256> table{};
    for (std::size_t k = 0; k < std::size(kNeverFollowed); ++k)
        table[static_cast<unsigned char>(kNeverFollowed[k][0])] |= static_cast<std::uint8_t>(1u << k);
    for (char c : kNeverFollowedChars) table[static_cast<unsigned char>(c)] |= kNeverFollowedChar;
    return table;
}();

// The first four bytes of each text as one word: "." and "C" start many a URL's
// bytes, and a word compared rules most of them out at once.
std::uint32_t HeadWord(const char* bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}
const auto kNeverFollowedHead = [] {
    static_assert(std::all_of(std::begin(kNeverFollowed), std::end(kNeverFollowed),
                              [](std::string_view text) { return text.size() >= 4; }));
    std::array<std::uint32_t, std::size(kNeverFollowed)> heads{};
    for (std::size_t k = 0; k < std::size(kNeverFollowed); ++k) heads[k] = HeadWord(kNeverFollowed[k].data());
    return heads;
}();

bool HoldsNeverFollowed(std::string_view upper) {
    for (std::size_t i = 0; i < upper.size(); ++i) {
        const std::uint8_t starts = kNeverFollowedStart[static_cast<unsigned char>(upper[i])];
        if (starts == 0) continue;
        if ((starts & kNeverFollowedChar) != 0) return true;
        if (i + 4 > upper.size()) continue;
        const std::uint32_t head = HeadWord(upper.data() + i);
        for (unsigned texts = starts; texts != 0; texts &= texts - 1) {
            const int k = std::countr_zero(texts);
            if (head == kNeverFollowedHead[k] && upper.substr(i).starts_with(kNeverFollowed[k])) return true;
        }
    }
    return false;
}

bool IsPage(std::string_view cut, std::string_view upper) {
    if (cut.empty() || cut.back() == '/') return true;
    std::size_t mark = cut.size();
    while (mark > 0 && cut[mark - 1] != '.' && cut[mark - 1] != '/') --mark;
    if (mark == 0 || cut[mark - 1] == '/') return true;
    return std::any_of(std::begin(kPageExtensions), std::end(kPageExtensions),
                       [&](std::string_view ext) { return Contains(upper, ext); });
}

std::string_view TrimLeftView(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
    return text;
}

// Eight bytes upper-cased at once: a byte from 'a' to 'z' loses its 0x20.
std::uint64_t UpperWord(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    // Each byte's low seven bits, raised so that the byte's top bit tells
    // whether it is from 'a' on, and whether it is past 'z'; no byte carries
    // into the next. A byte with its own top bit set is no letter.
    const std::uint64_t low = word & ~kHighBits;
    const std::uint64_t fromA = low + (0x80 - 'a') * kOnes;
    const std::uint64_t pastZ = low + (0x80 - 'z' - 1) * kOnes;
    const std::uint64_t lower = fromA & ~pastZ & ~word & kHighBits;
    return word - (lower >> 2);
}

// The upper-cased `text` in a buffer reused from link to link: it is looked at, never kept.
std::string_view UpperInBuffer(std::string_view text) {
    thread_local std::string upper;
    upper.assign(text);
    char* bytes = upper.data();
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= upper.size(); i += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, sizeof word);
        word = UpperWord(word);
        std::memcpy(bytes + i, &word, sizeof word);
    }
    for (; i < upper.size(); ++i) bytes[i] = UpperChar(bytes[i]);
    return upper;
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

namespace {

LinkKind KindOfHost(std::string_view host, const PageContext& page) {
    return !host.empty() && EqualsNoCase(host, page.host) ? LinkKind::SameHost : LinkKind::OffHost;
}

}  // namespace

ResolvedLink ResolveLink(std::string_view link, const PageContext& page, const UrlParts* address) {
    ResolvedLink resolved{LinkKind::OtherScheme, {}};
    if (HasScheme(link)) {
        resolved.url = std::string(link);
        if (IsHttpUrl(link)) resolved.kind = KindOfHost(HostOf(resolved.url), page);
        return resolved;
    }
    // A reference without a "//" of its own keeps the authority of the address
    // it is resolved against: its host is known before it is resolved, and one
    // on the page's host is resolved straight into the form it is tested in.
    if (address != nullptr && address->hasAuthority && !link.starts_with("//")) {
        resolved.kind = KindOfHost(HostOfAuthority(address->authority), page);
        resolved.classified =
            resolved.kind == LinkKind::SameHost && address->hasScheme && IsHttpScheme(address->scheme);
        resolved.url = resolved.classified ? NormalResolvedUrl(*address, link) : ResolveUrl(*address, link);
        return resolved;
    }
    // "//host/x" takes the page's scheme; everything relative is merged with
    // the page's own address, as a browser does.
    resolved.url = address != nullptr ? ResolveUrl(*address, link) : ResolveUrl(page.address, link);
    resolved.kind = KindOfHost(HostOf(resolved.url), page);
    return resolved;
}

std::string ClassifiedForm(std::string_view url) {
    std::string_view form = TrimLeftView(url);
    if (!form.empty() && (form[0] == '+' || form[0] == '-' || form[0] == '*' || form[0] == '!')) form.remove_prefix(1);
    if (IsHttpUrl(form)) return NormalHttpUrl(form);
    return std::string(form);
}

bool IsExcluded(std::string_view upperUrl, const StringList& exclusions) {
    for (const std::string& entry : exclusions) {
        // An entry is its "!" and the text to exclude; an empty entry has no text at all.
        if (entry.empty()) continue;
        if (ContainsUpper(upperUrl, std::string_view(entry).substr(1))) return true;
    }
    return false;
}

namespace {

// The length of the page a classified link leads to (see FollowTarget); 0 when it is not followed.
std::size_t FollowLength(std::string_view url, std::string_view upper, std::string_view base) {
    if (!upper.starts_with("HTTP://") && !upper.starts_with("HTTPS://")) return 0;
    if (!base.empty() && !Contains(url, base)) return 0;

    std::string_view cut = url.substr(0, url.find('#'));
    if (const std::size_t quote = cut.find('"'); quote != std::string_view::npos) {
        cut = cut.substr(0, quote);
        // The link was judged by its host before the cut; a quote in its user
        // information ("http://other\"@host/") would leave another host standing.
        // (No "#" stands before the end of the authority.)
        if (cut.size() < AuthorityEnd(url) && HostOf(cut) != HostOf(url)) return 0;
    }

    if (HoldsNeverFollowed(upper)) return 0;
    if (!IsPage(cut, upper)) return 0;
    if (cut.size() > kMaxQueuedUrlLength) return 0;
    return cut.size();
}

}  // namespace

std::optional<std::string> FollowTarget(std::string_view url, std::string_view upper, std::string_view base) {
    const std::size_t length = FollowLength(url, upper, base);
    if (length == 0) return std::nullopt;
    return std::string(url.substr(0, length));
}

CrawlRules MakeCrawlRules(const StringList& exclusionEntries, const StringList& patterns, int allLinks) {
    CrawlRules rules;
    for (const std::string& entry : exclusionEntries) {
        // An entry is its "!" and the text to exclude; an empty entry has no text at all.
        if (!entry.empty()) rules.exclusions.push_back(ToUpperAscii(std::string_view(entry).substr(1)));
    }
    for (const std::string& pattern : patterns) rules.patterns.push_back(ToUpperAscii(pattern));
    rules.allLinks = allLinks == 1;
    return rules;
}

namespace {

std::uint32_t HitCount(std::string_view upper, const CrawlRules& rules) {
    if (rules.allLinks) return 1;
    std::uint32_t count = 0;
    for (const std::string& pattern : rules.patterns) count += Contains(upper, pattern) ? 1 : 0;
    return count;
}

bool Excluded(std::string_view upper, const CrawlRules& rules) {
    for (const std::string& text : rules.exclusions)
        if (Contains(upper, text)) return true;
    return false;
}

}  // namespace

namespace {

// A link in the form in which it is tested, recorded and queued.
LinkDecision DecideForm(std::string form, const LinkContext& context, const CrawlRules& rules) {
    LinkDecision decision;
    if (form.empty()) return decision;
    const std::string_view upper = UpperInBuffer(form);
    if (Excluded(upper, rules)) return decision;
    decision.hits = HitCount(upper, rules);
    if (context.recursive && context.page.followLinks)
        decision.followLength = static_cast<std::uint32_t>(FollowLength(form, upper, context.base));
    if (decision.Matters()) decision.url = std::move(form);
    return decision;
}

}  // namespace

LinkDecision DecideClassified(std::string_view url, const LinkContext& context, const CrawlRules& rules) {
    return DecideForm(ClassifiedForm(url), context, rules);
}

LinkDecision DecideLink(std::string_view link, const LinkContext& context, const CrawlRules& rules,
                        const UrlParts* address) {
    const std::string_view trimmed = TrimLeftView(link);
    if (trimmed.empty()) return {};
    ResolvedLink resolved = ResolveLink(trimmed, context.page, address);
    if (resolved.kind != LinkKind::OffHost)
        return resolved.classified ? DecideForm(std::move(resolved.url), context, rules)
                                   : DecideClassified(resolved.url, context, rules);
    // Another host is never followed, but what it offers still counts as found.
    LinkDecision decision;
    decision.hits = HitCount(UpperInBuffer(resolved.url), rules);
    if (decision.hits != 0) decision.url = std::move(resolved.url);
    return decision;
}

std::optional<std::string> FollowedEntry(std::string_view link, const PageContext& page, const StringList& exclusions,
                                         std::string_view base) {
    const CrawlRules rules = MakeCrawlRules(exclusions, {}, 0);
    const LinkDecision decision = DecideLink(link, LinkContext{page, true, std::string(base)}, rules);
    if (decision.followLength == 0) return std::nullopt;
    const std::string target(decision.Follow());
    return base.empty() ? target : "-" + target;
}
