#pragma once
// A group box drawn the way dialog templates mean it: the frame fills the
// template rectangle, its top line runs through the middle of the title, and
// the title sits on the rectangle's top edge. Titled and untitled boxes at the
// same y therefore share one top line, whatever the widget style would do.
#include <QGroupBox>

class CGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit CGroupBox(const QString& title, QWidget* parent = nullptr);

    // Where the frame's top line runs, in the box's own pixels: half the title's height.
    int FrameTop() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect TitleRect() const;
};
