#include "app/ProjectListDlg.h"

#include <unistd.h>

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/AboutDlg.h"
#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "app/Help.h"
#include "ui/QtMessageBox.h"
#include "crawl/CrawlState.h"
#include "app/SearchDlg.h"
#include "project/ProjectDlg.h"
#include "project/ProjectFile.h"
#include "results/ResultsDlg.h"

StringList g_ProjectNames;
ProjectData g_OpenProject;
CrawlState g_CrawlState;

namespace {
const char* const kHelpItem = "Help";
const char* const kNewProjectItem = "New Project";
const char* const kProjectExtension = ".nsp";
const char* const kResultsExtension = ".htm";
const char* const kNewProjectName = "NEW";

constexpr int kBannerHeight = 200;
constexpr int kIconSize = 32;

// The list's pictures are opaque squares on the list's own black, so a
// selected item is tinted as a whole and no edge of the artwork frays.
QIcon OnBlack(int artId) {
    QPixmap picture(kIconSize, kIconSize);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    ArtIcon(artId).paint(&painter, QRect(0, 0, kIconSize, kIconSize));
    painter.end();
    return QIcon(picture);
}

// Titles of the project files in the current directory, in ascending byte
// order: the order in which the list is filled must not depend on the file system.
StringList ScanProjectFiles() {
    StringList names;
    std::error_code ec;
    const std::string extension = kProjectExtension;
    for (std::filesystem::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() <= extension.size()) continue;
        if (file.compare(file.size() - extension.size(), extension.size(), extension) != 0) continue;
        // A directory that happens to end in .nsp is no project: it could be
        // neither opened nor deleted as one.
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        names.push_back(file.substr(0, file.size() - extension.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void RunViewer(const std::string& page) {
    CResultsDlg viewer;
    viewer.m_strPage = page;
    viewer.exec();
}

int RunEditor(std::string& name) {
    CProjectDlg editor(g_OpenProject);
    editor.m_strName = name;
    editor.m_showResultsPage = RunViewer;
    const int result = editor.exec();
    name = editor.m_strName;
    return result;
}

int RunSearch(const std::string& reportFile) {
    CSearchDlg search(g_OpenProject, &g_CrawlState);
    search.m_strReportFile = reportFile;
    return search.exec();
}

QAction* AddCommand(QMenu* menu, const char* text, const char* objectName) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setObjectName(QString::fromLatin1(objectName));
    return action;
}
}  // namespace

CProjectListDlg::CProjectListDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint) {
    LoadAppIcon();
    m_chain.runEditor = RunEditor;
    m_chain.runSearch = RunSearch;
    m_chain.runViewer = RunViewer;

    setWindowTitle(QStringLiteral("velmor Netzspurer "));
    setFont(DialogUnits::DialogFont());
    SetDialogIcon(this);

    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("m_menuBar"));
    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File"));
    connect(AddCommand(file, "&Exit", "actionExit"), &QAction::triggered, this, [this] { done(QDialog::Rejected); });
    m_pProjectMenu = m_menuBar->addMenu(QStringLiteral("&Project"));
    connect(AddCommand(m_pProjectMenu, "&New", "actionNew"), &QAction::triggered, this,
            [this] { OpenProject(kNewProjectName); });
    connect(AddCommand(m_pProjectMenu, "&Open", "actionOpen"), &QAction::triggered, this,
            [this] { ActivateCurrentItem(); });
    m_pProjectMenu->addSeparator();
    connect(AddCommand(m_pProjectMenu, "&Delete", "actionDelete"), &QAction::triggered, this,
            [this] { DeleteCurrentProject(); });
    QMenu* about = m_menuBar->addMenu(QStringLiteral("&?"));
    connect(AddCommand(about, "&About", "actionAbout"), &QAction::triggered, this, [] {
        CAboutDlg box;
        box.exec();
    });
    connect(AddCommand(about, "&Help", "actionHelp"), &QAction::triggered, this, [] { ShowHelpPage(); });

    // Enter in the window means "open the current item"; the button only
    // carries that meaning and is never seen.
    m_btnOpen = new QPushButton(QStringLiteral("Open"), this);
    m_btnOpen->setObjectName(QStringLiteral("m_btnOpen"));
    m_btnOpen->setDefault(true);
    m_btnOpen->setFlat(true);
    m_btnOpen->hide();
    connect(m_btnOpen, &QPushButton::clicked, this, [this] { ActivateCurrentItem(); });

    m_banner = new QLabel(this);
    m_banner->setObjectName(QStringLiteral("m_banner"));
    m_banner->setAlignment(Qt::AlignCenter);
    m_banner->setPixmap(ArtPixmap(135, QSize(423, 149)));

