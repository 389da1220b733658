// The worker's side of the link rules: what a link of the page in process came
// to is recorded in the page list and the queue.
#include "crawl/CrawlState.h"
#include "crawl/PageScan.h"
#include "crawl/Search.h"

const PageContext& CSearch::CurrentPage() {
    if (m_page) return *m_page;
    // Called without a page set up by the worker: the entry in process is the page.
    m_entryPage = PageContextOfEntry(g_UrlList.front());
    return m_entryPage;
}

CrawlRules CSearch::RulesNow() const {
    if (m_rules && m_running) return *m_rules;
    return MakeCrawlRules(g_ExcludeList, g_ResourcePatterns, g_AllLinks);
}

void CSearch::Record(const LinkDecision& decision) {
    LinkDecision copy = decision;
    Record(std::move(copy));
}

void CSearch::Record(LinkDecision&& decision) {
    // The page it leads to first: the hit may take the URL's text over.
    std::string page;
    if (decision.followLength != 0 && !decision.repeated) page = std::string(decision.Follow());
    if (decision.hits != 0) {
        AddHit(g_UrlList.front(), std::move(decision.url));
        m_nHits += static_cast<std::int32_t>(decision.hits);
    }
    // A page linked to again was added at its first link: it is known now.
    if (page.empty() || AddPage(page) != 1) return;
    std::string entry = m_strBase.empty() ? std::move(page) : "-" + page;
    m_queueBytes += sizeof(std::string) + entry.size();
    g_UrlList.insert(g_UrlList.begin() + 1, std::move(entry));
}

void CSearch::ExtractLinks(const std::string& content) {
    if (m_stop || g_UrlList.empty()) return;
    const CrawlRules rules = RulesNow();
    const LinkContext context{CurrentPage(), m_bRecursive, m_strBase};
    ForEachLinkDecision(content, context, rules, &m_stop, [this](LinkDecision&& decision) {
        Record(std::move(decision));
        return true;
    });
}

void CSearch::HandleLink(std::string link) {
    if (m_stop || g_UrlList.empty()) return;
    Record(DecideLink(link, LinkContext{CurrentPage(), m_bRecursive, m_strBase}, RulesNow()));
}

void CSearch::ClassifyLink(std::string url) {
    if (m_stop || g_UrlList.empty()) return;
    Record(DecideClassified(url, LinkContext{CurrentPage(), m_bRecursive, m_strBase}, RulesNow()));
}
