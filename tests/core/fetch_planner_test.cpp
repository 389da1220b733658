// The planner against a fetcher that hands over the scan of every page it was
// told of at once: what it foresees must be what the worker then opens, in the
// worker's own depth-first order, without walking the plan again for every page.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crawl/CrawlState.h"
#include "crawl/FetchPlanner.h"
#include "crawl/PageScan.h"
#include "crawl/Worker.h"

namespace {

class TextFile : public IPageFile {
public:
    explicit TextFile(std::string text) : m_text(std::move(text)) {}
    bool ReadMore(std::size_t& added) override {
        added = m_done ? 0 : m_text.size();
        return !std::exchange(m_done, true);
    }
    const std::string& Text() const override { return m_text; }
    void Close() override {}

private:
    std::string m_text;
    bool m_done = false;
};

// A site of pages each linking to three below it, three levels deep.
class InstantFetcher : public IPageFetcher {
public:
    static constexpr std::size_t kLookahead = 8;

    std::vector<std::string> opened;
    std::size_t foreseeCalls = 0;
    std::size_t unforeseen = 0;  // pages opened that were not foreseen first

    static std::string Page(const std::string& url) {
        if (url.size() >= std::string("http://h/p.htm").size() + 3) return "<p>leaf</p>";
        std::string html;
        for (int i = 0; i < 3; ++i)
            html += "<a href=\"" + url.substr(9, url.size() - 13) + std::to_string(i) + ".htm\">";
        return html;
    }

    void SetStatusTarget(IStatusTarget*) override {}
    void EnableStatusCallback(bool) override {}
    std::unique_ptr<IPageFile> OpenURL(const std::string& url) override {
        opened.push_back(url);
        // As the session does, the page foreseen first leaves the foresight when it is opened.
        if (!m_foresight.empty() && m_foresight.front() == url)
            m_foresight.erase(m_foresight.begin());
        else
            ++unforeseen;
        return std::make_unique<TextFile>(Page(url));
    }
    std::size_t Lookahead() const override { return kLookahead; }
    void Foresee(std::vector<PageRequest> next) override {
        ++foreseeCalls;
        m_foresight.clear();
        for (PageRequest& request : next) {
            m_foresight.push_back(request.url);
            // Fetched and scanned at once: the scan is there when the planner next
            // looks, and kept while the page waits, as the session keeps it.
            m_arrivals.push_back(ScanPage(Page(request.url), request, "", m_rules, nullptr));
            m_waiting.push_back(m_arrivals.back());
        }
    }
    std::vector<std::shared_ptr<const PageScan>> TakeArrivals() override { return std::exchange(m_arrivals, {}); }

private:
    const CrawlRules m_rules;
    std::vector<std::string> m_foresight;
    std::vector<std::shared_ptr<const PageScan>> m_waiting;
    std::vector<std::shared_ptr<const PageScan>> m_arrivals;
};

TEST(FetchPlanner, ForeseesTheWorkersOwnOrderWithoutWalkingAgainForEveryPage) {
    CrawlState state;
    state.m_urlQueue = {"http://h/p.htm"};
    InstantFetcher fetcher;
    const std::atomic<bool> stop{false};
    CCrawlWorker worker(state, &fetcher, stop);
    CFetchPlanner planner(worker, fetcher);
    worker.Prepare(std::make_shared<CrawlRules>(), nullptr, nullptr, &planner);

    worker.Run({});

    ASSERT_EQ(fetcher.opened.size(), 1u + 3 + 9 + 27);
    // Depth first, the last link first.
    EXPECT_EQ(fetcher.opened[1], "http://h/p2.htm");
    EXPECT_EQ(fetcher.opened[2], "http://h/p22.htm");
    EXPECT_EQ(fetcher.opened[3], "http://h/p222.htm");
    // Only the start page was not the page foreseen first.
    EXPECT_EQ(fetcher.unforeseen, 1u);
    // The plan is made anew only below pages whose links it did not know yet:
    // the start page and the nine of the middle levels whose scans came late.
    EXPECT_LE(fetcher.foreseeCalls, 1u + 3 + 9);
}

// Pages each linking to `newLinks` pages below them, whose scans never come
// ahead: past the page in process every page foreseen is a guess.
class UnreadAheadFetcher : public IPageFetcher {
public:
    UnreadAheadFetcher(int newLinks, std::chrono::microseconds answerTime)
        : m_newLinks(newLinks), m_answerTime(answerTime) {}

    std::vector<std::size_t> foreseen;  // how many pages each Foresee named

    void SetStatusTarget(IStatusTarget*) override {}
    void EnableStatusCallback(bool) override {}
    std::unique_ptr<IPageFile> OpenURL(const std::string& url) override {
        std::string html;
        for (int i = 0; i < m_newLinks; ++i)
            html += "<a href=\"" + url.substr(9, url.size() - 13) + "_" + std::to_string(i) + ".htm\">";
        return std::make_unique<TextFile>(html);
    }
    std::size_t Lookahead() const override { return 8; }
    std::chrono::microseconds TypicalAnswerTime() const override { return m_answerTime; }
    void Foresee(std::vector<PageRequest> next) override { foreseen.push_back(next.size()); }

private:
    int m_newLinks;
    std::chrono::microseconds m_answerTime;
};

TEST(FetchPlanner, GuessesPastAnUnreadPageOnlyWhileTheyPay) {
    struct Case {
        int newLinks;
        std::chrono::microseconds answerTime;
        std::size_t foreseenAtTheEnd;
    };
    const Case cases[] = {
        {2, std::chrono::microseconds(200), 8},   // pages lead to few new pages: the guesses come true soon
        {20, std::chrono::microseconds(200), 1},  // each leads to many: guessed pages would wait for the site
        {20, std::chrono::milliseconds(50), 8},   // a slow server: a guess that comes true saves a wait
    };
    for (const Case& c : cases) {
        CrawlState state;
        state.m_urlQueue = {"http://h/p.htm"};
        UnreadAheadFetcher fetcher(c.newLinks, c.answerTime);
        const std::atomic<bool> stop{false};
        CCrawlWorker worker(state, &fetcher, stop);
        CFetchPlanner planner(worker, fetcher);
        worker.Prepare(std::make_shared<CrawlRules>(), nullptr, nullptr, &planner);
        SearchLimits limits;
        limits.maxPages = static_cast<std::int32_t>(CFetchPlanner::kPagesTakenBeforeJudging) + 40;

        worker.Run(limits);

        ASSERT_FALSE(fetcher.foreseen.empty());
        EXPECT_EQ(fetcher.foreseen.back(), c.foreseenAtTheEnd) << c.newLinks << " new links a page";
    }
}

}  // namespace
