// The start keeps the browser engine's logging down without losing the flags
// the user gave it, and the terminal quiet once the windows are up.
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "app/QuietStart.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {
// Everything written to standard output and standard error while `act` runs
// (the test framework prints the messages it is handed on standard output).
std::string PrintedBy(const std::function<void()>& act) {
    std::fflush(nullptr);
    const int file = ::open("printed", O_CREAT | O_TRUNC | O_WRONLY, 0600);
    const int saved[] = {::dup(1), ::dup(2)};
    for (int fd : {1, 2}) ::dup2(file, fd);
    act();
    std::fflush(nullptr);
    for (int fd : {1, 2}) {
        ::dup2(saved[fd - 1], fd);
        ::close(saved[fd - 1]);
    }
    ::close(file);
    return ReadFileBytes("printed");
}
}  // namespace

class QuietStartTest : public QObject {
    Q_OBJECT

private slots:
    void browserFlagsQuietOnlyWhereTheUserChoseNoLogging_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("expected");
        const QString quiet = QStringLiteral("--disable-logging --log-level=3");
        QTest::newRow("no flags") << "" << quiet;
        QTest::newRow("other flags kept in front") << "--no-sandbox --disable-gpu"
                                                   << "--no-sandbox --disable-gpu " + quiet;
        QTest::newRow("a flag that only begins like one") << "--validate"
                                                          << "--validate " + quiet;
        for (const char* own :
             {"--enable-logging=stderr --v=1", "--log-level=0", "--v=2", "--vmodule=gpu*=2", "--disable-logging"})
            QTest::newRow(own) << own << own;
    }
    void browserFlagsQuietOnlyWhereTheUserChoseNoLogging() {
        QFETCH(QString, user);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(QuietBrowserFlags(user.toStdString())), expected);
    }

    // Last: the quiet handler stays for the rest of the program.
    void heldUntilAFailedStartThenOnlyFatalPrints() {
        TempDir dir;
        ScopedEnv debug("NETZSPURER_DEBUG", std::nullopt);
        ScopedEnv flags("QTWEBENGINE_CHROMIUM_FLAGS", std::nullopt);
        QuietenDiagnostics();
        const std::string failedStart = PrintedBy([] {
            qWarning("held back");
            qCritical("no display");
        });
        const std::size_t held = failedStart.find("held back");
        QVERIFY(held != std::string::npos && held < failedStart.find("no display"));

        const std::string afterStart = PrintedBy([] {
            qWarning("said before the windows were up");
            StartUpSucceeded();
            qWarning("a warning");
            // As the browser hands on a page's console error.
            QMessageLogger(nullptr, 0, nullptr, "js").critical("Refused to refresh");
        });
        QCOMPARE(afterStart, std::string());
    }
};

QTEST_APPLESS_MAIN(QuietStartTest)
#include "quiet_start_test.moc"
