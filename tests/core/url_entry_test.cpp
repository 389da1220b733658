#include <gtest/gtest.h>

#include <string>

#include "project/UrlEntry.h"

namespace {

TEST(UrlEntry, FirstCharacterAloneGivesTheModeAndIsStripped) {
    struct Case {
        std::string entry;
        UrlMode mode;
        std::string stripped;
    };
    const Case cases[] = {
        {"", UrlMode::Default, ""},
        {"http://a/", UrlMode::Default, "http://a/"},
        {" +http://a/", UrlMode::Default, " +http://a/"},
        {"+http://a/", UrlMode::SubdirsOnly, "http://a/"},
        {"*http://a/", UrlMode::NonRecursive, "http://a/"},
        {"!banner", UrlMode::Exclude, "banner"},
        {"++http://a/", UrlMode::SubdirsOnly, "+http://a/"},
        {"!", UrlMode::Exclude, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UrlEntryMode(c.entry), c.mode) << c.entry;
        EXPECT_EQ(StripUrlPrefix(c.entry), c.stripped) << c.entry;
    }
}

TEST(UrlEntry, WithPrefixReplacesTheModeCharacter) {
    struct Case {
        std::string entry;
        UrlMode mode;
        std::string result;
    };
    const Case cases[] = {
        {"+http://a/b/", UrlMode::Exclude, "!http://a/b/"},
        {"+http://a/b/", UrlMode::Default, "http://a/b/"},
        {"http://a/", UrlMode::SubdirsOnly, "+http://a/"},
        {"!http://a/", UrlMode::NonRecursive, "*http://a/"},
        {"", UrlMode::Exclude, "!"},
        {"", UrlMode::Default, ""},
        {"+", UrlMode::Default, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(WithUrlPrefix(c.entry, c.mode), c.result) << c.entry;
}

TEST(UrlEntry, SyntaxCheck) {
    struct Case {
        std::string typed;
        bool passes;
        std::string trimmed;
    };
    const Case cases[] = {
        {"http://www.example.com/", true, "http://www.example.com/"},
        {"HTTP://WWW.EXAMPLE.COM/", true, "HTTP://WWW.EXAMPLE.COM/"},
        {"+http://a/docs/", true, "+http://a/docs/"},
        {"*http://a/", true, "*http://a/"},
        {"!http://a/ads/", true, "!http://a/ads/"},
        {"  \thttp://a/ \r\n", true, "http://a/"},
        {" +http://a/ ", true, "+http://a/"},
        {"http://", true, "http://"},
        {"++http://a/", false, "++http://a/"},
        {"https://a/", true, "https://a/"},
        {"*HTTPS://a/", true, "*HTTPS://a/"},
        {"https:/a/", false, "https:/a/"},
        {"+*https://a/", false, "+*https://a/"},
        {"ftp://a/", false, "ftp://a/"},
        {"http:/", false, "http:/"},
        {"www.example.com", false, "www.example.com"},
        {"", false, ""},
        {"+", false, "+"},
        {"+ http://a/", false, "+ http://a/"},
    };
    for (const Case& c : cases) {
        std::string trimmed = "left over";
        EXPECT_EQ(CheckUrlEntry(c.typed, trimmed), c.passes) << "typed: [" << c.typed << "]";
        EXPECT_EQ(trimmed, c.trimmed) << "typed: [" << c.typed << "]";
    }
}

TEST(UrlEntry, SyntaxMessageIsTheProgramsText) {
    EXPECT_STREQ(kUrlSyntaxMessage,
                 "Syntax error: start URLs with http:// for recursively (standard) search, "
                 "*http:// for a non recursively search,\n !http:// to exclude URLS from search "
                 "and +http:// to search only inside a given (sub)directory!");
}

TEST(UrlEntry, NewProjectPlaceholderIgnoresCase) {
    for (const char* name : {"new", "New", "NEW", "nEw"}) EXPECT_TRUE(IsNewProjectName(name)) << name;
    for (const char* name : {"", "ne", "news", " new", "new ", "new.nsp", "NEW1"})
        EXPECT_FALSE(IsNewProjectName(name)) << name;
}

}  // namespace
