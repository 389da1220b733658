// gzip and deflate through ISA-L's igzip, which inflates web pages two to three
// times as fast as zlib (its Huffman decoding and CRC use the vector units).
#include "crawl/CountingAllocator.h"
#include "crawl/DecodeStage.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

constexpr std::size_t kZlibHeaderBytes = 2;
constexpr unsigned kDeflateMethod = 8;

// The zlib header as RFC 1950 draws it: deflate method, a window of at most
// 32 KiB, and a check that makes the two bytes a multiple of 31.
bool IsZlibHeader(const unsigned char* head) {
    return (head[0] & 0x0fu) == kDeflateMethod && (head[0] >> 4) <= 7 && ((head[0] << 8) | head[1]) % 31 == 0;
}

class CIgzipStage : public CDecodeStage {
public:
    explicit CIgzipStage(bool gzip) : m_sniffHeader(!gzip) {
        if (gzip) Start(ISAL_GZIP);
    }
    ~CIgzipStage() override {
        if (m_state != nullptr) CCountingAllocator::Free(&m_allocator, m_state);
    }
    CIgzipStage(const CIgzipStage&) = delete;
    CIgzipStage& operator=(const CIgzipStage&) = delete;

    void Run(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) override {
        if (m_sniffHeader) {
            while (m_headBytes < kZlibHeaderBytes && inLeft > 0) {
                m_head[m_headBytes++] = *in++;
                --inLeft;
            }
            if (m_headBytes < kZlibHeaderBytes) return;
            m_sniffHeader = false;
            Start(IsZlibHeader(m_head) ? ISAL_ZLIB : ISAL_DEFLATE);
        }
        // The bytes taken to tell the formats apart go in first.
        if (m_headFed < m_headBytes) {
            const unsigned char* head = m_head + m_headFed;
            std::size_t headLeft = m_headBytes - m_headFed;
            Inflate(head, headLeft, out, outLeft);
            m_headFed = m_headBytes - headLeft;
            if (m_headFed < m_headBytes) {
                m_mayHoldOutput = !m_ended && !Failed();
                return;
            }
        }
        Inflate(in, inLeft, out, outLeft);
    }

    std::size_t MemoryUse() const override { return m_allocator.Bytes(); }

private:
    void Start(std::uint32_t wrapper) {
        void* block = CCountingAllocator::Allocate(&m_allocator, sizeof(inflate_state));
        if (block == nullptr) {
            m_error = "out of memory";
            return;
        }
        m_state = new (block) inflate_state;
        isal_inflate_init(m_state);
        m_state->crc_flag = wrapper;
    }

    void Inflate(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) {
        if (m_state == nullptr || m_ended) return;
        const std::uint32_t inGiven = static_cast<std::uint32_t>(std::min<std::size_t>(inLeft, UINT32_MAX));
        const std::uint32_t outGiven = static_cast<std::uint32_t>(std::min<std::size_t>(outLeft, UINT32_MAX));
        m_state->next_in = const_cast<std::uint8_t*>(in);  // igzip reads only, but takes no const
        m_state->avail_in = inGiven;
        m_state->next_out = out;
        m_state->avail_out = outGiven;
        const int rc = isal_inflate(m_state);
        in += inGiven - m_state->avail_in;
        inLeft -= inGiven - m_state->avail_in;
        out += outGiven - m_state->avail_out;
        outLeft -= outGiven - m_state->avail_out;
        switch (rc) {
            case ISAL_DECOMP_OK:
            case ISAL_END_INPUT:
            case ISAL_OUT_OVERFLOW: m_ended = m_state->block_state == ISAL_BLOCK_FINISH; break;
            case ISAL_NEED_DICT: m_error = "the stream needs a preset dictionary"; break;
            case ISAL_INCORRECT_CHECKSUM: m_error = "invalid data (incorrect data check)"; break;
            case ISAL_INVALID_WRAPPER:
            case ISAL_UNSUPPORTED_METHOD: m_error = "invalid data (incorrect header)"; break;
            default: m_error = "invalid data (invalid deflate stream)"; break;
        }
        NoteRoom(outLeft);
    }

    CCountingAllocator m_allocator;
    inflate_state* m_state = nullptr;
    // deflate only: the first two bytes tell a zlib stream from raw deflate.
    bool m_sniffHeader;
    unsigned char m_head[kZlibHeaderBytes] = {};
    std::size_t m_headBytes = 0;
    std::size_t m_headFed = 0;
};

}  // namespace

std::unique_ptr<CDecodeStage> MakeGzipStage() { return std::make_unique<CIgzipStage>(true); }
std::unique_ptr<CDecodeStage> MakeDeflateStage() { return std::make_unique<CIgzipStage>(false); }
