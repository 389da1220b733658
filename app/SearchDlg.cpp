#include "app/SearchDlg.h"

#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "ui/GroupBox.h"
#include "ui/QtMessageBox.h"
#include "ui/ReadOnlyList.h"
#include "crawl/CrawlState.h"
#include "crawl/HeapTuning.h"
#include "results/SearchResults.h"
#include "results/UrlErrorDlg.h"

template <typename Fn>
void CSearchDlg::PostWhileRunning(Fn fn) {
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            if (m_state == State::Running) fn();
        },
        Qt::QueuedConnection);
}

MsgResult CPostedMessageBox::Show(const std::string& text, const std::string& caption, MsgIcon icon,
                                  MsgButtons buttons) {
    // The report writer runs on the window's thread and its "Share violation!"
    // must be seen before the dialog ends, so it is shown at once.
    if (QThread::currentThread() == m_dlg->thread()) return AppMessageBox().Show(text, caption, icon, buttons);
    m_dlg->PostWhileRunning([text, caption, icon, buttons] { AppMessageBox().Show(text, caption, icon, buttons); });
    // The worker only ever tells, it never asks; a question has no one to answer it in time.
    return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
}

CSearchDlg::CSearchDlg(const ProjectData& project, CrawlState* state, QWidget* parent)
    : QDialog(parent), m_project(project), m_search(CSearch::kDefaultConnections, {}, state) {
    BuildTemplate();
}

CSearchDlg::CSearchDlg(std::unique_ptr<IPageFetcher> fetcher, const ProjectData& project, CrawlState* state,
                       QWidget* parent)
    : QDialog(parent), m_project(project), m_search(std::move(fetcher), state) {
    BuildTemplate();
}

CSearchDlg::~CSearchDlg() {
    // The worker reports to this object; it must be gone before any member is.
    m_search.Stop();
    ReleaseFreeHeap();
}

void CSearchDlg::BuildTemplate() {
    setWindowTitle(QStringLiteral("velmor Netzspurer"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    SetDialogIcon(this);
    const DialogUnits du = SetUpTemplate(this, 267, 226);

    auto label = [&](const char* name, const QString& text, int x, int y, int w, int h, Qt::Alignment align) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        // Addresses and status texts come from the web; they are shown as they are.
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(align);
        PlaceInUnits(l, du, x, y, w, h);
        return l;
    };
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;

    m_stcUrl = label("m_stcUrl", QString(), 5, 5, 250, 15, Qt::AlignCenter);

    // Created before the labels it frames, so that they are drawn on top of it.
    auto* group = new CGroupBox(QStringLiteral("Operation"), this);
    group->setObjectName(QStringLiteral("grpOperation"));
    PlaceInUnits(group, du, 5, 30, 250, 100);

    label("lblStatus", QStringLiteral("Status:"), 15, 50, 65, 10, left);
    m_stcStatus = label("m_stcStatus", QString(), 90, 45, 150, 15, centred);
    label("lblBytes", QStringLiteral("Bytes retrieved:"), 15, 65, 65, 10, left);
    m_stcBytes = label("m_stcBytes", QString(), 90, 65, 150, 15, centred);
    label("lblPages", QStringLiteral("Pages scanned:"), 15, 85, 65, 10, left);
    m_stcPages = label("m_stcPages", QString(), 90, 85, 150, 15, centred);
    label("lblHits", QStringLiteral("Hits:"), 15, 105, 70, 10, left);
    m_stcHits = label("m_stcHits", QString(), 90, 105, 150, 14, centred);

    m_lstUrls = new CReadOnlyList(this);
    m_lstUrls->setObjectName(QStringLiteral("m_lstUrls"));
    // Not a tab stop: the keyboard goes from Cancel to Start.
    m_lstUrls->setFocusPolicy(Qt::ClickFocus);
    PlaceInUnits(m_lstUrls, du, 5, 135, 250, 65);

    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("m_btnCancel"));
    m_btnCancel->setDefault(true);
    PlaceInUnits(m_btnCancel, du, 5, 205, 50, 14);

    m_btnStart = new QPushButton(QStringLiteral("Start"), this);
    m_btnStart->setObjectName(QStringLiteral("m_btnStart"));
    PlaceInUnits(m_btnStart, du, 150, 205, 105, 14);

    connect(m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_btnStart, &QPushButton::clicked, this, [this] { OnStart(); });

    m_paintTimer.setSingleShot(true);
    connect(&m_paintTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Running) PaintProgress();
    });
}

void CSearchDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    InitDialog();
}

void CSearchDlg::InitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;
    m_search.OpenSearch(m_project, this, &m_workerBox);
}

void CSearchDlg::OnStart() {
    InitDialog();
    // While the worker runs the queue is its own; and a question being asked has the last word.
    if (m_state == State::Running || m_state == State::Question) return;

    if (!m_search.State().m_urlQueue.empty()) {
        {
            std::lock_guard<std::mutex> lock(m_progressMutex);
            m_latest = Progress();
        }
        m_paintRequested = false;
        m_lastPaint.invalidate();
        if (!m_search.Start()) {
            AppMessageBox().Show("Process could not be started!", "Error", MsgIcon::Stop, MsgButtons::Ok);
            return;
        }
        m_state = State::Running;
        m_btnStart->setEnabled(false);
        return;
    }

    ShowResults(m_search, m_strReportFile, m_workerBox, [this] {
        CUrlErrorDlg errors(m_search.State());
        errors.exec();
    });
    accept();
}

void CSearchDlg::OnCancel() {
    InitDialog();
    if (m_state == State::Question) return;
    if (m_state == State::Running) {
        // Waits for the worker, which never waits for this thread, so this cannot hang.
        m_search.Stop();
        m_paintTimer.stop();
    }
    m_state = State::Question;

    const MsgResult answer = AppMessageBox().Show("Save found?", "Cancel", MsgIcon::Question, MsgButtons::YesNo);
    if (answer == MsgResult::Yes) {
        KeepFound(m_search, m_strReportFile, m_workerBox);
        accept();
    } else {
        m_search.CancelDiscard();
        QDialog::reject();
    }
}

void CSearchDlg::reject() { OnCancel(); }

void CSearchDlg::UrlOpened(const std::string& url) {
    PostWhileRunning([this, url] {
        const QString text = ToQt(url);
        m_lstUrls->AppendLine(text);
        ShowCurrentUrl(text);
    });
}

void CSearchDlg::ShowCurrentUrl(const QString& url) {
    // Shortened in the middle: the host and the file name are what tell pages apart.
    m_stcUrl->setText(m_stcUrl->fontMetrics().elidedText(url, Qt::ElideMiddle, m_stcUrl->contentsRect().width()));
    m_stcUrl->setToolTip(url);
}

void CSearchDlg::CountersChanged(std::int32_t pages, std::int32_t hits, std::int64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(m_progressMutex);
        m_latest.pages = pages;
        m_latest.hits = hits;
        m_latest.bytes = bytes;
        m_latest.countersSet = true;
    }
    RequestProgressPaint();
}

void CSearchDlg::SetStatusText(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_progressMutex);
        m_latest.status = text;
        m_latest.statusSet = true;
    }
    RequestProgressPaint();
}

void CSearchDlg::SearchFinished() {
    PostWhileRunning([this] {
        m_paintTimer.stop();
        PaintProgress();
        m_state = State::Finished;
        m_btnStart->setText(QStringLiteral("Show results"));
        m_btnStart->setEnabled(true);
        // A search that a limit ended says so before its results are shown.
        if (const LimitReached limit = m_search.Limit(); limit != LimitReached::None)
            AppMessageBox().Show(LimitReachedText(limit), "Important", MsgIcon::Information, MsgButtons::Ok);
    });
}

void CSearchDlg::RequestProgressPaint() {
    // One request in flight at a time: a page of thousands of lines must not
    // flood the window's queue with one event per line.
    if (!m_paintRequested.exchange(true)) PostWhileRunning([this] { ScheduleProgressPaint(); });
}

void CSearchDlg::ScheduleProgressPaint() {
    if (m_paintTimer.isActive()) return;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : kPaintIntervalMs;
    if (since >= kPaintIntervalMs)
        PaintProgress();
    else
        m_paintTimer.start(static_cast<int>(kPaintIntervalMs - since));
}

void CSearchDlg::PaintProgress() {
    // Cleared before the values are read: a value written after this point asks again.
    m_paintRequested = false;
    Progress p;
    {
        std::lock_guard<std::mutex> lock(m_progressMutex);
        p = m_latest;
    }
    if (p.countersSet) {
        m_stcBytes->setText(QString::number(p.bytes));
        m_stcPages->setText(QString::number(p.pages));
        m_stcHits->setText(QString::number(p.hits));
    }
    if (p.statusSet) m_stcStatus->setText(ToQt(p.status));
    m_lastPaint.start();
}
