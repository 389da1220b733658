#pragma once
// The results page: one line of HTML listing every page with hits and its hits.
#include <atomic>
#include <ctime>
#include <string>
#include <string_view>

struct PageRecord;
class IMessageBox;

// Writes the pages of `pages` (the page list) to `reportFile` as it goes, into
// a temporary file that replaces the report when complete; 1 when written
// completely. 0 with the old report left as it was: after showing "Share
// violation!" through `box` when the file could not be written, silently when
// `cancel` turned true during the write. The title row tells the time `when`,
// or the time of the call.
int WriteReport(const std::string& reportFile, const PageRecord* pages, IMessageBox& box);
int WriteReport(const std::string& reportFile, const PageRecord* pages, IMessageBox& box, std::time_t when,
                const std::atomic<bool>* cancel = nullptr);
// "%H:%M:%S, %A, %B %d, %Y" in English whatever the locale.
std::string FormatReportDate(std::time_t when);
// & < > " written as entities, so a crawled page cannot put markup into the report.
std::string EscapeHtml(const std::string& text);
// True when a browser would run script for a link to `url` (javascript:,
// vbscript:, data:); the report shows such a URL as text, not as a link.
bool RunsScript(std::string_view url);
