#include "project/ProjectDlg.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <system_error>

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "ui/GroupBox.h"
#include "ui/QtMessageBox.h"
#include "project/AsciiText.h"
#include "project/ProjectData.h"
#include "project/ProjectFile.h"
#include "project/UrlEntry.h"

namespace {

// The combo boxes' template height is the box with its list dropped down;
// closed, a box stands as high as the buttons beside it (dialog units).
constexpr int kDroppedComboHeight = 85;
constexpr int kClosedComboHeight = 15;

const char* const kArchives[] = {".ARC", ".ARJ", ".B64", ".BHX", ".GZ",  ".HQX", ".LZH", ".TAR",
                                 ".TAZ", ".TGZ", ".TZ",  ".UU",  ".UUE", ".XXE", ".Z",   ".ZIP"};
const char* const kExecutables[] = {".BAT", ".CGI", ".CMD", ".COM", ".DLL", ".EXE", ".OCX"};
const char* const kMedia[] = {
    ".ART", ".BMP", ".DCX",  ".DIB", ".GIF",  ".ICO", ".ICL", ".IFF", ".ILBM", ".JFIF", ".JIF", ".JPE", ".JPEG", ".JPG",
    ".LBM", ".PCD", ".PCX",  ".PIC", ".PNG",  ".PSD", ".RLE", ".TGA", ".TIF",  ".WMF",  ".FON", ".TTF", ".PBM",  ".RA",
    ".RAM", ".RTS", ".AIFF", ".AIF", ".AIFC", ".AU",  ".SND", ".QT",  ".MOV",  ".AVI",  ".XBM", ".XIF", ".WAV"};
// ".XLS" twice is how the list has always been; "All" skips the second one.
const char* const kDocuments[] = {".DOC", ".PDF",  ".RTF", ".TXT", ".DIC",  ".EXC",   ".URI",  ".DOT",
                                  ".WPD", ".WPS",  ".XLS", ".XLS", ".MDB",  ".DBF",   ".WQ1",  ".WKS",
                                  ".HTM", ".HTML", ".ASP", ".VRM", ".PHTM", ".PHTML", ".DHTM", ".DHTML"};

// List items keep the entry's own bytes beside the displayed text, so that
// entries which do not survive the trip through the display encoding still
// find their twin in the project's entries or patterns.
std::string ItemText(const QListWidgetItem* item) {
    const QByteArray raw = item->data(Qt::UserRole).toByteArray();
    return std::string(raw.constData(), static_cast<std::size_t>(raw.size()));
}

bool SortsBefore(const std::string& a, const std::string& b) { return ToUpperAscii(a) < ToUpperAscii(b); }

// Behind the entries that sort equal, so that equal entries keep the order of adding.
void InsertSorted(QListWidget* list, const std::string& entry) {
    int lo = 0;
    int hi = list->count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (SortsBefore(entry, ItemText(list->item(mid))))
            hi = mid;
        else
            lo = mid + 1;
    }
    auto* item = new QListWidgetItem(ToQt(entry));
    item->setData(Qt::UserRole, QByteArray(entry.data(), static_cast<qsizetype>(entry.size())));
    list->insertItem(lo, item);
}

void InsertSorted(QComboBox* box, const std::string& item) {
    int at = 0;
    while (at < box->count() && !SortsBefore(item, FromQt(box->itemText(at)))) ++at;
    box->insertItem(at, ToQt(item));
}

void SelectPrefix(QComboBox* box, const std::string& prefix) {
    for (int i = 0; i < box->count(); ++i) {
        const std::string item = FromQt(box->itemText(i));
        if (item.size() >= prefix.size() && EqualsNoCase(item.substr(0, prefix.size()), prefix)) {
            box->setCurrentIndex(i);
            return;
        }
    }
}

bool ListHoldsNoCase(const QListWidget* list, const std::string& text) {
    for (int i = 0; i < list->count(); ++i)
        if (EqualsNoCase(ItemText(list->item(i)), text)) return true;
    return false;
}

