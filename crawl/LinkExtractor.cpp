#include "crawl/LinkExtractor.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "crawl/NamedCharacterReferenceTable.h"
#include "project/AsciiText.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsAsciiAlphanumeric(char c) { return (c >= '0' && c <= '9') || (UpperChar(c) >= 'A' && UpperChar(c) <= 'Z'); }

// What ends an unquoted value or a tag name in a browser: tab, LF, FF, CR, blank.
bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The first `c` in text[from, to), or `to` when there is none.
std::size_t FindChar(std::string_view text, char c, std::size_t from, std::size_t to) {
    if (from >= to) return to;
    const void* hit = std::memchr(text.data() + from, c, to - from);
    return hit == nullptr ? to : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

std::string_view TrimView(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
    return text;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    // As a browser reads the page: no NUL, no surrogate, nothing past Unicode.
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

// "&#NN;" or "&#xHH;" at the start of `text`: its length, 0 when it is none.
std::size_t DecodeNumeric(std::string_view text, std::string& out) {
    std::size_t i = 2;
    int base = 10;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    const std::size_t digitsStart = i;
    std::uint32_t cp = 0;
    for (int d; i < text.size() && (d = DigitValue(text[i], base)) >= 0; ++i) {
        // Saturates past Unicode's end, which reads as the replacement character.
        cp = cp > 0x10FFFF ? cp : cp * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
    }
    if (i == digitsStart || i >= text.size() || text[i] != ';') return 0;
    AppendUtf8(out, cp);
    return i + 1;
}

static_assert(std::is_sorted(kNamedCharacterReferences.begin(), kNamedCharacterReferences.end(),
                             [](const auto& a, const auto& b) { return a.name < b.name; }),
              "the named references are looked up by binary search");

const NamedCharacterReference* FindNamedReference(std::string_view name) {
    const auto* it = std::lower_bound(kNamedCharacterReferences.begin(), kNamedCharacterReferences.end(), name,
                                      [](const NamedCharacterReference& r, std::string_view n) { return r.name < n; });
    return (it != kNamedCharacterReferences.end() && it->name == name) ? &*it : nullptr;
}

// "&name;" or a bare legacy "&name" at the start of `text`, read as HTML reads
// an attribute value: the longest name HTML knows wins, but a bare name before
// "=" or a letter or digit stays as written, so that "?a=1&copy=2" keeps its
// parameter. Returns its length, 0 when it stays as written.
std::size_t DecodeNamed(std::string_view text, std::string& out) {
    std::size_t run = 1;
    while (run < text.size() && run <= kLongestReferenceName && IsAsciiAlphanumeric(text[run])) ++run;
    const bool closed = run < text.size() && text[run] == ';';
    if (closed) {
        if (const NamedCharacterReference* ref = FindNamedReference(text.substr(1, run))) {
            out += ref->text;
            return run + 1;
        }
    }
    for (std::size_t length = std::min(run - 1, kLongestBareReferenceName); length > 0; --length) {
        const NamedCharacterReference* ref = FindNamedReference(text.substr(1, length));
        if (ref == nullptr) continue;
        const std::size_t end = 1 + length;
        if (end < text.size() && (text[end] == '=' || IsAsciiAlphanumeric(text[end]))) return 0;
        out += ref->text;
        return end;
    }
    if (!closed) return 0;
    // The five names the program always read, also in any case ("&Amp;"); where
    // HTML has its own name in another case ("&Lt;" is U+226A), HTML's came first.
    struct Named {
        std::string_view name;
        char character;
    };
    static constexpr std::array<Named, 5> kAnyCase{
        {{"AMP;", '&'}, {"LT;", '<'}, {"GT;", '>'}, {"QUOT;", '"'}, {"APOS;", '\''}}};
    for (const Named& n : kAnyCase) {
        if (EqualsNoCase(text.substr(1, run), n.name)) {
            out += n.character;
            return run + 1;
        }
    }
    return 0;
}

// A function object rather than a function, so that the searches below inline it.
constexpr auto IsControlOrBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };

// As a browser's URL parser takes a link: no tab or line break anywhere, no C0
// control or blank at either end. Everything else stays byte for byte.
void CleanAsUrl(std::string& link) {
    if (std::none_of(link.begin(), link.end(), IsControlOrBlank)) return;
    std::erase_if(link, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
    link.erase(std::find_if_not(link.rbegin(), link.rend(), IsControlOrBlank).base(), link.end());
    link.erase(link.begin(), std::find_if_not(link.begin(), link.end(), IsControlOrBlank));
}

// `quoteAs`: what a reference that stands for a double quote becomes.
std::string DecodeReferences(std::string_view value, std::string_view quoteAs) {
    std::size_t amp = value.find('&');
    if (amp == kNone) return std::string(value);
    std::string out;
    out.reserve(value.size());
    std::size_t from = 0;
    for (; amp != kNone; amp = value.find('&', from)) {
        out.append(value.substr(from, amp - from));
        const std::string_view rest = value.substr(amp);
        const std::size_t before = out.size();
        const std::size_t taken = rest.size() > 1 && rest[1] == '#' ? DecodeNumeric(rest, out) : DecodeNamed(rest, out);
        if (taken == 0) out += '&';
        if (taken != 0 && out.size() == before + 1 && out.back() == '"') out.replace(before, 1, quoteAs);
        from = amp + std::max<std::size_t>(taken, 1);
    }
    out.append(value.substr(from));
    return out;
}

std::string LinkValue(std::string_view raw) {
    // A quote written as a reference is part of the address, as a browser
    // reads it: it is sent as %22, and no rule cuts the address there.
    std::string link = DecodeReferences(raw, "%22");
    CleanAsUrl(link);
    return link;
}

// The same, as `raw` itself when decoding and cleaning change nothing, as they
// mostly do not; else as `scratch`, which then holds it.
std::string_view LinkValueView(std::string_view raw, std::string& scratch) {
    if (raw.find('&') == kNone && std::none_of(raw.begin(), raw.end(), IsControlOrBlank)) return raw;
    scratch = LinkValue(raw);
    return scratch;
}

// Calls `onUrl` with each candidate URL of a srcset value (references already
// decoded) as HTML splits it: candidates part at commas, a URL is a run of
// non-blanks without trailing commas, and its descriptors ("2x", "300w") run to
// the next comma outside parentheses. A URL is handed over as a view that lasts
// for the call. A false return ends the calls.
template <class OnUrl>
bool ForEachSrcSetUrl(std::string_view set, OnUrl&& onUrl) {
    std::size_t i = 0;
    while (true) {
        while (i < set.size() && (IsHtmlSpace(set[i]) || set[i] == ',')) ++i;
        if (i == set.size()) return true;
        const std::size_t start = i;
        while (i < set.size() && !IsHtmlSpace(set[i])) ++i;
        std::string_view url = set.substr(start, i - start);
        if (url.back() == ',') {
            while (url.back() == ',') url.remove_suffix(1);
        } else {
            for (bool inParentheses = false; i < set.size() && (inParentheses || set[i] != ','); ++i) {
                if (set[i] == '(')
                    inParentheses = true;
                else if (set[i] == ')')
                    inParentheses = false;
            }
        }
        if (std::none_of(url.begin(), url.end(), IsControlOrBlank)) {
            if (!onUrl(url)) return false;
            continue;
        }
        std::string link(url);
        CleanAsUrl(link);
        if (!onUrl(std::string_view(link))) return false;
    }
}

struct Tag {
    std::string_view text;   // the whole page
    std::size_t open;        // where its "<" stands
    std::size_t firstClose;  // its first ">" (or the text's end), which ends its name at the latest

    // Whether its name (as written, up to a blank, "/" or the first ">"; "" for
    // "< ...") is `upper` in any case. Only a few tags' names matter: it is not
    // read for the others.
    bool NameIs(std::string_view upper) const {
        const std::size_t end = open + 1 + upper.size();
        if (end > firstClose || !EqualsNoCase(text.substr(open + 1, upper.size()), upper)) return false;
        return end == firstClose || IsHtmlSpace(text[end]) || text[end] == '/';
    }
    // <img> and <source> name images by srcset.
    bool ReadsSrcSet() const { return NameIs("IMG") || NameIs("SOURCE"); }
};

// What the text before an "=" names. A link's name ends in HREF, SRC or URL
// (any case), its last letter at position 4 or later of the tag, only blanks
// between it and the "=".
struct AttributeName {
    bool link = false;
    bool srcSet = false;     // ends in SRCSET
    bool exactHref = false;  // HREF itself, one of the tag's own attributes
};

// True when the letters ending at `last` spell `name` (upper case) in any case,
// all after the tag's "<".
bool NameEndsAt(const Tag& tag, std::size_t last, std::string_view name) {
    if (last - tag.open < name.size()) return false;
    const std::size_t first = last + 1 - name.size();
    for (std::size_t i = 0; i < name.size(); ++i)
        if (UpperChar(tag.text[first + i]) != name[i]) return false;
    return true;
}

AttributeName NameBefore(const Tag& tag, std::size_t eq) {
    AttributeName name;
    std::size_t k = eq - 1;
    while (k > tag.open && tag.text[k] == ' ') --k;
    if (k - tag.open <= 3) return name;
    // Most names end in none of the letters looked for: "class=", "id=", "alt=".
    const char last = UpperChar(tag.text[k]);
    if (last != 'F' && last != 'C' && last != 'L' && last != 'T') return name;
    if (NameEndsAt(tag, k, "HREF")) {
        name.link = true;
        const char before = tag.text[k - 4];
        name.exactHref = k - 4 > tag.open && (IsHtmlSpace(before) || before == '/' || before == '"' || before == '\'');
    } else {
        name.link = NameEndsAt(tag, k, "SRC") || NameEndsAt(tag, k, "URL");
        name.srcSet = NameEndsAt(tag, k, "SRCSET");
    }
    return name;
}

std::size_t SkipSpaces(std::string_view text, std::size_t i, std::size_t end) {
    while (i < end && IsHtmlSpace(text[i])) ++i;
    return i;
}

struct ValueRead {
    std::string_view value;
    std::size_t next;  // where the scan goes on, so that an "=" inside the value is not looked at again
};

// Reads the value that starts at `at` (past the "=" and its blanks), no further
// than `end`. A quoted value runs to its closing quote, or to `unclosedEnd`
// without one; an unquoted one to a blank, a quote or a ">".
ValueRead ReadValue(std::string_view text, std::size_t at, std::size_t end, std::size_t unclosedEnd) {
    if (at < end && (text[at] == '"' || text[at] == '\'')) {
        const char quote = text[at];
        std::size_t start = at + 1;
        if (quote == '"') {
            while (start < end && text[start] == '"') ++start;
            // `href="" title="x"`: two quotes before a blank or the end are an empty
            // value, not the opening of one that runs into the next attribute.
            if (start - at >= 2 && (start == end || IsHtmlSpace(text[start]) || text[start] == '>')) return {{}, start};
        }
        const std::size_t closing = FindChar(text, quote, start, end);
        if (closing == end) return {TrimView(text.substr(start, unclosedEnd - start)), unclosedEnd};
        return {TrimView(text.substr(start, closing - start)), closing + 1};
    }
    std::size_t i = at;
    while (i < end && !IsHtmlSpace(text[i]) && text[i] != '"' && text[i] != '\'' && text[i] != '>') ++i;
    return {text.substr(at, i - at), i};
}

// Looks at every "=" inside the quoted value text[from, end) of an attribute
// that names no link, as in `<META CONTENT="0; URL=next.htm">`.
template <class OnValue>
bool ScanInsideValue(const Tag& tag, std::size_t from, std::size_t end, OnValue& onValue) {
    for (std::size_t pos = from;;) {
        const std::size_t eq = FindChar(tag.text, '=', pos, end);
        if (eq == end) return true;
        pos = eq + 1;
        AttributeName name = NameBefore(tag, eq);
        if (!name.link) continue;
        name.exactHref = false;
        const ValueRead read = ReadValue(tag.text, SkipSpaces(tag.text, pos, end), end, end);
        pos = read.next;
        if (!onValue(tag, name, read.value)) return false;
    }
}

// Scans the tag whose "<" stands at `open` and returns where it ends: at its
// first ">" outside a quoted value. A quote right after an "=" and its blanks
// opens a value that runs to the closing quote, ">" and all; with no closing
// quote anywhere after it, the tag's first ">" ends value and tag. Returns kNone
// when `onValue` ended the scan.
template <class OnValue>
std::size_t ScanTag(std::string_view text, std::size_t open, OnValue& onValue) {
    const std::size_t size = text.size();
    std::size_t close = FindChar(text, '>', open + 1, size);
    const Tag tag{text, open, close};

    for (std::size_t pos = open + 1;;) {
        if (pos > close) close = FindChar(text, '>', pos, size);
        const std::size_t eq = FindChar(text, '=', pos, close);
        if (eq == close) return close == size ? size : close + 1;
        pos = eq + 1;
        const AttributeName name = NameBefore(tag, eq);
        const std::size_t at = SkipSpaces(text, pos, size);
        if (name.link || (name.srcSet && tag.ReadsSrcSet())) {
            const ValueRead read = ReadValue(text, at, size, close);
            pos = read.next;
            if (!onValue(tag, name, read.value)) return kNone;
        } else if (at < size && (text[at] == '"' || text[at] == '\'')) {
            const std::size_t closing = FindChar(text, text[at], at + 1, size);
            // Without a closing quote the value ends where the tag does, at its first ">".
            const std::size_t end = closing == size ? close : closing;
            if (!ScanInsideValue(tag, at + 1, end, onValue)) return kNone;
            pos = closing == size ? close : closing + 1;
        }
        // An unquoted value of another attribute is looked through like the tag.
    }
}

// Calls onValue(tag, name, raw value) for every link value of `text` in
// document order until it returns false.
template <class OnValue>
void ForEachTagValue(std::string_view text, OnValue&& onValue) {
    for (std::size_t j = 0; j < text.size();) {
        const std::size_t open = FindChar(text, '<', j, text.size());
        if (open == text.size()) return;
        j = ScanTag(text, open, onValue);
    }
}

// True when "<base" stands somewhere in `text`, in any case: most pages have
// none and need no scan of their tags for it.
bool MayHoldBaseTag(std::string_view text) {
    for (std::size_t i = FindChar(text, '<', 0, text.size()); i < text.size();
         i = FindChar(text, '<', i + 1, text.size())) {
        if (i + 5 <= text.size() && UpperChar(text[i + 1]) == 'B' && EqualsNoCase(text.substr(i + 1, 4), "BASE"))
            return true;
    }
    return false;
}

}  // namespace

std::string DecodeCharacterReferences(std::string_view value) { return DecodeReferences(value, "\""); }

void ForEachLinkValue(std::string_view text, const std::function<bool(std::string)>& onLink) {
    ForEachLinkValueAndBase(text, [&](std::string_view value, bool) { return onLink(std::string(value)); });
}

void ForEachLinkValueAndBase(std::string_view text, const std::function<bool(std::string_view, bool)>& onLink) {
    std::string scratch;
    ForEachTagValue(text, [&](const Tag& tag, const AttributeName& name, std::string_view raw) {
        if (name.srcSet)
            return ForEachSrcSetUrl(DecodeCharacterReferences(raw),
                                    [&](std::string_view url) { return onLink(url, false); });
        return onLink(LinkValueView(raw, scratch), name.exactHref && tag.NameIs("BASE"));
    });
}

std::optional<std::string> FindBaseHref(std::string_view text) {
    std::optional<std::string> base;
    if (!MayHoldBaseTag(text)) return base;
    ForEachTagValue(text, [&](const Tag& tag, const AttributeName& name, std::string_view raw) {
        if (!name.exactHref || !tag.NameIs("BASE")) return true;
        base = LinkValue(raw);
        return false;
    });
    return base;
}
