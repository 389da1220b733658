// The project editor, driven through its controls in a scratch directory, with
// every message box answered from a script.
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionComboBox>
#include <QtTest>

#include "ui/QtMessageBox.h"
#include "project/ProjectData.h"
#include "project/ProjectDlg.h"
#include "project/UrlEntry.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

template <typename W>
QStringList Texts(const W* w) {
    QStringList out;
    for (int i = 0; i < w->count(); ++i) {
        if constexpr (std::is_same_v<W, QComboBox>)
            out << w->itemText(i);
        else
            out << w->item(i)->text();
    }
    return out;
}

std::string ProjectFile(const Lines& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

void ClickItem(QListWidget* list, const QString& text) {
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
    QVERIFY(found.front()->isSelected());
}

}  // namespace

class ProjectDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensWithTemplateLayout();
    void listsSortIgnoringCaseWhileProjectKeepsOrder();
    void showOldResultsFollowsResultsPageAtOpening_data();
    void showOldResultsFollowsResultsPageAtOpening();
    void showOldResultsHandsThePageToTheViewer();
    void missingProjectFileIsReportedButOpens();
    void urlAddChecksTrimsAndSkipsDuplicates();
    void urlUpdateTakesTextAsItStands();
    void urlSelectionSetsModeAndRadioRewritesPrefix();
    void urlDeleteRemovesExactEntryOnly();
    void documentsAllAddsXlsOnce();
    void patternAddAndUpdate();
    void allLinksClearsPatternsSwitchesControlsAndSavesNone();
    void placeholderNameKeepsDialogOpen_data();
    void placeholderNameKeepsDialogOpen();
    void closingButtons_data();
    void closingButtons();
    void failedSaveClosesAsCancelled();
    void cancelClickRenamesBeforeClosing();
    void escapeInNameFieldChecksName();
    void leavingNameFieldUnchangedAsksNothing_data();
    void leavingNameFieldUnchangedAsksNothing();
    void refusedNameReturnsPreviousName();
    void enterInNameFieldSearchesUnderPreviousName();
    void comboListsDropToTheirTemplateHeight();
    void groupFramesAtOneYShareTheirTopLine();
    void helpNamesTheModesAsTheButtonsDo();

private:
    void Open(const std::string& name, bool active = false) {
        m_dlg = std::make_unique<CProjectDlg>(m_project);
        m_dlg->m_strName = name;
        m_dlg->show();
        if (active && !QTest::qWaitForWindowActive(m_dlg.get())) qWarning("dialog not active");
    }
    void Script(std::deque<MsgResult> answers = {}) {
        m_box = std::make_unique<ScriptedMessageBox>(std::move(answers));
        SetAppMessageBox(m_box.get());
    }
    template <typename T = QWidget>
    T* Id(int id) {
        T* w = m_dlg->findChild<T*>(QStringLiteral("id%1").arg(id));
        if (!w) qFatal("control id%d missing", id);
        return w;
    }
    void Press(int id) { QTest::mouseClick(Id<QAbstractButton>(id), Qt::LeftButton); }
    void Type(int id, const char* text) { Id<QLineEdit>(id)->setText(QString::fromLatin1(text)); }
    QString Text(int id) { return Id<QLineEdit>(id)->text(); }
    bool FocusName() {
        Id(1009)->setFocus();
        return QTest::qWaitFor([&] { return Id(1009)->hasFocus(); });
    }
    bool OnlyBox(const std::string& text, const std::string& caption, MsgIcon icon) {
        const auto shown = m_box->Shown();
        return shown.size() == 1 && shown[0].text == text && shown[0].caption == caption && shown[0].icon == icon;
    }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<ScriptedMessageBox> m_box;
    // What the editor edits; made anew for every test, and outlives the dialog.
    ProjectData m_project;
    std::unique_ptr<CProjectDlg> m_dlg;
};

void ProjectDlgTest::init() {
    m_dir = std::make_unique<TempDir>();
    Script();
    m_project = ProjectData();
}

void ProjectDlgTest::cleanup() {
    m_dlg.reset();
    SetAppMessageBox(nullptr);
    m_box.reset();
    m_dir.reset();
}

