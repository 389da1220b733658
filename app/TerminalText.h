#pragma once
// Much of what the runner prints comes from web pages and files: URLs, and
// messages with parts of either. A control among them would reach the terminal
// as a command (retitle it, clear it, move the cursor, turn the text around),
// so every text the runner writes passes through here first.
#include <algorithm>
#include <string>
#include <string_view>

#include "project/Utf8.h"

namespace terminal_text {

// C0 controls and DEL, as bytes, and the C1 controls a terminal also obeys: a
// lone byte 0x80 to 0x9F outside UTF-8.
inline bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F); }

// A valid UTF-8 sequence that a terminal takes as a command or that reorders
// the text around it: the C1 controls U+0080 to U+009F, and the bidirectional
// embeddings, overrides and isolates U+202A to U+202E and U+2066 to U+2069.
inline bool IsControlSequence(std::string_view seq) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(seq[i]); };
    if (seq.size() == 2) return byte(0) == 0xC2 && byte(1) <= 0x9F;
    if (seq.size() != 3 || byte(0) != 0xE2) return false;
    if (byte(1) == 0x80) return byte(2) >= 0xAA && byte(2) <= 0xAE;
    if (byte(1) == 0x81) return byte(2) >= 0xA6 && byte(2) <= 0xA9;
    return false;
}

inline void AppendPercentHex(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    }
}

}  // namespace terminal_text

// `text` with every control written as %XX of its bytes (upper-case hex), the
// way a URL carries such bytes; valid UTF-8 otherwise, and bytes 0xA0 to 0xFF
// outside it, as they are.
inline std::string TerminalSafe(std::string_view text) {
    using namespace terminal_text;
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        // A byte outside valid UTF-8 is judged on its own.
        const std::size_t length = std::max<std::size_t>(ValidUtf8SequenceAt(text), 1);
        const std::string_view piece = text.substr(0, length);
        const bool control =
            length == 1 ? IsControlByte(static_cast<unsigned char>(piece[0])) : IsControlSequence(piece);
        if (control)
            AppendPercentHex(out, piece);
        else
            out += piece;
        text.remove_prefix(length);
    }
    return out;
}
