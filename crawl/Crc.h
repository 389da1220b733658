#pragma once
// 32-bit CRC, most significant bit first, polynomial 0x04C11DB7, no reflection,
// no final XOR: the checksum that tells two page texts apart.
#include <cstddef>
#include <cstdint>

void BuildCrcTable();
std::uint32_t ComputeCrc(std::size_t length, std::uint32_t initial, const unsigned char* data);
