#include "results/UrlErrorDlg.h"

#include <algorithm>

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "ui/QtMessageBox.h"
#include "ui/ReadOnlyList.h"
#include "crawl/CrawlState.h"

namespace {
// The warning bar keeps its own height and the stripes their own slant and
// spacing; it is repeated across the window, whose width follows the font.
constexpr QSize kWarningBarSize(457, 15);
constexpr int kStripePeriod = 20;  // pixels from one stripe to the next

QPixmap WarningBar(int width) {
    const QPixmap bar = ArtPixmap(145, kWarningBarSize);
    const qreal scale = bar.devicePixelRatio();
    const int whole = kWarningBarSize.width() - kWarningBarSize.width() % kStripePeriod;
    const QPixmap tile = bar.copy(0, 0, qRound(whole * scale), bar.height());
    const QSize size(std::max(width, 1), kWarningBarSize.height());
    QPixmap filled(size * scale);
    filled.setDevicePixelRatio(scale);
    QPainter painter(&filled);
    painter.drawTiledPixmap(QRect(QPoint(0, 0), size), tile);
    return filled;
}
}  // namespace

CUrlErrorDlg::CUrlErrorDlg(CrawlState& state, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("velmor Netzspurer"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const DialogUnits du = SetUpTemplate(this, 272, 164);

    m_picWarning = new QLabel(this);
    m_picWarning->setObjectName(QStringLiteral("picWarning"));
    m_picWarning->setPixmap(WarningBar(width()));
    m_picWarning->setGeometry(du.X(0), du.Y(0), width(), kWarningBarSize.height());

    auto* message = new QLabel(QStringLiteral("The requested URL could not be retrieved!"), this);
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
    for (const std::string& url : state.m_failedUrls) m_list->addItem(ToQt(url));
    state.m_failedUrls.clear();
    // Pages a site's robots.txt kept the crawler off, with that reason.
    for (const std::string& url : state.m_skippedUrls) m_list->addItem(ToQt(std::string(kSkippedByRobots) + url));
    state.m_skippedUrls.clear();
}