void ProjectDlgTest::opensWithTemplateLayout() {
    Open("NEW", true);
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("velmor Netzspurer"));
    QVERIFY(m_box->Shown().empty());
    QCOMPARE(Text(1009), QStringLiteral("NEW"));
    // "&&" shows one ampersand and makes no shortcut.
    QVERIFY(QKeySequence::mnemonic(Id<QPushButton>(1018)->text()).isEmpty());
    QVERIFY(Id<QPushButton>(1)->isDefault());
    QTRY_COMPARE(QApplication::focusWidget(), Id(1012));

    for (int id : {1051, 1052, 1053, 1054}) {
        QVERIFY(!Id<QRadioButton>(id)->isChecked());
        QVERIFY(!(Id(id)->focusPolicy() & Qt::TabFocus));
    }

    struct Box {
        int id;
        int count;
        const char* selected;
    };
    for (const Box& b : {Box{1044, 16, ".ZIP"}, Box{1063, 7, ".EXE"}, Box{1066, 41, ".JPG"}, Box{1069, 24, ".HTM"}}) {
        auto* box = Id<QComboBox>(b.id);
        QCOMPARE(box->count(), b.count);
        QCOMPARE(box->currentText(), QString::fromLatin1(b.selected));
        QStringList sorted = Texts(box);
        sorted.sort(Qt::CaseInsensitive);
        QCOMPARE(Texts(box), sorted);
    }
    QVERIFY(Texts(Id<QComboBox>(1069)).count(QStringLiteral(".XLS")) == 2);
}

void ProjectDlgTest::listsSortIgnoringCaseWhileProjectKeepsOrder() {
    WriteFileBytes("proj.nsp",
                   ProjectFile({"b", "C", "a", "__URLSECTION__", "http://zeta/", "http://Beta/", "*http://alpha/"}));
    Open("proj");
    QCOMPARE(Texts(Id<QListWidget>(1002)), QStringList({"a", "b", "C"}));
    QCOMPARE(m_project.m_resourcePatterns, (Lines{"b", "C", "a"}));

    Type(1013, "http://ant/");
    Press(1014);
    QCOMPARE(Texts(Id<QListWidget>(1012)),
             QStringList({"*http://alpha/", "http://ant/", "http://Beta/", "http://zeta/"}));
    QCOMPARE(m_project.m_urlList, (Lines{"http://zeta/", "http://Beta/", "*http://alpha/", "http://ant/"}));
}

void ProjectDlgTest::showOldResultsFollowsResultsPageAtOpening_data() {
    QTest::addColumn<bool>("page");
    QTest::newRow("no results page") << false;
    QTest::newRow("results page") << true;
}

void ProjectDlgTest::showOldResultsFollowsResultsPageAtOpening() {
    QFETCH(bool, page);
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__"}));
    if (page) WriteFileBytes("proj.htm", "<html></html>");
    Open("proj");
    QCOMPARE(Id(1019)->isEnabled(), page);
}

// The editor shows no page itself: whoever runs it says how, and it stays open meanwhile.
void ProjectDlgTest::showOldResultsHandsThePageToTheViewer() {
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__"}));
    WriteFileBytes("proj.htm", "<html></html>");
    Open("proj");
    Lines shown;
    m_dlg->m_showResultsPage = [&](const std::string& page) { shown.push_back(page); };
    Press(1019);
    QCOMPARE(shown, Lines{"proj.htm"});
    QVERIFY(m_dlg->isVisible());
    QVERIFY(m_box->Shown().empty());
}

void ProjectDlgTest::missingProjectFileIsReportedButOpens() {
    Open("absent");
    QVERIFY(OnlyBox("Project file missing!", "Error", MsgIcon::Stop));
    QVERIFY(m_dlg->isVisible());
    Press(1);
    QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
    QCOMPARE(ReadFileBytes("absent.nsp"), ProjectFile({"__URLSECTION__"}));
}

