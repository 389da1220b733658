#pragma once
// The window in which a search runs: Start, live progress from the worker,
// "Show results", and Cancel with or without keeping what was found.
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ui/MessageBox.h"
#include "crawl/Search.h"
#include "crawl/SearchProgress.h"
#include "project/ProjectData.h"

class QCloseEvent;
class CReadOnlyList;
class QLabel;
class QPushButton;
class QShowEvent;
class CSearchDlg;

// The worker's message boxes: it must never wait for the window, so a box asked
// for on the worker is handed to the window's thread and answered at once with Ok.
class CPostedMessageBox : public IMessageBox {
public:
    explicit CPostedMessageBox(CSearchDlg* dlg) : m_dlg(dlg) {}
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) override;

private:
    CSearchDlg* m_dlg;
};

class CSearchDlg : public QDialog, public ISearchProgress {
    Q_OBJECT
public:
    enum class State { Ready, Running, Finished, Question };

    // Searches `project`, which must outlive the dialog, keeping what it finds
    // in `state` (the search's own without one). Without a fetcher the search
    // opens its own HTTP session.
    explicit CSearchDlg(const ProjectData& project, CrawlState* state = nullptr, QWidget* parent = nullptr);
    CSearchDlg(std::unique_ptr<IPageFetcher> fetcher, const ProjectData& project, CrawlState* state = nullptr,
               QWidget* parent = nullptr);
    ~CSearchDlg() override;

    std::string m_strReportFile;  // set by the caller: project name + ".htm"

    CSearch& Search() { return m_search; }
    State GetState() const { return m_state; }

    // Button 1012: starts the crawl, or once the queue is empty shows the results.
    void OnStart();
    // Cancel button, Escape, Enter and the close box.
    void OnCancel();

    // ISearchProgress, called on the worker.
    void UrlOpened(const std::string& url) override;
    void CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) override;
    void SearchFinished() override;
    void SetStatusText(const std::string& text) override;

    // Counters and status are repainted at most this often while pages are read.
    static constexpr int kPaintIntervalMs = 50;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class CPostedMessageBox;

    void BuildTemplate();
    void InitDialog();
    // UI thread: runs `fn` only while the crawl is still running, so nothing the
    // worker queued before a stop reaches the window after it.
    template <typename Fn>
    void PostWhileRunning(Fn fn);
    void RequestProgressPaint();
    void ScheduleProgressPaint();
    void PaintProgress();
    void ShowCurrentUrl(const QString& url);

    const ProjectData& m_project;
    CSearch m_search;
    CPostedMessageBox m_workerBox{this};
    State m_state = State::Ready;
    bool m_bInitialised = false;

    // Latest values from the worker, painted by the window's thread.
    struct Progress {
        std::int32_t pages = 0;
        std::int32_t hits = 0;
        std::int64_t bytes = 0;
        bool countersSet = false;
        std::string status;
        bool statusSet = false;
    };
    std::mutex m_progressMutex;
    Progress m_latest;
    std::atomic<bool> m_paintRequested{false};
    QTimer m_paintTimer;
    QElapsedTimer m_lastPaint;

    QPushButton* m_btnCancel = nullptr;
    CReadOnlyList* m_lstUrls = nullptr;
    QPushButton* m_btnStart = nullptr;
    QLabel* m_stcPages = nullptr;
    QLabel* m_stcHits = nullptr;
    QLabel* m_stcBytes = nullptr;
    QLabel* m_stcUrl = nullptr;
    QLabel* m_stcStatus = nullptr;
};
