#include "crawl/Crc.h"

#include <array>

namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7u;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t v = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 0x80000000u) ? (v << 1) ^ kPolynomial : (v << 1);
        table[i] = v;
    }
    return table;
}

// Built by the compiler, so a checksum never depends on someone having called
// BuildCrcTable first, and the worker never writes memory another thread may read.
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

void BuildCrcTable() {
    // The table is filled at compile time; a caller that asks for it first loses nothing.
}

std::uint32_t ComputeCrc(std::size_t length, std::uint32_t initial, const unsigned char* data) {
    std::uint32_t crc = initial;
    for (std::size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFFu];
    return crc;
}
