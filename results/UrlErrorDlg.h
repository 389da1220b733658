#pragma once
// Lists the URLs that failed during the search, and those skipped, and empties
// both lists, so that a later run lists only what failed after this one.
#include <QDialog>

struct CrawlState;

class CReadOnlyList;
class QLabel;
class QPushButton;

class CUrlErrorDlg : public QDialog {
    Q_OBJECT
public:
    // Takes over the failed and skipped URLs of `state` at once: both are empty when this returns.
    explicit CUrlErrorDlg(CrawlState& state, QWidget* parent = nullptr);

private:
    QLabel* m_picWarning = nullptr;
    CReadOnlyList* m_list = nullptr;
    QPushButton* m_btnOk = nullptr;
};
