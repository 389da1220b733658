#pragma once
// What the viewer shows where a page could not be loaded. The browser engine
// draws its own error page by script, and the viewer runs no script in its
// pages: left as it is, that page stays blank but for an empty button.
#include <QString>
#include <QWebEngineLoadingInfo>

// Why a load failed, in a sentence a user reads.
QString LoadErrorReason(QWebEngineLoadingInfo::ErrorDomain domain, int code);

// A script, to be run in a world of the program's own, that writes the address,
// the reason and the engine's own word for the failure into the engine's error
// page, as text. It changes nothing in any other page.
QString LoadErrorScript(const QString& address, const QString& reason, const QString& engineText);
