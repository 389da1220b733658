#include "crawl/RobotsTxt.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kAgent = "netzspurer-crawl";

struct AllowCase {
    const char* name;
    std::string robots;
    std::vector<std::pair<std::string, bool>> allowed;  // path and query, and whether the crawler may fetch it
};

std::vector<AllowCase> AllowCases() {
    return {
        // Rules and their order of precedence.
        {"Example",
         "User-agent: *\nDisallow: *.gif$\nDisallow: /example/\nAllow: /publications/\n",
         {{"/example/a.html", false},
          {"/publications/", true},
          {"/x.gif", false},
          {"/x.gif?size=2", true},
          {"/", true}}},
        {"LongestMatch",
         "User-Agent: *\nDisallow: /\nAllow: /example/page.html\nAllow: /example/allowed.gif\n"
         "Disallow: /example/page/disallowed.gif\n",
         {{"/example/page.html", true},
          {"/example/allowed.gif", true},
          {"/example/page/disallowed.gif", false},
          {"/example/other", false}}},
        {"TieGoesToAllow", "User-agent: *\nDisallow: /page\nAllow: /page\n", {{"/page", true}, {"/pages", true}}},
        {"AnchorCountsTowardsLength",
         "User-agent: *\nAllow: /$\nDisallow: /\n",
         {{"/", true}, {"", true}, {"/page", false}}},
        {"WildcardCountsTowardsLength",
         "User-agent: *\nAllow: /page\nDisallow: /*.html\n",
         {{"/page.html", false}, {"/page", true}}},
        {"AnchoredWildcard",
         "User-agent: *\nDisallow: /*.php$\n",
         {{"/a.php", false}, {"/f/a.php", false}, {"/a.php?x", true}, {"/a.php5", true}}},
        // The runs around a "*" must not overlap.
        {"RepeatedRunsNeedRoom",
         "User-agent: *\nDisallow: /*aa*aa$\n",
         {{"/aaa", true}, {"/aaaa", false}, {"/xaayaa", false}, {"/aaxa", true}}},
        {"DollarInsideIsLiteral", "User-agent: *\nDisallow: /a$b\n", {{"/a$b", false}, {"/a", true}}},
        {"EmptyDisallowAllows", "User-agent: *\nDisallow:\n", {{"/", true}, {"/x", true}}},
        {"RobotsTxtAlwaysAllowed", "User-agent: *\nDisallow: /\n", {{"/robots.txt", true}, {"/robots.txt.bak", false}}},
        // Octets compare equal however they are written.
        {"EncodedQueryEqualsPlain",
         "User-agent: *\nDisallow: /foo/bar?baz=https://foo.bar\n",
         {{"/foo/bar?baz=https%3A%2F%2Ffoo.bar", false}, {"/foo/bar?baz=https%3a%2f%2ffoo.bar", false}}},
        {"PlainQueryEqualsEncoded",
         "User-agent: *\nDisallow: /foo/bar?baz=https%3A%2F%2Ffoo.bar\n",
         {{"/foo/bar?baz=https://foo.bar", false}, {"/foo/bar?baz=http://foo.bar", true}}},
        {"EncodedTilde",
         "User-agent: *\nDisallow: /%7Esomeone\nDisallow: /~other\n",
         {{"/~someone/", false}, {"/%7eother", false}, {"/%7Enobody", true}}},
        {"Utf8EqualsEncoded",
         "User-agent: *\nDisallow: /foo/bar/\xE3\x83\x84\nDisallow: /%e3%81%82\n",
         {{"/foo/bar/%E3%83%84", false}, {"/foo/bar/%e3%83%84", false}, {"/\xE3\x81\x82", false}, {"/foo/bar/", true}}},
        {"EncodedStarIsLiteral",
         "User-agent: *\nDisallow: /a%2Ab\n",
         {{"/a*b", false}, {"/a%2ab", false}, {"/axb", true}}},
        {"BrokenEscapeIsLiteral",
         "User-agent: *\nDisallow: /%zz\nDisallow: /end%4\n",
         {{"/%zz", false}, {"/zz", true}, {"/end%4", false}, {"/end", true}}},
        // Which groups the crawler obeys.
        {"NamedGroupOverAnyone",
         "User-agent: *\nDisallow: /\n\nUser-agent: netzspurer-crawl\nDisallow: /private\n",
         {{"/x", true}, {"/private/a", false}}},
        {"NamedGroupsCombined",
         "User-agent: netzspurer-crawl\nDisallow: /a\nUser-agent: other\nDisallow: /b\n"
         "User-agent: NETZSPURER-CRAWL\nDisallow: /c\n",
         {{"/a", false}, {"/b", true}, {"/c", false}}},
        {"SeveralAgentsOneGroup",
         "User-agent: other\nUser-agent: Netzspurer-Crawl/1.0 (+https://x)\nDisallow: /x\n",
         {{"/x", false}, {"/y", true}}},
        {"TokenMustBeWhole",
         "User-agent: netzspurer\nDisallow: /\nUser-agent: netzspurer-crawler\nDisallow: /\n",
         {{"/x", true}}},
        {"NamedGroupWithoutRulesAllows",
         "User-agent: netzspurer-crawl\nDisallow:\n\nUser-agent: *\nDisallow: /\n",
         {{"/x", true}}},
        {"StarMustStandAlone", "User-agent: *bot\nDisallow: /\n", {{"/x", true}}},
        {"RulesBeforeAnyGroupIgnored", "Disallow: /\nUser-agent: *\nDisallow: /x\n", {{"/y", true}, {"/x", false}}},
        // How lines are read.
        {"CommentsBomCrLf",
         "\xEF\xBB\xBFUser-agent: * # everyone\r\nDisallow: /x # not x\r\n# Disallow: /y\r\n",
         {{"/x", false}, {"/y", true}}},
        {"CarriageReturnsOnly", "User-agent: *\rDisallow: /x\rAllow: /x/y\r", {{"/x", false}, {"/x/y", true}}},
        {"KeysInAnyCaseAndBlanks", "  USER-AGENT  :\t*  \n\tdisALLOW :   /x  \n", {{"/x", false}, {"/", true}}},
        {"LinesWithoutColonOrUnknownKeyIgnored",
         "User-agent: *\nDisallow /x\nNoindex: /y\nDisallow: /z\n",
         {{"/x", true}, {"/y", true}, {"/z", false}}},
    };
}