QListWidgetItem* SelectedItem(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

// A selection that goes away because its item was removed is no choice of the
// user's: the item is removed without a selection notice, and nothing is left
// selected.
void RemoveItem(QListWidget* list, QListWidgetItem* item) {
    const QSignalBlocker block(list);
    delete list->takeItem(list->row(item));
    list->clearSelection();
    list->setCurrentItem(nullptr);
}

void ClearList(QListWidget* list) {
    const QSignalBlocker block(list);
    list->clear();
}

template <typename List>
void EraseFirst(List& list, const std::string& entry) {
    const auto it = std::find(list.begin(), list.end(), entry);
    if (it != list.end()) list.erase(it);
}

// Whether two project names lead to one and the same project file ("proj" and
// "./proj"); false when either file does not exist.
bool SameProjectFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a + ".nsp", b + ".nsp", ec) && !ec;
}

}  // namespace

CProjectDlg::CProjectDlg(ProjectData& project, QWidget* parent) : QDialog(parent), m_project(project) {
    setWindowTitle(QStringLiteral("velmor Netzspurer"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    CreateControls();
    SetTabOrder();
    FillComboBoxes();
    m_edtName->installEventFilter(this);
}

void CProjectDlg::CreateControls() {
    const DialogUnits du = SetUpTemplate(this, 407, 306);

    auto label = [&](const char* text, int x, int y, int w, int h) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        PlaceInUnits(l, du, x, y, w, h);
        return l;
    };
    auto group = [&](const char* text, int x, int y, int w, int h) {
        auto* g = new CGroupBox(QString::fromLatin1(text), this);
        PlaceInUnits(g, du, x, y, w, h);
        // Frames only: the controls they surround lie above them and take the clicks.
        g->lower();
        return g;
    };
    auto button = [&](int id, const char* text, int x, int y, int w, int h) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QStringLiteral("id%1").arg(id));
        // A click takes the focus first, so that leaving the name field is
        // checked before the button acts.
        b->setFocusPolicy(Qt::StrongFocus);
        PlaceInUnits(b, du, x, y, w, h);
        return b;
    };
    auto edit = [&](int id, int x, int y, int w, int h) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QStringLiteral("id%1").arg(id));
        PlaceInUnits(e, du, x, y, w, h);
        return e;
    };
    auto list = [&](int id, int x, int y, int w, int h) {
        auto* l = new QListWidget(this);
        l->setObjectName(QStringLiteral("id%1").arg(id));
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        l->setSortingEnabled(false);  // kept sorted by InsertSorted, ignoring case
        l->setFocusPolicy(Qt::StrongFocus);
        PlaceInUnits(l, du, x, y, w, h);
        return l;
    };
    auto combo = [&](int id, int x, int y, int w) {
        auto* c = new QComboBox(this);
        c->setObjectName(QStringLiteral("id%1").arg(id));
        c->setEditable(false);
        c->setFocusPolicy(Qt::StrongFocus);
        // A drop-down list, not a menu over the box: styles that open such boxes
        // as menus show every item at once, as tall as the screen.
        c->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
        PlaceInUnits(c, du, x, y, w, kClosedComboHeight);
        return c;
    };
    auto radio = [&](int id, const char* text, int x, int y, int w, int h) {
        auto* r = new QRadioButton(QString::fromLatin1(text), this);
        r->setObjectName(QStringLiteral("id%1").arg(id));
        r->setFocusPolicy(Qt::ClickFocus);  // one group, no tab stop
        PlaceInUnits(r, du, x, y, w, h);
        return r;
    };

    // Frames first, so that everything else lies above them.
    group("URL(s)", 5, 25, 395, 115);
    group("", 325, 25, 75, 115);
    group("Resource(s)", 5, 150, 395, 125);
    group("", 170, 150, 230, 125);
    group("", 325, 150, 75, 125);

    label("Operation:", 10, 5, 45, 15);
    m_edtName = edit(1009, 65, 5, 335, 15);

    m_lstUrls = list(1012, 15, 40, 305, 55);
    m_rdoDefault = radio(1051, "default search [ ]", 15, 100, 75, 15);
    m_rdoSubdirs = radio(1052, "subdirs only [+]", 90, 100, 75, 15);
    m_rdoNonRecursive = radio(1053, "non-recursivly [*]", 165, 100, 75, 15);
    m_rdoExclude = radio(1054, "exclude string [!]", 240, 100, 80, 15);
    m_grpMode = new QButtonGroup(this);
    m_grpMode->setExclusive(true);
    m_grpMode->addButton(m_rdoDefault, static_cast<int>(UrlMode::Default));
    m_grpMode->addButton(m_rdoSubdirs, static_cast<int>(UrlMode::SubdirsOnly));
    m_grpMode->addButton(m_rdoNonRecursive, static_cast<int>(UrlMode::NonRecursive));
    m_grpMode->addButton(m_rdoExclude, static_cast<int>(UrlMode::Exclude));
    m_edtUrl = edit(1013, 15, 120, 305, 15);
    label("Action:", 335, 35, 55, 8);
    m_btnUrlDelete = button(1016, "Delete", 335, 60, 55, 15);
    m_btnUrlDeleteAll = button(1017, "Delete all", 335, 80, 55, 15);
    m_btnUrlUpdate = button(1015, "Update", 335, 100, 55, 15);
    m_btnUrlAdd = button(1014, "Add", 335, 120, 55, 15);

    label("Archives:", 15, 165, 90, 8);
    m_cboArchives = combo(1044, 15, 175, 90);
    m_btnArchivesAdd = button(1043, "Add", 110, 175, 25, 15);
    m_btnArchivesAll = button(1061, "All", 135, 175, 25, 15);
    label("Executables:", 15, 191, 90, 8);
    m_cboExecutables = combo(1063, 15, 199, 90);
    m_btnExecutablesAdd = button(1062, "Add", 110, 199, 25, 15);
    m_btnExecutablesAll = button(1064, "All", 135, 199, 25, 15);
    label("Graphic, Video, Sound:", 15, 215, 90, 8);
    m_cboMedia = combo(1066, 15, 225, 90);
    m_btnMediaAdd = button(1065, "Add", 110, 225, 25, 15);
    m_btnMediaAll = button(1067, "All", 135, 225, 25, 15);
    label("Documents:", 15, 239, 90, 8);
    m_cboDocuments = combo(1069, 15, 250, 90);
    m_btnDocumentsAdd = button(1068, "Add", 110, 250, 25, 15);
    m_btnDocumentsAll = button(1070, "All", 135, 250, 25, 15);

    m_chkAllLinks = new QCheckBox(QStringLiteral("All links"), this);
    m_chkAllLinks->setObjectName(QStringLiteral("id1045"));
    m_chkAllLinks->setFocusPolicy(Qt::StrongFocus);
    PlaceInUnits(m_chkAllLinks, du, 180, 160, 60, 15);
    m_lstPatterns = list(1002, 180, 180, 140, 60);
    m_edtPattern = edit(1003, 180, 250, 140, 15);
    label("Action:", 335, 160, 55, 8);
    m_btnPatternDelete = button(1007, "Delete", 335, 190, 55, 15);
    m_btnPatternDeleteAll = button(1008, "Delete all", 335, 210, 55, 15);
    m_btnPatternUpdate = button(1006, "Update", 335, 230, 55, 15);
    m_btnPatternAdd = button(1005, "Add", 335, 250, 55, 15);

    m_btnCancel = button(2, "Cancel", 5, 285, 70, 15);
    m_btnSaveCancel = button(1018, "Save && Cancel", 80, 285, 105, 15);
    m_btnShowResults = button(1019, "Show old results", 190, 285, 135, 15);
    m_btnSearch = button(1, "Search", 330, 285, 70, 15);
    m_btnSearch->setDefault(true);

    connect(m_lstUrls, &QListWidget::itemSelectionChanged, this, &CProjectDlg::OnSelChangeUrls);
    connect(m_grpMode, &QButtonGroup::idClicked, this, &CProjectDlg::OnUrlMode);
    connect(m_btnUrlAdd, &QPushButton::clicked, this, &CProjectDlg::OnUrlAdd);
    connect(m_btnUrlUpdate, &QPushButton::clicked, this, &CProjectDlg::OnUrlUpdate);
    connect(m_btnUrlDelete, &QPushButton::clicked, this, &CProjectDlg::OnUrlDelete);
    connect(m_btnUrlDeleteAll, &QPushButton::clicked, this, &CProjectDlg::OnUrlDeleteAll);

    connect(m_lstPatterns, &QListWidget::itemSelectionChanged, this, &CProjectDlg::OnSelChangePatterns);
    connect(m_btnPatternAdd, &QPushButton::clicked, this, &CProjectDlg::OnPatternAdd);
    connect(m_btnPatternUpdate, &QPushButton::clicked, this, &CProjectDlg::OnPatternUpdate);
    connect(m_btnPatternDelete, &QPushButton::clicked, this, &CProjectDlg::OnPatternDelete);
    connect(m_btnPatternDeleteAll, &QPushButton::clicked, this, &CProjectDlg::OnPatternDeleteAll);

    const std::pair<QPushButton*, QComboBox*> adds[] = {{m_btnArchivesAdd, m_cboArchives},
                                                        {m_btnExecutablesAdd, m_cboExecutables},
                                                        {m_btnMediaAdd, m_cboMedia},
                                                        {m_btnDocumentsAdd, m_cboDocuments}};
    for (const auto& [btn, box] : adds)
        connect(btn, &QPushButton::clicked, this, [this, box = box] { OnExtensionAdd(box); });
    const std::pair<QPushButton*, QComboBox*> alls[] = {{m_btnArchivesAll, m_cboArchives},
                                                        {m_btnExecutablesAll, m_cboExecutables},
                                                        {m_btnMediaAll, m_cboMedia},
                                                        {m_btnDocumentsAll, m_cboDocuments}};
    for (const auto& [btn, box] : alls)
        connect(btn, &QPushButton::clicked, this, [this, box = box] { OnExtensionAll(box); });

    connect(m_chkAllLinks, &QCheckBox::clicked, this, &CProjectDlg::OnAllLinks);
    connect(m_btnSearch, &QPushButton::clicked, this, &CProjectDlg::OnSearch);
    connect(m_btnSaveCancel, &QPushButton::clicked, this, &CProjectDlg::OnSaveCancel);
    connect(m_btnShowResults, &QPushButton::clicked, this, &CProjectDlg::OnShowResults);
    connect(m_btnCancel, &QPushButton::clicked, this, &CProjectDlg::reject);
}