    m_imageList[kImageDocument] = OnBlack(172);
    m_imageList[kImageResults] = OnBlack(164);
    m_imageList[kImageNewProject] = OnBlack(172);
    m_imageList[kImageHelp] = OnBlack(168);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("m_list"));
    m_list->setViewMode(QListView::IconMode);
    m_list->setIconSize(QSize(kIconSize, kIconSize));
    m_list->setGridSize(QSize(96, 72));
    // Aligned left: the items run down the left edge in columns. A scroll bar
    // appears only when they overflow, so that no project is out of reach.
    m_list->setFlow(QListView::TopToBottom);
    m_list->setWrapping(true);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setMovement(QListView::Static);
    m_list->setWordWrap(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setDragEnabled(false);
    m_list->setContextMenuPolicy(Qt::PreventContextMenu);
    QPalette colours = m_list->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Base, Qt::black);
        colours.setColor(group, QPalette::Window, Qt::black);
        colours.setColor(group, QPalette::Text, Qt::white);
    }
    // The selection stays visible while another window has the focus.
    colours.setColor(QPalette::Inactive, QPalette::Highlight, colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    m_list->setPalette(colours);
    // Scroll bars in the list's dark, not in the window's light grey.
    const QPalette darkBars(QColor(0x40, 0x40, 0x40), QColor(0x20, 0x20, 0x20));
    m_list->horizontalScrollBar()->setPalette(darkBars);
    m_list->verticalScrollBar()->setPalette(darkBars);
    m_list->viewport()->installEventFilter(this);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CProjectListDlg::OnSelectionChanged);

    setMinimumSize(450, 400);
    resize(600, 480);
    RefreshProjectList();
}

void CProjectListDlg::InsertItem(int position, const std::string& text, Image image) {
    auto* item = new QListWidgetItem(m_imageList[image], ToQt(text));
    // A file name need not be valid text in the locale: shown, it loses the bytes
    // that are not, and only the name's own bytes open, delete or rename its files.
    item->setData(kNameRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    m_list->insertItem(position, item);
}

std::string CProjectListDlg::ItemName(const QModelIndex& index) {
    const QByteArray name = index.data(kNameRole).toByteArray();
    return std::string(name.constData(), static_cast<std::size_t>(name.size()));
}

void CProjectListDlg::RefreshProjectList() {
    m_bRefreshing = true;
    m_list->clear();
    g_ProjectNames.clear();
    InsertItem(0, kHelpItem, kImageHelp);
    InsertItem(1, kNewProjectItem, kImageNewProject);
    g_ProjectNames = ScanProjectFiles();
    // Each project goes in at 2, in front of the ones before it: the list
    // shows the scan order reversed.
    for (const std::string& name : g_ProjectNames)
        InsertItem(2, name, ResultsPageOpens(name) ? kImageResults : kImageDocument);
    m_bRefreshing = false;
}

void CProjectListDlg::ActivateCurrentItem() {
    if (m_strCurrent.empty()) return;
    if (m_strCurrent == kNewProjectItem)
        OpenProject(kNewProjectName);
    else if (m_strCurrent == kHelpItem)
        ShowHelpPage();
    else
        OpenProject(m_strCurrent);
}

void CProjectListDlg::OpenProject(std::string name) {
    if (name.empty()) return;
    g_ProjectNames.clear();
    g_OpenProject.ClearLists();
    g_CrawlState.m_excludeList.clear();

    // Minimised rather than hidden: hiding a dialog ends its modal loop, and
    // with it the program.
    showMinimized();
    if (m_chain.runEditor(name) == QDialog::Accepted) {
        const std::string page = name + kResultsExtension;
        if (m_chain.runSearch(page) == QDialog::Accepted) m_chain.runViewer(page);
    }
    showNormal();
    activateWindow();
    RefreshProjectList();
}

void CProjectListDlg::DeleteCurrentProject() {
    if (m_strCurrent.empty() || m_strCurrent == kNewProjectItem || m_strCurrent == kHelpItem) {
        AppMessageBox().Show("This item could not be deleted!", "Delete", MsgIcon::Stop, MsgButtons::Ok);
        return;
    }
    const std::string question = "Delete project \"" + m_strCurrent + "\" ?";
    if (AppMessageBox().Show(question, "Delete confirmation", MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
        return;
    // Files only: a directory of that name is not part of the project. A file
    // that is already gone is no error; the refresh shows what is left.
    ::unlink((m_strCurrent + kProjectExtension).c_str());
    ::unlink((m_strCurrent + kResultsExtension).c_str());
    RefreshProjectList();
}

void CProjectListDlg::OnSelectionChanged(const QItemSelection& selected) {
    // Only a choice counts: losing the selection (a click beside the items, a
    // refresh) leaves the current item as it was.
    if (m_bRefreshing || selected.isEmpty()) return;
    m_strCurrent = ItemName(selected.indexes().first());
}

bool CProjectListDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_list->viewport()) return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        const QModelIndex item = m_list->indexAt(mouse->position().toPoint());
        m_strCurrent = item.isValid() ? ItemName(item) : std::string();
        ActivateCurrentItem();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton && !m_strCurrent.empty()) {
            m_pProjectMenu->exec(mouse->globalPosition().toPoint());
            return true;
        }
    }
    return false;
}

void CProjectListDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain =
        !event->modifiers() || (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (enter && plain && m_btnOpen->isEnabled()) {
        // QDialog only presses a default button that is visible.
        m_btnOpen->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CProjectListDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int cx = width();
    const int menuHeight =
        m_menuBar->heightForWidth(cx) > 0 ? m_menuBar->heightForWidth(cx) : m_menuBar->sizeHint().height();
    m_menuBar->setGeometry(0, 0, cx, menuHeight);
    const int cy = height() - menuHeight;
    m_banner->setGeometry(0, menuHeight, cx, kBannerHeight);
    m_list->setGeometry(0, menuHeight + kBannerHeight, cx, std::max(0, cy - kBannerHeight));
    m_banner->repaint();
}
