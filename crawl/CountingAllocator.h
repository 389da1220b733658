#pragma once
// Counts what a compression library allocates for one stream, so that a decoder
// can say how much memory a transfer costs (a brotli window alone may take
// 16 MiB). zlib and libbrotlidec take such hooks with an opaque pointer; their
// free functions are not told the size, so each block carries it in front.
#include <cstddef>

class CCountingAllocator {
public:
    std::size_t Bytes() const { return m_bytes; }

    // The hooks, with this object as their opaque pointer. Allocate returns null
    // when the block cannot be had, as the libraries expect.
    static void* Allocate(void* self, std::size_t size);
    static void Free(void* self, void* block);

private:
    std::size_t m_bytes = 0;
};
