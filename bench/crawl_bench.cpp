// Throughput of the link rules on generated pages, and the cost of the page list
// as a crawl grows: time per page must stay flat from 10,000 to 100,000 pages.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crawl/CrawlState.h"
#include "crawl/Search.h"
#include "project/ProjectData.h"

namespace {

struct Corpus {
    std::vector<std::string> urls;
    std::vector<std::string> pages;
    std::size_t bytes = 0;
};

// Pages shaped like a download site's: running text, markup without links, and
// links of every kind the rules tell apart (relative, root, parent, other hosts,
// resources, scripts, mail), all joined into one line as the worker hands them on.
Corpus MakeCorpus(int pageCount, std::size_t pageSize) {
    std::mt19937 gen(12345);
    auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    const char* const words[] = {"download", "the", "latest", "version", "of", "our", "tools", "and", "read", "more"};
    Corpus corpus;
    for (int p = 0; p < pageCount; ++p) {
        corpus.urls.push_back("http://bench.example/dir" + std::to_string(p % 16) + "/page" + std::to_string(p) +
                              ".htm");
        std::string html = "<html><head><title>Page " + std::to_string(p) +
                           "</title><meta http-equiv=\"Content-Type\" content=\"text/html\"></head><body>";
        while (html.size() < pageSize) {
            html += "<p class=\"text\">";
            for (int w = 0, n = 20 + pick(40); w < n; ++w) (html += words[pick(10)]) += ' ';
            html += "</p>";
            switch (pick(10)) {
                case 0: html += "<a href=\"page" + std::to_string(pick(400)) + ".htm\">next</a>"; break;
                case 1: html += "<a href=\"/dir" + std::to_string(pick(16)) + "/index.htm\">up</a>"; break;
                case 2: html += "<a href=\"../files/tool" + std::to_string(pick(200)) + ".zip\">zip</a>"; break;
                case 3:
                    html += "<img src=\"img/pic" + std::to_string(pick(300)) + ".gif\" width=\"10\" height=\"10\">";
                    break;
                case 4:
                    html += "<a href=\"http://mirror" + std::to_string(pick(5)) + ".example/setup.exe\">mirror</a>";
                    break;
                case 5: html += "<a href=\"javascript:open('x.htm')\" onclick=\"go()\">pop</a>"; break;
                case 6: html += "<a href=\"mailto:info@bench.example\">mail</a>"; break;
                case 7:
                    html += "<table border=\"0\" cellpadding=\"2\"><tr><td align=\"left\">cell</td></tr></table>";
                    break;
                default: html += "<b>bold</b> <i>italic</i> <br>"; break;
            }
        }
        html += "</body></html>";
        corpus.bytes += html.size();
        corpus.pages.push_back(std::move(html));
    }
    return corpus;
}

void BM_ExtractAndClassify(benchmark::State& state) {
    static const Corpus corpus = MakeCorpus(64, 32 * 1024);
    ProjectData project;
    project.m_resourcePatterns = {".ZIP", ".EXE", ".JPG", ".GIF", ".MP3"};
    project.m_urlList = {"!/private/"};
    CSearch search{std::unique_ptr<IPageFetcher>{}};
    search.OpenSearch(project, nullptr, nullptr);
    UrlQueue& queue = search.State().m_urlQueue;
    for (auto _ : state) {
        for (std::size_t p = 0; p < corpus.pages.size(); ++p) {
            queue.clear();
            queue.push_back(corpus.urls[p]);
            search.Worker().ExtractLinks(corpus.pages[p]);
        }
    }
    benchmark::DoNotOptimize(search.State().m_nHits);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(corpus.bytes));
}
BENCHMARK(BM_ExtractAndClassify)->Unit(benchmark::kMillisecond);

// One crawl step per page: the page is queued, is found once more from another
// page, yields two hits (one of them twice) and has its text tested for a twin.
void BM_PageList(benchmark::State& state) {
    const auto pageCount = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> urls, hits;
    urls.reserve(pageCount);
    hits.reserve(pageCount);
    for (std::size_t i = 0; i < pageCount; ++i) {
        urls.push_back("http://bench.example/d" + std::to_string(i % 97) + "/p" + std::to_string(i) + ".htm");
        hits.push_back("http://bench.example/files/f" + std::to_string(i) + ".zip");
    }
    CPageList list;
    for (auto _ : state) {
        state.PauseTiming();
        list.Free();
        state.ResumeTiming();
        int skipped = 0;
        for (std::size_t i = 0; i < pageCount; ++i) {
            list.SetPageCrc(static_cast<std::uint32_t>(i * 2654435761u) | 1u);
            list.AddPage(urls[i]);
            list.AddPage(urls[i]);
            skipped += list.IsNewContent() == 0;
            list.AddHit(urls[i], hits[i]);
            list.AddHit(urls[i], hits[i]);
            list.AddHit("+" + urls[i], hits[(i + 1) % pageCount]);
        }
        benchmark::DoNotOptimize(skipped);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pageCount));
}
BENCHMARK(BM_PageList)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
