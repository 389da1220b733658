// The URL error dialog: what it lists, that it takes the failed URLs over,
// and that its lines can be read but not selected.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include "crawl/CrawlState.h"
#include "results/UrlErrorDlg.h"

namespace {

QListWidget* ListOf(CUrlErrorDlg& dlg) {
    auto* list = dlg.findChild<QListWidget*>(QStringLiteral("m_list"));
    if (!list) qFatal("no m_list");
    return list;
}

QStringList Lines(QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

}  // namespace

class UrlErrorDlgTest : public QObject {
    Q_OBJECT

private slots:
    void listsFailedUrlsInOrderAndTakesThemOver_data() {
        QTest::addColumn<QStringList>("failed");
        QTest::newRow("three in order") << QStringList{"http://h/c.html", "http://h/a.html", "http://h/b.html"};
        QTest::newRow("the same URL failing twice")
            << QStringList{"http://h/x.html", "http://h/y.html", "http://h/x.html"};
        QTest::newRow("nothing failed") << QStringList{};
    }
    void listsFailedUrlsInOrderAndTakesThemOver() {
        QFETCH(QStringList, failed);
        CrawlState state;
        for (const QString& url : failed) state.m_failedUrls.push_back(url.toStdString());

        CUrlErrorDlg dlg(state);
        // Emptied once the dialog exists, whether or not it is ever shown.
        QVERIFY(state.m_failedUrls.empty());
        QCOMPARE(Lines(ListOf(dlg)), failed);
    }

    void linesCannotBeSelected() {
        CrawlState state;
        state.m_failedUrls = {"http://h/a.html", "http://h/b.html", "http://h/c.html"};
        CUrlErrorDlg dlg(state);
        dlg.show();
        QListWidget* list = ListOf(dlg);

        const QRect second = list->visualItemRect(list->item(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        list->selectAll();

        QVERIFY(list->selectedItems().isEmpty());
        QVERIFY(list->selectionModel()->selectedIndexes().isEmpty());
        // No current line either: it would be tinted as if chosen.
        QVERIFY(!list->currentIndex().isValid());
    }

    // Caption and system menu only, and the warning bar across the whole window.
    void templateTitleBarAndFullWarningBar() {
        CrawlState state;
        CUrlErrorDlg dlg(state);
        const Qt::WindowFlags flags = dlg.windowFlags();
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QPixmap bar = dlg.findChild<QLabel*>(QStringLiteral("picWarning"))->pixmap();
        QCOMPARE(qRound(bar.width() / bar.devicePixelRatio()), dlg.width());
    }

    void longAndManyLinesScrollOnlyVertically() {
        CrawlState state;
        state.m_failedUrls.push_back("http://h/" + std::string(2000, 'x') + ".html");
        for (int i = 0; i < 60; ++i) state.m_failedUrls.push_back("http://h/" + std::to_string(i));
        CUrlErrorDlg dlg(state);
        dlg.show();
        QListWidget* list = ListOf(dlg);
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        QVERIFY(!list->horizontalScrollBar()->isVisible());
        QVERIFY(list->verticalScrollBar()->isVisible());
        QVERIFY(list->verticalScrollBar()->maximum() > 0);
        // The long line is cut at the edge, not shortened with an ellipsis.
        QCOMPARE(list->item(0)->text().size(), 2014);
        QCOMPARE(list->textElideMode(), Qt::ElideNone);
    }

    void okEnterAndEscapeEndIt_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("OK") << 0 << int(QDialog::Accepted);
        QTest::newRow("Enter in the list") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }
    void okEnterAndEscapeEndIt() {
        QFETCH(int, key);
        QFETCH(int, expected);
        CrawlState state;
        state.m_failedUrls = {"http://h/a.html"};
        CUrlErrorDlg dlg(state);
        QString okText;
        QTimer::singleShot(0, &dlg, [&] {
            if (key == 0) {
                if (auto* ok = dlg.findChild<QPushButton*>(QStringLiteral("id1"))) {
                    okText = ok->text();
                    QTest::mouseClick(ok, Qt::LeftButton);
                }
            } else {
                QWidget* target = ListOf(dlg);
                target->setFocus();
                QTest::keyClick(target, Qt::Key(key));
            }
            // Whatever went wrong above, the modal loop must not hang the test.
            if (dlg.isVisible()) dlg.done(-1);
        });
        QCOMPARE(dlg.exec(), expected);
        if (key == 0) QCOMPARE(okText, QStringLiteral("OK"));
    }
};

QTEST_MAIN(UrlErrorDlgTest)
#include "url_error_dlg_test.moc"
