// A whole search through its window: a small site on 127.0.0.1, Start, wait
// for "Show results", press it, and read the results page it wrote.
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <string>

#include "app/SearchDlg.h"
#include "ui/QtMessageBox.h"
#include "crawl/CrawlState.h"
#include "project/ProjectData.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace {

constexpr qint64 kGiveUpMs = 60000;

std::string FirstRow(const std::string& page, const std::string& hit) {
    return "<TR><TD BGCOLOR=#80b3ce><FONT SIZE=-1><a href=\"" + page + "\">" + page +
           "</a></FONT></TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1><a href=\"" + hit + "\">" + hit + "</a></FONT></TD></TR>";
}

std::string FurtherRow(const std::string& hit) {
    return "<TR><TD BGCOLOR=#80b3ce>+</TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1><a href=\"" + hit + "\">" + hit +
           "</a></FONT></TD></TR>";
}

}  // namespace

class SearchEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void searchRunsToShowResultsAndWritesReport() {
        TempDir dir;
        ScriptedMessageBox box;
        SetAppMessageBox(&box);

        // Relative links only: a root link would be resolved without the server's port.
        TestHttpServer server;
        server.Page("/",
                    "<html><head><title>Downloads</title></head><body>\n"
                    "<a href=\"files/tool.zip\">tool</a>\n"
                    "<a href=\"docs/page1.html\">docs</a> <a href=\"other.html\">other</a>\n"
                    "</body></html>\n");
        server.Page("/docs/page1.html",
                    "<html><body>\n"
                    "<a href=\"manual.zip\">manual</a>\n"
                    "<a href=\"page2.html\">more</a>\n"
                    "</body></html>\n");
        server.Page("/docs/page2.html",
                    "<html><body>\n"
                    "<a href=\"readme.txt\">readme</a>\n"
                    "<a href=\"data.ZIP\">data</a> <a href=\"extra.zip\">x</a>\n"
                    "</body></html>\n");
        server.Page("/other.html", "<a href=\"other.zip\">other</a>\n");
        server.Start();

        ProjectData project;
        project.m_urlList = {server.Url("/")};
        project.m_resourcePatterns = {".ZIP"};

        CSearchDlg dlg(project);
        dlg.m_strReportFile = "Downloads.htm";
        auto* start = dlg.findChild<QPushButton*>(QStringLiteral("m_btnStart"));
        QVERIFY(start);

        // Drives the modal loop the way a user would: Start once, then
        // "Show results" as soon as it is offered.
        bool startPressed = false;
        bool gaveUp = false;
        QStringList fetched;
        QElapsedTimer clock;
        clock.start();
        QTimer driver;
        connect(&driver, &QTimer::timeout, [&] {
            if (!startPressed) {
                startPressed = true;
                start->click();
            } else if (start->isEnabled() && start->text() == QStringLiteral("Show results")) {
                driver.stop();
                auto* list = dlg.findChild<QListWidget*>(QStringLiteral("m_lstUrls"));
                for (int i = 0; i < list->count(); ++i) fetched << list->item(i)->text();
                start->click();
            } else if (clock.elapsed() > kGiveUpMs) {
                driver.stop();
                gaveUp = true;
                dlg.done(-1);
            }
        });
        driver.start(20);
        const int result = dlg.exec();
        SetAppMessageBox(nullptr);

        QVERIFY(!gaveUp);
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(box.Shown().empty());

        const std::string home = server.Url("/");
        const std::string page1 = server.Url("/docs/page1.html");
        const std::string page2 = server.Url("/docs/page2.html");
        const std::string other = server.Url("/other.html");
        // Depth-first, the links of a page taken last found first.
        QCOMPARE(fetched, (QStringList{QString::fromStdString(home), QString::fromStdString(other),
                                       QString::fromStdString(page1), QString::fromStdString(page2)}));

        const std::string report = ReadFileBytes("Downloads.htm");
        QVERIFY(report.starts_with("<html><head></head>"));
        QVERIFY(report.find("Search results for Downloads.htm") != std::string::npos);
        QVERIFY(report.ends_with("</font></body></html>"));
        QVERIFY(report.find('\n') == std::string::npos);

        // Pages in the order they became known, each with its hits in the order found.
        const std::string rows =
            FirstRow(home, server.Url("/files/tool.zip")) + FirstRow(page1, server.Url("/docs/manual.zip")) +
            FirstRow(other, server.Url("/other.zip")) + FirstRow(page2, server.Url("/docs/data.ZIP")) +
            FurtherRow(server.Url("/docs/extra.zip"));
        QVERIFY2(report.find(rows) != std::string::npos, report.c_str());
        QVERIFY(report.find("readme.txt") == std::string::npos);
        QVERIFY(dlg.Search().State().m_urlQueue.empty());
        QVERIFY(dlg.Search().State().m_failedUrls.empty());
    }
};

QTEST_MAIN(SearchEndToEndTest)
#include "search_end_to_end_test.moc"
