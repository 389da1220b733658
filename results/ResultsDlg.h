#pragma once
// The results viewer: one local HTML page (a project's results or the help page)
// in a web browser, with back, start page and forward buttons, a status line with
// the last address reached, and "Ok".
#include <string>

#include <QDialog>
#include <QIcon>

class CWebBrowser;
class QLabel;
class QPushButton;

class CResultsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CResultsDlg(QWidget* parent = nullptr);

    // Set by the caller: the page, relative to the current directory. Becomes the
    // file's full path once the file has been found.
    std::string m_strPage;

    void setVisible(bool visible) override;

protected:
    bool event(QEvent* event) override;

private:
    // Runs once, before the window is first shown.
    void OnInitDialog();
    // Runs once the window is on screen.
    void ShowFileError();
    void NavigatePage();
    // Places the controls for the window's size as it is now.
    void LayOut();

    QIcon m_hIconBack;
    QIcon m_hIconForward;
    QIcon m_hIconHome;
    QPushButton* m_btnBack;
    QPushButton* m_btnForward;
    QPushButton* m_btnHome;
    QPushButton* m_btnOk;
    QLabel* m_status;
    CWebBrowser* m_browser;
    bool m_bInitialised = false;
    // Why the page could not be opened, until the box that says so has been shown.
    std::string m_strFileError;
};
