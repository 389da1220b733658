#include "ui/DialogUnits.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QWidget>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    // Average width as dialog templates measure it: the 52 letters, per letter pair, rounded.
    const int alphabet = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (alphabet / 26 + 1) / 2;
    m_baseY = fm.height();
    if (m_baseX < 1) m_baseX = 1;
    if (m_baseY < 1) m_baseY = 1;
}

QFont DialogUnits::DialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    if (QFontInfo(font).family() != QLatin1String("MS Sans Serif")) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPointSize(8);
    }
    return font;
}

void PlaceInUnits(QWidget* w, const DialogUnits& du, int x, int y, int width, int height) {
    w->setGeometry(du.Rect(x, y, width, height));
}

DialogUnits SetUpTemplate(QWidget* dialog, int w, int h) {
    dialog->setFont(DialogUnits::DialogFont());
    DialogUnits du(dialog->font());
    dialog->setFixedSize(du.Size(w, h));
    return du;
}
