#include "crawl/PageList.h"

#include <string_view>
#include <vector>

#include "crawl/Url.h"

namespace {

// Open addressing over flat arrays: one probe costs about one cache line and no
// allocation, which keeps a step of a 100,000-page crawl as cheap as one of a
// 10,000-page crawl. Neither table ever removes an entry before it is cleared.

// Page records by URL identity. The URL is read from the record itself.
class UrlTable {
public:
    PageRecord* Find(std::string_view url) const { return Find(url, UrlHash(url)); }

    PageRecord* Find(std::string_view url, std::uint64_t hash) const {
        if (m_slots.empty()) return nullptr;
        for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.record == nullptr) return nullptr;
            if (slot.hash == hash && SameUrl(slot.record->url, url)) return slot.record;
        }
    }

    // The caller has made sure that no record with an equal URL is present.
    void Insert(PageRecord* record) {
        if ((m_count + 1) * 2 > m_slots.size()) Grow();
        Place({UrlHash(record->url), record});
        ++m_count;
    }

    void Clear() {
        m_slots.clear();
        m_slots.shrink_to_fit();
        m_mask = 0;
        m_count = 0;
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        PageRecord* record = nullptr;
    };

    void Place(const Slot& entry) {
        std::size_t i = entry.hash & m_mask;
        while (m_slots[i].record != nullptr) i = (i + 1) & m_mask;
        m_slots[i] = entry;
    }

    void Grow() {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        m_mask = m_slots.size() - 1;
        for (const Slot& entry : old)
            if (entry.record != nullptr) Place(entry);
    }

    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_count = 0;
};

// How many records carry each nonzero checksum. A checksum whose count drops to
// 0 keeps its slot; there are never more of them than pages with hits.
class CrcTable {
public:
    std::uint32_t Count(std::uint64_t crc) const {
        const Slot* slot = Lookup(crc);
        return slot == nullptr ? 0 : slot->count;
    }

    void Add(std::uint64_t crc) {
        if (crc == 0) return;
        if (Slot* slot = Lookup(crc)) {
            ++slot->count;
            return;
        }
        if ((m_used + 1) * 2 > m_slots.size()) Grow();
        Place({crc, 1});
        ++m_used;
    }

    void Remove(std::uint64_t crc) {
        if (crc == 0) return;
        if (Slot* slot = Lookup(crc); slot != nullptr && slot->count > 0) --slot->count;
    }

    void Clear() {
        m_slots.clear();
        m_slots.shrink_to_fit();
        m_mask = 0;
        m_used = 0;
    }

private:
    struct Slot {
        std::uint64_t crc = 0;  // 0: free
        std::uint32_t count = 0;
    };

    static std::size_t Spread(std::uint64_t crc) {
        return static_cast<std::size_t>((crc * 0x9E3779B97F4A7C15ull) >> 32);
    }

    Slot* Lookup(std::uint64_t crc) const {
        if (m_slots.empty() || crc == 0) return nullptr;
        for (std::size_t i = Spread(crc) & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.crc == crc) return const_cast<Slot*>(&slot);
            if (slot.crc == 0) return nullptr;
        }
    }

    void Place(const Slot& entry) {
        std::size_t i = Spread(entry.crc) & m_mask;
        while (m_slots[i].crc != 0) i = (i + 1) & m_mask;
        m_slots[i] = entry;
    }

    void Grow() {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        m_mask = m_slots.size() - 1;
        for (const Slot& entry : old)
            if (entry.crc != 0) Place(entry);
    }

    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_used = 0;
};

// What a record and a hit hold, counted from their sizes rather than their
// allocations, so that the count is the same on every machine: the string, its
// heap bytes, and the index slots that point at it.
// The tables keep at least two slots a record (16 bytes each) and a hit (4 bytes each).
std::size_t RecordBytes(std::string_view url) { return sizeof(PageRecord) + url.size() + 2 * 16; }
std::size_t HitBytes(std::string_view hit) { return sizeof(std::string) + hit.size() + 2 * 4; }

std::string_view WithoutMark(std::string_view text, std::string_view marks) {
    if (!text.empty() && marks.find(text[0]) != std::string_view::npos) text.remove_prefix(1);
    return text;
}

}  // namespace

