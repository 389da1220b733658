// The search progress dialog: its two Start roles, the three ways it ends,
// what it shows while the worker runs, and what it drops after a stop.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "app/SearchDlg.h"
#include "ui/QtMessageBox.h"
#include "crawl/CrawlState.h"
#include "project/ProjectData.h"
#include "results/UrlErrorDlg.h"
#include "ui/ReadOnlyList.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace {

constexpr int kCrawlTimeoutMs = 30000;
const char* const kRowStart = "<TR><TD BGCOLOR=#80b3ce>";
const char* const kTail = "</font></body></html>";

template <typename T>
T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c) qFatal("no child %s", name);
    return c;
}

QStringList Lines(QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Scripted answers, and a look at the dialog at the moment the question is asked.
class HookedMessageBox : public IMessageBox {
public:
    ScriptedMessageBox script;
    std::function<void()> onShow;
    std::vector<bool> onUiThread;

    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) override {
        onUiThread.push_back(QThread::currentThread() == qApp->thread());
        if (onShow) onShow();
        return script.Show(text, caption, icon, buttons);
    }
};

// The test sites link relatively: a link from the root ("/x") is made absolute
// against the bare host, without the port, and would leave the test server.

// A site whose page /slow.html sends its first part and then holds the
// connection open until released, so that a crawl is caught in the middle of a page.
class SlowSite {
public:
    TestHttpServer server;
    std::atomic<bool> slowEntered{false};

    SlowSite() {
        server.Page("/", "<html><a href=\"a.zip\">A</a>\n<a href=\"slow.html\">S</a></html>\n");
        server.Server().Get("/slow.html", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/html", [this](size_t offset, httplib::DataSink& sink) {
                if (offset == 0) {
                    const std::string first = "<html><a href=\"b.zip\">B</a>\n";
                    sink.write(first.data(), first.size());
                    slowEntered = true;
                    return true;
                }
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return m_released; });
                sink.done();
                return true;
            });
        });
        server.Start();
    }
    ~SlowSite() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_released = true;
        }
        m_cv.notify_all();
        server.Stop();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_released = false;
};

// Hands back nothing for every URL, as the session does for a URL it cannot read as a file.
class NoFileFetcher : public IPageFetcher {
public:
    void SetStatusTarget(IStatusTarget*) override {}
    void EnableStatusCallback(bool) override {}
    std::unique_ptr<IPageFile> OpenURL(const std::string&) override { return nullptr; }
};

// A project of `entries` looking for ".ZIP" links.
ProjectData ZipProject(StringList entries = {}) {
    ProjectData project;
    project.m_urlList = std::move(entries);
    project.m_resourcePatterns = {".ZIP"};
    return project;
}

}  // namespace

class SearchDlgTest : public QObject {
    Q_OBJECT

private:
    HookedMessageBox* m_box = nullptr;

    // Shows the dialog, presses Start and waits for "Show results".
    void RunToFinish(CSearchDlg& dlg) {
        dlg.show();
        auto* start = Child<QPushButton>(dlg, "m_btnStart");
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(start->text(), QStringLiteral("Show results"), kCrawlTimeoutMs);
        QVERIFY(start->isEnabled());
        QCOMPARE(dlg.GetState(), CSearchDlg::State::Finished);
    }

private slots:
    void init() {
        m_box = new HookedMessageBox;
        SetAppMessageBox(m_box);
    }
    void cleanup() {
        SetAppMessageBox(nullptr);
        delete m_box;
        m_box = nullptr;
    }

    void startWithoutEntriesWritesEmptyReport() {
        TempDir dir;
        const ProjectData project = ZipProject();
        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Empty.htm";
        dlg.show();
        Child<QPushButton>(dlg, "m_btnStart")->click();

        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QVERIFY(!dlg.Search().IsRunning());
        QCOMPARE(Child<QListWidget>(dlg, "m_lstUrls")->count(), 0);
        QVERIFY(m_box->script.Shown().empty());
        const std::string report = ReadFileBytes("Empty.htm");
        QVERIFY(Contains(report, "Search results for Empty.htm"));
        QVERIFY(!Contains(report, kRowStart));
        QVERIFY(report.ends_with(kTail));
    }

