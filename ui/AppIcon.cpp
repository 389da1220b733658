#include "ui/AppIcon.h"

#include <QFile>
#include <QString>
#include <QWidget>

QIcon g_hAppIcon;

namespace {
QString ArtPath(int id) {
    const QString svg = QStringLiteral(":/icons/%1.svg").arg(id);
    if (QFile::exists(svg)) return svg;
    return QStringLiteral(":/icons/%1.png").arg(id);
}
}  // namespace

QIcon ArtIcon(int id) { return QIcon(ArtPath(id)); }

QPixmap ArtPixmap(int id, const QSize& size) { return ArtIcon(id).pixmap(size); }

void LoadAppIcon() {
    if (g_hAppIcon.isNull()) g_hAppIcon = ArtIcon(152);
}

void SetDialogIcon(QWidget* dialog) {
    LoadAppIcon();
    dialog->setWindowIcon(g_hAppIcon);
}