// The URL list leads, so the focus starts there; the name field comes last.
void CProjectDlg::SetTabOrder() {
    const std::initializer_list<QWidget*> order = {
        m_lstUrls,         m_edtUrl,           m_btnUrlDelete,        m_btnUrlDeleteAll,
        m_btnUrlUpdate,    m_btnUrlAdd,        m_cboArchives,         m_btnArchivesAdd,
        m_btnArchivesAll,  m_cboExecutables,   m_btnExecutablesAdd,   m_btnExecutablesAll,
        m_cboMedia,        m_btnMediaAdd,      m_btnMediaAll,         m_cboDocuments,
        m_btnDocumentsAdd, m_btnDocumentsAll,  m_chkAllLinks,         m_lstPatterns,
        m_edtPattern,      m_btnPatternDelete, m_btnPatternDeleteAll, m_btnPatternUpdate,
        m_btnPatternAdd,   m_btnCancel,        m_btnSaveCancel,       m_btnShowResults,
        m_btnSearch,       m_edtName};
    QWidget* prev = nullptr;
    for (QWidget* w : order) {
        if (prev) setTabOrder(prev, w);
        prev = w;
    }
}

void CProjectDlg::FillComboBoxes() {
    for (const char* item : kArchives) InsertSorted(m_cboArchives, item);
    for (const char* item : kExecutables) InsertSorted(m_cboExecutables, item);
    for (const char* item : kMedia) InsertSorted(m_cboMedia, item);
    for (const char* item : kDocuments) InsertSorted(m_cboDocuments, item);
    // The dropped-down list fills the template's height below the closed box
    // with as many whole items as fit there, and scrolls the rest.
    const int dropped = DialogUnits(font()).Y(kDroppedComboHeight);
    for (QComboBox* box : {m_cboArchives, m_cboExecutables, m_cboMedia, m_cboDocuments}) {
        const int itemHeight = std::max(1, box->view()->sizeHintForRow(0));
        box->setMaxVisibleItems(std::max(1, (dropped - box->height()) / itemHeight));
    }
    SelectPrefix(m_cboArchives, ".ZIP");
    SelectPrefix(m_cboExecutables, ".EXE");
    SelectPrefix(m_cboMedia, ".JPG");
    SelectPrefix(m_cboDocuments, ".HTM");
}

