#pragma once
// The HTTP session of one search, on libcurl: one page at a time, through one
// transfer reused for every page so that connections stay alive, cookies kept for
// the search's length.
#include <atomic>
#include <memory>
#include <string>

#include "crawl/FetchLimits.h"
#include "crawl/PageFetcher.h"

class CSearchSession : public IPageFetcher {
public:
    // `stop` is the search's stop request; a transfer in progress ends soon after it is set.
    explicit CSearchSession(const std::atomic<bool>* stop = nullptr, const FetchLimits& limits = {});
    ~CSearchSession() override;
    CSearchSession(const CSearchSession&) = delete;
    CSearchSession& operator=(const CSearchSession&) = delete;

    void SetStatusTarget(IStatusTarget* target) override;
    void EnableStatusCallback(bool enable) override;
    std::unique_ptr<IPageFile> OpenURL(const std::string& url) override;
    FetchStats Stats() const override;

    // The text shown for a status code of the connection's progress.
    static std::string StatusText(int code, const char* info);

    struct Impl;
private:
    std::unique_ptr<Impl> m_impl;
};
