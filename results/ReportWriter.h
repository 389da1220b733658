#pragma once
// The results page: one line of HTML listing every page with hits and its hits.
#include <ctime>
#include <string>
#include <string_view>

struct PageRecord;
class IMessageBox;

// Writes the pages of `pages` (the page list) to `reportFile`; 1 when written
// completely, 0 after showing "Share violation!" through `box`, with the old
// report left as it was.
int WriteReport(const std::string& reportFile, const PageRecord* pages, IMessageBox& box);
// Same, with the time to print given (for tests).
int WriteReport(const std::string& reportFile, const PageRecord* pages, IMessageBox& box,
                std::time_t when);
// "%H:%M:%S, %A, %B %d, %Y" in English whatever the locale.
std::string FormatReportDate(std::time_t when);
// & < > " written as entities, so a crawled page cannot put markup into the report.
std::string EscapeHtml(const std::string& text);
// True when a browser would run script for a link to `url` (javascript:,
// vbscript:, data:); the report shows such a URL as text, not as a link.
bool RunsScript(std::string_view url);
