// A page read once: of the links it follows, the first to each page is the one
// the worker queues, whether a later link repeats it byte for byte or names the
// same page otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crawl/PageScan.h"

namespace {

TEST(PageScanTest, OnlyTheFirstLinkToEachPageIsQueued) {
    const std::string text =
        "<a href=\"a.html\"> <a href=\"a.html#top\"> <a href=\"HTTP://Host/dir/a.html\">"
        " <a href=\"b.html\"> <a href=\"a.html\"> <a href=\"caf%c3%A9.html\"> <a href=\"caf%C3%a9.html\">"
        " <a href=\"A.html\">";
    PageRequest request;
    request.url = "http://host/dir/page.html";
    const auto scan = ScanPage(text, request, "", MakeCrawlRules({}, {}, 0), nullptr);
    ASSERT_NE(scan, nullptr);

    std::vector<std::string> queued;
    for (std::uint32_t i : scan->follows) queued.emplace_back(scan->links[i].Follow());
    EXPECT_EQ(queued, (std::vector<std::string>{"http://host/dir/a.html", "http://host/dir/b.html",
                                                "http://host/dir/caf%c3%A9.html", "http://host/dir/A.html"}));
    std::vector<bool> repeated;
    for (const LinkDecision& link : scan->links) repeated.push_back(link.repeated);
    EXPECT_EQ(repeated, (std::vector<bool>{false, true, true, false, true, false, true, false}));
    for (std::size_t k = 0; k < scan->follows.size(); ++k) EXPECT_TRUE(scan->Follows(scan->followHashes[k]));
}

}  // namespace
