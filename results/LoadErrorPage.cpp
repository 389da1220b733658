#include "results/LoadErrorPage.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// The engine's network error codes that a user of the viewer meets.
struct NetError {
    int code;
    const char* reason;
};
constexpr NetError kNetErrors[] = {
    {-6, "There is no such file."},
    {-10, "The file may not be read."},
    {-7, "The server did not answer in time."},
    {-118, "The server did not answer in time."},
    {-101, "The connection was broken off."},
    {-102, "The server refused the connection."},
    {-105, "No server of that name is known."},
    {-106, "The computer is not connected to a network."},
    {-300, "The address is not valid."},
    {-301, "The viewer does not open addresses of this kind."},
    {-302, "The viewer does not open addresses of this kind."},
};

const char* const kHeading = "This page could not be shown";

}  // namespace

QString LoadErrorReason(QWebEngineLoadingInfo::ErrorDomain domain, int code) {
    switch (domain) {
        case QWebEngineLoadingInfo::CertificateErrorDomain:
            return QStringLiteral("The server's certificate is not trusted, so the page was not loaded.");
        case QWebEngineLoadingInfo::HttpErrorDomain:
            return QStringLiteral("The server answered with status %1.").arg(code);
        case QWebEngineLoadingInfo::InternalErrorDomain:
        case QWebEngineLoadingInfo::ConnectionErrorDomain:
            for (const NetError& error : kNetErrors)
                if (error.code == code) return QString::fromLatin1(error.reason);
            break;
        default: break;
    }
    return QStringLiteral("The page could not be loaded.");
}

QString LoadErrorScript(const QString& address, const QString& reason, const QString& engineText) {
    // The texts go in as JSON strings and out as text nodes: whatever an address
    // holds, it stays text.
    const QString texts =
        QString::fromUtf8(QJsonDocument(QJsonArray{QString::fromLatin1(kHeading), address, reason, engineText})
                              .toJson(QJsonDocument::Compact));
    return QStringLiteral(R"((function (t) {
  if (location.protocol !== 'chrome-error:') return;
  const page = document.documentElement;
  page.replaceChildren();
  const head = document.createElement('head');
  const title = document.createElement('title');
  title.textContent = t[0];
  head.append(title);
  const body = document.createElement('body');
  body.style.cssText = 'font-family: sans-serif; margin: 2em; color: #1b1b1b; background: #fff';
  const add = (tag, text, css) => {
    const e = document.createElement(tag);
    e.textContent = text;
    e.style.cssText = css;
    body.append(e);
  };
  add('h1', t[0], 'font-size: 1.4em; color: #0e2840');
  add('p', t[1], 'font-family: monospace; overflow-wrap: anywhere');
  add('p', t[2], '');
  add('p', t[3], 'color: #5f6368; font-size: 0.9em');
  page.append(head, body);
})(%1);)")
        .arg(texts);
}
