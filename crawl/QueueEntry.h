#pragma once
// What a queue entry asks of the worker, read from its marks: "!" is an
// exclusion and never fetched; "*" fetches one page and follows nothing; "-"
// is a page found below a "+" entry and keeps the base in force; "+" makes the
// base from its own URL.
#include <string>
#include <string_view>

#include "crawl/PageFetcher.h"

struct QueueEntry {
    bool fetched = false;    // false: an exclusion, or too short to be an URL
    std::string url;         // leading blanks and marks removed
    bool recursive = true;   // no "*"
    bool keepsBase = false;  // "-"
    bool plus = false;       // "+"
};

QueueEntry ParseQueueEntry(std::string_view entry);

// An entry as it is shown and listed as failed: leading blanks and marks removed.
std::string WithoutMarks(std::string_view entry);

// The directory a "+" entry restricts the crawl to.
std::string BaseOfPlusEntry(const std::string& url);

// The request the worker makes for a parsed entry: `start` when it is one of the
// project's own entries, `baseInForce` the base an entry that keeps it inherits.
PageRequest RequestOf(QueueEntry entry, bool start, const std::string& baseInForce);
