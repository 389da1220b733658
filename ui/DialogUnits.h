#pragma once
// Dialog templates are laid out in dialog units: a quarter of the dialog font's
// average character width across, an eighth of its height down.
#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const { return units * m_baseX / 4; }
    int Y(int units) const { return units * m_baseY / 8; }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

    // The template font: "MS Sans Serif" at 8 points where it exists, else the
    // desktop's default sans-serif at 8 points.
    static QFont DialogFont();

private:
    int m_baseX;
    int m_baseY;
};

// Puts `w` at the template rectangle (x, y, width, height) in dialog units.
void PlaceInUnits(QWidget* w, const DialogUnits& du, int x, int y, int width, int height);
// Gives `dialog` the template font and a fixed client size of (w, h) dialog units;
// returns the units to lay out its controls with.
DialogUnits SetUpTemplate(QWidget* dialog, int w, int h);
