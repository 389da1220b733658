#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "crawl/Checksum.h"
#include "crawl/PageList.h"

namespace {

class CrawlStateTest : public ::testing::Test {
protected:
    StringList PageUrls() const {
        StringList urls;
        for (const PageRecord* r = list.Head(); r != nullptr; r = r->next) urls.push_back(r->url);
        return urls;
    }

    CPageList list;
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
        {"", 0},
        {"http://host/a.htm", 1},
        {"HTTP://HOST/a.htm", 0},
        {"*http://host/a.htm", 0},
        {"+http://Host/a.htm", 0},
        {"-http://host/a.htm", 0},
        {"*", 0},
        {"http://host/A.htm", 1},  // a path is case-sensitive on the server
        {"http://host/a.htm/", 1},
        {"http://host/a.htm?x", 1},  // slash and query make other pages
        {"https://host/a.htm", 1},
    };
    for (const auto& [url, expected] : steps) EXPECT_EQ(list.AddPage(url), expected) << url;
    EXPECT_EQ(PageUrls(), (StringList{"http://host/a.htm", "http://host/A.htm", "http://host/a.htm/",
                                      "http://host/a.htm?x", "https://host/a.htm"}));
}

TEST_F(CrawlStateTest, AddHitAppendsMissingRecordAndStoresEachHitOnce) {
    list.AddPage("http://host/first.htm");
    list.SetPageCrc(5);
    list.AddHit("+http://host/second.htm", "http://host/x.zip");
    list.SetPageCrc(7);
    list.AddHit("http://HOST/second.htm", "HTTP://HOST/x.zip");
    ASSERT_EQ(PageUrls(), (StringList{"http://host/first.htm", "http://host/second.htm"}));
    const PageRecord* second = list.Head()->next;
    EXPECT_EQ(second->hits, (StringList{"http://host/x.zip"}));
    EXPECT_EQ(second->crc, 5u) << "the checksum moves only when a hit is added";
    list.AddHit("!http://host/second.htm", "http://host/y.zip");
    EXPECT_EQ(second->crc, 7u);
    EXPECT_EQ(list.Head()->crc, 0u);
}

TEST_F(CrawlStateTest, AddHitWithDoublyMarkedEntryEnds) {
    const std::pair<std::string, StringList> cases[] = {
        {"*+http://host/a.htm", {"http://host/a.htm"}},
        {"*-http://host/a.htm", {"http://host/a.htm"}},
        {"*", {}},
        {"*+", {}},
    };
    for (const auto& [entry, pages] : cases) {
        list.Free();
        list.AddHit(entry, "x.zip");
        EXPECT_EQ(PageUrls(), pages) << entry;
        if (list.Head() != nullptr) {
            EXPECT_EQ(list.Head()->hits, StringList{"x.zip"}) << entry;
        }
    }
}

TEST_F(CrawlStateTest, IsNewContentFollowsChecksumOfLatestHit) {
    list.SetPageCrc(111);
    list.AddPage("http://host/nohits.htm");
    EXPECT_EQ(list.IsNewContent(), 1) << "a page that yielded nothing hides no twin";
    list.AddHit("http://host/p.htm", "a.zip");
    EXPECT_EQ(list.IsNewContent(), 0);
    list.SetPageCrc(222);
    list.AddHit("http://host/p.htm", "b.zip");
    list.AddHit("http://host/q.htm", "c.zip");
    list.SetPageCrc(111);
    EXPECT_EQ(list.IsNewContent(), 1) << "no record carries the first checksum any more";
    list.AddHit("http://host/q.htm", "d.zip");
    EXPECT_EQ(list.IsNewContent(), 0) << "a checksum given up and taken again counts again";
    list.SetPageCrc(222);
    EXPECT_EQ(list.IsNewContent(), 0) << "p still carries it";
    list.SetPageCrc(0);
    EXPECT_EQ(list.IsNewContent(), 1);
    list.Free();
    list.SetPageCrc(222);
    EXPECT_EQ(list.IsNewContent(), 1);
}

TEST_F(CrawlStateTest, ManyPagesKeepOrderAndAreFoundIgnoringHostCase) {
    constexpr int kPages = 5000;
    for (int i = 0; i < kPages; ++i) {
        list.SetPageCrc(static_cast<std::uint32_t>(i + 1));
        list.AddHit("http://host/p" + std::to_string(i) + ".htm", "x.zip");
    }
    StringList urls = PageUrls();
    ASSERT_EQ(urls.size(), static_cast<std::size_t>(kPages));
    for (int i = 0; i < kPages; ++i) {
        ASSERT_EQ(urls[static_cast<std::size_t>(i)], "http://host/p" + std::to_string(i) + ".htm");
        ASSERT_EQ(list.AddPage("HTTP://HOST/p" + std::to_string(i) + ".htm"), 0) << i;
        list.SetPageCrc(static_cast<std::uint32_t>(i + 1));
        ASSERT_EQ(list.IsNewContent(), 0) << i;
    }
}

// A freed list is filled again from its head, and its indexes know nothing of
// the records it had; the checksum of the page in process is the page's, not the list's.
TEST_F(CrawlStateTest, FreedListForgetsItsPagesAndStartsAnew) {
    list.SetPageCrc(9);
    list.AddHit("http://host/old.htm", "x.zip");
    list.AddPage("http://host/other.htm");
    EXPECT_GT(list.Bytes(), 0u);
    list.Free();
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Bytes(), 0u);
    EXPECT_EQ(list.PageCrc(), 9u);
    EXPECT_EQ(list.IsNewContent(), 1);
    EXPECT_FALSE(list.IsKnownPage("http://host/old.htm"));
    EXPECT_EQ(list.AddPage("http://host/old.htm"), 1);
    list.AddHit("http://host/new.htm", "y.zip");
    EXPECT_EQ(list.IsNewContent(), 0);
    ASSERT_EQ(PageUrls(), (StringList{"http://host/old.htm", "http://host/new.htm"}));
    EXPECT_EQ(list.Head()->next->hits, StringList{"y.zip"});
}
