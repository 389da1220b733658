// The project list window, the about box and the F1 key. The editor, search
// and viewer are stood in for here; the end-to-end test runs the real ones.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/AboutDlg.h"
#include "app/Help.h"
#include "app/ProjectListDlg.h"
#include "ui/QtMessageBox.h"
#include "crawl/CrawlState.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"

namespace {

// A project list in a fresh directory holding `files`, with every dialog it
// would open replaced by a note in `calls`.
struct Fixture {
    TempDir dir;
    ScriptedMessageBox box;
    std::vector<std::string> calls;
    int editorResult = QDialog::Rejected;
    int searchResult = QDialog::Rejected;
    std::string renameTo;
    std::function<void()> duringEditor;
    std::unique_ptr<CProjectListDlg> dlg;
    QListWidget* list = nullptr;

    explicit Fixture(const std::vector<std::string>& files = {}) {
        for (const auto& f : files) WriteFileBytes(f, "__URLSECTION__\r\n");
        SetAppMessageBox(&box);
        SetHelpViewer([this](const std::string& page) { calls.push_back("help " + page); });
        dlg = std::make_unique<CProjectListDlg>();
        dlg->m_chain.runEditor = [this](std::string& name) {
            calls.push_back("editor " + name);
            if (duringEditor) duringEditor();
            if (!renameTo.empty()) name = renameTo;
            return editorResult;
        };
        dlg->m_chain.runSearch = [this](const std::string& report) {
            calls.push_back("search " + report);
            return searchResult;
        };
        dlg->m_chain.runViewer = [this](const std::string& page) { calls.push_back("viewer " + page); };
        list = dlg->findChild<QListWidget*>(QStringLiteral("m_list"));
        dlg->show();
    }
    ~Fixture() {
        dlg.reset();
        SetHelpViewer(nullptr);
        SetAppMessageBox(nullptr);
    }

    QStringList Items() const {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
        return texts;
    }
    QPoint Centre(int row) const { return list->visualItemRect(list->item(row)).center(); }
    QPoint Empty() const { return list->viewport()->rect().bottomRight() - QPoint(5, 5); }
    QAction* Action(const char* name) const { return dlg->findChild<QAction*>(QString::fromLatin1(name)); }
};

using Calls = std::vector<std::string>;

// Clicks (or whatever `act` does) and reports whether a pop-up menu came up meanwhile.
bool PopupShownBy(const std::function<void()>& act) {
    bool shown = false;
    QTimer::singleShot(100, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            shown = true;
            popup->close();
        }
    });
    act();
    QTest::qWait(200);
    return shown;
}

}  // namespace

Q_DECLARE_METATYPE(std::vector<std::string>)

class ProjectListTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); }