void CProjectDlg::setVisible(bool visible) {
    // The caller fills m_strName between construction and the run, so the
    // project is taken up just before the window first appears.
    if (visible && !m_bInitDone) {
        m_bInitDone = true;
        OnInitDialog();
    }
    if (visible) m_bClosing = false;
    QDialog::setVisible(visible);
    if (visible) {
        raise();
        activateWindow();
    }
}

void CProjectDlg::OnInitDialog() {
    SetDialogIcon(this);
    m_edtName->setText(ToQt(m_strName));

    // Decided once: a results page that appears later needs a new run of the editor.
    m_btnShowResults->setEnabled(ResultsPageOpens(m_strName));

    const bool loaded = LoadProject(m_strName, m_project);
    for (const std::string& entry : m_project.m_urlList) InsertSorted(m_lstUrls, entry);
    for (const std::string& pattern : m_project.m_resourcePatterns) InsertSorted(m_lstPatterns, pattern);
    if (!loaded) AppMessageBox().Show("Project file missing!", "Error", MsgIcon::Stop, MsgButtons::Ok);

    m_chkAllLinks->setChecked(m_project.m_allLinks == 1);
    EnableResourceControls(m_project.m_allLinks == 0);
    m_lstUrls->setFocus();
}

void CProjectDlg::EnableResourceControls(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_cboArchives, m_btnArchivesAdd, m_btnArchivesAll, m_cboExecutables, m_btnExecutablesAdd,
             m_btnExecutablesAll, m_cboMedia, m_btnMediaAdd, m_btnMediaAll, m_cboDocuments, m_btnDocumentsAdd,
             m_btnDocumentsAll, m_lstPatterns, m_edtPattern, m_btnPatternAdd, m_btnPatternUpdate, m_btnPatternDelete,
             m_btnPatternDeleteAll})
        w->setEnabled(enable);
}

