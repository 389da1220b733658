// zstd through libzstd's streaming decoder.
#include "crawl/DecodeStage.h"

#include <zstd.h>
#include <zstd_errors.h>

namespace {

// The window a frame may ask for: 8 MiB, as HTTP's zstd coding recommends, so
// that a page cannot make us allocate a huge window.
constexpr int kWindowLogMax = 23;

class CZstdStage : public CDecodeStage {
public:
    CZstdStage() : m_context(ZSTD_createDCtx()) {
        if (m_context == nullptr || ZSTD_isError(ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, kWindowLogMax)))
            m_error = "cannot start the zstd decoder";
    }
    ~CZstdStage() override { ZSTD_freeDCtx(m_context); }
    CZstdStage(const CZstdStage&) = delete;
    CZstdStage& operator=(const CZstdStage&) = delete;

    void Run(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) override {
        if (m_ended || Failed()) return;
        // At a frame's end with nothing new: nothing is due.
        if (inLeft == 0 && m_betweenFrames) {
            m_mayHoldOutput = false;
            return;
        }
        ZSTD_inBuffer input{in, inLeft, 0};
        ZSTD_outBuffer output{out, outLeft, 0};
        const std::size_t rc = ZSTD_decompressStream(m_context, &output, &input);
        in += input.pos;
        inLeft -= input.pos;
        out += output.pos;
        outLeft -= output.pos;
        if (ZSTD_isError(rc)) {
            Fail(rc);
        } else {
            // 0: a frame has ended and all of it is handed out; another may follow.
            m_betweenFrames = rc == 0;
            if (m_betweenFrames) m_wholeFrames = true;
        }
        NoteRoom(outLeft);
        if (m_betweenFrames) m_mayHoldOutput = false;
    }

    bool Complete() const override { return m_ended || (m_wholeFrames && m_betweenFrames); }
    std::size_t MemoryUse() const override { return ZSTD_sizeof_DCtx(m_context); }

private:
    void Fail(std::size_t rc) {
        switch (ZSTD_getErrorCode(rc)) {
            case ZSTD_error_prefix_unknown:
                // Bytes after a whole frame that begin no frame: they are not part of
                // the stream, and are ignored like the bytes after a gzip member.
                if (m_wholeFrames && m_betweenFrames) {
                    m_ended = true;
                    return;
                }
                break;
            case ZSTD_error_frameParameter_windowTooLarge:
                m_error = "a frame needs a window larger than " + std::to_string((1u << kWindowLogMax) >> 20) + " MiB";
                return;
            case ZSTD_error_memory_allocation: m_error = "out of memory"; return;
            default: break;
        }
        m_error = std::string("invalid data (") + ZSTD_getErrorName(rc) + ")";
    }

    ZSTD_DCtx* m_context;
    bool m_wholeFrames = false;
    bool m_betweenFrames = false;
};

}  // namespace

std::unique_ptr<CDecodeStage> MakeZstdStage() { return std::make_unique<CZstdStage>(); }
