#pragma once
// The help page and the F1 key. Help is one local page, shown in the results
// viewer whatever window asked for it.
#include <functional>
#include <string>

class QApplication;

// Relative to the current directory, like the projects.
inline constexpr const char* kHelpPage = "help/default.htm";

// Shows the help page in a results viewer, modally, on top of whatever is open.
void ShowHelpPage();

// Tests: `viewer` is run instead of the real results viewer; empty restores it.
void SetHelpViewer(std::function<void(const std::string& page)> viewer);

// F1 without Shift, Ctrl or Alt shows the help page, in every window of `app`.
void InstallHelpKey(QApplication& app);
