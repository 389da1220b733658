#include "app/AboutDlg.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"

namespace {
QLabel* AddLine(QWidget* parent, const DialogUnits& du, const char* text, int x, int y, int w) {
    auto* line = new QLabel(QString::fromLatin1(text), parent);
    // Plain text: an address here is read, not followed.
    line->setTextFormat(Qt::PlainText);
    line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceInUnits(line, du, x, y, w, 8);
    return line;
}
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("velmor Netzspurer"));
    const DialogUnits du = SetUpTemplate(this, 222, 95);

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette black = frame->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    frame->setPalette(black);
    PlaceInUnits(frame, du, 5, 5, 210, 45);

    LoadAppIcon();
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(g_hAppIcon.pixmap(32, 32));
    // An icon control keeps the picture's own size at the template's corner.
    icon->move(du.X(12), du.Y(17));
    icon->resize(32, 32);

    AddLine(this, du, "velmor Netzspurer", 45, 15, 165);
    AddLine(this, du, "Copyright (C) 2026 velmor", 45, 25, 165);
    AddLine(this, du, "version 1.4a", 45, 35, 165);
    AddLine(this, du, "http://www.velmor.example", 5, 70, 130);
    AddLine(this, du, "netzspurer@velmor.example", 5, 81, 130);

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("id1"));
    ok->setDefault(true);
    PlaceInUnits(ok, du, 175, 75, 40, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