    void reportFailureShownBeforeDialogEnds() {
        TempDir dir;
        const ProjectData project = ZipProject();
        CSearchDlg dlg(project);
        dlg.m_strReportFile = "no-such-dir/Report.htm";
        dlg.show();
        Child<QPushButton>(dlg, "m_btnStart")->click();

        // Shown at once on the window's thread, not queued behind a dialog that has ended.
        QCOMPARE(m_box->script.Texts(), std::vector<std::string>{"Share violation!"});
        QCOMPARE(m_box->onUiThread, std::vector<bool>{true});
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }

    void cancelBeforeStart_data() {
        QTest::addColumn<bool>("keep");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void cancelBeforeStart() {
        QFETCH(bool, keep);
        TempDir dir;
        const ProjectData project = ZipProject({"!private"});
        CrawlState state;
        state.m_failedUrls = {"http://earlier.example/"};
        m_box->script.Answer(keep ? MsgResult::Yes : MsgResult::No);

        CSearchDlg dlg(project, &state);
        dlg.m_strReportFile = "Before.htm";
        dlg.show();
        QCOMPARE(state.m_excludeList, StringList{"!private"});
        Child<QPushButton>(dlg, "m_btnCancel")->click();

        const auto shown = m_box->script.Shown();
        QCOMPARE(int(shown.size()), 1);
        QCOMPARE(shown[0].text, std::string("Save found?"));
        QCOMPARE(shown[0].caption, std::string("Cancel"));
        QVERIFY(shown[0].icon == MsgIcon::Question);
        QVERIFY(shown[0].buttons == MsgButtons::YesNo);
        QVERIFY(!dlg.isVisible());
        QVERIFY(state.m_urlQueue.empty());
        QVERIFY(state.m_excludeList.empty());
        if (keep) {
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            const std::string report = ReadFileBytes("Before.htm");
            QVERIFY(Contains(report, "Search results for Before.htm"));
            QVERIFY(!Contains(report, kRowStart));
            // Kept for the URL error dialog of a later search.
            QCOMPARE(state.m_failedUrls, StringList{"http://earlier.example/"});
        } else {
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
            QVERIFY(!std::filesystem::exists("Before.htm"));
            QVERIFY(state.m_failedUrls.empty());
        }
    }

    void cancelDuringCrawl_data() {
        QTest::addColumn<bool>("keep");
        QTest::newRow("Yes keeps the hits so far") << true;
        QTest::newRow("No frees everything") << false;
    }
    void cancelDuringCrawl() {
        QFETCH(bool, keep);
        TempDir dir;
        SlowSite site;
        const ProjectData project = ZipProject({"!/never", site.server.Url("/")});
        CrawlState state;
        state.m_failedUrls = {"http://earlier.example/"};
        m_box->script.Answer(keep ? MsgResult::Yes : MsgResult::No);

        CSearchDlg dlg(project, &state);
        dlg.m_strReportFile = "Slow.htm";
        dlg.show();
        auto* start = Child<QPushButton>(dlg, "m_btnStart");
        auto* list = Child<QListWidget>(dlg, "m_lstUrls");
        start->click();
        QVERIFY(!start->isEnabled());
        QCOMPARE(start->text(), QStringLiteral("Start"));
        QTRY_VERIFY_WITH_TIMEOUT(site.slowEntered.load(), kCrawlTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(list->count() >= 1, kCrawlTimeoutMs);
        QCOMPARE(list->item(0)->text(), QString::fromStdString(site.server.Url("/")));

        bool stoppedWhenAsked = false;
        bool noErrorDialogWhenAsked = false;
        m_box->onShow = [&] {
            stoppedWhenAsked = !dlg.Search().IsRunning();
            noErrorDialogWhenAsked = QApplication::activeModalWidget() == nullptr;
        };
        Child<QPushButton>(dlg, "m_btnCancel")->click();

        QVERIFY(stoppedWhenAsked);
        QVERIFY(noErrorDialogWhenAsked);
        QVERIFY(!dlg.isVisible());
        QVERIFY(state.m_urlQueue.empty());
        QVERIFY(state.m_excludeList.empty());
        if (keep) {
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            const std::string report = ReadFileBytes("Slow.htm");
            QVERIFY(Contains(report, site.server.Url("/a.zip")));
            // The slow page never finished: nothing of it is scanned.
            QVERIFY(!Contains(report, "b.zip"));
            QVERIFY(report.ends_with(kTail));
            // The stop is no failure, and failed URLs stay unlisted and unchanged.
            QCOMPARE(state.m_failedUrls, StringList{"http://earlier.example/"});
        } else {
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
            QVERIFY(!std::filesystem::exists("Slow.htm"));
            QVERIFY(state.m_pageList.Head() == nullptr);
            QVERIFY(state.m_failedUrls.empty());
        }
    }

    void eventsQueuedBeforeStopAreDropped() {
        TempDir dir;
        SlowSite site;
        const ProjectData project = ZipProject({site.server.Url("/")});
        m_box->script.Answer(MsgResult::Yes);

        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Late.htm";
        dlg.show();
        auto* start = Child<QPushButton>(dlg, "m_btnStart");
        auto* list = Child<QListWidget>(dlg, "m_lstUrls");
        start->click();
        QTRY_VERIFY_WITH_TIMEOUT(site.slowEntered.load(), kCrawlTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(list->count() >= 1, kCrawlTimeoutMs);

        // From here on the window's event loop does not run until Cancel has
        // been answered, so whatever is queued now was queued before the stop.
        const QStringList linesBefore = Lines(list);
        const QString bytesBefore = Child<QLabel>(dlg, "m_stcBytes")->text();
        const QString statusBefore = Child<QLabel>(dlg, "m_stcStatus")->text();
        std::thread late([&dlg] {
            dlg.UrlOpened("http://late.example/");
            dlg.CountersChanged(999, 999, 999999);
            dlg.SetStatusText("late status");
            dlg.SearchFinished();
        });
        late.join();
        Child<QPushButton>(dlg, "m_btnCancel")->click();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();

        QCOMPARE(Lines(list), linesBefore);
        QCOMPARE(Child<QLabel>(dlg, "m_stcBytes")->text(), bytesBefore);
        QCOMPARE(Child<QLabel>(dlg, "m_stcStatus")->text(), statusBefore);
        QCOMPARE(start->text(), QStringLiteral("Start"));
        QCOMPARE(dlg.GetState(), CSearchDlg::State::Question);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }

    void cancelAfterCrawl() {
        TempDir dir;
        TestHttpServer server;
        server.Page("/", "<a href=\"x.zip\">x</a>\n");
        server.Start();
        const ProjectData project = ZipProject({server.Url("/")});
        m_box->script.Answer(MsgResult::Yes);

        CSearchDlg dlg(project);
        dlg.m_strReportFile = "After.htm";
        RunToFinish(dlg);
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Search().IsRunning(), kCrawlTimeoutMs);
        Child<QPushButton>(dlg, "m_btnCancel")->click();

        QCOMPARE(m_box->script.Texts(), std::vector<std::string>{"Save found?"});
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(Contains(ReadFileBytes("After.htm"), server.Url("/x.zip")));
    }

    void showResultsListsFailedUrlsFirst() {
        TempDir dir;
        TestHttpServer server;
        server.Page("/", "<a href=\"a.zip\">a</a>\n<a href=\"broken.html\">broken</a>\n");
        // Promises more than it sends, then drops the connection: a read error mid-page.
        server.Server().Get("/broken.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(4000, "text/html", [](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset > 0) return false;
                const std::string part = "<a href=\"c.zip\">c</a>\n";
                sink.write(part.data(), part.size());
                return true;
            });
        });
        server.Start();
        const ProjectData project = ZipProject({server.Url("/")});
        CrawlState state;
        state.m_failedUrls = {"http://earlier.example/"};

