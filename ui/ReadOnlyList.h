#pragma once
// A list whose lines are read, never chosen: no selection, no current line
// (so nothing is tinted as if chosen), lines cut at the right edge rather than
// scrolled sideways, and the keys scroll the view instead of moving a cursor.
#include <QListWidget>

class CReadOnlyList : public QListWidget {
    Q_OBJECT
public:
    explicit CReadOnlyList(QWidget* parent = nullptr);

    // Appends a line and keeps the newest line in view, unless the user has
    // scrolled up to read; once back at the bottom, the view follows again.
    void AppendLine(const QString& line);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
