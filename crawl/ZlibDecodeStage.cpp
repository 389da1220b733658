// gzip and deflate through zlib's inflate.
#include "crawl/CountingAllocator.h"
#include "crawl/DecodeStage.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace {

constexpr int kGzipWindowBits = 15 + 16;  // gzip wrapper only
constexpr int kZlibWindowBits = 15;
constexpr int kRawWindowBits = -15;

constexpr std::size_t kZlibHeaderBytes = 2;

// The zlib header as RFC 1950 draws it: deflate method, a window of at most
// 32 KiB, and a check that makes the two bytes a multiple of 31.
bool IsZlibHeader(const unsigned char* head) {
    return (head[0] & 0x0f) == Z_DEFLATED && (head[0] >> 4) <= 7 && ((head[0] << 8) | head[1]) % 31 == 0;
}

class CZlibStage : public CDecodeStage {
public:
    explicit CZlibStage(bool gzip) : m_sniffHeader(!gzip) {
        m_stream.zalloc = [](voidpf self, uInt items, uInt size) -> voidpf {
            return CCountingAllocator::Allocate(self, std::size_t{items} * size);
        };
        m_stream.zfree = [](voidpf self, voidpf block) { CCountingAllocator::Free(self, block); };
        m_stream.opaque = &m_allocator;
        if (gzip) Start(kGzipWindowBits);
    }
    ~CZlibStage() override {
        if (m_started) inflateEnd(&m_stream);
    }
    CZlibStage(const CZlibStage&) = delete;
    CZlibStage& operator=(const CZlibStage&) = delete;

    void Run(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) override {
        if (m_sniffHeader) {
            while (m_headBytes < kZlibHeaderBytes && inLeft > 0) {
                m_head[m_headBytes++] = *in++;
                --inLeft;
            }
            if (m_headBytes < kZlibHeaderBytes) return;
            m_sniffHeader = false;
            Start(IsZlibHeader(m_head) ? kZlibWindowBits : kRawWindowBits);
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
    void Start(int windowBits) {
        if (inflateInit2(&m_stream, windowBits) != Z_OK) {
            m_error = "cannot start zlib";
            return;
        }
        m_started = true;
    }

    void Inflate(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) {
        if (!m_started || m_ended) return;
        const uInt inGiven = static_cast<uInt>(std::min<std::size_t>(inLeft, UINT_MAX));
        const uInt outGiven = static_cast<uInt>(std::min<std::size_t>(outLeft, UINT_MAX));
        m_stream.next_in = const_cast<Bytef*>(in);  // zlib before 1.2.12 lacks const input
        m_stream.avail_in = inGiven;
        m_stream.next_out = out;
        m_stream.avail_out = outGiven;
        const int rc = inflate(&m_stream, Z_NO_FLUSH);
        in += inGiven - m_stream.avail_in;
        inLeft -= inGiven - m_stream.avail_in;
        out += outGiven - m_stream.avail_out;
        outLeft -= outGiven - m_stream.avail_out;
        switch (rc) {
            case Z_STREAM_END: m_ended = true; break;
            case Z_OK:
            case Z_BUF_ERROR:  // no room or no input: nothing lost
                break;
            case Z_NEED_DICT: m_error = "the stream needs a preset dictionary"; break;
            case Z_MEM_ERROR: m_error = "out of memory"; break;
            default:
                m_error = std::string("invalid data (") + (m_stream.msg ? m_stream.msg : "zlib error") + ")";
                break;
        }
        NoteRoom(outLeft);
    }

    CCountingAllocator m_allocator;
    z_stream m_stream{};
    bool m_started = false;
    // deflate only: the first two bytes tell a zlib stream from raw deflate.
    bool m_sniffHeader;
    unsigned char m_head[kZlibHeaderBytes] = {};
    std::size_t m_headBytes = 0;
    std::size_t m_headFed = 0;
};

}  // namespace

std::unique_ptr<CDecodeStage> MakeGzipStage() { return std::make_unique<CZlibStage>(true); }
std::unique_ptr<CDecodeStage> MakeDeflateStage() { return std::make_unique<CZlibStage>(false); }
