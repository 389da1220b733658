#pragma once
// UTF-8 as RFC 3629 has it, for texts that may hold any bytes (URLs from pages).
#include <cstddef>
#include <string_view>

// Length of the valid UTF-8 sequence that starts `text` (no overlong forms, no
// surrogates, nothing above U+10FFFF); 0 when none does or `text` is empty.
std::size_t ValidUtf8SequenceAt(std::string_view text);
