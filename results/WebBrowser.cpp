#include "results/WebBrowser.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include <QChildEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>

#include "results/LoadErrorPage.h"

CWebBrowser::CWebBrowser(QWidget* parent)
    : QWebEngineView(parent), m_saveFileAsker([](QWidget* owner, const QString& suggestedPath) {
          return QFileDialog::getSaveFileName(owner, QString(), suggestedPath);
      }) {
    // The pages shown are the program's own report and help, but the report holds
    // what crawled sites wrote: nothing in them gets to run.
    page()->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    connect(page(), &QWebEnginePage::loadingChanged, this, &CWebBrowser::OnLoadingChanged);
    // WebEngine builds the widget that draws the page on the first load, or by itself
    // a moment later. Built once the window holding it is on screen, it makes Qt
    // rebuild that window, and a rebuilt modal window drops out of Qt's modal stack:
    // the window that opened it then blocks it, and nothing takes input any more.
    // Asking the empty page for its text builds it now, before any window is shown.
    page()->toHtml([](const QString&) {});
    if (focusProxy()) focusProxy()->installEventFilter(this);
    // Downloads are announced by the profile, which every view of the program shares.
    connect(page()->profile(), &QWebEngineProfile::downloadRequested, this, &CWebBrowser::OnDownloadRequested);
}

bool CWebBrowser::event(QEvent* event) {
    // Whichever of the view's widgets takes the keys, now or made later, is watched.
    if (event->type() == QEvent::ChildPolished) static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
    return QWebEngineView::event(event);
}

bool CWebBrowser::eventFilter(QObject* watched, QEvent* event) {
    // Escape belongs to the window the browser sits in, wherever the focus is:
    // the browser engine keeps it for the page, and the window never hears of it.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
        QCoreApplication::sendEvent(window(), event);
        return true;
    }
    return QWebEngineView::eventFilter(watched, event);
}

void CWebBrowser::GoBack() { back(); }

void CWebBrowser::GoForward() { forward(); }

void CWebBrowser::Navigate(const std::string& target) {
    const QUrl url = TargetUrl(target);
    if (url.isValid()) load(url);
}

void CWebBrowser::SetSaveFileAsker(SaveFileAsker asker) { m_saveFileAsker = std::move(asker); }

QUrl CWebBrowser::TargetUrl(const std::string& target) {
    if (target.empty()) return QUrl();
    // A file that really is named like "notes:1.htm" wins over the reading as a URL.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    std::error_code ec;
    if (target.front() != '/' && scheme.match(QString::fromUtf8(target)).hasMatch() &&
        !std::filesystem::exists(target, ec))
        return QUrl(QString::fromUtf8(target));
    // Built from the path's bytes, not parsed as a URL: blanks, "#" and "%" stay
    // themselves, and so does a byte that is no text in the locale (as "%E9").
    std::filesystem::path full = std::filesystem::absolute(target, ec);
    if (ec) full = target;
    const QByteArray path = QByteArray::fromStdString(full.lexically_normal().string());
    return QUrl::fromEncoded("file://" + path.toPercentEncoding("/!$&'()*+,;=:@"), QUrl::StrictMode);
}

QString CWebBrowser::AddressOf(const QUrl& url) {
    if (url.isLocalFile()) return QDir::toNativeSeparators(url.toLocalFile());
    return url.toString();
}

void CWebBrowser::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    // A failed load still shows a page (the error page) at that address; a stopped one
    // shows nothing new, e.g. a link that turned out to be a download.
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus ||
        info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
        emit NavigateComplete(AddressOf(info.url()));
    // The page's scripts stay off; the program's own world writes the message.
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus && info.isErrorPage())
        page()->runJavaScript(
            LoadErrorScript(AddressOf(info.url()), LoadErrorReason(info.errorDomain(), info.errorCode()),
                            info.errorString()),
            QWebEngineScript::ApplicationWorld);
}

void CWebBrowser::OnDownloadRequested(QWebEngineDownloadRequest* request) {
    if (request->page() != page() || request->state() != QWebEngineDownloadRequest::DownloadRequested) return;
    const QString suggested = QDir(request->downloadDirectory()).filePath(request->suggestedFileName());
    const QString chosen = m_saveFileAsker ? m_saveFileAsker(this, suggested) : QString();
    if (chosen.isEmpty()) {
        request->cancel();
        return;
    }
    const QFileInfo target(chosen);
    request->setDownloadDirectory(target.absolutePath());
    request->setDownloadFileName(target.fileName());
    request->accept();
}
