// The start keeps the browser engine's logging down without losing the flags
// the user gave it.
#include <QtTest>

#include <string>

#include "app/QuietStart.h"

class QuietStartTest : public QObject {
    Q_OBJECT

private slots:
    void browserFlagsQuietOnlyWhereTheUserChoseNoLogging_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("expected");
        const QString quiet = QStringLiteral("--disable-logging --log-level=3");
        QTest::newRow("no flags") << "" << quiet;
        QTest::newRow("other flags kept in front")
            << "--no-sandbox --disable-gpu" << "--no-sandbox --disable-gpu " + quiet;
        QTest::newRow("a flag that only begins like one") << "--validate" << "--validate " + quiet;
        for (const char* own : {"--enable-logging=stderr --v=1", "--log-level=0", "--v=2",
                                "--vmodule=gpu*=2", "--disable-logging"})
            QTest::newRow(own) << own << own;
    }
    void browserFlagsQuietOnlyWhereTheUserChoseNoLogging() {
        QFETCH(QString, user);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(QuietBrowserFlags(user.toStdString())), expected);
    }
};

QTEST_APPLESS_MAIN(QuietStartTest)
#include "quiet_start_test.moc"
