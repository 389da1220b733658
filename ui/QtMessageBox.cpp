#include "ui/QtMessageBox.h"

#include <QApplication>
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
}  // namespace

MsgResult QtMessageBox::Show(const std::string& text, const std::string& caption, MsgIcon icon,
                             MsgButtons buttons) {
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    QMessageBox box(ToQtIcon(icon), ToQt(caption), ToQt(text),
                    buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                                 : QMessageBox::Ok,
                    owner);
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
