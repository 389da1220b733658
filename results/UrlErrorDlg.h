#pragma once
// Lists the URLs that failed during the search and empties g_FailedUrls, so
// that a later run lists only what failed after this one.
#include <QDialog>

class CReadOnlyList;
class QLabel;
class QPushButton;

class CUrlErrorDlg : public QDialog {
    Q_OBJECT
public:
    // Takes over g_FailedUrls at once: it is empty when this returns.
    explicit CUrlErrorDlg(QWidget* parent = nullptr);

private:
    QLabel* m_picWarning = nullptr;
    CReadOnlyList* m_list = nullptr;
    QPushButton* m_btnOk = nullptr;
};
