#pragma once
// Much of what the runner prints comes from web pages and files: URLs, and
// messages with parts of either. A control byte among them would reach the
// terminal as a command (retitle it, clear it, move the cursor), so every text
// the runner writes passes through here first.
#include <string>
#include <string_view>

// `text` with every byte below 0x20 and 0x7F written as %XX (upper-case hex),
// the way a URL carries such bytes; all other bytes as they are.
inline std::string TerminalSafe(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}
