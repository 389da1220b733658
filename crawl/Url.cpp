#include "crawl/Url.h"

#include <idn2.h>
#include <xxhash.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "project/AsciiText.h"

namespace {

// The last `c` in `text`, or npos: a library search, where string_view's rfind
// steps back byte by byte.
std::size_t FindLast(std::string_view text, char c) {
    const void* hit = memrchr(text.data(), c, text.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Where the authority of `rest` ends: at "/", "?" or "#". Authorities are short.
std::size_t EndOfAuthority(std::string_view rest) {
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '/' || c == '?' || c == '#') return i;
    }
    return std::string_view::npos;
}

// Where the path of `rest` ends: at "?" or "#". Paths can be long: two memchr
// passes beat a loop that tests each byte against both.
std::size_t EndOfPath(std::string_view rest) {
    const std::size_t query = rest.find('?');
    return std::min(query, rest.substr(0, query).find('#'));
}

// Length of the scheme at the start of `text` (without its ":"), or 0.
std::size_t SchemeLength(std::string_view text) {
    if (text.empty() || !IsAlpha(text[0])) return 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') return i;
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return 0;
    }
    return 0;
}

// The stretch of an URL whose letters fold for its identity: [0, schemeEnd)
// and [hostBegin, hostEnd).
struct FoldedSpans {
    std::size_t schemeEnd = 0;
    std::size_t hostBegin = 0;
    std::size_t hostEnd = 0;
    std::size_t authorityEnd = 0;  // where the path begins, when there is an authority

    // Only the scheme and the authority are looked at: the page list asks this
    // of every link it is offered, and paths and queries can be long.
    explicit FoldedSpans(std::string_view url) {
        schemeEnd = SchemeLength(url);
        if (schemeEnd == 0) return;
        std::string_view rest = url.substr(schemeEnd + 1);
        if (!rest.starts_with("//")) return;
        rest.remove_prefix(2);
        const std::string_view authority = rest.substr(0, EndOfAuthority(rest));
        const std::string_view host = HostOfAuthority(authority);
        hostBegin = static_cast<std::size_t>(host.data() - url.data());
        hostEnd = hostBegin + host.size();
        authorityEnd = static_cast<std::size_t>(authority.data() - url.data()) + authority.size();
    }
    bool Folds(std::size_t i) const { return i < schemeEnd || (i >= hostBegin && i < hostEnd); }
    bool operator==(const FoldedSpans&) const = default;
};

void Append(std::string& out, const UrlParts& p) {
    if (p.hasScheme) {
        out += p.scheme;
        out += ':';
    }
    if (p.hasAuthority) {
        out += "//";
        out += p.authority;
    }
    out += p.path;
    if (p.hasQuery) {
        out += '?';
        out += p.query;
    }
    if (p.hasFragment) {
        out += '#';
        out += p.fragment;
    }
}

}  // namespace

UrlParts SplitUrl(std::string_view url) {
    UrlParts parts;
    std::string_view rest = url;
    if (const std::size_t length = SchemeLength(rest); length != 0) {
        parts.scheme = rest.substr(0, length);
        parts.hasScheme = true;
        rest.remove_prefix(length + 1);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t end = EndOfAuthority(rest);
        parts.authority = rest.substr(0, end);
        parts.hasAuthority = true;
        rest.remove_prefix(parts.authority.size());
    }
    const std::size_t pathEnd = EndOfPath(rest);
    parts.path = rest.substr(0, pathEnd);
    rest.remove_prefix(parts.path.size());
    if (rest.starts_with('?')) {
        const std::size_t end = rest.find('#');
        parts.query = rest.substr(1, end == std::string_view::npos ? end : end - 1);
        parts.hasQuery = true;
        rest.remove_prefix(1 + parts.query.size());
    }
    if (rest.starts_with('#')) {
        parts.fragment = rest.substr(1);
        parts.hasFragment = true;
    }
    return parts;
}

bool HasScheme(std::string_view link) { return SchemeLength(link) != 0; }

bool IsHttpScheme(std::string_view scheme) { return EqualsNoCase(scheme, "http") || EqualsNoCase(scheme, "https"); }

bool IsHttpUrl(std::string_view url) { return IsHttpScheme(url.substr(0, SchemeLength(url))); }

