// A link of any text handed to the link rules from a page on one host. However a
// link is written, the crawl must never leave that host: everything queued
// names host.example (in any case; ports do not count).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "crawl/QueueEntry.h"
#include "crawl/Search.h"
#include "crawl/Url.h"
#include "fuzz/FuzzCheck.h"
#include "project/AsciiText.h"

namespace {

constexpr std::string_view kHost = "host.example";
// Pages in process as the queue holds them: plain, with a port, found below a
// "+" entry, and with user information.
constexpr std::string_view kPages[] = {
    "http://host.example/a/b.htm",
    "https://host.example:8443/",
    "-HTTP://Host.Example/a/",
    "+http://user@host.example/docs/index.htm",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CSearch search{std::unique_ptr<IPageFetcher>{}};
    ProjectData project;

    FuzzedDataProvider in(data, size);
    const std::uint8_t flags = in.ConsumeIntegral<std::uint8_t>();
    const std::string page(kPages[flags & 3]);
    project.m_allLinks = (flags & 4) != 0 ? 1 : 0;
    search.OpenSearch(project, nullptr, nullptr);
    CCrawlWorker& worker = search.Worker();
    worker.m_strBase = (flags & 8) != 0 ? BaseOfPlusEntry(WithoutMarks(page)) : std::string();
    UrlQueue& queue = search.State().m_urlQueue;
    queue = {page};

    // One link a run: every mutation lands in the link that is checked.
    worker.HandleLink(in.ConsumeRemainingBytesAsString());

    for (std::size_t i = 1; i < queue.size(); ++i) {
        std::string_view queued = queue[i];
        if (queued.starts_with('-')) queued.remove_prefix(1);
        Require(EqualsNoCase(HostOf(queued), kHost), "nothing on another host is queued", queued);
    }
    return 0;
}
