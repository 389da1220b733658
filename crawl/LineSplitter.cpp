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

std::size_t CLineSplitter::NextLineBytes() const {
    const std::size_t available = Pending();
    const std::size_t window = std::min(available, kMaxLineBytes);
    const char* start = m_buffer.data() + m_pos;
    if (const void* lf = std::memchr(start, '\n', window))
        return static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
    if (available >= kMaxLineBytes) return kMaxLineBytes;
    return m_finished ? available : 0;
}

bool CLineSplitter::HasLine() const { return NextLineBytes() != 0; }

bool CLineSplitter::Next(std::string& line) {
    line.clear();
    const std::size_t taken = NextLineBytes();
    if (taken == 0) return false;

    std::string_view bytes(m_buffer.data() + m_pos, taken);
    m_pos += taken;
    if (bytes.back() == '\n') bytes.remove_suffix(1);
    if (const void* zero = std::memchr(bytes.data(), '\0', bytes.size()))
        bytes = bytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - bytes.data()));
    // Most lines hold no carriage return at all, or only one at their end.
    if (std::memchr(bytes.data(), '\r', bytes.size()) == nullptr) {
        line.assign(bytes);
        return true;
    }
    for (char c : bytes)
        if (c != '\r') line.push_back(c);
    return true;
}
