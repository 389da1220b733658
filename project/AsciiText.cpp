#include "project/AsciiText.h"

#include <algorithm>

namespace {
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = UpperAscii(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    // Texts compared so are most often written alike: a host, a scheme, a tag name.
    if (a.size() != b.size()) return false;
    if (a == b) return true;
    return std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return UpperAscii(x) == UpperAscii(y); });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    return ToUpperAscii(text).find(ToUpperAscii(part)) != std::string::npos;
}

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string TrimLeft(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    return std::string(text.substr(i));
}

std::string Trim(std::string_view text) {
    std::string left = TrimLeft(text);
    std::size_t end = left.size();
    while (end > 0 && IsWhiteSpace(left[end - 1])) --end;
    left.resize(end);
    return left;
}
