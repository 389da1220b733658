#pragma once
// The project editor: name, start URL entries and resource patterns of the open
// project. It edits the open project's data in place.
#include <functional>
#include <string>

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
struct ProjectData;

class CProjectDlg : public QDialog {
    Q_OBJECT

public:
    // Edits `project`, which the caller has emptied and which outlives the dialog.
    explicit CProjectDlg(ProjectData& project, QWidget* parent = nullptr);

    // Set by the caller before the run ("NEW" for a new project); read back
    // after "Search", since the name field may have renamed the project.
    std::string m_strName;
    // "Show old results" shows the project's results page through this, when set.
    std::function<void(const std::string& page)> m_showResultsPage;

    void setVisible(bool visible) override;

public slots:
    void reject() override;
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ProjectData& m_project;
    void CreateControls();
    void SetTabOrder();
    void FillComboBoxes();
    void OnInitDialog();
    void EnableResourceControls(bool enable);

    void OnKillFocusName();
    void OnSelChangeUrls();
    void OnUrlMode(int mode);
    void OnUrlAdd();
    void OnUrlUpdate();
    void OnUrlDelete();
    void OnUrlDeleteAll();
    void OnSelChangePatterns();
    void OnPatternAdd();
    void OnPatternUpdate();
    void OnPatternDelete();
    void OnPatternDeleteAll();
    void OnExtensionAdd(QComboBox* box);
    void OnExtensionAll(QComboBox* box);
    void OnAllLinks();
    void OnSearch();
    void OnSaveCancel();
    void OnShowResults();

    // Appends to g_ResourcePatterns and the pattern list unless already listed in any case.
    void AddPattern(const std::string& pattern);

    QLineEdit* m_edtName = nullptr;
    QListWidget* m_lstUrls = nullptr;
    QRadioButton* m_rdoDefault = nullptr;
    QRadioButton* m_rdoSubdirs = nullptr;
    QRadioButton* m_rdoNonRecursive = nullptr;
    QRadioButton* m_rdoExclude = nullptr;
    QButtonGroup* m_grpMode = nullptr;
    QLineEdit* m_edtUrl = nullptr;
    QPushButton* m_btnUrlDelete = nullptr;
    QPushButton* m_btnUrlDeleteAll = nullptr;
    QPushButton* m_btnUrlUpdate = nullptr;
    QPushButton* m_btnUrlAdd = nullptr;

    QComboBox* m_cboArchives = nullptr;
    QPushButton* m_btnArchivesAdd = nullptr;
    QPushButton* m_btnArchivesAll = nullptr;
    QComboBox* m_cboExecutables = nullptr;
    QPushButton* m_btnExecutablesAdd = nullptr;
    QPushButton* m_btnExecutablesAll = nullptr;
    QComboBox* m_cboMedia = nullptr;
    QPushButton* m_btnMediaAdd = nullptr;
    QPushButton* m_btnMediaAll = nullptr;
    QComboBox* m_cboDocuments = nullptr;
    QPushButton* m_btnDocumentsAdd = nullptr;
    QPushButton* m_btnDocumentsAll = nullptr;

    QCheckBox* m_chkAllLinks = nullptr;
    QListWidget* m_lstPatterns = nullptr;
    QLineEdit* m_edtPattern = nullptr;
    QPushButton* m_btnPatternDelete = nullptr;
    QPushButton* m_btnPatternDeleteAll = nullptr;
    QPushButton* m_btnPatternUpdate = nullptr;
    QPushButton* m_btnPatternAdd = nullptr;

    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnSaveCancel = nullptr;
    QPushButton* m_btnShowResults = nullptr;
    QPushButton* m_btnSearch = nullptr;

    bool m_bInitDone = false;
    // Set once the dialog is closing: hiding the window takes the focus from the
    // name field, and that must not count as leaving it.
    bool m_bClosing = false;
    bool m_bCheckingName = false;
};
