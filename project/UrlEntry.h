#pragma once
// URL entries and their mode prefix ("+", "*", "!"), and the project-name rule
// for the new-project placeholder.
#include <string>

enum class UrlMode { Default, SubdirsOnly, NonRecursive, Exclude };

extern const char* const kUrlSyntaxMessage;  // shown when CheckUrlEntry refuses

UrlMode UrlEntryMode(const std::string& entry);
std::string StripUrlPrefix(const std::string& entry);
std::string WithUrlPrefix(const std::string& entry, UrlMode mode);
// Trims the typed text into `trimmed` and tells whether it is a valid entry.
bool CheckUrlEntry(const std::string& typed, std::string& trimmed);
bool IsNewProjectName(const std::string& name);
