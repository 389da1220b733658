#pragma once
// The pages a search has found, each with its hits, in the order found; and the
// checksum of the page in process, which tells a page of a text already
// scanned (crawl/Checksum.h).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "project/ProjectData.h"

// Finds a record's hit by its URL without a second copy of it: open addressing
// over the positions of the hits, by their URL identity.
class HitIndex {
public:
    // The position of the hit that is the same URL as `url`, or -1.
    std::ptrdiff_t Find(const StringList& hits, std::string_view url) const;
    // Takes in hits[position]; the caller has made sure no equal hit is in.
    void Insert(const StringList& hits, std::size_t position);
    // Indexes `hits` anew, when they were filled by hand.
    void Rebuild(const StringList& hits);
    std::size_t Size() const { return m_count; }

private:
    void Place(const StringList& hits, std::uint32_t position);

    std::vector<std::uint32_t> m_slots;  // position + 1; 0 is free
    std::size_t m_count = 0;
};

struct PageRecord {
    PageRecord* next = nullptr;
    StringList hits;        // in the order found, no two the same URL
    std::string url;        // without mark character, no two records the same URL
    std::uint64_t crc = 0;  // the page checksum when the latest hit was added; 0 without hits
    HitIndex hitIndex;      // of `hits`, for the uniqueness test
};

struct PageListIndex;

// A singly linked list of records, appended at the tail and never reordered,
// with indexes by URL and by checksum beside it.
class CPageList {
public:
    CPageList();
    ~CPageList();
    CPageList(const CPageList&) = delete;
    CPageList& operator=(const CPageList&) = delete;

    // The first record; null when the list is empty.
    const PageRecord* Head() const { return m_head; }

    // 1 when a record for `url` (one mark removed) was added, 0 when it was there.
    int AddPage(std::string_view url);
    // Adds `hitUrl` to the record of `pageEntry` (made when missing) unless it
    // holds the same URL; the record takes the checksum of the page in process.
    void AddHit(const std::string& pageEntry, std::string_view hitUrl);

    // The checksum of the text of the page in process, set before its links are handled.
    void SetPageCrc(std::uint64_t crc) { m_pageCrc = crc; }
    std::uint64_t PageCrc() const { return m_pageCrc; }
    // 1 unless a page with hits carries the checksum of the page in process.
    int IsNewContent() const;
    // True when a page with hits carries `crc`: a page of that text is not scanned.
    bool IsScannedContent(std::uint64_t crc) const;
    // True when the list holds `url` (one mark removed): AddPage would not add it.
    bool IsKnownPage(std::string_view url) const;
    // The same, for an URL without mark whose UrlHash is known.
    bool IsKnownPage(std::string_view url, std::size_t hash) const;

    // Deletes every record; the checksum of the page in process stays.
    void Free();
    // What the list holds, in bytes, counted as records and hits are added: the
    // search's memory ceiling looks at it.
    std::size_t Bytes() const;

private:
    PageRecord* FindOrAdd(std::string_view url, bool& added);

    PageRecord* m_head = nullptr;
    std::uint64_t m_pageCrc = 0;
    std::unique_ptr<PageListIndex> m_index;
};
