#include "ui/QtMessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QWidget>

#include "ui/AppIcon.h"
#include "ui/ProgramName.h"

namespace {
IMessageBox* g_override = nullptr;

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Information: return QMessageBox::Information;
        case MsgIcon::Question: return QMessageBox::Question;
        case MsgIcon::Exclamation: return QMessageBox::Warning;
        case MsgIcon::Stop: return QMessageBox::Critical;
        case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// A question with Yes and No has no way out but its two answers: Escape and the
// close box do nothing, as on the platform the program comes from. Qt would take
// either for No, which after a search throws the results away. (Qt finds an
// escape button by itself whenever none is set, so none can simply be unset.)
// A box with Ok alone ends on Escape as usual.
class ProgramBox : public QMessageBox {
public:
    ProgramBox(MsgIcon icon, const std::string& caption, const std::string& text, MsgButtons buttons, QWidget* owner)
        : QMessageBox(ToQtIcon(icon), ToQt(caption), ToQt(text), buttons == MsgButtons::YesNo ? (Yes | No) : Ok, owner),
          m_bQuestion(buttons == MsgButtons::YesNo) {
        if (m_bQuestion) setWindowFlags((windowFlags() | Qt::CustomizeWindowHint) & ~Qt::WindowCloseButtonHint);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (m_bQuestion && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (m_bQuestion)
            event->ignore();
        else
            QMessageBox::closeEvent(event);
    }

private:
    bool m_bQuestion;
};
}  // namespace

MsgResult QtMessageBox::Show(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons) {
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    ProgramBox box(icon, caption, text, buttons, owner);
    SetDialogIcon(&box);
    const int pressed = box.exec();
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    return pressed == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

IMessageBox& AppMessageBox() {
    static QtMessageBox real;
    return g_override ? *g_override : real;
}

void SetAppMessageBox(IMessageBox* box) { g_override = box; }

std::string AppName() { return ProgramFileName(); }

QString ToQt(const std::string& text) { return QString::fromLocal8Bit(text); }
std::string FromQt(const QString& text) { return text.toLocal8Bit().toStdString(); }