class RobotsAllowTable : public ::testing::TestWithParam<AllowCase> {};

TEST_P(RobotsAllowTable, DecidesEachPath) {
    const AllowCase& c = GetParam();
    const CRobotsTxt robots = CRobotsTxt::Parse(c.robots, kAgent);
    for (const auto& [path, allowed] : c.allowed) EXPECT_EQ(robots.Allows(path), allowed) << path;
}

INSTANTIATE_TEST_SUITE_P(RobotsTxt, RobotsAllowTable, ::testing::ValuesIn(AllowCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RobotsTxt, CrawlDelayOfTheObeyedGroups) {
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"User-agent: *\nDisallow: /x\n", std::nullopt},
        {"User-agent: *\nCrawl-delay: 2.5\n", 2.5},
        {"User-agent: *\ncrawl-DELAY: 0\n", 0.0},
        {"User-agent: *\nCrawl-delay: -1\nCrawl-delay: soon\nCrawl-delay: 5s\nCrawl-delay: 1e3\nCrawl-delay: 4\n", 4.0},
        {"User-agent: *\nCrawl-delay: 3600\n", kMaxCrawlDelaySeconds},
        {"User-agent: *\nCrawl-delay: 1\nUser-agent: netzspurer-crawl\nCrawl-delay: 3\n", 3.0},
        {"User-agent: *\nCrawl-delay: 1\nUser-agent: netzspurer-crawl\nDisallow: /x\n", std::nullopt},
        // A Crawl-delay belongs to its group: the User-agent line after it starts another.
        {"User-agent: netzspurer-crawl\nCrawl-delay: 7\nUser-agent: other\nCrawl-delay: 9\n", 7.0},
    };
    for (const auto& [robots, delay] : cases)
        EXPECT_EQ(CRobotsTxt::Parse(robots, kAgent).CrawlDelay(), delay) << robots;
}

