#pragma once
// The web browser inside the results viewer: a WebEngine view with the few
// operations the viewer needs, one notification per completed navigation, and
// a browser's way with links to files it cannot show (it asks where to save them).
#include <functional>
#include <string>

#include <QString>
#include <QUrl>
#include <QWebEngineView>

class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;

class CWebBrowser : public QWebEngineView {
    Q_OBJECT

public:
    // Asks the user where to save a download. Gets the suggested path; returns the
    // chosen path, or an empty string to cancel the download.
    using SaveFileAsker = std::function<QString(QWidget* parent, const QString& suggestedPath)>;

    explicit CWebBrowser(QWidget* parent = nullptr);

    void GoBack();
    void GoForward();
    // `target`: a file path, absolute or relative to the current directory, in
    // the file system's own bytes; or a URL with its scheme ("http://...", "file:///...").
    void Navigate(const std::string& target);

    // Replaces the save-file dialog (tests).
    void SetSaveFileAsker(SaveFileAsker asker);

    // The URL that Navigate loads for `target`.
    static QUrl TargetUrl(const std::string& target);
    // The address as NavigateComplete reports it: a local file by its path,
    // anything else by its full URL.
    static QString AddressOf(const QUrl& url);

signals:
    void NavigateComplete(const QString& address);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnDownloadRequested(QWebEngineDownloadRequest* request);

    SaveFileAsker m_saveFileAsker;
};
