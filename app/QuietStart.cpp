#include "app/QuietStart.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <mutex>

namespace {
const char* const kDebugVariable = "NETZSPURER_DEBUG";
const char* const kBrowserFlagsVariable = "QTWEBENGINE_CHROMIUM_FLAGS";
// Fatal errors only; --disable-logging turns logging off in builds that log by default.
const char* const kQuietFlags = "--disable-logging --log-level=3";
// Any of these in the user's flags means the user has chosen how the engine logs.
const char* const kLoggingSwitches[] = {"--enable-logging", "--disable-logging", "--log-level", "--v", "--vmodule"};

std::mutex g_heldMutex;
QStringList g_held;
bool g_started = false;
QtMessageHandler g_printer = nullptr;

void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    QStringList held;
    {
        std::lock_guard<std::mutex> lock(g_heldMutex);
        // Once the windows are up, only the end of the program is worth a line:
        // critical messages then come from the pages shown (their console) or
        // from the engine, and a user takes them for the program's errors.
        const bool prints = type == QtFatalMsg || (type == QtCriticalMsg && !g_started);
        if (!prints) {
            if (!g_started) g_held << qFormatLogMessage(type, context, message);
            return;
        }
        // Why the start failed, or why the program ends: what was held comes first.
        held.swap(g_held);
    }
    for (const QString& line : held) std::fprintf(stderr, "%s\n", qPrintable(line));
    if (g_printer)
        g_printer(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

bool NamesSwitch(const QString& flag, const QString& name) {
    return flag == name || flag.startsWith(name + QLatin1Char('='));
}
}  // namespace

bool DiagnosticsWanted() { return qgetenv(kDebugVariable) == "1"; }

std::string QuietBrowserFlags(const std::string& userFlags) {
    const QStringList flags = QString::fromStdString(userFlags).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& flag : flags)
        for (const char* name : kLoggingSwitches)
            if (NamesSwitch(flag, QLatin1String(name))) return userFlags;
    return userFlags.empty() ? std::string(kQuietFlags) : userFlags + " " + kQuietFlags;
}

void QuietenDiagnostics() {
    if (DiagnosticsWanted()) return;
    const QByteArray user = qgetenv(kBrowserFlagsVariable);
    qputenv(kBrowserFlagsVariable, QByteArray::fromStdString(QuietBrowserFlags(user.toStdString())));
    g_printer = qInstallMessageHandler(QuietHandler);
}

void StartUpSucceeded() {
    std::lock_guard<std::mutex> lock(g_heldMutex);
    g_started = true;
    g_held.clear();
}
