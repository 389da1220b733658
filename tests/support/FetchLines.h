#pragma once
// Reads a whole page through a fetcher, as the worker does: its text, the lines
// of its body joined.
#include <stdexcept>
#include <string>
#include <vector>

#include "crawl/PageFetcher.h"

using Lines = std::vector<std::string>;

inline std::string Fetch(IPageFetcher& fetcher, const std::string& url) {
    auto file = fetcher.OpenURL(url);
    if (!file) throw std::logic_error("no file for " + url);
    std::size_t added = 0;
    std::size_t counted = 0;
    while (file->ReadMore(added)) counted += added;
    std::string text = file->Text();
    file->Close();
    if (counted != text.size()) throw std::logic_error("bytes counted differ from the text of " + url);
    return text;
}
