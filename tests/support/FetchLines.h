#pragma once
// Reads a whole page through a fetcher, line by line, as the worker does.
#include <stdexcept>
#include <string>
#include <vector>

#include "crawl/PageFetcher.h"

using Lines = std::vector<std::string>;

inline Lines Fetch(IPageFetcher& fetcher, const std::string& url) {
    auto file = fetcher.OpenURL(url);
    if (!file) throw std::logic_error("no file for " + url);
    Lines lines;
    std::string line;
    while (file->ReadString(line)) lines.push_back(line);
    file->Close();
    return lines;
}
