#pragma once
// The project file (name + ".nsp" in the current directory) and the name rules.
#include <string>

class IMessageBox;

bool LoadProject(const std::string& name);
bool SaveProject(const std::string& name);
bool CheckProjectName(const std::string& name, IMessageBox& box);
void RenameProjectFiles(const std::string& oldName, const std::string& newName);
// True when the project's results page (name + ".htm") is a file that opens for
// reading. Never waits: a pipe of that name is no results page.
bool ResultsPageOpens(const std::string& name);
