#include "crawl/CountingAllocator.h"

#include <cstdlib>
#include <cstring>

namespace {
// The size is kept in front of each block, in a header that keeps the block
// aligned for any type.
constexpr std::size_t kHeaderBytes = alignof(std::max_align_t);
}  // namespace

void* CCountingAllocator::Allocate(void* self, std::size_t size) {
    if (size > static_cast<std::size_t>(-1) - kHeaderBytes) return nullptr;
    auto* header = static_cast<unsigned char*>(std::malloc(kHeaderBytes + size));
    if (header == nullptr) return nullptr;
    std::memcpy(header, &size, sizeof size);
    static_cast<CCountingAllocator*>(self)->m_bytes += size;
    return header + kHeaderBytes;
}

void CCountingAllocator::Free(void* self, void* block) {
    if (block == nullptr) return;
    unsigned char* header = static_cast<unsigned char*>(block) - kHeaderBytes;
    std::size_t size = 0;
    std::memcpy(&size, header, sizeof size);
    static_cast<CCountingAllocator*>(self)->m_bytes -= size;
    std::free(header);
}
