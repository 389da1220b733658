#include "crawl/LineSplitter.h"

#include <algorithm>
#include <cstring>

void CLineSplitter::Feed(std::string_view bytes) {
    if (bytes.empty()) return;
    // Drop what has been handed out before the buffer grows, so a long page
    // read line by line never holds more than the unread part.
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    m_buffer.append(bytes);
}

std::size_t CLineSplitter::LineBytes(std::string_view bytes, bool finished) {
    const std::size_t window = std::min(bytes.size(), kMaxLineBytes);
    if (const void* lf = std::memchr(bytes.data(), '\n', window))
        return static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    if (bytes.size() >= kMaxLineBytes) return kMaxLineBytes;
    return finished ? bytes.size() : 0;
}

std::size_t CLineSplitter::AppendKept(std::string_view line, std::string& text) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (const void* zero = std::memchr(line.data(), '\0', line.size()))
        line = line.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - line.data()));
    // Most lines hold no carriage return at all, or only one at their end.
    if (std::memchr(line.data(), '\r', line.size()) == nullptr) {
        text.append(line);
        return line.size();
    }
    const std::size_t before = text.size();
    for (char c : line)
        if (c != '\r') text.push_back(c);
    return text.size() - before;
}

bool CLineSplitter::HasLine() const { return LineBytes(std::string_view(m_buffer).substr(m_pos), m_finished) != 0; }

bool CLineSplitter::Next(std::string& line) {
    line.clear();
    const std::size_t taken = LineBytes(std::string_view(m_buffer).substr(m_pos), m_finished);
    if (taken == 0) return false;
    AppendKept(std::string_view(m_buffer).substr(m_pos, taken), line);
    m_pos += taken;
    return true;
}

std::size_t CLineSplitter::Join(std::string_view bytes, std::string& text) {
    std::size_t added = 0;
    if (!m_buffer.empty()) {
        // The unfinished line takes what it lacks from the front of the piece.
        const std::size_t room = kMaxLineBytes - m_buffer.size();
        const std::size_t window = std::min(bytes.size(), room);
        const void* lf = std::memchr(bytes.data(), '\n', window);
        const std::size_t take =
            lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1 : window;
        m_buffer.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (lf == nullptr && m_buffer.size() < kMaxLineBytes) return 0;
        added += AppendKept(m_buffer, text);
        m_buffer.clear();
    }
    // The lines this piece finishes end at its last line feed, then every
    // kMaxLineBytes after it; the rest is the unfinished line.
    const void* lastLf = memrchr(bytes.data(), '\n', bytes.size());
    const std::size_t lfEnd =
        lastLf == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(lastLf) - bytes.data()) + 1;
    const std::size_t finished = lfEnd + (bytes.size() - lfEnd) / kMaxLineBytes * kMaxLineBytes;
    std::string_view lines = bytes.substr(0, finished);
    m_buffer.assign(bytes.substr(finished));
    if (std::memchr(lines.data(), '\0', lines.size()) == nullptr &&
        std::memchr(lines.data(), '\r', lines.size()) == nullptr) {
        // Without zero bytes and carriage returns, where a line ends does not
        // matter: the text is the bytes without their line feeds.
        const std::size_t before = text.size();
        while (!lines.empty()) {
            const void* lf = std::memchr(lines.data(), '\n', lines.size());
            const std::size_t length =
                lf == nullptr ? lines.size() : static_cast<std::size_t>(static_cast<const char*>(lf) - lines.data());
            text.append(lines.substr(0, length));
            lines.remove_prefix(std::min(lines.size(), length + 1));
        }
        return added + (text.size() - before);
    }
    while (!lines.empty()) {
        const std::size_t taken = LineBytes(lines, true);
        added += AppendKept(lines.substr(0, taken), text);
        lines.remove_prefix(taken);
    }
    return added;
}

std::size_t CLineSplitter::JoinRest(std::string& text) {
    const std::size_t added = AppendKept(m_buffer, text);
    m_buffer.clear();
    return added;
}
