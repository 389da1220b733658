#include "results/ReportWriter.h"

#include <array>
#include <string_view>

#include "ui/MessageBox.h"
#include "crawl/PageList.h"
#include "project/AtomicFile.h"
#include "project/ByteSink.h"

namespace {

constexpr const char* kHead = "<html><head></head><body BGCOLOR=#000000><font face=\"Arial\" size=\"-1\">";
constexpr const char* kTitleStart =
    "<TABLE BORDER=1 cellspacing=0 cellpadding=0 WIDTH=100%><TR><TD BGCOLOR=#000000>"
    "<FONT SIZE=-1 COLOR=#FFFFFF><B>Search results for ";
constexpr const char* kTitleMiddle = "</B></TD><TD BGCOLOR=#000000><FONT SIZE=-1 COLOR=#FFFFFF><B>";
constexpr const char* kTitleEnd = "</B></TD></TR>";
// A row's cells, each holding one URL: as a link, or as text when following it
// would run script (see WriteUrlCell).
constexpr const char* kFirstRowStart = "<TR><TD BGCOLOR=#80b3ce><FONT SIZE=-1>";
constexpr const char* kFirstRowMiddle = "</FONT></TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1>";
constexpr const char* kFurtherRowStart = "<TR><TD BGCOLOR=#80b3ce>+</TD><TD BGCOLOR=#d5d3a8><FONT SIZE=-1>";
constexpr const char* kRowEnd = "</FONT></TD></TR>";
constexpr const char* kLinkStart = "<a href=\"";
constexpr const char* kLinkMiddle = "\">";
constexpr const char* kLinkEnd = "</a>";
constexpr const char* kFooter =
    "</TABLE><BR><font COLOR=#FFFFFF><center>automagically generated with velmor "
    "Netzspurer<BR></center></font>";
constexpr const char* kTail = "</font></body></html>";

// Names from our own tables: strftime's %A and %B follow LC_TIME, and the
// results page reads the same on every machine.
constexpr const char* kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

std::string TwoDigits(int n) {
    std::string s;
    s += static_cast<char>('0' + (n / 10) % 10);
    s += static_cast<char>('0' + n % 10);
    return s;
}

// Runs of plain bytes go out as they are, each markup character as its entity.
void WriteEscapedHtml(IByteSink& out, std::string_view text) {
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string_view entity;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            default: continue;
        }
        out.Write(text.substr(plainFrom, i - plainFrom));
        out.Write(entity);
        plainFrom = i + 1;
    }
    out.Write(text.substr(plainFrom));
}

// The link is escaped in both places; the browser decodes the entities in the
// attribute again, so the link still leads to the address that was found. A URL
// that would run script when followed is only shown.
void WriteUrlCell(IByteSink& out, const std::string& url) {
    if (RunsScript(url)) {
        WriteEscapedHtml(out, url);
        return;
    }
    out.Write(kLinkStart);
    WriteEscapedHtml(out, url);
    out.Write(kLinkMiddle);
    WriteEscapedHtml(out, url);
    out.Write(kLinkEnd);
}

// The page is written piece by piece as it is made; a sink that can take no
// more (a full disk, a cancel) ends it at the next row.
void WritePage(IByteSink& out, const std::string& reportFile, const PageRecord* pages, std::time_t when) {
    out.Write(kHead);
    out.Write(kTitleStart);
    WriteEscapedHtml(out, reportFile);
    out.Write(kTitleMiddle);
    out.Write(FormatReportDate(when));
    out.Write(kTitleEnd);
    for (const PageRecord* p = pages; p != nullptr && out.Good(); p = p->next) {
        if (p->hits.empty()) continue;
        out.Write(kFirstRowStart);
        WriteUrlCell(out, p->url);
        out.Write(kFirstRowMiddle);
        WriteUrlCell(out, p->hits.front());
        out.Write(kRowEnd);
        for (std::size_t i = 1; i < p->hits.size() && out.Good(); ++i) {
            out.Write(kFurtherRowStart);
            WriteUrlCell(out, p->hits[i]);
            out.Write(kRowEnd);
        }
    }
    out.Write(kFooter);
    out.Write(kTail);
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    StringSink sink(out);
    WriteEscapedHtml(sink, text);
    return out;
}

bool RunsScript(std::string_view url) {
    // Schemes whose link runs code in the page that shows it, or builds a page
    // of its own from the link's text.
    static constexpr std::array<std::string_view, 3> kScriptSchemes = {"javascript", "vbscript", "data"};
    // Read as a browser reads it: leading controls and blanks skipped, tabs and line
    // breaks dropped, letters compared without case.
    std::size_t i = 0;
    while (i < url.size() && static_cast<unsigned char>(url[i]) <= 0x20) ++i;
    std::string scheme;
    for (; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c == ':') break;
        const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '+' || c == '-' || c == '.';
        if (!schemeChar) return false;
        scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (i == url.size()) return false;
    for (std::string_view known : kScriptSchemes)
        if (scheme == known) return true;
    return false;
}

std::string FormatReportDate(std::time_t when) {
    std::tm t{};
    if (localtime_r(&when, &t) == nullptr) return std::string();
    std::string s = TwoDigits(t.tm_hour) + ":" + TwoDigits(t.tm_min) + ":" + TwoDigits(t.tm_sec);
    s += ", ";
    s += kWeekdays[(t.tm_wday % 7 + 7) % 7];
    s += ", ";
    s += kMonths[(t.tm_mon % 12 + 12) % 12];
    s += " ";
    s += TwoDigits(t.tm_mday);
    s += ", ";
    s += std::to_string(t.tm_year + 1900);
    return s;
}

int WriteReport(const std::string& reportFile, const PageRecord* pages, IMessageBox& box) {
    return WriteReport(reportFile, pages, box, std::time(nullptr));
}

int WriteReport(const std::string& reportFile, const PageRecord* pages, IMessageBox& box, std::time_t when,
                const std::atomic<bool>* cancel) {
    // Never in place: a full disk or a cancel must not cost the user the last
    // good report.
    CAtomicFile file(reportFile, cancel);
    WritePage(file, reportFile, pages, when);
    if (file.Commit()) return 1;
    // A cancel is the user's own doing, not a failure to tell about.
    if (!file.Cancelled()) box.Show("Share violation!", "Error", MsgIcon::Stop, MsgButtons::Ok);
    return 0;
}
