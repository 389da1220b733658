#include "app/Help.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>

#include "results/ResultsDlg.h"

namespace {
std::function<void(const std::string&)> g_helpViewer;

// Sits in front of every receiver of the application, so F1 means help in
// every window without each dialog having to know about it.
class HelpKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1) return false;
        constexpr Qt::KeyboardModifiers kBlocking = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
        if (key->modifiers() & kBlocking) return false;
        // A held key would otherwise stack one viewer on the other for every repeat.
        if (!key->isAutoRepeat()) ShowHelpPage();
        return true;
    }
};
}  // namespace

void ShowHelpPage() {
    if (g_helpViewer) {
        g_helpViewer(kHelpPage);
        return;
    }
    CResultsDlg viewer;
    viewer.m_strPage = kHelpPage;
    viewer.exec();
}

void SetHelpViewer(std::function<void(const std::string& page)> viewer) { g_helpViewer = std::move(viewer); }

void InstallHelpKey(QApplication& app) { app.installEventFilter(new HelpKeyFilter(&app)); }