bool CProjectDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edtName && event->type() == QEvent::FocusOut && !m_bClosing) {
        // Another window coming to the front, or the field's own context menu,
        // leaves the field where it is: the focus returns to it afterwards.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) OnKillFocusName();
    }
    return QDialog::eventFilter(watched, event);
}

void CProjectDlg::OnKillFocusName() {
    if (m_bCheckingName) return;
    const QString typed = m_edtName->text();
    // Unchanged, the name would find the project's own file and offer to
    // overwrite it, and a Yes would delete the project. Nothing to check.
    if (typed == ToQt(m_strName)) return;
    const std::string text = FromQt(typed);
    if (SameProjectFile(text, m_strName)) {
        m_edtName->setText(ToQt(m_strName));
        return;
    }

    m_bCheckingName = true;
    const bool accepted = CheckProjectName(text, AppMessageBox());
    m_bCheckingName = false;
    if (!accepted) {
        m_edtName->setText(ToQt(m_strName));
        return;
    }
    RenameProjectFiles(m_strName, text);
    m_strName = text;
}

void CProjectDlg::OnSelChangeUrls() {
    const QListWidgetItem* item = SelectedItem(m_lstUrls);
    if (!item) return;
    const std::string entry = ItemText(item);
    m_edtUrl->setText(ToQt(entry));

    // An exclusive group refuses to have its last check taken away.
    m_grpMode->setExclusive(false);
    for (QAbstractButton* b : m_grpMode->buttons()) b->setChecked(false);
    m_grpMode->setExclusive(true);
    m_grpMode->button(static_cast<int>(UrlEntryMode(entry)))->setChecked(true);
}

void CProjectDlg::OnUrlMode(int mode) {
    m_edtUrl->setText(ToQt(WithUrlPrefix(FromQt(m_edtUrl->text()), static_cast<UrlMode>(mode))));
}

void CProjectDlg::OnUrlAdd() {
    std::string trimmed;
    if (!CheckUrlEntry(FromQt(m_edtUrl->text()), trimmed)) {
        AppMessageBox().Show(kUrlSyntaxMessage, "Add an URL", MsgIcon::Information, MsgButtons::Ok);
        return;
    }
    if (!ListHoldsNoCase(m_lstUrls, trimmed)) {
        m_project.m_urlList.push_back(trimmed);
        InsertSorted(m_lstUrls, trimmed);
    }
    m_edtUrl->clear();
}

void CProjectDlg::OnUrlUpdate() {
    QListWidgetItem* item = SelectedItem(m_lstUrls);
    if (!item) return;
    const std::string old = ItemText(item);
    RemoveItem(m_lstUrls, item);
    EraseFirst(m_project.m_urlList, old);
    // Taken as it stands: Update is the way to keep blanks or an entry that
    // Add would refuse.
    const std::string text = FromQt(m_edtUrl->text());
    m_project.m_urlList.push_back(text);
    InsertSorted(m_lstUrls, text);
}

