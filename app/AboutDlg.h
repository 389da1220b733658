#pragma once
// The about box: product, rights, version and where to reach the maker.
#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
