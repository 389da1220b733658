#include "results/Export.h"

#include <filesystem>
#include <string_view>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "crawl/PageList.h"
#include "project/AsciiText.h"
#include "project/AtomicFile.h"
#include "project/ByteSink.h"
#include "project/Utf8.h"

namespace {

void WritePercentEncoded(IByteSink& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char encoded[] = {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
    out.Write(std::string_view(encoded, sizeof encoded));
}

// JSON strings must be UTF-8, but URLs from pages are whatever bytes the page
// held. A stray byte becomes %XX, which a server reads as the same byte: the
// URL still leads where it led.
std::string AsJsonText(std::string_view url) {
    std::string out;
    out.reserve(url.size());
    StringSink sink(out);
    std::size_t validFrom = 0;
    for (std::size_t i = 0; i < url.size();) {
        const std::size_t n = ValidUtf8SequenceAt(url.substr(i));
        if (n > 0) {
            i += n;
            continue;
        }
        sink.Write(url.substr(validFrom, i - validFrom));
        WritePercentEncoded(sink, static_cast<unsigned char>(url[i]));
        validFrom = ++i;
    }
    sink.Write(url.substr(validFrom));
    return out;
}

// One URL a line: a line end inside a URL would make two URLs of it.
void WriteHitListLine(IByteSink& out, std::string_view url) {
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] != '\r' && url[i] != '\n') continue;
        out.Write(url.substr(plainFrom, i - plainFrom));
        WritePercentEncoded(out, static_cast<unsigned char>(url[i]));
        plainFrom = i + 1;
    }
    out.Write(url.substr(plainFrom));
    out.Write("\n");
}

// The set of hits written holds views of the page list's own strings, not copies.
void WriteHitList(IByteSink& out, const PageRecord* pages) {
    std::unordered_set<std::string_view> written;
    for (const PageRecord* p = pages; p != nullptr && out.Good(); p = p->next) {
        for (const std::string& hit : p->hits) {
            if (written.insert(hit).second) WriteHitListLine(out, hit);
        }
    }
}

// RFC 4180: quoted only where needed, quotes doubled, CR LF after every record.
void WriteCsvField(IByteSink& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.Write(field);
        return;
    }
    out.Write("\"");
    std::size_t plainFrom = 0;
    for (std::size_t quote = field.find('"'); quote != std::string_view::npos; quote = field.find('"', quote + 1)) {
        out.Write(field.substr(plainFrom, quote + 1 - plainFrom));
        plainFrom = quote;  // the quote goes out once more, doubled
    }
    out.Write(field.substr(plainFrom));
    out.Write("\"");
}

void WriteCsv(IByteSink& out, const PageRecord* pages) {
    out.Write("page,hit\r\n");
    for (const PageRecord* p = pages; p != nullptr && out.Good(); p = p->next) {
        for (const std::string& hit : p->hits) {
            WriteCsvField(out, p->url);
            out.Write(",");
            WriteCsvField(out, hit);
            out.Write("\r\n");
        }
    }
}

// The document is laid out as nlohmann's dump(2) lays it out; the library
// quotes and escapes each text.
void WriteJsonText(IByteSink& out, std::string_view text) {
    // Every text is valid UTF-8 by now; should one slip through all the same,
    // a replacement character is better than an exception at the end of a crawl.
    out.Write(nlohmann::json(AsJsonText(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// `indent` is that of the list's own line; its items go one level deeper.
void WriteJsonTexts(IByteSink& out, const StringList& texts, std::string_view indent) {
    if (texts.empty()) {
        out.Write("[]");
        return;
    }
    out.Write("[");
    const char* separator = "\n";
    for (const std::string& text : texts) {
        out.Write(separator);
        out.Write(indent);
        out.Write("  ");
        WriteJsonText(out, text);
        separator = ",\n";
    }
    out.Write("\n");
    out.Write(indent);
    out.Write("]");
}

void WriteJson(IByteSink& out, const PageRecord* pages, const SearchCounters& counters, const StringList& failedUrls) {
    out.Write("{\n  \"counters\": {\n    \"pages_scanned\": ");
    out.Write(std::to_string(counters.pagesScanned));
    out.Write(",\n    \"hits\": ");
    out.Write(std::to_string(counters.hits));
    out.Write(",\n    \"bytes_retrieved\": ");
    out.Write(std::to_string(counters.bytesRetrieved));
    out.Write("\n  },\n  \"pages\": [");
    const char* separator = "\n";
    for (const PageRecord* p = pages; p != nullptr && out.Good(); p = p->next) {
        if (p->hits.empty()) continue;
        out.Write(separator);
        out.Write("    {\n      \"url\": ");
        WriteJsonText(out, p->url);
        out.Write(",\n      \"hits\": ");
        WriteJsonTexts(out, p->hits, "      ");
        out.Write("\n    }");
        separator = ",\n";
    }
    // An empty list closes on its own line's end, as dump writes "[]".
    out.Write(*separator == ',' ? "\n  ]" : "]");
    out.Write(",\n  \"failed_urls\": ");
    WriteJsonTexts(out, failedUrls, "  ");
    out.Write("\n}\n");
}

void WriteExportTo(IByteSink& out, ExportFormat format, const PageRecord* pages, const SearchCounters& counters,
                   const StringList& failedUrls) {
    switch (format) {
        case ExportFormat::HitList: WriteHitList(out, pages); return;
        case ExportFormat::Csv: WriteCsv(out, pages); return;
        case ExportFormat::Json: WriteJson(out, pages, counters, failedUrls); return;
    }
}

}  // namespace

std::optional<ExportFormat> ExportFormatFor(const std::string& fileName) {
    const std::string extension = ToUpperAscii(std::filesystem::path(fileName).extension().string());
    if (extension == ".TXT") return ExportFormat::HitList;
    if (extension == ".CSV") return ExportFormat::Csv;
    if (extension == ".JSON") return ExportFormat::Json;
    return std::nullopt;
}

std::string BuildExport(ExportFormat format, const PageRecord* pages, const SearchCounters& counters,
                        const StringList& failedUrls) {
    std::string out;
    StringSink sink(out);
    WriteExportTo(sink, format, pages, counters, failedUrls);
    return out;
}

bool WriteExport(const std::string& fileName, ExportFormat format, const PageRecord* pages,
                 const SearchCounters& counters, const StringList& failedUrls, const std::atomic<bool>* cancel) {
    CAtomicFile file(fileName, cancel);
    WriteExportTo(file, format, pages, counters, failedUrls);
    return file.Commit();
}