void ProjectDlgTest::urlAddChecksTrimsAndSkipsDuplicates() {
    Open("NEW");
    Type(1013, " ftp://x/");
    Press(1014);
    QVERIFY(OnlyBox(kUrlSyntaxMessage, "Add an URL", MsgIcon::Information));
    QCOMPARE(Text(1013), QStringLiteral(" ftp://x/"));

    Type(1013, "  http://Example.com/  ");
    Press(1014);
    QCOMPARE(m_project.m_urlList, Lines{"http://Example.com/"});
    // Listed in another case: nothing is added, the edit still empties.
    Type(1013, "HTTP://EXAMPLE.COM/");
    Press(1014);
    QCOMPARE(m_project.m_urlList, Lines{"http://Example.com/"});
    QCOMPARE(Id<QListWidget>(1012)->count(), 1);
    QVERIFY(Text(1013).isEmpty());
    QCOMPARE(m_box->Shown().size(), std::size_t(1));

    Type(1013, "*HTTPS://secure/");
    Press(1014);
    QCOMPARE(m_project.m_urlList, (Lines{"http://Example.com/", "*HTTPS://secure/"}));
}

void ProjectDlgTest::urlUpdateTakesTextAsItStands() {
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__", "http://a/", "http://b/"}));
    Open("proj");
    auto* list = Id<QListWidget>(1012);
    Type(1013, "http://c/");
    Press(1015);  // no selection: nothing happens
    QCOMPARE(m_project.m_urlList, (Lines{"http://a/", "http://b/"}));

    ClickItem(list, "http://a/");
    Type(1013, " ftp://a/ ");  // blanks kept, and Add would refuse it
    Press(1015);
    QCOMPARE(m_project.m_urlList, (Lines{"http://b/", " ftp://a/ "}));
    QCOMPARE(Texts(list), QStringList({" ftp://a/ ", "http://b/"}));
    QCOMPARE(Text(1013), QStringLiteral(" ftp://a/ "));
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(m_box->Shown().empty());
}

void ProjectDlgTest::urlSelectionSetsModeAndRadioRewritesPrefix() {
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__", "*http://a/", "http://b/", "!ads", "+http://c/"}));
    Open("proj");
    auto* list = Id<QListWidget>(1012);
    struct Row {
        const char* entry;
        int radio;
    };
    for (const Row& r : {Row{"http://b/", 1051}, Row{"!ads", 1054}, Row{"+http://c/", 1052}, Row{"*http://a/", 1053}}) {
        ClickItem(list, r.entry);
        QCOMPARE(Text(1013), QString::fromLatin1(r.entry));
        for (int id : {1051, 1052, 1053, 1054}) QCOMPARE(Id<QRadioButton>(id)->isChecked(), id == r.radio);
    }

    Press(1052);
    QCOMPARE(Text(1013), QStringLiteral("+http://a/"));
    QCOMPARE(m_project.m_urlList.front(), std::string("*http://a/"));  // only the edit changes
    Press(1015);
    QCOMPARE(m_project.m_urlList, (Lines{"http://b/", "!ads", "+http://c/", "+http://a/"}));
    QVERIFY(list->findItems("*http://a/", Qt::MatchExactly).isEmpty());

    // On an empty edit a mode leaves its bare prefix, and the default mode none.
    Type(1013, "");
    Press(1052);
    QCOMPARE(Text(1013), QStringLiteral("+"));
    Press(1051);
    QCOMPARE(Text(1013), QString());
}

void ProjectDlgTest::urlDeleteRemovesExactEntryOnly() {
    // "\xE9" on its own does not survive the way through the display text.
    WriteFileBytes("proj.nsp",
                   ProjectFile({"__URLSECTION__", "http://A/", "http://a/", "http://b/", "http://caf\xE9/"}));
    Open("proj");
    auto* list = Id<QListWidget>(1012);
    ClickItem(list, "http://a/");
    Press(1016);
    QCOMPARE(m_project.m_urlList, (Lines{"http://A/", "http://b/", "http://caf\xE9/"}));
    QVERIFY(Text(1013).isEmpty());
    list->item(list->count() - 1)->setSelected(true);
    Press(1016);
    QCOMPARE(m_project.m_urlList, (Lines{"http://A/", "http://b/"}));
    QCOMPARE(Texts(list), QStringList({"http://A/", "http://b/"}));

    Type(1013, "kept");
    Press(1017);
    QVERIFY(m_project.m_urlList.empty());
    QCOMPARE(Id<QListWidget>(1012)->count(), 0);
    QCOMPARE(Text(1013), QStringLiteral("kept"));
    QVERIFY(m_box->Shown().empty());
}