TEST(RobotsTxt, LongFileIsReadUpToItsLastWholeLineWithinTheBound) {
    std::string robots = "User-agent: *\nDisallow: /early\n";
    robots += std::string(kMaxRobotsTxtBytes - 12 - robots.size() - 1, '#') + "\n";
    robots += "Disallow: /cut\nDisallow: /late\n";
    ASSERT_EQ(robots.substr(kMaxRobotsTxtBytes - 12, 12), "Disallow: /c");  // the bound cuts this line
    const CRobotsTxt cut = CRobotsTxt::Parse(robots, kAgent);
    EXPECT_FALSE(cut.Allows("/early"));
    EXPECT_TRUE(cut.Allows("/c"));
    EXPECT_TRUE(cut.Allows("/cut"));
    EXPECT_TRUE(cut.Allows("/late"));

    // A line that ends right at the bound is whole.
    std::string edge = "User-agent: *\n";
    edge += std::string(kMaxRobotsTxtBytes - edge.size() - 16, '#') + "\nDisallow: /edge\nDisallow: /late\n";
    ASSERT_EQ(edge[kMaxRobotsTxtBytes], '\n');
    EXPECT_FALSE(CRobotsTxt::Parse(edge, kAgent).Allows("/edge"));
    EXPECT_TRUE(CRobotsTxt::Parse(edge, kAgent).Allows("/late"));
}

TEST(RobotsTxt, AllowAllAndDisallowAll) {
    const CRobotsTxt all = CRobotsTxt::AllowAll();
    const CRobotsTxt none = CRobotsTxt::DisallowAll();
    for (std::string_view path : {"", "/", "/x?y=1", "?q"}) {
        EXPECT_TRUE(all.Allows(path)) << path;
        EXPECT_FALSE(none.Allows(path)) << path;
    }
    EXPECT_TRUE(none.Allows("/robots.txt"));
    EXPECT_EQ(all.CrawlDelay(), std::nullopt);
    EXPECT_EQ(none.CrawlDelay(), std::nullopt);
}

// Whether `pattern` ("*" any run, a final "$" the end) matches the start of
// `path`, tried every way there is.
bool MatchesByTrial(std::string_view pattern, std::string_view path) {
    if (pattern.empty()) return true;
    if (pattern == "$") return path.empty();
    if (pattern[0] == '*') {
        for (std::size_t skip = 0; skip <= path.size(); ++skip)
            if (MatchesByTrial(pattern.substr(1), path.substr(skip))) return true;
        return false;
    }
    return !path.empty() && path[0] == pattern[0] && MatchesByTrial(pattern.substr(1), path.substr(1));
}

TEST(RobotsPattern, AgreesWithTryingEveryPlacement) {
    std::mt19937 random(9309);
    auto pick = [&](std::string_view alphabet, std::size_t maxLength) {
        std::string text(random() % (maxLength + 1), ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string pattern = "/" + pick("ab*", 7) + (random() % 3 == 0 ? "$" : "");
        const std::string path = "/" + pick("ab", 10);
        EXPECT_EQ(CRobotsPattern(pattern).Matches(path), MatchesByTrial(pattern, path)) << pattern << " " << path;
    }
}

TEST(RobotsTxt, ArbitraryBytesAreReadWithoutFault) {
    std::mt19937 random(42);
    const std::vector<std::string> pieces = {"User-agent:",
                                             " * ",
                                             "netzspurer-crawl",
                                             "Allow:",
                                             "Disallow:",
                                             "Crawl-delay:",
                                             "/",
                                             "*",
                                             "$",
                                             "%",
                                             "%4",
                                             "%zz",
                                             "#",
                                             ":",
                                             "\r",
                                             "\n",
                                             "\r\n",
                                             "\xEF\xBB\xBF",
                                             std::string(1, '\0'),
                                             "\xFF"};
    for (int round = 0; round < 2000; ++round) {
        std::string robots;
        std::string path;
        for (int n = random() % 60; n > 0; --n) {
            robots +=
                random() % 4 == 0 ? std::string(1, static_cast<char>(random())) : pieces[random() % pieces.size()];
            path += pieces[random() % pieces.size()];
        }
        const CRobotsTxt parsed = CRobotsTxt::Parse(robots, kAgent);
        parsed.Allows(path);
        parsed.Allows("/" + path);
        if (const auto delay = parsed.CrawlDelay()) {
            EXPECT_GE(*delay, 0.0);
            EXPECT_LE(*delay, kMaxCrawlDelaySeconds);
        }
    }
}

}  // namespace
