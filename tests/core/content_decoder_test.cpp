#include "crawl/ContentDecoder.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

enum class ECoder { Gzip, Zlib, RawDeflate, Brotli, Zstd, ZstdTwoFrames };

std::string Deflated(std::string_view data, int windowBits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Brotli(std::string_view data) {
    std::size_t size = BrotliEncoderMaxCompressedSize(data.size());
    std::string out(size, '\0');
    EXPECT_TRUE(BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, data.size(),
                                      reinterpret_cast<const uint8_t*>(data.data()), &size,
                                      reinterpret_cast<uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

// windowLog 0 leaves the window to the level.
std::string Zstd(std::string_view data, int windowLog = 0) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const std::size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size));
    out.resize(size);
    return out;
}

std::string Encoded(std::string_view data, ECoder coder) {
    switch (coder) {
        case ECoder::Gzip: return Deflated(data, 15 + 16);
        case ECoder::Zlib: return Deflated(data, 15);
        case ECoder::RawDeflate: return Deflated(data, -15);
        case ECoder::Brotli: return Brotli(data);
        case ECoder::Zstd: return Zstd(data);
        case ECoder::ZstdTwoFrames: {
            const std::size_t half = data.size() / 2;
            return Zstd(data.substr(0, half)) + Zstd(data.substr(half));
        }
    }
    return {};
}

// The coders in the order they are applied, as the header lists them.
std::string Encoded(std::string data, const std::vector<ECoder>& coders) {
    for (ECoder coder : coders) data = Encoded(data, coder);
    return data;
}

// Text that compresses, but not into nothing, and spans several decode steps.
std::string SampleBody() {
    std::string body;
    unsigned state = 12345;
    while (body.size() < 300 * 1024) {
        state = state * 1103515245u + 12345u;
        body += "<a href=\"/page/" + std::to_string(state % 100000) + ".html\">link " + std::to_string(state >> 20) +
                "</a>\n";
    }
    return body;
}

struct Outcome {
    std::string body;
    bool finished = false;
    std::string error;
};

// Feeds `raw` in pieces of `feedBytes`, after each piece asking for decoded bytes
// `askBytes` at a time until a call gives fewer; checks that no call gives more.
Outcome DecodeInPieces(std::string_view header, std::string_view raw, std::size_t feedBytes, std::size_t askBytes) {
    CContentDecoder decoder(header);
    Outcome outcome;
    const auto drain = [&] {
        for (;;) {
            std::size_t handed = 0;
            const std::size_t got = decoder.Decode(askBytes, [&](std::string_view piece) {
                handed += piece.size();
                outcome.body.append(piece);
            });
            EXPECT_EQ(got, handed);
            EXPECT_LE(got, askBytes);
            if (got < askBytes) break;
        }
        EXPECT_FALSE(decoder.Pending());
    };
    for (std::size_t at = 0; at < raw.size(); at += feedBytes) {
        decoder.Feed(raw.substr(at, feedBytes));
        drain();
    }
    outcome.finished = decoder.Finish();
    outcome.error = decoder.Error();
    EXPECT_EQ(outcome.finished, !decoder.Failed());
    return outcome;
}

struct CodingCase {
    const char* name;
    const char* header;
    std::vector<ECoder> coders;
    std::size_t windowBytes = 0;  // bombs: the library state the coding may keep
};

void PrintTo(const CodingCase& c, std::ostream* os) { *os << c.header; }

class RoundTrip : public ::testing::TestWithParam<CodingCase> {};

