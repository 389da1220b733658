#include "ui/GroupBox.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPainter>
#include <QRegion>
#include <QStyle>
#include <qdrawutil.h>

CGroupBox::CGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

int CGroupBox::FrameTop() const { return fontMetrics().height() / 2; }

QRect CGroupBox::TitleRect() const {
    if (title().isEmpty()) return QRect();
    const QFontMetrics fm = fontMetrics();
    // Indented by one average character, with half a character of air on
    // either side where the line breaks for the title.
    const int air = std::max(1, fm.averageCharWidth() / 2);
    const int width = fm.horizontalAdvance(title()) + 2 * air;
    return QRect(fm.averageCharWidth(), 0, std::min(width, this->width()), fm.height());
}

void CGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect title = TitleRect();
    // The etched frame of the templates' 3-D look, broken where the title stands.
    if (!title.isNull()) painter.setClipRegion(QRegion(rect()).subtracted(QRegion(title)));
    QRect frame = rect();
    frame.setTop(FrameTop());
    qDrawShadeRect(&painter, frame, palette(), /*sunken=*/true, /*lineWidth=*/1,
                   /*midLineWidth=*/0);
    if (title.isNull()) return;
    painter.setClipping(false);
    style()->drawItemText(&painter, title, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          this->title(), QPalette::WindowText);
}
