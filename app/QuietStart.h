#pragma once
// Keeps the terminal quiet: the browser engine and Qt report their set-up
// (sandbox, OpenGL, paths) on stderr, and users take that for errors. With
// NETZSPURER_DEBUG=1 everything is printed as it comes.
#include <string>

// Whether NETZSPURER_DEBUG=1 asks for every diagnostic.
bool DiagnosticsWanted();

// The browser engine's flags with its logging turned down to fatal errors,
// unless `userFlags` already say how it should log; the user's flags are kept.
std::string QuietBrowserFlags(const std::string& userFlags);

// Before the QApplication is made: quietens the browser engine and holds back
// Qt's debug, info and warning messages; a critical or fatal one prints them
// and itself.
void QuietenDiagnostics();
// Once the window system is up: what was held back is dropped, and from now on
// only a fatal message prints. Until then it is kept, so that a start that
// fails still tells why.
void StartUpSucceeded();