void ProjectDlgTest::documentsAllAddsXlsOnce() {
    Open("NEW");
    Press(1070);
    const Lines& patterns = m_project.m_resourcePatterns;
    QCOMPARE(patterns.size(), std::size_t(23));
    QVERIFY(std::count(patterns.begin(), patterns.end(), ".XLS") == 1);
    QCOMPARE(patterns.front(), std::string(".ASP"));  // the box's displayed order
    Press(1070);
    QCOMPARE(Id<QListWidget>(1002)->count(), 23);

    Press(1043);  // the selected archive, once
    Press(1043);
    QCOMPARE(patterns.size(), std::size_t(24));
    QCOMPARE(patterns.back(), std::string(".ZIP"));
}

void ProjectDlgTest::patternAddAndUpdate() {
    WriteFileBytes("proj.nsp", ProjectFile({".ZIP", "__URLSECTION__"}));
    Open("proj");
    Type(1003, ".zip");
    Press(1005);
    QCOMPARE(m_project.m_resourcePatterns, Lines{".ZIP"});
    QVERIFY(Text(1003).isEmpty());

    Type(1003, "   ");
    Press(1005);
    QCOMPARE(Text(1003), QStringLiteral("   "));
    Type(1003, "  .mp3 ");
    Press(1005);
    QCOMPARE(m_project.m_resourcePatterns, (Lines{".ZIP", ".mp3"}));

    Type(1003, ".C");
    Press(1006);  // no selection: only the edit empties
    QVERIFY(Text(1003).isEmpty());
    ClickItem(Id<QListWidget>(1002), ".ZIP");
    QCOMPARE(Text(1003), QStringLiteral(".ZIP"));
    Type(1003, " .MP3 ");  // as it stands, duplicate or not
    Press(1006);
    QCOMPARE(m_project.m_resourcePatterns, (Lines{".mp3", " .MP3 "}));
    QVERIFY(Text(1003).isEmpty());
}

void ProjectDlgTest::allLinksClearsPatternsSwitchesControlsAndSavesNone() {
    WriteFileBytes("proj.nsp", ProjectFile({".ZIP", ".EXE", "__URLSECTION__", "http://a/"}));
    Open("proj");
    const int resourceIds[] = {1044, 1043, 1061, 1063, 1062, 1064, 1066, 1065, 1067,
                               1069, 1068, 1070, 1002, 1003, 1005, 1006, 1007, 1008};
    auto enabled = [&](bool expected) {
        return std::all_of(std::begin(resourceIds), std::end(resourceIds),
                           [&](int id) { return Id(id)->isEnabled() == expected; });
    };
    QVERIFY(enabled(true));

    Press(1045);
    QCOMPARE(m_project.m_allLinks, 1);
    QVERIFY(m_project.m_resourcePatterns.empty());
    QCOMPARE(Id<QListWidget>(1002)->count(), 0);
    QVERIFY(enabled(false));
    QVERIFY(Id(1014)->isEnabled());

    Press(1045);
    QCOMPARE(m_project.m_allLinks, 0);
    QVERIFY(!Id<QCheckBox>(1045)->isChecked());
    QVERIFY(m_project.m_resourcePatterns.empty());
    QVERIFY(enabled(true));

    Press(1070);
    Press(1045);
    Press(1);
    QCOMPARE(ReadFileBytes("proj.nsp"), ProjectFile({"__ALLLINKS__", "__URLSECTION__", "http://a/"}));
}

void ProjectDlgTest::placeholderNameKeepsDialogOpen_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("button");
    QTest::newRow("NEW, Search") << "NEW" << 1;
    QTest::newRow("new, Search") << "new" << 1;
    QTest::newRow("New, Save & Cancel") << "New" << 1018;
}

