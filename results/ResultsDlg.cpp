#include "results/ResultsDlg.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "ui/QtMessageBox.h"
#include "project/ReadableFile.h"
#include "results/WebBrowser.h"

namespace {

// The file error texts are German, like every file error text of the program.
std::string FileErrorText(int error, const std::string& path) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return path + " wurde nicht gefunden.";
        case EACCES:
        case EPERM:
        case EISDIR: return "Zugriff auf " + path + " wurde verweigert.";
        default: return "Beim Zugriff auf " + path + " ist ein unbekannter Fehler aufgetreten.";
    }
}

std::string FullPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

QPushButton* NavigationButton(QWidget* parent, const char* name, const char* tip) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    // Their pictures are all they show.
    button->setToolTip(QLatin1String(tip));
    button->setFlat(true);
    button->setIconSize(QSize(16, 16));
    // Flat, the style draws no focus on them: Tab out of the page would seem to
    // go nowhere.
    button->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid transparent; border-radius: 2px; background: transparent; }"
                       "QPushButton:hover { border-color: palette(mid); }"
                       "QPushButton:pressed { background: palette(midlight); }"
                       "QPushButton:focus { border-color: palette(highlight); }"));
    return button;
}

}  // namespace

CResultsDlg::CResultsDlg(QWidget* parent) : QDialog(parent) {
    // A browser window rather than a small dialog: window managers give it the
    // minimise and maximise boxes only as a plain window.
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::DialogFont());
    setMinimumSize(400, 400);

    // Created in tab order.
    m_browser = new CWebBrowser(this);
    m_browser->setObjectName(QStringLiteral("m_browser"));
    m_btnBack = NavigationButton(this, "m_btnBack", "Back");
    m_btnHome = NavigationButton(this, "m_btnHome", "Back to the first page");
    m_btnForward = NavigationButton(this, "m_btnForward", "Forward");
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("m_status"));
    m_status->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // Addresses may hold "<" and "&"; they are shown as they are.
    m_status->setTextFormat(Qt::PlainText);
    m_btnOk = new QPushButton(QStringLiteral("Ok"), this);
    m_btnOk->setObjectName(QStringLiteral("m_btnOk"));
    m_btnOk->setDefault(true);

    connect(m_btnBack, &QPushButton::clicked, m_browser, &CWebBrowser::GoBack);
    connect(m_btnForward, &QPushButton::clicked, m_browser, &CWebBrowser::GoForward);
    connect(m_btnHome, &QPushButton::clicked, this, &CResultsDlg::NavigatePage);
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_browser, &CWebBrowser::NavigateComplete, m_status, &QLabel::setText);

    LayOut();
}

void CResultsDlg::setVisible(bool visible) {
    const bool first = visible && !m_bInitialised;
    if (first) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
    // A box run from inside the show would run before the viewer is a modal window:
    // it would belong to the window that opened the viewer, and afterwards the viewer
    // would sit behind that window while blocking it. Queued, it runs in the viewer's
    // own modal loop, on top of the viewer.
    if (first && !m_strFileError.empty())
        QMetaObject::invokeMethod(this, &CResultsDlg::ShowFileError, Qt::QueuedConnection);
}

void CResultsDlg::OnInitDialog() {
    SetDialogIcon(this);
    // 600 x 450 is the size the window returns to when the user restores it.
    resize(600, 450);
    setWindowState(windowState() | Qt::WindowMaximized);

    m_hIconBack = ArtIcon(174);
    m_hIconForward = ArtIcon(175);
    m_hIconHome = ArtIcon(176);
    m_btnBack->setIcon(m_hIconBack);
    m_btnForward->setIcon(m_hIconForward);
    m_btnHome->setIcon(m_hIconHome);

    setWindowTitle(QStringLiteral("velmor Netzspurer - ") + ToQt(m_strPage));
    // Ok, not the page, starts with the keys: the page keeps Escape for itself.
    m_btnOk->setFocus();

    if (const int error = ReadableFileError(m_strPage); error != 0) {
        // The viewer stays open with an empty browser; the start-page button tries
        // the page again under the name the caller gave.
        m_strFileError = FileErrorText(error, m_strPage);
        return;
    }
    // The full path keeps the start-page button on this page whatever the browser does.
    m_strPage = FullPath(m_strPage);
    NavigatePage();
}

void CResultsDlg::ShowFileError() {
    const std::string text = std::exchange(m_strFileError, std::string());
    // Closed before its loop ran: nobody is left to read the box.
    if (!isVisible()) return;
    // The box belongs to the top modal window, which is now the viewer; in front and
    // active, the viewer also takes the input back when the box closes.
    raise();
    activateWindow();
    AppMessageBox().Show(text, AppName(), MsgIcon::Stop, MsgButtons::Ok);
}

void CResultsDlg::NavigatePage() { m_browser->Navigate(m_strPage); }

bool CResultsDlg::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
        case QEvent::Show:
        case QEvent::WindowStateChange:
            // X reports sizes late: when the window manager maximises the new window,
            // a resize event may still carry the size from before, with the window
            // already at its new size and no resize event to follow; or a move takes
            // the new size into the window without any resize event at all. The
            // window's own size after each of these is the one to follow.
            LayOut();
            break;
        default: break;
    }
    return handled;
}

void CResultsDlg::LayOut() {
    const int cx = width();
    const int cy = height();
    m_browser->setGeometry(0, 0, cx, std::max(0, cy - 50));
    m_btnBack->setGeometry(10, cy - 30, 30, 25);
    m_btnHome->setGeometry(40, cy - 30, 30, 25);
    m_btnForward->setGeometry(70, cy - 30, 30, 25);
    m_status->setGeometry(105, cy - 30, std::max(0, cx - 200), 25);
    m_btnOk->setGeometry(cx - 90, cy - 30, 80, 25);
}
