#include "crawl/LineSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// All lines of `body`, fed in pieces of `piece` bytes (0: all at once).
std::vector<std::string> Split(const std::string& body, std::size_t piece = 0) {
    CLineSplitter splitter;
    std::vector<std::string> lines;
    std::string line;
    const std::size_t step = piece == 0 ? std::max<std::size_t>(body.size(), 1) : piece;
    for (std::size_t at = 0; at < body.size(); at += step) {
        splitter.Feed(std::string_view(body).substr(at, step));
        while (splitter.Next(line)) lines.push_back(line);
    }
    splitter.Finish();
    while (splitter.Next(line)) lines.push_back(line);
    EXPECT_TRUE(line.empty());
    EXPECT_TRUE(splitter.Exhausted());
    return lines;
}

struct SplitCase {
    const char* name;
    std::string body;
    std::vector<std::string> lines;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

std::vector<SplitCase> Cases() {
    using namespace std::string_literals;
    return {
        {"CrLf", "ab\r\ncd", {"ab", "cd"}},
        {"LfOnly", "ab\ncd\n", {"ab", "cd"}},
        {"LongLineIn127ByteCuts", Repeat('x', 300) + "\n", {Repeat('x', 127), Repeat('x', 127), Repeat('x', 46)}},
        {"NoFinalLineFeed", "one\ntwo", {"one", "two"}},
        {"EmptyBody", "", {}},
        {"EmptyLines", "\n\r\n\n", {"", "", ""}},
        {"LoneCarriageReturnsDropped", "a\rb\r", {"ab"}},
        {"ZeroByteEndsLine", "ab\0cd\nef"s, {"ab", "ef"}},
        {"ZeroByteFirst", "\0abc\n"s, {""}},
        // The 127 count includes the carriage returns that are not kept.
        {"CarriageReturnsCounted", Repeat('\r', 100) + Repeat('y', 30) + "\n", {Repeat('y', 27), Repeat('y', 3)}},
        // A line of exactly 127 bytes is cut before its line feed, which then makes a line of its own.
        {"Exactly127ThenLineFeed", Repeat('z', 127) + "\n", {Repeat('z', 127), ""}},
        {"CrLfAcrossTheCut", Repeat('z', 126) + "\r\nq", {Repeat('z', 126), "", "q"}},
        {"Exactly126ThenLineFeed", Repeat('z', 126) + "\nq", {Repeat('z', 126), "q"}},
        {"LineFeedOnly", "\n", {""}},
        {"HighBytesKept", "\xe4\xf6\xfc\n", {"\xe4\xf6\xfc"}},
    };
}

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

// The page's text joined straight from the pieces, as the fetcher builds it.
std::string Joined(const std::string& body, std::size_t piece) {
    CLineSplitter splitter;
    std::string text;
    std::size_t added = 0;
    for (std::size_t at = 0; at < body.size(); at += piece)
        added += splitter.Join(std::string_view(body).substr(at, piece), text);
    added += splitter.JoinRest(text);
    EXPECT_EQ(added, text.size());
    return text;
}

TEST_P(SplitTable, WholeBodyAndEveryPieceSizeGiveTheSameLines) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(Split(c.body), c.lines);
    std::string text;
    for (const std::string& line : c.lines) text += line;
    for (std::size_t piece : {1u, 2u, 7u, 127u, 128u, 4096u}) {
        EXPECT_EQ(Split(c.body, piece), c.lines) << "pieces of " << piece;
        EXPECT_EQ(Joined(c.body, piece), text) << "joined from pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(LineSplitter, SplitTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LineSplitter, UnfinishedBodyHoldsBackAShortLine) {
    CLineSplitter splitter;
    std::string line = "stale";
    splitter.Feed("abc");
    EXPECT_FALSE(splitter.Next(line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(splitter.Exhausted());
    splitter.Feed("def\ng");
    ASSERT_TRUE(splitter.Next(line));
    EXPECT_EQ(line, "abcdef");
    EXPECT_FALSE(splitter.Next(line));
    splitter.Finish();
    ASSERT_TRUE(splitter.Next(line));
    EXPECT_EQ(line, "g");
    EXPECT_FALSE(splitter.Next(line));
    EXPECT_FALSE(splitter.Next(line));
}

}  // namespace
