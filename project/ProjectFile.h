#pragma once
// The project file (name + ".nsp" in the current directory) and the name rules.
#include <string>

class IMessageBox;

bool LoadProject(const std::string& name);
bool SaveProject(const std::string& name);
bool CheckProjectName(const std::string& name, IMessageBox& box);
void RenameProjectFiles(const std::string& oldName, const std::string& newName);
