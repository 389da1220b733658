#pragma once
// Case rules of the program: only the ASCII letters a-z and A-Z fold, whatever the
// locale, so that the same bytes compare the same on every machine.
#include <string>
#include <string_view>

std::string ToUpperAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
// True when `text` contains `part` once both are upper-cased.
bool ContainsNoCase(std::string_view text, std::string_view part);
// Blank, tab, carriage return, line feed, vertical tab, form feed.
bool IsWhiteSpace(char c);
std::string TrimLeft(std::string_view text);
std::string Trim(std::string_view text);
