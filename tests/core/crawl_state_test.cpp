#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "crawl/Checksum.h"
#include "crawl/CrawlState.h"

namespace {

StringList PageUrls() {
    StringList urls;
    for (PageRecord* r = g_PageList; r != nullptr; r = r->next) urls.push_back(r->url);
    return urls;
}

class CrawlStateTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        FreePageList();
        g_PageCrc = 0;
    }
};

}  // namespace

TEST(PageChecksumTest, IsXxh3OfTheWholeText) {
    EXPECT_EQ(PageChecksum(""), 0x2D06800538D394C2u);
    EXPECT_EQ(PageChecksum("abc"), 0x78AF5F94892F3950u);
    // Every byte counts, high bytes and zero bytes too, wherever it stands.
    std::mt19937 gen(7);
    std::string text(4096, '\0');
    for (char& c : text) c = static_cast<char>(gen() & 0xFF);
    const std::uint64_t whole = PageChecksum(text);
    for (std::size_t at : {std::size_t{0}, std::size_t{2047}, std::size_t{4095}}) {
        std::string changed = text;
        changed[at] = static_cast<char>(changed[at] ^ 0x80);
        EXPECT_NE(PageChecksum(changed), whole) << at;
    }
}

TEST_F(CrawlStateTest, AddPageKeepsOneRecordPerUrlIgnoringSchemeAndHostCaseAndMark) {
    const std::pair<std::string, int> steps[] = {
        {"", 0}, {"http://host/a.htm", 1}, {"HTTP://HOST/a.htm", 0}, {"*http://host/a.htm", 0},
        {"+http://Host/a.htm", 0}, {"-http://host/a.htm", 0}, {"*", 0},
        {"http://host/A.htm", 1},  // a path is case-sensitive on the server
        {"http://host/a.htm/", 1}, {"http://host/a.htm?x", 1},  // slash and query make other pages
        {"https://host/a.htm", 1},
    };
    for (const auto& [url, expected] : steps) EXPECT_EQ(AddPage(url), expected) << url;
    EXPECT_EQ(PageUrls(), (StringList{"http://host/a.htm", "http://host/A.htm", "http://host/a.htm/",
                                      "http://host/a.htm?x", "https://host/a.htm"}));
}

TEST_F(CrawlStateTest, AddHitAppendsMissingRecordAndStoresEachHitOnce) {
    AddPage("http://host/first.htm");
    g_PageCrc = 5;
    AddHit("+http://host/second.htm", "http://host/x.zip");
    g_PageCrc = 7;
    AddHit("http://HOST/second.htm", "HTTP://HOST/x.zip");
    ASSERT_EQ(PageUrls(), (StringList{"http://host/first.htm", "http://host/second.htm"}));
    PageRecord* second = g_PageList->next;
    EXPECT_EQ(second->hits, (StringList{"http://host/x.zip"}));
    EXPECT_EQ(second->crc, 5u) << "the checksum moves only when a hit is added";
    AddHit("!http://host/second.htm", "http://host/y.zip");
    EXPECT_EQ(second->crc, 7u);
    EXPECT_EQ(g_PageList->crc, 0u);
}

TEST_F(CrawlStateTest, AddHitWithDoublyMarkedEntryEnds) {
    const std::pair<std::string, StringList> cases[] = {
        {"*+http://host/a.htm", {"http://host/a.htm"}},
        {"*-http://host/a.htm", {"http://host/a.htm"}},
        {"*", {}},
        {"*+", {}},
    };
    for (const auto& [entry, pages] : cases) {
        FreePageList();
        AddHit(entry, "x.zip");
        EXPECT_EQ(PageUrls(), pages) << entry;
        if (g_PageList != nullptr) {
            EXPECT_EQ(g_PageList->hits, StringList{"x.zip"}) << entry;
        }
    }
}

TEST_F(CrawlStateTest, IsNewContentFollowsChecksumOfLatestHit) {
    g_PageCrc = 111;
    AddPage("http://host/nohits.htm");
    EXPECT_EQ(IsNewContent(), 1) << "a page that yielded nothing hides no twin";
    AddHit("http://host/p.htm", "a.zip");
    EXPECT_EQ(IsNewContent(), 0);
    g_PageCrc = 222;
    AddHit("http://host/p.htm", "b.zip");
    AddHit("http://host/q.htm", "c.zip");
    g_PageCrc = 111;
    EXPECT_EQ(IsNewContent(), 1) << "no record carries the first checksum any more";
    AddHit("http://host/q.htm", "d.zip");
    EXPECT_EQ(IsNewContent(), 0) << "a checksum given up and taken again counts again";
    g_PageCrc = 222;
    EXPECT_EQ(IsNewContent(), 0) << "p still carries it";
    g_PageCrc = 0;
    EXPECT_EQ(IsNewContent(), 1);
    FreePageList();
    g_PageCrc = 222;
    EXPECT_EQ(IsNewContent(), 1);
}

TEST_F(CrawlStateTest, ManyPagesKeepOrderAndAreFoundIgnoringHostCase) {
    constexpr int kPages = 5000;
    for (int i = 0; i < kPages; ++i) {
        g_PageCrc = static_cast<std::uint32_t>(i + 1);
        AddHit("http://host/p" + std::to_string(i) + ".htm", "x.zip");
    }
    StringList urls = PageUrls();
    ASSERT_EQ(urls.size(), static_cast<std::size_t>(kPages));
    for (int i = 0; i < kPages; ++i) {
        ASSERT_EQ(urls[static_cast<std::size_t>(i)], "http://host/p" + std::to_string(i) + ".htm");
        ASSERT_EQ(AddPage("HTTP://HOST/p" + std::to_string(i) + ".htm"), 0) << i;
        g_PageCrc = static_cast<std::uint32_t>(i + 1);
        ASSERT_EQ(IsNewContent(), 0) << i;
    }
}

TEST_F(CrawlStateTest, ListDroppedOrLinkedOnByHandIsFollowed) {
    g_PageCrc = 9;
    AddHit("http://host/old.htm", "x.zip");
    PageRecord* dropped = g_PageList;
    g_PageList = nullptr;  // dropped without FreePageList
    EXPECT_EQ(IsNewContent(), 1);
    EXPECT_EQ(AddPage("http://host/old.htm"), 1);
    delete dropped;

    auto* extra = new PageRecord;
    extra->url = "http://host/hand.htm";
    extra->hits = {"y.zip"};
    extra->crc = 9;
    g_PageList->next = extra;
    EXPECT_EQ(AddPage("HTTP://HOST/hand.htm"), 0);
    EXPECT_EQ(IsNewContent(), 0);
    AddHit("http://host/hand.htm", "y.zip");
    EXPECT_EQ(extra->hits, StringList{"y.zip"});
    AddPage("http://host/new.htm");
    EXPECT_EQ(PageUrls(), (StringList{"http://host/old.htm", "http://host/hand.htm", "http://host/new.htm"}));
}
