#pragma once
// The program's artwork, by resource number, and the application icon that
// every main dialog wears.
#include <QIcon>
#include <QPixmap>

class QWidget;

extern QIcon g_hAppIcon;

// Icon or bitmap number `id` from the compiled-in artwork (":/icons/<id>.svg" or .png).
QIcon ArtIcon(int id);
QPixmap ArtPixmap(int id, const QSize& size);
// Loads g_hAppIcon (icon 152) once.
void LoadAppIcon();
// Sets the application icon as the window's icon.
void SetDialogIcon(QWidget* dialog);
