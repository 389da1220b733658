// A page body fed to the line reader in pieces of any size, with lines taken
// between the pieces as the worker takes them: the lines must be those of the
// body fed whole, none longer than the limit, and without a zero byte they
// must hold every byte of the body but CR and LF, in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crawl/LineSplitter.h"
#include "fuzz/FuzzCheck.h"

namespace {

using Lines = std::vector<std::string>;

void TakeReadyLines(CLineSplitter& splitter, Lines& lines) {
    std::string line;
    while (splitter.Next(line)) lines.push_back(line);
}

Lines LinesOfWholeBody(std::string_view body) {
    CLineSplitter splitter;
    splitter.Feed(body);
    splitter.Finish();
    Lines lines;
    TakeReadyLines(splitter, lines);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::size_t> pieceSizes(in.ConsumeIntegralInRange<std::size_t>(1, 8));
    for (std::size_t& n : pieceSizes) n = in.ConsumeIntegralInRange<std::size_t>(0, 300);
    const bool takeBetweenPieces = in.ConsumeBool();
    const std::string body = in.ConsumeRemainingBytesAsString();

    CLineSplitter splitter;
    Lines lines;
    std::string_view rest = body;
    // An empty piece is fed too, but every round of sizes moves on by at least one byte.
    for (std::size_t round = 0; !rest.empty(); ++round) {
        std::size_t n = pieceSizes[round % pieceSizes.size()];
        if (n == 0 && round % pieceSizes.size() == pieceSizes.size() - 1) n = 1;
        const std::string_view piece = rest.substr(0, n);
        rest.remove_prefix(piece.size());
        splitter.Feed(piece);
        if (takeBetweenPieces) TakeReadyLines(splitter, lines);
    }
    splitter.Finish();
    TakeReadyLines(splitter, lines);
    Require(splitter.Exhausted(), "a finished reader hands out every byte");

    Require(lines == LinesOfWholeBody(body), "the lines do not depend on the pieces");
    std::string joined;
    for (const std::string& line : lines) {
        Require(line.size() <= CLineSplitter::kMaxLineBytes, "a line holds at most 127 bytes", line);
        joined += line;
    }

    // The page's text built straight from the same pieces is those lines joined.
    CLineSplitter joiner;
    std::string text;
    std::size_t added = 0;
    rest = body;
    for (std::size_t round = 0; !rest.empty(); ++round) {
        const std::string_view piece = rest.substr(0, std::max<std::size_t>(1, pieceSizes[round % pieceSizes.size()]));
        rest.remove_prefix(piece.size());
        added += joiner.Join(piece, text);
    }
    added += joiner.JoinRest(text);
    Require(text == joined, "the joined text is the lines joined", text);
    Require(added == text.size(), "Join counts what it adds");
    if (body.find('\0') != std::string::npos) return 0;
    std::string expected;
    for (char c : body)
        if (c != '\r' && c != '\n') expected += c;
    Require(joined == expected, "without a zero byte, the lines keep all but CR and LF");
    return 0;
}
