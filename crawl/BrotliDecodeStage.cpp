// br through libbrotlidec. Its ring buffer (the window, up to 16 MiB) is the
// decoder's own state; decoded bytes beyond the room wait in it until asked for.
#include "crawl/CountingAllocator.h"
#include "crawl/DecodeStage.h"

#include <brotli/decode.h>

namespace {

class CBrotliStage : public CDecodeStage {
public:
    CBrotliStage()
        : m_state(BrotliDecoderCreateInstance(&CCountingAllocator::Allocate, &CCountingAllocator::Free, &m_allocator)) {
        if (m_state == nullptr) m_error = "cannot start the brotli decoder";
    }
    ~CBrotliStage() override {
        if (m_state != nullptr) BrotliDecoderDestroyInstance(m_state);
    }
    CBrotliStage(const CBrotliStage&) = delete;
    CBrotliStage& operator=(const CBrotliStage&) = delete;

    void Run(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) override {
        if (m_state == nullptr || m_ended || Failed()) return;
        const BrotliDecoderResult result =
            BrotliDecoderDecompressStream(m_state, &inLeft, &in, &outLeft, &out, nullptr);
        if (result == BROTLI_DECODER_RESULT_SUCCESS) {
            m_ended = true;
        } else if (result == BROTLI_DECODER_RESULT_ERROR) {
            m_error =
                std::string("invalid data (") + BrotliDecoderErrorString(BrotliDecoderGetErrorCode(m_state)) + ")";
        }
        NoteRoom(outLeft, BrotliDecoderHasMoreOutput(m_state) == BROTLI_TRUE);
    }

    std::size_t MemoryUse() const override { return m_allocator.Bytes(); }

private:
    CCountingAllocator m_allocator;
    BrotliDecoderState* m_state;
};

}  // namespace

std::unique_ptr<CDecodeStage> MakeBrotliStage() { return std::make_unique<CBrotliStage>(); }
