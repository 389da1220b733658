#include "crawl/Checksum.h"

#include <xxhash.h>

std::uint64_t PageChecksum(std::string_view text) { return XXH3_64bits(text.data(), text.size()); }