void ProjectDlgTest::placeholderNameKeepsDialogOpen() {
    QFETCH(QString, name);
    QFETCH(int, button);
    Open(name.toStdString());
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    Press(button);
    QVERIFY(OnlyBox("Please provide another name for this project!", "Important", MsgIcon::Information));
    QVERIFY(m_dlg->isVisible());
    QVERIFY(finished.isEmpty());
    QVERIFY(fs::is_empty(m_dir->Path()));
}

void ProjectDlgTest::closingButtons_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("saved");
    QTest::newRow("Search") << 1 << int(QDialog::Accepted) << true;
    QTest::newRow("Save & Cancel") << 1018 << int(QDialog::Rejected) << true;
    QTest::newRow("Cancel") << 2 << int(QDialog::Rejected) << false;
}

void ProjectDlgTest::closingButtons() {
    QFETCH(int, button);
    QFETCH(int, result);
    QFETCH(bool, saved);
    const std::string before = ProjectFile({".ZIP", "__URLSECTION__", "http://b/"});
    WriteFileBytes("proj.nsp", before);
    Open("proj");
    Type(1013, "http://a/");
    Press(1014);
    Press(button);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), result);
    QCOMPARE(m_dlg->m_strName, std::string("proj"));
    // Written in the project's order, not the list box's.
    QCOMPARE(ReadFileBytes("proj.nsp"),
             saved ? ProjectFile({".ZIP", "__URLSECTION__", "http://b/", "http://a/"}) : before);
    QVERIFY(m_box->Shown().empty());
}

void ProjectDlgTest::failedSaveClosesAsCancelled() {
    Open("no-such-dir/proj");
    Press(1);
    QCOMPARE(m_box->Texts(), (Lines{"Project file missing!", "Could not create project file!"}));
    QVERIFY(m_box->Shown()[1].caption == "Error" && m_box->Shown()[1].icon == MsgIcon::Stop);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
}

void ProjectDlgTest::cancelClickRenamesBeforeClosing() {
    WriteFileBytes("old.nsp", ProjectFile({"__URLSECTION__", "http://a/"}));
    WriteFileBytes("old.htm", "<html></html>");
    Open("old", true);
    QVERIFY(FocusName());
    Id<QLineEdit>(1009)->selectAll();
    QTest::keyClicks(Id(1009), "renamed");

    bool renamedWhenClosing = false;
    connect(m_dlg.get(), &QDialog::finished, this,
            [&] { renamedWhenClosing = fs::exists("renamed.nsp") && fs::exists("renamed.htm"); });
    Press(2);
    QVERIFY(renamedWhenClosing);
    QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    QCOMPARE(m_dlg->m_strName, std::string("renamed"));
    QVERIFY(!fs::exists("old.nsp") && !fs::exists("old.htm"));
    QVERIFY(m_box->Shown().empty());
}

void ProjectDlgTest::escapeInNameFieldChecksName() {
    WriteFileBytes("old.nsp", ProjectFile({"__URLSECTION__"}));
    Open("old", true);
    QVERIFY(FocusName());
    Type(1009, "fresh");
    QTest::keyClick(Id(1009), Qt::Key_Escape);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->m_strName, std::string("fresh"));
    QVERIFY(fs::exists("fresh.nsp") && !fs::exists("old.nsp"));
}

void ProjectDlgTest::leavingNameFieldUnchangedAsksNothing_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("same text") << "proj";
    QTest::newRow("same file by another path") << "./proj";
}

void ProjectDlgTest::leavingNameFieldUnchangedAsksNothing() {
    QFETCH(QString, typed);
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__", "http://a/"}));
    WriteFileBytes("proj.htm", "<html></html>");
    Script({MsgResult::Yes});  // an overwrite question would delete the project
    Open("proj", true);
    QVERIFY(FocusName());
    Id<QLineEdit>(1009)->setText(typed);
    QTest::keyClick(Id(1009), Qt::Key_Tab);
    QVERIFY(!Id(1009)->hasFocus());

    QVERIFY(m_box->Shown().empty());
    QCOMPARE(m_dlg->m_strName, std::string("proj"));
    QCOMPARE(Text(1009), QStringLiteral("proj"));
    QVERIFY(fs::exists("proj.nsp") && fs::exists("proj.htm"));
}