std::string_view HostOfAuthority(std::string_view authority) {
    // After the user information (up to the last "@"), before the port. A
    // bracketed IPv6 address keeps its colons.
    const std::size_t at = FindLast(authority, '@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string_view::npos ? authority : authority.substr(0, close + 1);
    }
    return authority.substr(0, authority.find(':'));
}

std::string_view HostOf(std::string_view url) {
    // As SplitUrl finds it, without looking past the authority.
    std::string_view rest = url;
    if (const std::size_t length = SchemeLength(rest); length != 0) rest.remove_prefix(length + 1);
    if (!rest.starts_with("//")) return {};
    rest.remove_prefix(2);
    return HostOfAuthority(rest.substr(0, EndOfAuthority(rest)));
}

std::size_t AuthorityEnd(std::string_view url) {
    std::string_view rest = url;
    if (const std::size_t length = SchemeLength(rest); length != 0) rest.remove_prefix(length + 1);
    if (!rest.starts_with("//")) return url.size() - rest.size();
    rest.remove_prefix(2);
    return url.size() - rest.size() + std::min(EndOfAuthority(rest), rest.size());
}

namespace {

// A dot segment begins the path or follows a slash; most paths have none.
bool HasDotSegment(std::string_view path) { return path.starts_with('.') || path.find("/.") != std::string_view::npos; }

// A path in its normal form: no dot segment, no "//" run.
bool IsNormalPath(std::string_view path) {
    if (!path.empty() && path.front() != '/') return false;
    for (std::size_t i = 0; i + 1 < path.size(); ++i)
        if (path[i] == '/' && (path[i + 1] == '.' || path[i + 1] == '/')) return false;
    return true;
}

}  // namespace

std::string RemoveDotSegments(std::string_view path) {
    if (!HasDotSegment(path)) return std::string(path);
    std::string out;
    out.reserve(path.size());
    auto dropLastSegment = [&out] {
        const std::size_t slash = out.rfind('/');
        out.resize(slash == std::string::npos ? 0 : slash);
    };
    std::string_view in = path;
    // "/.." and "/." at the end turn into "/" and go round once more; this
    // buffer holds that "/" while `in` views the original text.
    std::string pending;
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            pending = "/";
            in = pending;
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            dropLastSegment();
        } else if (in == "/..") {
            dropLastSegment();
            pending = "/";
            in = pending;
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t end = in.find('/', 1);
            const std::string_view segment = in.substr(0, end);
            out += segment;
            in.remove_prefix(segment.size());
        }
    }
    return out;
}

std::string ResolveUrl(std::string_view base, std::string_view reference) {
    return ResolveUrl(SplitUrl(base), reference);
}

namespace {

// `path` without its dot segments: a view of `path` itself when it has none, as
// most have, else of `scratch`, which then holds it.
std::string_view WithoutDotSegments(std::string_view path, std::string& scratch) {
    if (!HasDotSegment(path)) return path;
    scratch = RemoveDotSegments(path);
    return scratch;
}

}  // namespace

namespace {

// The path without dot segments, then with runs of "/" collapsed.
std::string NormalPath(std::string_view path) {
    const std::string dotless = RemoveDotSegments(path);
    std::string normal;
    normal.reserve(dotless.size());
    for (char c : dotless) {
        if (c == '/' && !normal.empty() && normal.back() == '/') continue;
        normal += c;
    }
    return normal;
}

// The parts of the address `reference` names on the page at `b` (RFC 3986,
// section 5.2.2); its path may lie in `merged` or `dotless`.
UrlParts ResolvedParts(const UrlParts& b, std::string_view reference, std::string& merged, std::string& dotless) {
    const UrlParts r = SplitUrl(reference);
    UrlParts t;
    std::string_view path;
    if (r.hasScheme) {
        t = r;
        path = WithoutDotSegments(r.path, dotless);
    } else {
        if (r.hasAuthority) {
            t.authority = r.authority;
            t.hasAuthority = true;
            path = WithoutDotSegments(r.path, dotless);
            t.query = r.query;
            t.hasQuery = r.hasQuery;
        } else {
            if (r.path.empty()) {
                path = b.path;
                t.query = r.hasQuery ? r.query : b.query;
                t.hasQuery = r.hasQuery || b.hasQuery;
            } else {
                if (r.path.starts_with('/')) {
                    path = WithoutDotSegments(r.path, dotless);
                } else {
                    merged.clear();
                    if (b.hasAuthority && b.path.empty()) {
                        merged = "/";
                    } else {
                        const std::size_t slash = FindLast(b.path, '/');
                        if (slash != std::string_view::npos) merged.append(b.path.substr(0, slash + 1));
                    }
                    merged += r.path;
                    path = WithoutDotSegments(merged, dotless);
                }
                t.query = r.query;
                t.hasQuery = r.hasQuery;
            }
            t.authority = b.authority;
            t.hasAuthority = b.hasAuthority;
        }
        t.scheme = b.scheme;
        t.hasScheme = b.hasScheme;
    }
    t.path = path;
    t.fragment = r.fragment;
    t.hasFragment = r.hasFragment;
    return t;
}

std::string Joined(const UrlParts& t) {
    std::string out;
    out.reserve(t.scheme.size() + t.authority.size() + t.path.size() + t.query.size() + t.fragment.size() + 6);
    Append(out, t);
    return out;
}

}  // namespace

