#pragma once
// A search progress that records everything the worker shows, marking what
// arrived after the stop request, and lets a test wait for a moment of the crawl.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "crawl/Search.h"
#include "crawl/SearchProgress.h"

struct Event {
    enum Kind { Status, Opened, Counters, Finished } kind;
    std::string text;
    std::int32_t pages = 0;
    std::int32_t hits = 0;
    std::int64_t bytes = 0;
    bool afterStop = false;  // arrived while the search's stop request was set
};

class RecordingProgress : public ISearchProgress {
public:
    const CSearch* search = nullptr;

    void SetStatusText(const std::string& text) override { Add({Event::Status, text}); }
    void UrlOpened(const std::string& url) override { Add({Event::Opened, url}); }
    void CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) override {
        Add({Event::Counters, "", pages, hits, bytes});
    }
    void SearchFinished() override { Add({Event::Finished, ""}); }

    std::vector<Event> Events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<std::string> Opened() const { return Texts(Event::Opened); }
    std::vector<std::string> Statuses() const { return Texts(Event::Status); }
    std::vector<Event> Counters() const {
        std::vector<Event> out;
        for (const Event& e : Events())
            if (e.kind == Event::Counters) out.push_back(e);
        return out;
    }
    bool AnyAfterStop() const {
        for (const Event& e : Events())
            if (e.afterStop) return true;
        return false;
    }
    bool Finished() const { return !Texts(Event::Finished).empty(); }

    void WaitUntil(const std::function<bool(const std::vector<Event>&)>& ready) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return ready(m_events); });
    }
    void WaitFinished() {
        WaitUntil(
            [](const std::vector<Event>& events) { return !events.empty() && events.back().kind == Event::Finished; });
    }

private:
    void Add(Event e) {
        e.afterStop = search != nullptr && search->StopRequested();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(e));
        m_changed.notify_all();
    }
    std::vector<std::string> Texts(Event::Kind kind) const {
        std::vector<std::string> out;
        for (const Event& e : Events())
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};

// Opens `search` on `project` with `progress` watching, runs it and waits until
// its worker has returned; false when it could not be started.
inline bool RunSearchToEnd(CSearch& search, const ProjectData& project, RecordingProgress& progress, IMessageBox& box) {
    progress.search = &search;
    search.OpenSearch(project, &progress, &box);
    if (!search.Start()) return false;
    progress.WaitFinished();
    search.Stop();
    return true;
}
