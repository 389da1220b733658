#pragma once
// The checksum that tells two page texts apart. It only decides whether two
// texts are equal, so a fast 64-bit hash serves: XXH3 reads gigabytes a second,
// and 64 bits keep chance matches away even in crawls of millions of pages,
// where a 32-bit sum would call distinct pages the same past some 65,000.
#include <cstdint>
#include <string_view>

std::uint64_t PageChecksum(std::string_view text);