// Indexes beside the page list, so that neither the duplicate-page test nor the
// duplicate-content test walks the list: a long crawl stays linear.
struct PageListIndex {
    PageRecord* tail = nullptr;
    UrlTable byUrl;
    CrcTable crcCount;
    std::size_t bytes = 0;  // what the records and their hits hold, as Bytes counts it
};

std::ptrdiff_t HitIndex::Find(const StringList& hits, std::string_view url) const {
    if (m_slots.empty()) return -1;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = UrlHash(url) & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = m_slots[i];
        if (slot == 0) return -1;
        if (SameUrl(hits[slot - 1], url)) return static_cast<std::ptrdiff_t>(slot - 1);
    }
}

void HitIndex::Place(const StringList& hits, std::uint32_t position) {
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = UrlHash(hits[position]) & mask;
    while (m_slots[i] != 0) i = (i + 1) & mask;
    m_slots[i] = position + 1;
}

void HitIndex::Insert(const StringList& hits, std::size_t position) {
    if ((m_count + 1) * 2 > m_slots.size()) {
        std::vector<std::uint32_t> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 8 : old.size() * 2, 0);
        for (std::uint32_t slot : old)
            if (slot != 0) Place(hits, slot - 1);
    }
    Place(hits, static_cast<std::uint32_t>(position));
    ++m_count;
}

void HitIndex::Rebuild(const StringList& hits) {
    m_slots.clear();
    m_count = 0;
    for (std::size_t i = 0; i < hits.size(); ++i)
        if (Find(hits, hits[i]) < 0) Insert(hits, i);
}

CPageList::CPageList() : m_index(std::make_unique<PageListIndex>()) {}

CPageList::~CPageList() { Free(); }

PageRecord* CPageList::FindOrAdd(std::string_view url, bool& added) {
    added = false;
    const std::string_view page = WithoutMark(url, "*+-");
    if (page.empty()) return nullptr;
    if (PageRecord* known = m_index->byUrl.Find(page)) return known;

    auto* record = new PageRecord;
    record->url = std::string(page);
    if (m_index->tail != nullptr)
        m_index->tail->next = record;
    else
        m_head = record;
    m_index->tail = record;
    m_index->byUrl.Insert(record);
    m_index->bytes += RecordBytes(record->url);
    added = true;
    return record;
}

int CPageList::AddPage(std::string_view url) {
    bool added = false;
    FindOrAdd(url, added);
    return added ? 1 : 0;
}

void CPageList::AddHit(const std::string& pageEntry, std::string_view hitUrl) {
    if (pageEntry.empty()) return;
    const std::string_view page = WithoutMark(pageEntry, "!*+-");
    PageRecord* record = m_index->byUrl.Find(page);
    if (record == nullptr) {
        // An entry with a second mark ("*+http://...") reduces here to a text that
        // AddPage reduces once more; the hit belongs to whichever record AddPage
        // found or made, never to a fresh look-up of the same text.
        bool added = false;
        record = FindOrAdd(page, added);
        if (record == nullptr) return;
    }
    if (record->hitIndex.Find(record->hits, hitUrl) >= 0) return;
    m_index->bytes += HitBytes(hitUrl);
    record->hits.emplace_back(hitUrl);
    record->hitIndex.Insert(record->hits, record->hits.size() - 1);
    m_index->crcCount.Remove(record->crc);
    record->crc = m_pageCrc;
    m_index->crcCount.Add(record->crc);
}

bool CPageList::IsKnownPage(std::string_view url, std::size_t hash) const {
    return m_index->byUrl.Find(url, hash) != nullptr;
}

bool CPageList::IsKnownPage(std::string_view url) const {
    return m_index->byUrl.Find(WithoutMark(url, "*+-")) != nullptr;
}

bool CPageList::IsScannedContent(std::uint64_t crc) const { return m_index->crcCount.Count(crc) != 0; }

int CPageList::IsNewContent() const { return IsScannedContent(m_pageCrc) ? 0 : 1; }

void CPageList::Free() {
    PageRecord* record = m_head;
    while (record != nullptr) {
        PageRecord* next = record->next;
        delete record;
        record = next;
    }
    m_head = nullptr;
    m_index->tail = nullptr;
    m_index->byUrl.Clear();
    m_index->crcCount.Clear();
    m_index->bytes = 0;
}

std::size_t CPageList::Bytes() const { return m_index->bytes; }
