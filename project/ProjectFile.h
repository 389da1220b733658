#pragma once
// The project file (name + ".nsp" in the current directory) and the name rules.
#include <string>

class IMessageBox;
struct ProjectData;

// Appends the file's patterns and entries to `project`'s lists and sets its
// all-links flag; the caller empties the lists first.
bool LoadProject(const std::string& name, ProjectData& project);
bool SaveProject(const std::string& name, const ProjectData& project);
bool CheckProjectName(const std::string& name, IMessageBox& box);
void RenameProjectFiles(const std::string& oldName, const std::string& newName);
// True when the project's results page (name + ".htm") is a file that opens for
// reading. Never waits: a pipe of that name is no results page.
bool ResultsPageOpens(const std::string& name);
