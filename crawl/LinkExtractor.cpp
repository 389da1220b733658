#include "crawl/LinkExtractor.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "crawl/NamedCharacterReferenceTable.h"
#include "crawl/Search.h"
#include "project/AsciiText.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsAsciiAlphanumeric(char c) { return (c >= '0' && c <= '9') || (UpperChar(c) >= 'A' && UpperChar(c) <= 'Z'); }

// True when the letters of `tag` ending at `last` spell `name` (upper case) in any case.
bool NameEndsAt(std::string_view tag, std::size_t last, std::string_view name) {
    if (last + 1 < name.size()) return false;
    std::size_t first = last + 1 - name.size();
    for (std::size_t i = 0; i < name.size(); ++i)
        if (UpperChar(tag[first + i]) != name[i]) return false;
    return true;
}

std::string_view TrimView(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Reads the value that starts at `i` (just past the "=" and its blanks) and
// leaves `i` where the value stopped, so that an "=" inside it is not looked at
// again. The tag's closing ">" ends every value: a tag stops at its first ">".
std::string_view ReadValue(std::string_view tag, std::size_t& i) {
    const std::size_t size = tag.size();
    if (i < size && tag[i] == '"') {
        const std::size_t runStart = i;
        while (i < size && tag[i] == '"') ++i;
        // `href="" title="x"`: two quotes before a blank or the end are an empty
        // value, not the opening of one that runs into the next attribute.
        if (i - runStart >= 2 && (i == size || tag[i] == ' ' || tag[i] == '>')) return {};
        const std::size_t start = i;
        while (i < size && tag[i] != '"' && tag[i] != '>') ++i;
        return TrimView(tag.substr(start, i - start));
    }
    if (i < size && tag[i] == '\'') {
        const std::size_t start = ++i;
        while (i < size && tag[i] != '\'' && tag[i] != '>') ++i;
        return TrimView(tag.substr(start, i - start));
    }
    const std::size_t start = i;
    while (i < size && tag[i] != ' ' && tag[i] != '"' && tag[i] != '\'' && tag[i] != '>') ++i;
    return tag.substr(start, i - start);
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
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
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

}  // namespace

std::string DecodeCharacterReferences(std::string_view value) {
    std::size_t amp = value.find('&');
    if (amp == kNone) return std::string(value);
    std::string out;
    out.reserve(value.size());
    std::size_t from = 0;
    for (; amp != kNone; amp = value.find('&', from)) {
        out.append(value.substr(from, amp - from));
        const std::string_view rest = value.substr(amp);
        const std::size_t taken = rest.size() > 1 && rest[1] == '#' ? DecodeNumeric(rest, out) : DecodeNamed(rest, out);
        if (taken == 0) out += '&';
        from = amp + std::max<std::size_t>(taken, 1);
    }
    out.append(value.substr(from));
    return out;
}

void ForEachLinkValue(std::string_view text, const std::function<bool(std::string)>& onLink) {
    std::size_t j = 0;
    while (j < text.size()) {
        const std::size_t open = text.find('<', j);
        if (open == std::string_view::npos) return;
        const std::size_t close = text.find('>', open);
        const std::size_t tagEnd = (close == std::string_view::npos) ? text.size() : close + 1;
        const std::string_view tag = text.substr(open, tagEnd - open);

        std::size_t i = 1;  // position 0 holds the "<"
        while (i < tag.size()) {
            const std::size_t eq = tag.find('=', i);
            if (eq == std::string_view::npos) break;
            i = eq + 1;
            std::size_t k = eq - 1;
            while (k > 0 && tag[k] == ' ') --k;
            // The name's last letter must stand at position 4 or later.
            if (k <= 3) continue;
            if (!NameEndsAt(tag, k, "HREF") && !NameEndsAt(tag, k, "SRC") && !NameEndsAt(tag, k, "URL"))
                continue;
            while (i < tag.size() && tag[i] == ' ') ++i;
            if (!onLink(DecodeCharacterReferences(ReadValue(tag, i)))) return;
        }
        j = tagEnd;
    }
}

void CSearch::ExtractLinks(const std::string& content) {
    ForEachLinkValue(content, [this](std::string link) {
        // A stop must not wait for the rest of a page of many thousand links.
        if (m_stop) return false;
        HandleLink(std::move(link));
        return true;
    });
}
