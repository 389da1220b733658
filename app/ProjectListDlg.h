#pragma once
// The main window: a banner over the list of the projects in the current
// directory, with the two fixed items "Help" and "New Project". From here a
// project runs through its chain of dialogs: editor, search, results viewer.
#include <QDialog>
#include <QIcon>
#include <QItemSelection>

#include <array>
#include <functional>
#include <string>

#include "crawl/CrawlState.h"
#include "project/ProjectData.h"

class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;

// Names of the projects found by the last refresh of the list, in scan order.
extern StringList g_ProjectNames;
// The program's open project, which the editor fills and the search reads, and
// the state its searches share: the failed URLs of a search kept after Cancel
// are listed after the next one.
extern ProjectData g_OpenProject;
extern CrawlState g_CrawlState;

// The dialogs that opening a project runs one after the other. Each defaults
// to the real dialog; tests may stand in for any of them.
struct ProjectChain {
    // Runs the editor on `name` (which it may change); returns the dialog result.
    std::function<int(std::string& name)> runEditor;
    // Runs the search writing `reportFile`; returns the dialog result.
    std::function<int(const std::string& reportFile)> runSearch;
    // Shows `page` in the results viewer.
    std::function<void(const std::string& page)> runViewer;
};

class CProjectListDlg : public QDialog {
    Q_OBJECT
public:
    // Positions of the pictures in m_imageList.
    enum Image { kImageDocument = 0, kImageResults = 1, kImageNewProject = 2, kImageHelp = 3 };

    explicit CProjectListDlg(QWidget* parent = nullptr);

    void RefreshProjectList();
    void OpenProject(std::string name);
    void ActivateCurrentItem();
    void DeleteCurrentProject();

    const QIcon& ImageAt(Image image) const { return m_imageList[image]; }

    // The name of the item last selected or double-clicked, in the bytes of its
    // file name; a refresh keeps it.
    std::string m_strCurrent;
    ProjectChain m_chain;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where an item keeps the bytes of its name beside the text it shows.
    static constexpr int kNameRole = Qt::UserRole;
    static std::string ItemName(const QModelIndex& index);

    void OnSelectionChanged(const QItemSelection& selected);
    void InsertItem(int position, const std::string& text, Image image);

    std::array<QIcon, 4> m_imageList;
    QPushButton* m_btnOpen = nullptr;
    QLabel* m_banner = nullptr;
    QListWidget* m_list = nullptr;
    QMenuBar* m_menuBar = nullptr;
    QMenu* m_pProjectMenu = nullptr;
    // Rebuilding the list is not the user choosing an item.
    bool m_bRefreshing = false;
};
