#include <cstring>
#include <string_view>

#include "crawl/Search.h"

namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// True when the letters of `tag` ending at `last` spell `name` (upper case) in any case.
bool NameEndsAt(std::string_view tag, std::size_t last, std::string_view name) {
    if (last + 1 < name.size()) return false;
    std::size_t first = last + 1 - name.size();
    for (std::size_t i = 0; i < name.size(); ++i)
        if (UpperChar(tag[first + i]) != name[i]) return false;
    return true;
}

}  // namespace

// One forward pass over the page: every "<...>" stretch is a tag, whatever it is,
// and an attribute is a link when the text before its "=" ends in HREF, SRC or URL.
// The tag is examined in place; no upper-cased copy of it is made.
void CSearch::ExtractLinks(const std::string& content) {
    const std::string_view text = content;
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
            while (i < tag.size() && tag[i] == '"') ++i;
            const std::size_t start = i;
            // A value also stops at the tag's closing ">", so that an unquoted
            // last value does not carry the bracket into the link.
            while (i < tag.size() && tag[i] != '"' && tag[i] != ' ' && tag[i] != '>') ++i;
            HandleLink(std::string(tag.substr(start, i - start)));
        }
        j = tagEnd;
    }
}
