// Netzspurer: starts the network library and runs the project list until it closes.
#include <curl/curl.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>

#include "app/Help.h"
#include "app/ProjectListDlg.h"
#include "app/QuietStart.h"
#include "crawl/HeapTuning.h"
#include "ui/QtMessageBox.h"

int main(int argc, char** argv) {
    KeepPageBlocksInHeap();
    // The browser engine refuses to start its sandbox as root.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", QByteArray("1"));
    // The results viewer's browser engine shares OpenGL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Before the application object: the window system's start and the browser
    // engine's flags are settled there.
    QuietenDiagnostics();
    QApplication app(argc, argv);
    StartUpSucceeded();

    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        AppMessageBox().Show("Fehler beim Initialisieren der Windows-Sockets.", AppName(), MsgIcon::Exclamation,
                             MsgButtons::Ok);
        return 1;
    }
    InstallHelpKey(app);

    {
        CProjectListDlg projects;
        projects.exec();
    }
    curl_global_cleanup();
    return 0;
}
