#include "results/Export.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "crawl/CrawlState.h"
#include "project/AtomicFile.h"
#include "support/HeapPeak.h"
#include "support/TempDir.h"

namespace {

using Json = nlohmann::json;

// A page list as the crawl leaves it; the test owns the records.
class PageList {
public:
    explicit PageList(std::vector<std::pair<std::string, StringList>> pages) : m_records(pages.size()) {
        for (std::size_t i = 0; i < pages.size(); ++i) {
            m_records[i].url = pages[i].first;
            m_records[i].hits = pages[i].second;
            if (i > 0) m_records[i - 1].next = &m_records[i];
        }
    }
    std::string Export(ExportFormat format, const StringList& failed = {}) const {
        return BuildExport(format, Head(), SearchCounters{5, 7, 1234}, failed);
    }
    const PageRecord* Head() const { return m_records.empty() ? nullptr : &m_records.front(); }

private:
    std::vector<PageRecord> m_records;
};

TEST(ExportTest, FormatComesFromTheExtensionInAnyCase) {
    const std::pair<const char*, std::optional<ExportFormat>> cases[] = {
        {"dir/hits.TXT", ExportFormat::HitList},
        {"a.b.Csv", ExportFormat::Csv},
        {"r.json", ExportFormat::Json},
        {"r.json.bak", std::nullopt},
        {"txt", std::nullopt},
        {"r.txt/", std::nullopt},
    };
    for (const auto& [name, format] : cases) EXPECT_EQ(ExportFormatFor(name), format) << name;
}

TEST(ExportTest, HitListKeepsTheFirstOfByteEqualHitsAcrossPages) {
    const PageList pages({{"http://h/", {"http://h/b.zip", "http://h/a.zip"}},
                          {"http://h/empty/", {}},
                          {"http://h/2/", {"http://h/A.zip", "http://h/a.zip", "http://h/x\r\ny.zip"}}});
    EXPECT_EQ(pages.Export(ExportFormat::HitList),
              "http://h/b.zip\nhttp://h/a.zip\nhttp://h/A.zip\nhttp://h/x%0D%0Ay.zip\n");
    EXPECT_EQ(PageList({}).Export(ExportFormat::HitList), "");
}

TEST(ExportTest, CsvQuotesOnlyWhereNeededAndKeepsEveryRow) {
    const PageList pages({{"http://h/", {"http://h/plain.zip", "http://h/a,b.zip"}},
                          {"http://h/empty/", {}},
                          {"http://h/q\"1", {"http://h/plain.zip", "cr\rlf\n.zip"}}});
    EXPECT_EQ(pages.Export(ExportFormat::Csv),
              "page,hit\r\n"
              "http://h/,http://h/plain.zip\r\n"
              "http://h/,\"http://h/a,b.zip\"\r\n"
              "\"http://h/q\"\"1\",http://h/plain.zip\r\n"
              "\"http://h/q\"\"1\",\"cr\rlf\n.zip\"\r\n");
    EXPECT_EQ(PageList({}).Export(ExportFormat::Csv), "page,hit\r\n");
}

TEST(ExportTest, JsonListsOnlyPagesWithHitsAndEmptyListsAsLists) {
    const PageList pages({{"http://h/b/", {"http://h/2.zip", "http://h/1.zip"}}, {"http://h/empty/", {}}});
    EXPECT_EQ(Json::parse(pages.Export(ExportFormat::Json, {"http://x/2", "http://x/1"})),
              Json::parse(R"({"counters": {"pages_scanned": 5, "hits": 7, "bytes_retrieved": 1234},
                  "pages": [{"url": "http://h/b/", "hits": ["http://h/2.zip", "http://h/1.zip"]}],
                  "failed_urls": ["http://x/2", "http://x/1"]})"));
    const Json empty = Json::parse(PageList({}).Export(ExportFormat::Json));
    EXPECT_EQ(empty["pages"], Json::array());
    EXPECT_EQ(empty["failed_urls"], Json::array());
}

// Whatever the bytes, the JSON parses, and valid UTF-8 comes back unchanged.
TEST(ExportTest, JsonPercentEncodesBytesOutsideValidUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"caf\xE9.zip", "caf%E9.zip"},                                 // Latin-1
        {"\xC0\xAF\xE0\x80\xAF", "%C0%AF%E0%80%AF"},                   // overlong forms of "/"
        {"\xED\xA0\x80", "%ED%A0%80"},                                 // surrogate
        {"\xF4\x90\x80\x80", "%F4%90%80%80"},                          // above U+10FFFF
        {"\xE2\x82x\xBF\xE2\x82", "%E2%82x%BF%E2%82"},                 // cut short, lone continuation, cut at the end
        {std::string("\0\x1b\x7F", 3), std::string("\0\x1b\x7F", 3)},  // JSON escapes controls itself
    };
    for (const auto& [url, expected] : cases) {
        const Json doc = Json::parse(PageList({{url, {url}}}).Export(ExportFormat::Json, {url}));
        EXPECT_EQ(doc["pages"][0]["url"], expected) << expected;
        EXPECT_EQ(doc["pages"][0]["hits"][0], expected) << expected;
        EXPECT_EQ(doc["failed_urls"][0], expected) << expected;
    }
}

// Exports hundreds of times the bound: each is written as it is made, holding
// its buffer and one URL at a time; the hit list also knows every hit it has
// written, by reference to the page list.
TEST(ExportTest, WritingLongHitsHoldsLittleMoreThanTheBuffer) {
    TempDir dir;
    const std::string hitDir = "http://h/" + std::string(1000, 'd') + "/";
    StringList hits;
    for (int i = 0; i < 50000; ++i) hits.push_back(hitDir + std::to_string(i) + ".zip");
    const PageList pages({{"http://h/", hits}});
    const std::int64_t buffer = 2 * CAtomicFile::kBufferBytes;
    const struct {
        const char* file;
        ExportFormat format;
        std::int64_t bound;
    } cases[] = {
        {"e.csv", ExportFormat::Csv, buffer},
        {"e.json", ExportFormat::Json, buffer},
        {"e.txt", ExportFormat::HitList, buffer + 64 * static_cast<std::int64_t>(hits.size())},
    };
    for (const auto& c : cases) {
        HeapPeak peak;
        ASSERT_TRUE(WriteExport(c.file, c.format, pages.Head(), SearchCounters{}, {hits.front()}));
        EXPECT_LT(peak.Bytes(), c.bound) << c.file;
        EXPECT_GT(std::filesystem::file_size(c.file), 300u * buffer) << c.file;
    }
}

}  // namespace
