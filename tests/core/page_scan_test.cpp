// A page read once: of the links it follows, the first to each page is the one
// the worker queues, whether a later link repeats it byte for byte or names the
// same page otherwise.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "crawl/PageScan.h"

namespace {

// `text` as the page http://host/dir/page.html, with ".ZIP" for a pattern.
std::shared_ptr<PageScan> ScanInDir(const std::string& text) {
    PageRequest request;
    request.url = "http://host/dir/page.html";
    return ScanPage(text, request, "", MakeCrawlRules({}, {".ZIP"}, 0), nullptr);
}

TEST(PageScanTest, OnlyTheFirstLinkToEachPageIsQueued) {
    // The same text again is left out of the scan unless it is a hit, which counts each time.
    const std::string text =
        "<a href=\"a.html\"> <a href=\"a.html#top\"> <a href=\"HTTP://Host/dir/a.html\">"
        " <a href=\"b.html\"> <a href=\"a.html\"> <a href=\"caf%c3%A9.html\"> <a href=\"caf%C3%a9.html\">"
        " <a href=\"A.html\"> <a href=\"x.zip\"> <a href=\"x.zip\"> <a href=\"s.html?.zip\"> <a href=\"s.html?.zip\">";
    const auto scan = ScanInDir(text);
    ASSERT_NE(scan, nullptr);

    std::vector<std::string> queued;
    for (std::uint32_t i : scan->follows) queued.emplace_back(scan->Follow(i));
    EXPECT_EQ(queued, (std::vector<std::string>{"http://host/dir/a.html", "http://host/dir/b.html",
                                                "http://host/dir/caf%c3%A9.html", "http://host/dir/A.html",
                                                "http://host/dir/s.html?.zip"}));
    std::vector<std::pair<std::string, bool>> links;
    for (std::size_t i = 0; i < scan->links.size(); ++i) links.emplace_back(scan->Url(i), scan->links[i].repeated);
    const std::string dir = "http://host/dir/";
    EXPECT_EQ(links, (std::vector<std::pair<std::string, bool>>{
                         {dir + "a.html", false},
                         {dir + "a.html#top", true},
                         {"HTTP://Host/dir/a.html", true},
                         {dir + "b.html", false},
                         {dir + "caf%c3%A9.html", false},
                         {dir + "caf%C3%a9.html", true},
                         {dir + "A.html", false},
                         {dir + "x.zip", false},
                         {dir + "x.zip", false},
                         {dir + "s.html?.zip", false},
                         {dir + "s.html?.zip", true},
                     }));
    for (std::size_t k = 0; k < scan->follows.size(); ++k) EXPECT_TRUE(scan->Follows(scan->followHashes[k]));
}

TEST(PageScanTest, DecodedValuesAreDecidedAsDecoded) {
    // Values that need decoding are held apart from the text; the same text again is still one.
    const std::string text =
        "<a href=\"x.zip?a=1&amp;b=2\"><a href=x.zip?a=1&b=2><a href=\" y.zip\t\">"
        "<a href=\"x.zip?a=1&amp;b=2\"><img srcset=\"&#x7A;.zip 2x, \x01w.zip\">";
    const auto scan = ScanInDir(text);
    ASSERT_NE(scan, nullptr);
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < scan->links.size(); ++i) urls.emplace_back(scan->Url(i));
    const std::string dir = "http://host/dir/";
    EXPECT_EQ(urls, (std::vector<std::string>{dir + "x.zip?a=1&b=2", dir + "x.zip?a=1&b=2", dir + "y.zip",
                                              dir + "x.zip?a=1&b=2", dir + "z.zip", dir + "w.zip"}));
}

}  // namespace