private slots:
    void initTestCase() { InstallHelpKey(*qApp); }

    void listsProjectsAfterTheFixedItems_data() {
        QTest::addColumn<std::vector<std::string>>("files");
        QTest::addColumn<QStringList>("items");
        const QStringList fixed{"Help", "New Project"};
        QTest::newRow("empty directory") << std::vector<std::string>{} << fixed;
        QTest::newRow("reverse scan order")
            << std::vector<std::string>{"b.nsp", "c.nsp", "a.nsp"} << fixed + QStringList{"c", "b", "a"};
        // Byte order, not the locale's: capitals before small letters.
        QTest::newRow("byte order") << std::vector<std::string>{"a.nsp", "Z.nsp", "B.nsp"}
                                    << fixed + QStringList{"a", "Z", "B"};
        QTest::newRow("only the last extension goes")
            << std::vector<std::string>{"v1.2.nsp", "x.nsp.bak", "y.NSP", ".nsp", "notes.txt"}
            << fixed + QStringList{"v1.2"};
    }
    void listsProjectsAfterTheFixedItems() {
        QFETCH(std::vector<std::string>, files);
        QFETCH(QStringList, items);
        Fixture f(files);
        std::filesystem::create_directory("folder.nsp");
        f.dlg->RefreshProjectList();
        QCOMPARE(f.Items(), items);
        QCOMPARE(static_cast<qsizetype>(g_ProjectNames.size()), items.size() - 2);
    }

    // The list is aligned left: the items fill a column down the left edge
    // before the next column starts.
    void itemsRunDownTheLeftEdge() {
        Fixture f({"a.nsp"});
        const QRect help = f.list->visualItemRect(f.list->item(0));
        const QRect fresh = f.list->visualItemRect(f.list->item(1));
        QCOMPARE(fresh.left(), help.left());
        QVERIFY(fresh.top() >= help.bottom());
    }

    void scrollBarsAreDarkLikeTheList() {
        Fixture f;
        for (const QScrollBar* bar : {f.list->horizontalScrollBar(), f.list->verticalScrollBar()})
            QVERIFY(bar->palette().color(QPalette::Button).lightness() < 100);
    }

    void iconTellsWhetherResultsExist() {
        Fixture f({"plain.nsp", "found.nsp"});
        WriteFileBytes("found.htm", "<html></html>");
        f.dlg->RefreshProjectList();
        const auto image = [&](int row) { return f.list->item(row)->icon().cacheKey(); };
        const auto key = [&](CProjectListDlg::Image i) { return f.dlg->ImageAt(i).cacheKey(); };
        QCOMPARE(f.Items(), (QStringList{"Help", "New Project", "plain", "found"}));
        QCOMPARE(image(0), key(CProjectListDlg::kImageHelp));
        QCOMPARE(image(1), key(CProjectListDlg::kImageNewProject));
        QCOMPARE(image(2), key(CProjectListDlg::kImageDocument));
        QCOMPARE(image(3), key(CProjectListDlg::kImageResults));
    }

    void activationFollowsTheCurrentText_data() {
        QTest::addColumn<QString>("current");
        QTest::addColumn<Calls>("calls");
        QTest::newRow("nothing current") << "" << Calls{};
        QTest::newRow("new project") << "New Project" << Calls{"editor NEW"};
        QTest::newRow("help") << "Help" << Calls{"help help/default.htm"};
        QTest::newRow("project") << "web" << Calls{"editor web"};
        // The fixed texts are matched exactly.
        QTest::newRow("help in other case") << "help" << Calls{"editor help"};
        QTest::newRow("new project in other case") << "new project" << Calls{"editor new project"};
    }
    void activationFollowsTheCurrentText() {
        QFETCH(QString, current);
        QFETCH(Calls, calls);
        Fixture f;
        f.dlg->m_strCurrent = FromQt(current);
        f.dlg->ActivateCurrentItem();
        QCOMPARE(f.calls, calls);
    }

    void projectNamedLikeAFixedItemActsLikeIt() {
        Fixture f({"Help.nsp", "New Project.nsp"});
        QCOMPARE(f.Items(), (QStringList{"Help", "New Project", "New Project", "Help"}));
        QTest::mouseDClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(3));
        QTest::mouseDClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(2));
        QCOMPARE(f.calls, (Calls{"help help/default.htm", "editor NEW"}));
        f.dlg->m_strCurrent = "Help";
        f.dlg->DeleteCurrentProject();
        QCOMPARE(f.box.Texts(), Calls{"This item could not be deleted!"});
        QVERIFY(std::filesystem::exists("Help.nsp"));
    }

    void deleteRefusesTheFixedItems_data() {
        QTest::addColumn<QString>("current");
        QTest::newRow("nothing current") << "";
        QTest::newRow("help") << "Help";
        QTest::newRow("new project") << "New Project";
    }
    void deleteRefusesTheFixedItems() {
        QFETCH(QString, current);
        Fixture f({"a.nsp"});
        f.dlg->m_strCurrent = FromQt(current);
        f.dlg->DeleteCurrentProject();
        const auto shown = f.box.Shown();
        QCOMPARE(shown.size(), size_t(1));
        QVERIFY(shown[0].text == "This item could not be deleted!" && shown[0].caption == "Delete");
        QVERIFY(shown[0].icon == MsgIcon::Stop && shown[0].buttons == MsgButtons::Ok);
        QVERIFY(std::filesystem::exists("a.nsp"));
    }

    void deleteAsksThenRemovesBothFiles() {
        Fixture f({"a.nsp", "b.nsp"});
        WriteFileBytes("a.htm", "<html></html>");
        QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(3));
        QCOMPARE(f.dlg->m_strCurrent, std::string("a"));

        f.box.Answer(MsgResult::No);
        f.Action("actionDelete")->trigger();
        QVERIFY(std::filesystem::exists("a.nsp") && std::filesystem::exists("a.htm"));

        f.box.Answer(MsgResult::Yes);
        f.Action("actionDelete")->trigger();
        const auto shown = f.box.Shown();
        QCOMPARE(shown.size(), size_t(2));
        QCOMPARE(shown[1].text, std::string("Delete project \"a\" ?"));
        QVERIFY(shown[1].caption == "Delete confirmation" && shown[1].icon == MsgIcon::Question);
        QCOMPARE(shown[1].buttons, MsgButtons::YesNo);
        QVERIFY(!std::filesystem::exists("a.nsp") && !std::filesystem::exists("a.htm"));
        QCOMPARE(f.Items(), (QStringList{"Help", "New Project", "b"}));

        // The deleted project stays current: the menu still comes, Delete asks
        // again, and a Yes finds nothing left to remove.
        QCOMPARE(f.dlg->m_strCurrent, std::string("a"));
        QVERIFY(PopupShownBy([&] { QTest::mouseClick(f.list->viewport(), Qt::RightButton, {}, f.Empty()); }));
        f.box.Answer(MsgResult::Yes);
        f.dlg->DeleteCurrentProject();
        QCOMPARE(f.box.Shown().size(), size_t(3));
        QCOMPARE(f.Items(), (QStringList{"Help", "New Project", "b"}));
    }

    // A real box: Escape and the close box leave a Yes/No question open, so that
    // only Yes or No answers it; an Ok box still ends on Escape.
    void questionsAnswerOnlyByTheirButtons() {
        Fixture f({"a.nsp"});
        SetAppMessageBox(nullptr);
        f.dlg->m_strCurrent = "a";
        bool openAfterEscapeAndClose = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Escape);
            box->close();
            QCoreApplication::processEvents();
            openAfterEscapeAndClose = box->isVisible();
            box->button(QMessageBox::Yes)->click();
        });
        f.dlg->DeleteCurrentProject();
        QVERIFY(openAfterEscapeAndClose);
        QVERIFY(!std::filesystem::exists("a.nsp"));

        bool okBoxEnded = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Escape);
            okBoxEnded = !box->isVisible();
            if (!okBoxEnded) box->button(QMessageBox::Ok)->click();
        });
        f.dlg->m_strCurrent = "Help";
        f.dlg->DeleteCurrentProject();
        QVERIFY(okBoxEnded);
    }

    // A project file from a Latin-1 system, in a UTF-8 locale: shown as best the
    // locale can, opened and deleted by the bytes of its name.
    void aNameThatIsNoTextKeepsItsFiles() {
        const std::string name = "caf\xE9";
        Fixture f({name + ".nsp"});
        WriteFileBytes(name + ".htm", "<html></html>");
        f.dlg->RefreshProjectList();
        QCOMPARE(f.Items().size(), 3);
        QTest::mouseDClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(2));
        QCOMPARE(f.calls, Calls{"editor " + name});

        QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(1));
        QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(2));
        QCOMPARE(f.dlg->m_strCurrent, name);
        f.box.Answer(MsgResult::Yes);
        f.Action("actionDelete")->trigger();
        QVERIFY(!std::filesystem::exists(name + ".nsp") && !std::filesystem::exists(name + ".htm"));
        QCOMPARE(f.Items(), (QStringList{"Help", "New Project"}));
    }

    void mouseAndKeysChooseTheCurrentItem() {
        Fixture f({"a.nsp", "b.nsp"});
        QCOMPARE(f.dlg->m_strCurrent, std::string());
        // Without a current item neither the menu nor Open nor Enter does anything.
        QVERIFY(!PopupShownBy([&] { QTest::mouseClick(f.list->viewport(), Qt::RightButton, {}, f.Empty()); }));
        f.Action("actionOpen")->trigger();
        QTest::keyClick(f.list, Qt::Key_Return);
        QCOMPARE(f.calls, Calls{});

        // A right click on an item makes it current before the menu comes up.
        QVERIFY(PopupShownBy([&] { QTest::mouseClick(f.list->viewport(), Qt::RightButton, {}, f.Centre(2)); }));
        QCOMPARE(f.dlg->m_strCurrent, std::string("b"));
        QTest::keyClick(f.list, Qt::Key_Return);
        QCOMPARE(f.calls, Calls{"editor b"});

        // A click beside the items keeps the current item; a double click there clears it.
        QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(3));
        QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, f.Empty());
        QCOMPARE(f.list->selectedItems().size(), 0);
        QCOMPARE(f.dlg->m_strCurrent, std::string("a"));
        QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, f.Centre(2));
        QCOMPARE(f.dlg->m_strCurrent, std::string("b"));
        QTest::mouseDClick(f.list->viewport(), Qt::LeftButton, {}, f.Empty());
        QCOMPARE(f.dlg->m_strCurrent, std::string());
        QVERIFY(!PopupShownBy([&] { QTest::mouseClick(f.list->viewport(), Qt::RightButton, {}, f.Empty()); }));
        QCOMPARE(f.calls, Calls{"editor b"});

        auto* open = f.dlg->findChild<QPushButton*>(QStringLiteral("m_btnOpen"));
        QVERIFY(open && open->isDefault() && !open->isVisible());
    }

    void openingRunsTheChain_data() {
        QTest::addColumn<int>("editorResult");
        QTest::addColumn<int>("searchResult");
        QTest::addColumn<Calls>("calls");
        QTest::newRow("editor cancelled") << 0 << 1 << Calls{"editor NEW"};
        QTest::newRow("search discarded") << 1 << 0 << Calls{"editor NEW", "search named.htm"};
        QTest::newRow("results kept") << 1 << 1 << Calls{"editor NEW", "search named.htm", "viewer named.htm"};
    }
    void openingRunsTheChain() {
        QFETCH(int, editorResult);
        QFETCH(int, searchResult);
        QFETCH(Calls, calls);
        Fixture f;
        f.editorResult = editorResult;
        f.searchResult = searchResult;
        f.renameTo = "named";
        f.dlg->m_strCurrent = "New Project";
        g_OpenProject.m_urlList = {"http://x/"};
        g_OpenProject.m_resourcePatterns = {".ZIP"};
        g_CrawlState.m_excludeList = {"!x"};
        g_CrawlState.m_failedUrls = {"http://failed/"};
        bool minimisedDuringEditor = false;
        f.duringEditor = [&] {
            minimisedDuringEditor = f.dlg->isMinimized();
            QVERIFY(g_OpenProject.m_urlList.empty() && g_OpenProject.m_resourcePatterns.empty() &&
                    g_CrawlState.m_excludeList.empty());
            QVERIFY(g_ProjectNames.empty());
            WriteFileBytes("named.nsp", "__URLSECTION__\r\n");
        };

        // Run as the program does, modally: the chain must not end the main window.
        bool stillOpenAfterChain = false;
        QTimer::singleShot(0, [&] {
            f.Action("actionNew")->trigger();
            QTimer::singleShot(50, [&] {
                stillOpenAfterChain = f.dlg->isVisible();
                f.dlg->accept();
            });
        });
        QCOMPARE(f.dlg->exec(), int(QDialog::Accepted));
        QVERIFY(stillOpenAfterChain);
        QCOMPARE(f.calls, calls);
        QVERIFY(minimisedDuringEditor);
        QVERIFY(!f.dlg->isMinimized());
        QCOMPARE(f.Items(), (QStringList{"Help", "New Project", "named"}));
        QCOMPARE(f.dlg->m_strCurrent, std::string("New Project"));
        QCOMPARE(g_CrawlState.m_failedUrls, StringList{"http://failed/"});
    }

    void menuCommands() {
        Fixture f;
        QCOMPARE(f.dlg->windowTitle(), QStringLiteral("velmor Netzspurer "));

        f.Action("actionHelp")->trigger();
        QCOMPARE(f.calls, Calls{"help help/default.htm"});

        bool aboutShown = false;
        QTimer::singleShot(0, [&] {
            aboutShown = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()) != nullptr;
            if (aboutShown) QApplication::activeModalWidget()->close();
        });
        f.Action("actionAbout")->trigger();
        QVERIFY(aboutShown);

        QTimer::singleShot(0, [&] { f.Action("actionExit")->trigger(); });
        f.dlg->exec();
        QVERIFY(!f.dlg->isVisible());
    }

    void sizeKeepsItsMinimumAndTheBanner_data() {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("got");
        QTest::newRow("too small") << QSize(300, 250) << QSize(450, 400);
        QTest::newRow("too narrow") << QSize(200, 700) << QSize(450, 700);
        QTest::newRow("large") << QSize(900, 700) << QSize(900, 700);
    }
    void sizeKeepsItsMinimumAndTheBanner() {
        QFETCH(QSize, asked);
        QFETCH(QSize, got);
        Fixture f;
        QCOMPARE(f.dlg->size(), QSize(600, 480));
        f.dlg->resize(asked);
        QCOMPARE(f.dlg->size(), got);
        const QRect banner = f.dlg->findChild<QLabel*>(QStringLiteral("m_banner"))->geometry();
        const int menuBottom = f.dlg->findChild<QMenuBar*>()->geometry().bottom() + 1;
        QCOMPARE(banner, QRect(0, menuBottom, got.width(), 200));
        QCOMPARE(f.list->geometry(), QRect(0, menuBottom + 200, got.width(), got.height() - menuBottom - 200));
    }

    void f1ShowsHelp_data() {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("help");
        QTest::newRow("plain") << int(Qt::NoModifier) << true;
        QTest::newRow("shift") << int(Qt::ShiftModifier) << false;
        QTest::newRow("ctrl") << int(Qt::ControlModifier) << false;
        QTest::newRow("alt") << int(Qt::AltModifier) << false;
    }
    void f1ShowsHelp() {
        QFETCH(int, modifiers);
        QFETCH(bool, help);
        Fixture f;
        QTest::keyClick(f.list, Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.calls, help ? Calls{"help help/default.htm"} : Calls{});
    }

    void aboutBoxLinesAndF1() {
        TempDir dir;
        std::vector<std::string> helped;
        SetHelpViewer([&](const std::string& page) { helped.push_back(page); });
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QStringLiteral("velmor Netzspurer"));
        // Caption and system menu, as its template has: no minimise or maximise box.
        QVERIFY(about.windowFlags() & Qt::WindowSystemMenuHint);
        QVERIFY(!(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QTimer::singleShot(0, [&] {
            QTest::keyClick(&about, Qt::Key_F1);
            about.findChild<QPushButton*>(QStringLiteral("id1"))->click();
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QCOMPARE(helped, Calls{"help/default.htm"});
        SetHelpViewer(nullptr);

        std::vector<QLabel*> lines;
        for (QLabel* l : about.findChildren<QLabel*>())
            if (!l->text().isEmpty()) lines.push_back(l);
        std::sort(lines.begin(), lines.end(), [](QLabel* a, QLabel* b) { return a->y() < b->y(); });
        QStringList texts;
        for (QLabel* l : lines) texts << l->text();
        QCOMPARE(texts, (QStringList{"velmor Netzspurer", "Copyright (C) 2026 velmor", "version 1.4a",
                                     "http://www.velmor.example", "netzspurer@velmor.example"}));
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("icon"))->pixmap().isNull());
    }
};

QTEST_MAIN(ProjectListTest)
#include "project_list_test.moc"
