#include "crawl/Search.h"

#include "crawl/SearchSession.h"

CSearch::CSearch() : m_Session(std::make_unique<CSearchSession>(&m_stop)) {}

CSearch::CSearch(std::unique_ptr<IPageFetcher> fetcher) : m_Session(std::move(fetcher)) {}

CSearch::~CSearch() { Stop(); }

void CSearch::Stop() {
    m_stop = true;
    if (m_pThread.joinable()) m_pThread.join();
}
