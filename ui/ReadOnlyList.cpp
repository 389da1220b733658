#include "ui/ReadOnlyList.h"

#include <QKeyEvent>
#include <QScrollBar>

namespace {
// Turns away every choice, the current line included: the view asks for one on
// focus, click and key, and would tint it.
class NoChoiceModel : public QItemSelectionModel {
public:
    using QItemSelectionModel::QItemSelectionModel;
    void setCurrentIndex(const QModelIndex&, QItemSelectionModel::SelectionFlags) override {}
    void select(const QModelIndex&, QItemSelectionModel::SelectionFlags) override {}
    void select(const QItemSelection&, QItemSelectionModel::SelectionFlags) override {}
};
}  // namespace

CReadOnlyList::CReadOnlyList(QWidget* parent) : QListWidget(parent) {
    QItemSelectionModel* standard = selectionModel();
    setSelectionModel(new NoChoiceModel(model(), this));
    delete standard;
    setSelectionMode(QAbstractItemView::NoSelection);
    setSortingEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    // Long searches list thousands of lines; equal heights keep appending cheap.
    setUniformItemSizes(true);
}

void CReadOnlyList::AppendLine(const QString& line) {
    const QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    addItem(line);
    if (following) scrollToBottom();
}

void CReadOnlyList::keyPressEvent(QKeyEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
        case Qt::Key_Up: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
        case Qt::Key_Down: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
        case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); break;
        case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
        case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); break;
        case Qt::Key_End: bar->triggerAction(QAbstractSlider::SliderToMaximum); break;
        default: QListWidget::keyPressEvent(event); return;
    }
    event->accept();
}
