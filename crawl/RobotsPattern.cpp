#include "crawl/RobotsPattern.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The octet that a "%XX" at `at` stands for, or -1 when none stands there.
int EncodedOctetAt(std::string_view text, std::size_t at) {
    if (text[at] != '%' || at + 2 >= text.size()) return -1;
    const int high = HexValue(text[at + 1]);
    const int low = HexValue(text[at + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

}  // namespace

std::string DecodedRobotsPath(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const int octet = EncodedOctetAt(text, i); octet >= 0) {
            out.push_back(static_cast<char>(octet));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

CRobotsPattern::CRobotsPattern(std::string_view written) {
    if (!written.empty() && written.back() == '$') {
        m_anchored = true;
        written.remove_suffix(1);
    }
    m_octets.reserve(written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '*') {
            // A run of "*" says no more than one.
            if (i == 0 || written[i - 1] != '*') m_segmentEnds.push_back(static_cast<std::uint32_t>(m_octets.size()));
        } else if (const int octet = EncodedOctetAt(written, i); octet >= 0) {
            m_octets.push_back(static_cast<char>(octet));
            i += 2;
        } else {
            m_octets.push_back(written[i]);
        }
    }
    m_segmentEnds.push_back(static_cast<std::uint32_t>(m_octets.size()));

    m_fallback.assign(m_octets.size(), 0);
    std::uint32_t begin = 0;
    for (std::uint32_t end : m_segmentEnds) {
        std::uint32_t border = 0;
        for (std::uint32_t i = begin + 1; i < end; ++i) {
            while (border > 0 && m_octets[i] != m_octets[begin + border]) border = m_fallback[begin + border - 1];
            if (m_octets[i] == m_octets[begin + border]) ++border;
            m_fallback[i] = border;
        }
        begin = end;
    }
}

std::string_view CRobotsPattern::Segment(std::size_t k) const {
    const std::size_t begin = k == 0 ? 0 : m_segmentEnds[k - 1];
    return std::string_view(m_octets).substr(begin, m_segmentEnds[k] - begin);
}

std::size_t CRobotsPattern::Find(std::size_t k, std::string_view path, std::size_t from) const {
    const std::string_view segment = Segment(k);
    if (segment.empty()) return from;
    if (path.size() - from < segment.size()) return std::string_view::npos;
    const std::size_t base = k == 0 ? 0 : m_segmentEnds[k - 1];
    std::size_t matched = 0;
    for (std::size_t i = from; i < path.size(); ++i) {
        while (matched > 0 && path[i] != segment[matched]) matched = m_fallback[base + matched - 1];
        if (path[i] == segment[matched]) ++matched;
        if (matched == segment.size()) return i + 1 - segment.size();
    }
    return std::string_view::npos;
}

bool CRobotsPattern::Matches(std::string_view path) const {
    const std::string_view first = Segment(0);
    if (!path.starts_with(first)) return false;
    const std::size_t last = m_segmentEnds.size() - 1;
    if (last == 0) return !m_anchored || path.size() == first.size();
    // Each run between two "*" is taken where it first occurs: that leaves the
    // most of the path to the runs after it, so if any placement matches, this one does.
    std::size_t at = first.size();
    for (std::size_t k = 1; k < (m_anchored ? last : last + 1); ++k) {
        const std::size_t found = Find(k, path, at);
        if (found == std::string_view::npos) return false;
        at = found + Segment(k).size();
    }
    if (!m_anchored) return true;
    const std::string_view tail = Segment(last);
    return path.size() - at >= tail.size() && path.ends_with(tail);
}
