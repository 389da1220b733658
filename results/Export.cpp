#include "results/Export.h"

#include <filesystem>
#include <string_view>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "crawl/CrawlState.h"
#include "project/AsciiText.h"
#include "project/AtomicFile.h"

namespace {

void AppendPercentEncoded(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// Length of the valid UTF-8 sequence (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF) that starts `text`; 0 when none does.
std::size_t ValidUtf8SequenceAt(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // range of the second byte; later ones are 80..BF
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// JSON strings must be UTF-8, but URLs from pages are whatever bytes the page
// held. A stray byte becomes %XX, which a server reads as the same byte: the
// URL still leads where it led.
std::string AsJsonText(std::string_view url) {
    std::string out;
    out.reserve(url.size());
    while (!url.empty()) {
        const std::size_t n = ValidUtf8SequenceAt(url);
        if (n == 0) {
            AppendPercentEncoded(out, static_cast<unsigned char>(url.front()));
            url.remove_prefix(1);
        } else {
            out.append(url.substr(0, n));
            url.remove_prefix(n);
        }
    }
    return out;
}

// One URL a line: a line end inside a URL would make two URLs of it.
std::string AsHitListLine(std::string_view url) {
    std::string out;
    out.reserve(url.size() + 1);
    for (char c : url) {
        if (c == '\r' || c == '\n')
            AppendPercentEncoded(out, static_cast<unsigned char>(c));
        else
            out += c;
    }
    out += '\n';
    return out;
}

std::string HitList(const PageRecord* pages) {
    std::string out;
    std::unordered_set<std::string_view> written;
    for (const PageRecord* p = pages; p != nullptr; p = p->next) {
        for (const std::string& hit : p->hits) {
            if (written.insert(hit).second) out += AsHitListLine(hit);
        }
    }
    return out;
}

// RFC 4180: quoted only where needed, quotes doubled, CR LF after every record.
void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string Csv(const PageRecord* pages) {
    std::string out = "page,hit\r\n";
    for (const PageRecord* p = pages; p != nullptr; p = p->next) {
        for (const std::string& hit : p->hits) {
            AppendCsvField(out, p->url);
            out += ',';
            AppendCsvField(out, hit);
            out += "\r\n";
        }
    }
    return out;
}

nlohmann::ordered_json JsonTexts(const StringList& texts) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const std::string& text : texts) list.push_back(AsJsonText(text));
    return list;
}

std::string Json(const PageRecord* pages, const SearchCounters& counters,
                 const StringList& failedUrls) {
    using nlohmann::ordered_json;
    ordered_json doc;
    doc["counters"] = {{"pages_scanned", counters.pagesScanned},
                       {"hits", counters.hits},
                       {"bytes_retrieved", counters.bytesRetrieved}};
    ordered_json list = ordered_json::array();
    for (const PageRecord* p = pages; p != nullptr; p = p->next) {
        if (p->hits.empty()) continue;
        ordered_json page;
        page["url"] = AsJsonText(p->url);
        page["hits"] = JsonTexts(p->hits);
        list.push_back(std::move(page));
    }
    doc["pages"] = std::move(list);
    doc["failed_urls"] = JsonTexts(failedUrls);
    // Every text is valid UTF-8 by now; should one slip through all the same,
    // a replacement character is better than an exception at the end of a crawl.
    return doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

std::optional<ExportFormat> ExportFormatFor(const std::string& fileName) {
    const std::string extension = ToUpperAscii(std::filesystem::path(fileName).extension().string());
    if (extension == ".TXT") return ExportFormat::HitList;
    if (extension == ".CSV") return ExportFormat::Csv;
    if (extension == ".JSON") return ExportFormat::Json;
    return std::nullopt;
}

std::string BuildExport(ExportFormat format, const PageRecord* pages,
                        const SearchCounters& counters, const StringList& failedUrls) {
    switch (format) {
        case ExportFormat::HitList: return HitList(pages);
        case ExportFormat::Csv: return Csv(pages);
        case ExportFormat::Json: return Json(pages, counters, failedUrls);
    }
    return std::string();
}

bool WriteExport(const std::string& fileName, ExportFormat format, const PageRecord* pages,
                 const SearchCounters& counters, const StringList& failedUrls) {
    return WriteFileAtomically(fileName, BuildExport(format, pages, counters, failedUrls));
}