std::string ResolveUrl(const UrlParts& b, std::string_view reference) {
    // Reused from link to link: a page resolves thousands of them.
    thread_local std::string merged;
    thread_local std::string dotless;
    return Joined(ResolvedParts(b, reference, merged, dotless));
}

std::string NormalResolvedUrl(const UrlParts& b, std::string_view reference) {
    thread_local std::string merged;
    thread_local std::string dotless;
    thread_local std::string normal;
    UrlParts t = ResolvedParts(b, reference, merged, dotless);
    // Only a path after an authority is read back as the same path.
    if (!t.hasAuthority || !(t.path.empty() || t.path.front() == '/')) return NormalHttpUrl(Joined(t));
    if (!IsNormalPath(t.path)) {
        normal = NormalPath(t.path);
        t.path = normal;
    }
    return Joined(t);
}

std::string NormalHttpUrl(std::string_view url) {
    const UrlParts parts = SplitUrl(url);
    // Most links are in their normal form already.
    if (IsNormalPath(parts.path)) return std::string(url);
    // Everything around the path is kept byte for byte.
    const std::size_t pathBegin = static_cast<std::size_t>(parts.path.data() - url.data());
    std::string out(url.substr(0, pathBegin));
    out += NormalPath(parts.path);
    out += url.substr(pathBegin + parts.path.size());
    return out;
}

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsLowerHexLetter(char c) { return c >= 'a' && c <= 'f'; }
// Bytes that a request carries percent-encoded: none of printable ASCII.
bool IsSentEncoded(unsigned char c) { return c <= 0x20 || c >= 0x7F; }

void AppendPercentEncoded(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

// The port written after the host, ":" included; empty when none is written.
std::string_view PortOf(std::string_view url, const FoldedSpans& spans) {
    if (spans.authorityEnd <= spans.hostEnd) return {};
    return url.substr(spans.hostEnd, spans.authorityEnd - spans.hostEnd);
}

// A port that says nothing: none, ":" alone, or the scheme's own.
bool PortSaysNothing(std::string_view url, const FoldedSpans& spans) {
    const std::string_view port = PortOf(url, spans);
    if (port.size() <= 1) return true;
    if (port != ":80" && port != ":443") return false;
    const std::string_view scheme = url.substr(0, spans.schemeEnd);
    return (EqualsNoCase(scheme, "http") && port == ":80") || (EqualsNoCase(scheme, "https") && port == ":443");
}

// Whether any of eight bytes is sent encoded or is a "%": true may also be
// said of bytes that are neither, never false of one that is.
bool MayChangeInCanonicalForm(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    const auto hasBelow = [](std::uint64_t bytes, std::uint64_t bound) {
        return ((bytes - bound * kOnes) & ~bytes & kHighBits) != 0;
    };
    return (word & kHighBits) != 0 || hasBelow(word, 0x21) || hasBelow(word ^ ('%' * kOnes), 1) ||
           hasBelow(word ^ (0x7F * kOnes), 1);
}

// Whether the URL's identity needs more than its scheme and host folded: a
// port of no meaning, bytes that go out percent-encoded, or escapes in lower case.
bool NeedsCanonicalForm(std::string_view url, const FoldedSpans& spans) {
    if (!PortOf(url, spans).empty() && PortSaysNothing(url, spans)) return true;
    std::size_t i = std::max(spans.authorityEnd, spans.schemeEnd);
    // Eight bytes at a time past those that can change nothing, as the most of
    // a path and query are.
    for (; i + sizeof(std::uint64_t) <= url.size(); i += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, url.data() + i, sizeof word);
        if (MayChangeInCanonicalForm(word)) break;
    }
    for (; i < url.size(); ++i) {
        const char c = url[i];
        if (IsSentEncoded(static_cast<unsigned char>(c))) return true;
        if (c == '%' && i + 2 < url.size() && IsHexDigit(url[i + 1]) && IsHexDigit(url[i + 2]) &&
            (IsLowerHexLetter(url[i + 1]) || IsLowerHexLetter(url[i + 2])))
            return true;
    }
    return false;
}

