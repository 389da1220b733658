// The whole program on one project, with every real dialog: from "New
// Project" in the main window through the editor, a search of a small site on
// 127.0.0.1 and the results viewer, back to the main window, which then lists
// the new project with results. F1 in the editor shows the help on the way.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <string>

#include "app/Help.h"
#include "app/ProjectListDlg.h"
#include "app/SearchDlg.h"
#include "ui/QtMessageBox.h"
#include "project/ProjectDlg.h"
#include "results/ResultsDlg.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace {

// WebEngine's first start alone can take several seconds.
constexpr int kGiveUpMs = 90000;

template <typename T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (!child) qWarning("no control %s", name);
    return child;
}

// Acts as soon as `ready` holds for the active modal window. The action runs
// from its own timer, so a dialog it opens does not stop the watching.
// The watching ends with `scope`.
void When(QObject* scope, std::function<bool(QWidget*)> ready, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer(scope);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, ready, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || !ready(modal)) return;
        poll->stop();
        poll->deleteLater();
        QTimer::singleShot(0, poll->parent(), [modal, act] { act(modal); });
    });
    poll->start();
}

template <typename T>
bool Is(QWidget* w) {
    return qobject_cast<T*>(w) != nullptr;
}

bool ViewerOn(QWidget* w, const std::string& page) {
    auto* viewer = qobject_cast<CResultsDlg*>(w);
    return viewer && viewer->m_strPage.size() >= page.size() &&
           viewer->m_strPage.compare(viewer->m_strPage.size() - page.size(), page.size(), page) == 0;
}

void Type(QWidget* dlg, const char* edit, const std::string& text) {
    auto* field = Child<QLineEdit>(dlg, edit);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QString::fromStdString(text));
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); }

private slots:
    void newProjectFromListToResults() {
        TempDir dir;
        const auto help = std::filesystem::path(__FILE__).parent_path() / "../../resources/help";
        std::filesystem::create_directory("help");
        std::filesystem::copy_file(help / "default.htm", "help/default.htm");

        ScriptedMessageBox box;
        SetAppMessageBox(&box);
        InstallHelpKey(*qApp);

        // Relative links only: a root link would be resolved without the server's port.
        TestHttpServer server;
        server.Page("/",
                    "<html><body>\n<a href=\"files/tool.zip\">tool</a>\n"
                    "<a href=\"docs/page.html\">docs</a>\n</body></html>\n");
        server.Page("/docs/page.html",
                    "<html><body><a href=\"manual.ZIP\">manual</a>"
                    "</body></html>\n");
        server.Start();

        QObject scope;
        CProjectListDlg main;
        main.show();
        auto* list = Child<QListWidget>(&main, "m_list");

        bool minimisedInEditor = false;
        bool helpShown = false;
        bool minimisedInViewer = false;
        bool reportShown = false;

        When(&scope, Is<CProjectDlg>, [&](QWidget* editor) {
            minimisedInEditor = main.isMinimized();
            Type(editor, "id1009", "demo");
            Child<QWidget>(editor, "id1013")->setFocus();  // leaving the name field takes the name
            QTest::keyClick(editor, Qt::Key_F1);           // runs the help viewer, below
            Type(editor, "id1013", server.Url("/"));
            Child<QPushButton>(editor, "id1014")->click();
            Type(editor, "id1003", ".zip");
            Child<QPushButton>(editor, "id1005")->click();
            Child<QPushButton>(editor, "id1")->click();
        });
        When(
            &scope, [](QWidget* w) { return ViewerOn(w, "help/default.htm"); },
            [&](QWidget* viewer) {
                helpShown = true;
                Child<QPushButton>(viewer, "m_btnOk")->click();
            });
        When(&scope, Is<CSearchDlg>, [&](QWidget* search) {
            Child<QPushButton>(search, "m_btnStart")->click();
            When(
                &scope,
                [search](QWidget* w) {
                    auto* start = Child<QPushButton>(search, "m_btnStart");
                    return w == search && start->isEnabled() && start->text() == "Show results";
                },
                [](QWidget* w) { Child<QPushButton>(w, "m_btnStart")->click(); });
        });
        When(
            &scope, [](QWidget* w) { return ViewerOn(w, "demo.htm"); },
            [&](QWidget* viewer) {
                reportShown = true;
                minimisedInViewer = main.isMinimized();
                QTimer::singleShot(500, [viewer] { Child<QPushButton>(viewer, "m_btnOk")->click(); });
            });

        // Should anything not come up, nothing waits forever for it.
        bool gaveUp = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            gaveUp = true;
            auto* closer = new QTimer(qApp);
            QObject::connect(closer, &QTimer::timeout, [closer, &main] {
                QWidget* modal = QApplication::activeModalWidget();
                if (modal && modal != &main)
                    modal->close();
                else
                    closer->deleteLater();
            });
            closer->start(100);
        });
        watchdog.start(kGiveUpMs);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        QCOMPARE(main.m_strCurrent, std::string("New Project"));
        QTest::keyClick(list, Qt::Key_Return);  // the whole chain runs in here
        watchdog.stop();

        QVERIFY(!gaveUp);
        QVERIFY(minimisedInEditor);
        QVERIFY(helpShown);
        QVERIFY(reportShown);
        QVERIFY(minimisedInViewer);
        QVERIFY(main.isVisible() && !main.isMinimized());
        for (const ShownBox& shown : box.Shown()) qWarning("box: %s", shown.text.c_str());
        QVERIFY(box.Shown().empty());

        QVERIFY(!std::filesystem::exists("NEW.nsp"));
        const std::string project = ReadFileBytes("demo.nsp");
        QCOMPARE(project, ".zip\r\n__URLSECTION__\r\n" + server.Url("/") + "\r\n");
        const std::string report = ReadFileBytes("demo.htm");
        QVERIFY(report.find(server.Url("/files/tool.zip")) != std::string::npos);
        QVERIFY(report.find(server.Url("/docs/manual.ZIP")) != std::string::npos);

        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(2)->text(), QStringLiteral("demo"));
        QCOMPARE(list->item(2)->icon().cacheKey(), main.ImageAt(CProjectListDlg::kImageResults).cacheKey());
        SetAppMessageBox(nullptr);
    }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
