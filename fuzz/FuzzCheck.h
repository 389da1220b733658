#pragma once
// A broken promise of the program ends the run with a message, so that
// libFuzzer keeps the input that led to it.
#include <cstdio>
#include <cstdlib>
#include <string_view>

// The detail defaults to "", not to an empty view: %.*s must not be handed a
// null pointer, not even for no characters.
inline void Require(bool ok, std::string_view promise, std::string_view detail = "") {
    if (ok) return;
    std::fprintf(stderr, "broken: %.*s\n  %.*s\n", static_cast<int>(promise.size()), promise.data(),
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}