// The form in which two URLs of one page are equal byte for byte: scheme and
// host in lower case, a port of no meaning dropped, every byte a request
// carries percent-encoded written so, and every escape in upper case.
std::string CanonicalForm(std::string_view url, const FoldedSpans& spans) {
    std::string out;
    out.reserve(url.size() + 16);
    const std::size_t head = std::max(spans.schemeEnd, spans.hostEnd);
    for (std::size_t i = 0; i < head; ++i) out += spans.Folds(i) ? LowerChar(url[i]) : url[i];
    std::size_t i = head;
    if (!PortOf(url, spans).empty()) {
        if (!PortSaysNothing(url, spans)) out += PortOf(url, spans);
        i = spans.authorityEnd;
    }
    for (; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (IsSentEncoded(c)) {
            AppendPercentEncoded(out, c);
        } else if (c == '%' && i + 2 < url.size() && IsHexDigit(url[i + 1]) && IsHexDigit(url[i + 2])) {
            out += '%';
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(url[i + 1])));
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(url[i + 2])));
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

bool SameUrl(std::string_view a, std::string_view b) {
    // Most questions the page list and the planner ask are of an URL written
    // just as the one they hold.
    if (a == b) return true;
    const FoldedSpans spans(a);
    if (a.size() == b.size() && !NeedsCanonicalForm(a, spans)) {
        // Where the spans lie depends only on bytes that do not fold (":", "/",
        // "@", ...): two URLs equal under a's folding have the same spans.
        const std::size_t folded = std::max(spans.schemeEnd, spans.hostEnd);
        bool equal = true;
        for (std::size_t i = 0; i < folded && equal; ++i)
            equal = spans.Folds(i) ? LowerChar(a[i]) == LowerChar(b[i]) : a[i] == b[i];
        if (equal && a.substr(folded) == b.substr(folded)) return true;
        if (!NeedsCanonicalForm(b, FoldedSpans(b))) return false;
    }
    return UrlKey(a) == UrlKey(b);
}

std::size_t UrlHash(std::string_view url) {
    // The hash of the canonical form. Most URLs are in it already but for the
    // case of their scheme and host, which are folded in a copy reused from
    // URL to URL.
    const FoldedSpans spans(url);
    if (NeedsCanonicalForm(url, spans)) {
        const std::string key = CanonicalForm(url, spans);
        return static_cast<std::size_t>(XXH3_64bits(key.data(), key.size()));
    }
    thread_local std::string folded;
    folded.assign(url);
    const std::size_t head = std::max(spans.schemeEnd, spans.hostEnd);
    for (std::size_t i = 0; i < head; ++i)
        if (spans.Folds(i)) folded[i] = LowerChar(folded[i]);
    return static_cast<std::size_t>(XXH3_64bits(folded.data(), folded.size()));
}

std::string UrlKey(std::string_view url) { return CanonicalForm(url, FoldedSpans(url)); }

std::string WireForm(std::string_view url) {
    const FoldedSpans spans(url);
    std::string out;
    out.reserve(url.size() + 16);
    std::size_t i = 0;
    if (spans.hostEnd > spans.hostBegin) {
        const std::string_view host = url.substr(spans.hostBegin, spans.hostEnd - spans.hostBegin);
        out.append(url.substr(0, spans.hostBegin));
        if (std::any_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            // A name in Unicode goes out in its ASCII form, whatever the machine's locale.
            char* ascii = nullptr;
            const std::string name(host);
            if (idn2_lookup_u8(reinterpret_cast<const uint8_t*>(name.c_str()), reinterpret_cast<uint8_t**>(&ascii),
                               IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) != IDN2_OK)
                throw std::invalid_argument("The host name " + name + " is not a valid international name");
            out += ascii;
            idn2_free(ascii);
        } else {
            out += host;
        }
        i = spans.hostEnd;
    }
    for (; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (IsSentEncoded(c)) {
            AppendPercentEncoded(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