        CSearchDlg dlg(project, &state);
        dlg.m_strReportFile = "Failed.htm";
        RunToFinish(dlg);
        if (QTest::currentTestFailed()) return;

        QStringList listed;
        bool reportExistedWhileListed = true;
        bool failedEmptiedWhileListed = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            auto* errors = qobject_cast<CUrlErrorDlg*>(QApplication::activeModalWidget());
            if (!errors) return;
            watch.stop();
            listed = Lines(Child<QListWidget>(*errors, "m_list"));
            reportExistedWhileListed = std::filesystem::exists("Failed.htm");
            failedEmptiedWhileListed = state.m_failedUrls.empty();
            errors->accept();
        });
        watch.start(10);
        Child<QPushButton>(dlg, "m_btnStart")->click();

        QCOMPARE(listed, (QStringList{QStringLiteral("http://earlier.example/"),
                                      QString::fromStdString(server.Url("/broken.html"))}));
        QVERIFY(!reportExistedWhileListed);
        QVERIFY(failedEmptiedWhileListed);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const std::string report = ReadFileBytes("Failed.htm");
        QVERIFY(Contains(report, server.Url("/a.zip")));
        QVERIFY(!Contains(report, "c.zip"));
        QVERIFY(state.m_failedUrls.empty());
    }

    void fetchedUrlsListedOncePerFetch() {
        TempDir dir;
        TestHttpServer server;
        server.Page("/", "<a href=\"a.zip\">a</a> <a href=\"b.html\">b</a>\n");
        server.Page("/b.html", "<p>nothing here</p>\n");
        server.Start();
        // The start page listed twice in the project is fetched twice.
        const ProjectData project = ZipProject({server.Url("/"), server.Url("/")});

        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Twice.htm";
        RunToFinish(dlg);
        if (QTest::currentTestFailed()) return;

        const QString home = QString::fromStdString(server.Url("/"));
        const QString b = QString::fromStdString(server.Url("/b.html"));
        auto* list = Child<QListWidget>(dlg, "m_lstUrls");
        QCOMPARE(Lines(list), (QStringList{home, b, home}));
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(list->selectionMode(), QAbstractItemView::NoSelection);
        QCOMPARE(Child<QLabel>(dlg, "m_stcUrl")->text(), home);
    }

    // A long crawl keeps its newest page in view, and a long current URL both its ends.
    void progressShowsTheNewestPageAndShortensLongUrls() {
        TempDir dir;
        TestHttpServer server;
        // Links are queued behind the page in process, so the first one is fetched last.
        const std::string last = "/" + std::string(300, 'x') + "/last-page.html";
        std::string home = "<a href=\"" + last.substr(1) + "\">last</a>\n";
        for (int i = 0; i < 30; ++i) home += "<a href=\"p" + std::to_string(i) + ".html\">p</a>\n";
        server.Page("/", home);
        server.Server().Get(".*", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<p>nothing</p>\n", "text/html");
        });
        server.Start();
        const ProjectData project = ZipProject({server.Url("/")});

        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Long.htm";
        RunToFinish(dlg);
        if (QTest::currentTestFailed()) return;

        const QScrollBar* bar = Child<QListWidget>(dlg, "m_lstUrls")->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        auto* url = Child<QLabel>(dlg, "m_stcUrl");
        QCOMPARE(url->toolTip(), QString::fromStdString(server.Url(last)));
        QVERIFY(url->text().startsWith(QStringLiteral("http://127.0.0.1:")));
        QVERIFY(url->text().contains(QChar(0x2026)));
        QVERIFY(url->text().endsWith(QStringLiteral("/last-page.html")));
    }

    void fetchedListFollowsUnlessScrolledUp() {
        const ProjectData project = ZipProject();
        CSearchDlg dlg(project);
        dlg.show();
        auto* list = Child<CReadOnlyList>(dlg, "m_lstUrls");
        QScrollBar* bar = list->verticalScrollBar();
        const auto append = [&](int lines) {
            while (lines-- > 0) list->AppendLine(QStringLiteral("http://h/%1").arg(list->count()));
            QCoreApplication::processEvents();
        };
        append(40);
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(bar->maximum() / 2);
        const int reading = bar->value();
        append(5);
        QCOMPARE(bar->value(), reading);
        bar->setValue(bar->maximum());
        append(5);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void keysAndCloseBoxActOnCancel_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Return on the focused default button") << "return";
        QTest::newRow("Return in the list") << "list-return";
        QTest::newRow("Enter in the list") << "list-enter";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close box") << "close";
    }
    void keysAndCloseBoxActOnCancel() {
        QFETCH(QString, how);
        TempDir dir;
        m_box->script.Answer(MsgResult::No);

        const ProjectData project = ZipProject();
        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Keys.htm";
        dlg.show();
        auto* cancel = Child<QPushButton>(dlg, "m_btnCancel");
        auto* list = Child<QListWidget>(dlg, "m_lstUrls");
        QVERIFY(cancel->isDefault());
        if (how == "return") {
            dlg.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(cancel));
            QTest::keyClick(cancel, Qt::Key_Return);
        } else if (how == "list-return") {
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Return);
        } else if (how == "list-enter") {
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Enter);
        } else if (how == "escape") {
            QTest::keyClick(&dlg, Qt::Key_Escape);
        } else {
            dlg.close();
        }

        QCOMPARE(m_box->script.Texts(), std::vector<std::string>{"Save found?"});
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!dlg.isVisible());
        // Start was never pressed.
        QCOMPARE(list->count(), 0);
    }

    void countersShowFinalValues() {
        TempDir dir;
        TestHttpServer server;
        // Enough lines that most counter updates fall between two repaints.
        std::string big = "<html>\r\n";
        for (int i = 0; i < 4000; ++i) big += "<p>line " + std::to_string(i) + "</p>\r\n";
        big += "<a href=\"a.zip\">a</a><a href=\"b.html\">b</a>\r\n";
        const std::string small = "<a href=\"c.zip\">c</a>\n";
        server.Page("/", big);
        server.Page("/b.html", small);
        server.Start();
        const ProjectData project = ZipProject({server.Url("/")});

        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Counters.htm";
        RunToFinish(dlg);
        if (QTest::currentTestFailed()) return;

        auto withoutLineEnds = [](const std::string& s) {
            std::int64_t n = 0;
            for (char c : s) n += (c != '\r' && c != '\n');
            return n;
        };
        const std::int64_t bytes = withoutLineEnds(big) + withoutLineEnds(small);
        QCOMPARE(dlg.Search().State().m_nBytes, bytes);
        QCOMPARE(Child<QLabel>(dlg, "m_stcBytes")->text(), QString::number(bytes));
        // Both pages and both hits, the one found after the last line read included.
        QCOMPARE(Child<QLabel>(dlg, "m_stcPages")->text(), QStringLiteral("2"));
        QCOMPARE(Child<QLabel>(dlg, "m_stcHits")->text(), QStringLiteral("2"));
    }

    void workerMessageBoxShownOnWindowThread() {
        TempDir dir;
        const ProjectData project = ZipProject({"http://fake.example/page.html"});

        CSearchDlg dlg(std::make_unique<NoFileFetcher>(), project);
        dlg.m_strReportFile = "NoFile.htm";
        RunToFinish(dlg);
        if (QTest::currentTestFailed()) return;

        const auto shown = m_box->script.Shown();
        QCOMPARE(int(shown.size()), 1);
        QCOMPARE(shown[0].text, std::string("WinSock: URL could not be opened!"));
        QCOMPARE(shown[0].caption, std::string("Error"));
        QVERIFY(shown[0].icon == MsgIcon::Stop);
        QCOMPARE(m_box->onUiThread, std::vector<bool>{true});
        // Treated like an empty page: the entry left the queue and is no failure.
        QVERIFY(dlg.Search().State().m_failedUrls.empty());
        QVERIFY(dlg.Search().State().m_urlQueue.empty());
    }
};

QTEST_MAIN(SearchDlgTest)
#include "search_dlg_test.moc"