void CProjectDlg::OnUrlDelete() {
    QListWidgetItem* item = SelectedItem(m_lstUrls);
    if (!item) return;
    const std::string old = ItemText(item);
    RemoveItem(m_lstUrls, item);
    EraseFirst(m_project.m_urlList, old);
    m_edtUrl->clear();
}

void CProjectDlg::OnUrlDeleteAll() {
    m_project.m_urlList.clear();
    ClearList(m_lstUrls);
}

void CProjectDlg::OnSelChangePatterns() {
    const QListWidgetItem* item = SelectedItem(m_lstPatterns);
    if (!item) return;
    m_edtPattern->setText(ToQt(ItemText(item)));
}

void CProjectDlg::AddPattern(const std::string& pattern) {
    if (ListHoldsNoCase(m_lstPatterns, pattern)) return;
    m_project.m_resourcePatterns.push_back(pattern);
    InsertSorted(m_lstPatterns, pattern);
}

void CProjectDlg::OnPatternAdd() {
    const std::string pattern = Trim(FromQt(m_edtPattern->text()));
    if (pattern.empty()) return;
    AddPattern(pattern);
    m_edtPattern->clear();
}

void CProjectDlg::OnPatternUpdate() {
    if (QListWidgetItem* item = SelectedItem(m_lstPatterns)) {
        const std::string old = ItemText(item);
        RemoveItem(m_lstPatterns, item);
        EraseFirst(m_project.m_resourcePatterns, old);
        const std::string text = FromQt(m_edtPattern->text());
        m_project.m_resourcePatterns.push_back(text);
        InsertSorted(m_lstPatterns, text);
    }
    m_edtPattern->clear();
}

void CProjectDlg::OnPatternDelete() {
    QListWidgetItem* item = SelectedItem(m_lstPatterns);
    if (!item) return;
    const std::string old = ItemText(item);
    RemoveItem(m_lstPatterns, item);
    EraseFirst(m_project.m_resourcePatterns, old);
    m_edtPattern->clear();
}

void CProjectDlg::OnPatternDeleteAll() {
    m_project.m_resourcePatterns.clear();
    ClearList(m_lstPatterns);
}

void CProjectDlg::OnExtensionAdd(QComboBox* box) {
    if (box->currentIndex() < 0) return;
    AddPattern(FromQt(box->currentText()));
}

void CProjectDlg::OnExtensionAll(QComboBox* box) {
    for (int i = 0; i < box->count(); ++i) AddPattern(FromQt(box->itemText(i)));
}

void CProjectDlg::OnAllLinks() {
    if (m_project.m_allLinks == 1) {
        m_project.m_allLinks = 0;
        EnableResourceControls(true);
    } else {
        m_project.m_allLinks = 1;
        m_project.m_resourcePatterns.clear();
        ClearList(m_lstPatterns);
        EnableResourceControls(false);
    }
    // The flag rules; the box only shows it.
    m_chkAllLinks->setChecked(m_project.m_allLinks == 1);
}

void CProjectDlg::OnSearch() {
    if (IsNewProjectName(m_strName)) {
        AppMessageBox().Show("Please provide another name for this project!", "Important", MsgIcon::Information,
                             MsgButtons::Ok);
        return;
    }
    if (!SaveProject(m_strName, m_project)) {
        AppMessageBox().Show("Could not create project file!", "Error", MsgIcon::Stop, MsgButtons::Ok);
        done(QDialog::Rejected);
        return;
    }
    done(QDialog::Accepted);
}

void CProjectDlg::OnSaveCancel() {
    if (IsNewProjectName(m_strName)) {
        AppMessageBox().Show("Please provide another name for this project!", "Important", MsgIcon::Information,
                             MsgButtons::Ok);
        return;
    }
    if (!SaveProject(m_strName, m_project))
        AppMessageBox().Show("Could not create project file!", "Error", MsgIcon::Stop, MsgButtons::Ok);
    done(QDialog::Rejected);
}

void CProjectDlg::OnShowResults() {
    if (m_showResultsPage) m_showResultsPage(m_strName + ".htm");
}

void CProjectDlg::reject() {
    // Escape and the close box end the dialog without moving the focus, so a
    // name still being typed has not been checked yet.
    if (!m_bClosing && focusWidget() == m_edtName) OnKillFocusName();
    QDialog::reject();
}

void CProjectDlg::done(int result) {
    m_bClosing = true;
    QDialog::done(result);
}
