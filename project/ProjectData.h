#pragma once
// The open project: its start URL entries, its resource patterns and its
// all-links flag. There is exactly one open project per process.
#include <deque>
#include <string>
#include <vector>

using StringList = std::vector<std::string>;
// The URL entries double as the crawl's work queue, which takes entry 0 and
// inserts at index 1; a deque does both without moving the rest of the queue.
using UrlQueue = std::deque<std::string>;

extern UrlQueue g_UrlList;
extern StringList g_ResourcePatterns;
extern int g_AllLinks;
