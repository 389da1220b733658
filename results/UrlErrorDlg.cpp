#include "results/UrlErrorDlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "ui/QtMessageBox.h"
#include "ui/ReadOnlyList.h"
#include "crawl/CrawlState.h"

CUrlErrorDlg::CUrlErrorDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("velmor Netzspurer"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits du = SetUpTemplate(this, 272, 164);

    // The bar keeps its own 457 x 15 pixels whatever the font; the window cuts
    // off what does not fit.
    const QSize barSize(457, 15);
    m_picWarning = new QLabel(this);
    m_picWarning->setObjectName(QStringLiteral("picWarning"));
    m_picWarning->setPixmap(ArtPixmap(145, barSize));
    m_picWarning->setGeometry(QRect(QPoint(du.X(0), du.Y(0)), barSize));

    auto* message =
        new QLabel(QStringLiteral("The requested URL could not be retrieved!"), this);
    message->setObjectName(QStringLiteral("lblMessage"));
    message->setAlignment(Qt::AlignCenter);
    PlaceInUnits(message, du, 5, 15, 260, 15);

    m_list = new CReadOnlyList(this);
    m_list->setObjectName(QStringLiteral("m_list"));
    PlaceInUnits(m_list, du, 5, 30, 260, 100);

    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setObjectName(QStringLiteral("id1"));
    m_btnOk->setDefault(true);
    PlaceInUnits(m_btnOk, du, 215, 145, 50, 14);
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);

    // Done here rather than when shown: once the dialog exists the failures are
    // its own, even if it never reaches the screen.
    for (const std::string& url : g_FailedUrls) m_list->addItem(ToQt(url));
    g_FailedUrls.clear();
}