TEST_P(RoundTrip, OddPiecesGiveTheBodyBackAndTrailingBytesAreIgnored) {
    static const std::string body = SampleBody();
    const std::string encoded = Encoded(body, GetParam().coders);
    const struct { std::size_t feed, ask; } sizes[] = {{1, 999}, {4096, 65536}, {100000, 70001}};
    for (const auto& size : sizes) {
        for (const std::string& trailing : {std::string(), std::string("trailing junk\n")}) {
            SCOPED_TRACE("feed " + std::to_string(size.feed) + ", ask " + std::to_string(size.ask) +
                         (trailing.empty() ? "" : ", trailing bytes"));
            const Outcome outcome = DecodeInPieces(GetParam().header, encoded + trailing, size.feed, size.ask);
            EXPECT_TRUE(outcome.finished) << outcome.error;
            EXPECT_TRUE(outcome.body == body);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ContentDecoder, RoundTrip,
    ::testing::Values(CodingCase{"Gzip", "gzip", {ECoder::Gzip}},
                      CodingCase{"XGzipAnyCaseWithBlanks", " X-GZip\t", {ECoder::Gzip}},
                      CodingCase{"DeflateZlib", "deflate", {ECoder::Zlib}},
                      CodingCase{"DeflateRaw", "Deflate", {ECoder::RawDeflate}},
                      CodingCase{"Brotli", "br", {ECoder::Brotli}}, CodingCase{"Zstd", "zstd", {ECoder::Zstd}},
                      CodingCase{"ZstdTwoFrames", "zstd", {ECoder::ZstdTwoFrames}},
                      CodingCase{"GzipThenBrotli", "gzip, br", {ECoder::Gzip, ECoder::Brotli}},
                      // Five codings, the most taken; identity and empty entries count for nothing.
                      CodingCase{"FiveStacked",
                                 "deflate, identity,, ZSTD ,gzip, br, gzip",
                                 {ECoder::RawDeflate, ECoder::Zstd, ECoder::Gzip, ECoder::Brotli, ECoder::Gzip}}),
    [](const auto& info) { return info.param.name; });

TEST(ContentDecoder, CutOffStreamDoesNotFinish) {
    const std::string body = SampleBody();
    for (const CodingCase& c : {CodingCase{"", "gzip", {ECoder::Gzip}}, CodingCase{"", "deflate", {ECoder::Zlib}},
                                CodingCase{"", "br", {ECoder::Brotli}}, CodingCase{"", "zstd", {ECoder::ZstdTwoFrames}},
                                CodingCase{"", "gzip, br", {ECoder::Gzip, ECoder::Brotli}}}) {
        const std::string encoded = Encoded(body, c.coders);
        // Stacked, the last byte may only close the outer stream after the inner
        // one has ended, and then the body is whole: cut those in the middle only.
        std::vector<std::size_t> cuts{encoded.size() / 2};
        if (c.coders.size() == 1) cuts.push_back(encoded.size() - 1);
        for (std::size_t kept : cuts) {
            SCOPED_TRACE(std::string(c.header) + " cut to " + std::to_string(kept));
            const Outcome outcome = DecodeInPieces(c.header, std::string_view(encoded).substr(0, kept), 1000, 65536);
            EXPECT_FALSE(outcome.finished);
            EXPECT_NE(outcome.error.find("ends inside the compressed stream"), std::string::npos) << outcome.error;
        }
    }
}

TEST(ContentDecoder, BadCodingsAndBadStreamsFail) {
    const struct {
        const char* header;
        std::string raw;
        const char* error;
    } cases[] = {
        {"compress", "", "unknown content coding \"compress\""},
        {"gzip, gzip, gzip, gzip, gzip, gzip", "", "more than 5 content codings"},
        {"gzip", "this is no gzip member", "gzip: invalid data"},
        {"zstd", "this is no zstd frame", "zstd: invalid data"},
        // 9 MiB in one frame that says so: its window is all of it.
        {"zstd", Zstd(std::string(9 * 1024 * 1024, '\0'), 24), "zstd: a frame needs a window larger than 8 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        // Without a byte the body would be whole: a bad header fails at once.
        const Outcome outcome = DecodeInPieces(c.header, c.raw, 5000, 65536);
        EXPECT_FALSE(outcome.finished);
        EXPECT_TRUE(outcome.body.empty());
        EXPECT_EQ(outcome.error.rfind(c.error, 0), 0u) << outcome.error;
    }
}

// The check at a stream's end is what tells a damaged body from a whole one.
TEST(ContentDecoder, WrongChecksumFails) {
    const std::string body(100000, 'x');
    for (const auto& [header, coder, from_end] :
         {std::tuple{"gzip", ECoder::Gzip, 8}, std::tuple{"deflate", ECoder::Zlib, 1}}) {
        SCOPED_TRACE(header);
        std::string encoded = Encoded(body, coder);
        encoded[encoded.size() - from_end] ^= 1;
        const Outcome outcome = DecodeInPieces(header, encoded, 1000, 65536);
        EXPECT_FALSE(outcome.finished);
        EXPECT_EQ(outcome.error.rfind(std::string(header) + ": invalid data", 0), 0u) << outcome.error;
    }
}

TEST(ContentDecoder, IdentityHandsTheBytesOutUnchangedInBoundedPieces) {
    for (const char* header : {"", "identity", " Identity , ,"}) {
        SCOPED_TRACE(header);
        CContentDecoder decoder(header);
        EXPECT_TRUE(decoder.Identity());
        decoder.Feed("abcdef");
        std::string out;
        const auto append = [&](std::string_view piece) { out.append(piece); };
        EXPECT_EQ(decoder.Decode(4, append), 4u);
        EXPECT_TRUE(decoder.Pending());
        EXPECT_EQ(decoder.Decode(4, append), 2u);
        EXPECT_FALSE(decoder.Pending());
        EXPECT_EQ(out, "abcdef");
        EXPECT_TRUE(decoder.Finish());
    }
    CContentDecoder coded("gzip, br");
    EXPECT_FALSE(coded.Identity());
    // A redirect or a 304 may name a coding and send nothing.
    EXPECT_TRUE(coded.Finish());
}

// A tiny body that unpacks into 65 MiB of zeros, 64 MiB asked for 64 KiB at a time:
// no call gives more, and the decoder's memory does not grow with the output.
class Bomb : public ::testing::TestWithParam<CodingCase> {};

TEST_P(Bomb, DecodesOnlyWhatIsAskedWithoutGrowing) {
    constexpr std::size_t kTaken = std::size_t{64} * 1024 * 1024;
    constexpr std::size_t kAsk = CContentDecoder::kStepBytes;
    static const std::string zeros(kTaken + 1024 * 1024, '\0');
    const std::string raw = Encoded(zeros, GetParam().coders);
    ASSERT_LT(raw.size(), 256u * 1024);

    CContentDecoder decoder(GetParam().header);
    decoder.Feed(raw);
    const std::size_t bound = raw.size() + GetParam().windowBytes + 1024 * 1024;
    std::size_t produced = 0;
    std::size_t memoryAfterFirstQuarter = 0;
    while (produced < kTaken) {
        const std::size_t got = decoder.Decode(kAsk, [](std::string_view) {});
        ASSERT_EQ(got, kAsk);
        produced += got;
        ASSERT_LE(decoder.MemoryUse(), bound) << "after " << produced << " bytes";
        if (produced == kTaken / 4) memoryAfterFirstQuarter = decoder.MemoryUse();
    }
    EXPECT_LE(decoder.MemoryUse(), memoryAfterFirstQuarter);
    // Held back, not lost: the rest of the stream is still due.
    EXPECT_TRUE(decoder.Pending());
    EXPECT_FALSE(decoder.Finish());
    EXPECT_EQ(decoder.Error(), "the body ended while decoded bytes were still due");
}

INSTANTIATE_TEST_SUITE_P(
    ContentDecoder, Bomb,
    ::testing::Values(CodingCase{"Gzip", "gzip", {ECoder::Gzip}, 64 * 1024},
                      CodingCase{"Deflate", "deflate", {ECoder::Zlib}, 64 * 1024},
                      CodingCase{"Brotli", "br", {ECoder::Brotli}, std::size_t{1} << BROTLI_DEFAULT_WINDOW},
                      CodingCase{"Zstd", "zstd", {ECoder::Zstd}, 8 * 1024 * 1024},
                      CodingCase{"GzipThenBrotli",
                                 "gzip, br",
                                 {ECoder::Gzip, ECoder::Brotli},
                                 (std::size_t{1} << BROTLI_DEFAULT_WINDOW) + 64 * 1024}),
    [](const auto& info) { return info.param.name; });

}  // namespace