void ProjectDlgTest::refusedNameReturnsPreviousName() {
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__"}));
    WriteFileBytes("other.nsp", ProjectFile({"__URLSECTION__", "http://other/"}));
    Open("proj", true);
    struct Case {
        const char* typed;
        const char* message;
    };
    for (const Case& c :
         {Case{"", "Please provide a name for this project!"}, Case{"HeLp", "\"help\" is not a correct project name!"},
          Case{"other", "This project already exists!\nOverwrite project?"}}) {
        Script();  // No to the overwrite question
        QVERIFY(FocusName());
        Type(1009, c.typed);
        Press(1015);  // a click elsewhere leaves the field
        QCOMPARE(m_box->Texts(), Lines{c.message});
        QCOMPARE(Text(1009), QStringLiteral("proj"));
        QCOMPARE(m_dlg->m_strName, std::string("proj"));
    }
    QVERIFY(fs::exists("proj.nsp"));
    QCOMPARE(ReadFileBytes("other.nsp"), ProjectFile({"__URLSECTION__", "http://other/"}));
}

void ProjectDlgTest::enterInNameFieldSearchesUnderPreviousName() {
    WriteFileBytes("proj.nsp", ProjectFile({"__URLSECTION__"}));
    Open("proj", true);
    QVERIFY(FocusName());
    Type(1009, "typed");
    QTest::keyClick(Id(1009), Qt::Key_Return);
    QTRY_VERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
    QCOMPARE(m_dlg->m_strName, std::string("proj"));
    QVERIFY(fs::exists("proj.nsp") && !fs::exists("typed.nsp"));
    QVERIFY(m_box->Shown().empty());
}

void ProjectDlgTest::comboListsDropToTheirTemplateHeight() {
    Open("NEW");
    auto* media = Id<QComboBox>(1066);
    // A style that opens the list as a menu ignores the limit and shows all 41 items.
    QStyleOptionComboBox option;
    option.initFrom(media);
    QVERIFY(!media->style()->styleHint(QStyle::SH_ComboBox_Popup, &option, media));
    media->showPopup();
    QTRY_VERIFY(media->view()->isVisible());
    const int shown = media->view()->viewport()->height() / media->view()->sizeHintForRow(0);
    QCOMPARE(shown, media->maxVisibleItems());
    QVERIFY(shown >= 3 && shown <= 12);
    media->hidePopup();
}

namespace {
// Scans a box's own picture down a column near its right edge, clear of the title.
int FrameRow(QGroupBox* box) {
    const QImage picture = box->grab().toImage();
    const int x = picture.width() - 5;
    for (int y = 1; y < picture.height(); ++y)
        if (picture.pixel(x, y) != picture.pixel(x, 0)) return y;
    return -1;
}
}  // namespace

void ProjectDlgTest::groupFramesAtOneYShareTheirTopLine() {
    Open("NEW");
    const QList<QGroupBox*> boxes = m_dlg->findChildren<QGroupBox*>();
    for (QGroupBox* box : boxes) {
        for (QGroupBox* other : boxes)
            if (other->y() == box->y()) QCOMPARE(FrameRow(other), FrameRow(box));
        // A title stands on the top edge, the line through its middle.
        if (!box->title().isEmpty()) QVERIFY(std::abs(FrameRow(box) - box->fontMetrics().height() / 2) <= 1);
    }
}

// The help page explains the four modes by the names on the buttons.
void ProjectDlgTest::helpNamesTheModesAsTheButtonsDo() {
    QFile page(QFINDTESTDATA("../../resources/help/default.htm"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page.readAll()).remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    Open("NEW");
    for (int id : {1051, 1052, 1053, 1054}) {
        const QString name = Id<QRadioButton>(id)->text();
        QVERIFY2(text.contains(name), qPrintable(name));
    }
}

QTEST_MAIN(ProjectDlgTest)
#include "project_dlg_test.moc"
