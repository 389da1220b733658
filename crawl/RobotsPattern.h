#pragma once
// The path of an Allow or Disallow line in robots.txt and the test whether a
// page's path falls under it.
//
// Paths are compared as octets with every valid "%XX" decoded, in the path of
// the page as in the pattern: "/~someone" and "/%7esomeone", "/ツ" and
// "/%E3%83%84", "?to=https://x" and "?to=https%3A%2F%2Fx" are the same. So an
// octet may be written encoded or not, in either case of hex digit, and still
// compare equal. A "%" not followed by two hex digits is an octet of its own.
//
// In a pattern, "*" stands for any run of octets and a "$" at its very end
// means the path must end there; written encoded ("%2A", "%24") they are
// plain octets. A pattern matches a path that begins with what it describes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// `text` with every valid "%XX" replaced by its octet.
std::string DecodedRobotsPath(std::string_view text);

class CRobotsPattern {
public:
    // From the path as written after "Allow:" or "Disallow:", not empty.
    explicit CRobotsPattern(std::string_view written);

    // Whether the pattern matches the start of `path` (or all of it, when
    // anchored). `path` is decoded already (DecodedRobotsPath). Takes time in
    // proportion to the lengths of path and pattern, whatever their content.
    bool Matches(std::string_view path) const;

    // How specific the pattern is: its octets, each "*" and the end mark
    // count one each. Of all patterns that match a path, the most specific decides.
    std::size_t Specificity() const { return m_octets.size() + (m_segmentEnds.size() - 1) + (m_anchored ? 1 : 0); }

private:
    std::string_view Segment(std::size_t k) const;
    // Where segment k first occurs in `path` from `from` on, or npos.
    std::size_t Find(std::size_t k, std::string_view path, std::size_t from) const;

    // The literal runs between the "*"s, one after the other; segment k ends at
    // m_segmentEnds[k]. A pattern without "*" has one segment.
    std::string m_octets;
    std::vector<std::uint32_t> m_segmentEnds;
    // For each octet, the length of the longest proper prefix of its segment
    // that also ends there: a search that fails after it resumes from that
    // length instead of starting over, so that no path octet is read twice.
    std::vector<std::uint32_t> m_fallback;
    bool m_anchored = false;
};
