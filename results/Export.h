#pragma once
// The search's results in forms that other tools read: a list of hit URLs (for
// wget -i or a download manager), CSV and JSON. Pages appear as in the results
// page: in page-list order, and only those with hits.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "project/ProjectData.h"

struct PageRecord;

enum class ExportFormat {
    HitList,  // ".txt": the distinct hit URLs, one a line
    Csv,      // ".csv": one "page,hit" row per hit
    Json,     // ".json": counters, pages with their hits, failed URLs
};

// The format a file name's extension asks for, in any letter case; none for
// any other extension or for a name without one.
std::optional<ExportFormat> ExportFormatFor(const std::string& fileName);

// The numbers a search shows at its end.
struct SearchCounters {
    std::int64_t pagesScanned = 0;
    std::int64_t hits = 0;
    std::int64_t bytesRetrieved = 0;
};

// The export's bytes, as WriteExport writes them. URLs are written as found,
// except where the format cannot carry a byte: a hit list line encodes CR and
// LF as %0D and %0A, and JSON percent-encodes every byte that is not part of
// valid UTF-8.
std::string BuildExport(ExportFormat format, const PageRecord* pages, const SearchCounters& counters,
                        const StringList& failedUrls);

// Writes the export as it goes into a temporary file that replaces `fileName`
// when complete; false when it could not be written or `cancel` turned true
// during the write, the old file then left as it was.
bool WriteExport(const std::string& fileName, ExportFormat format, const PageRecord* pages,
                 const SearchCounters& counters, const StringList& failedUrls,
                 const std::atomic<bool>* cancel = nullptr);
