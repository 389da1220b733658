#pragma once
// Undoes a response's Content-Encoding in bounded steps. The fetcher feeds the
// raw body as it arrives and asks for decoded bytes only as far as its memory
// budget allows; what it does not ask for stays compressed inside (raw bytes are
// small beside what they decode to), so a paused transfer of a compression bomb
// holds kilobytes, not the gigabytes it unpacks into.
//
// Memory: the raw bytes not yet decoded, one fixed buffer per coding, and the
// libraries' state and windows (igzip 85 KiB, brotli up to 16 MiB, zstd up to 8 MiB).
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CDecodeStage;

class CContentDecoder {
public:
    // More codings than this on one body fail: no server stacks them so deep.
    static constexpr std::size_t kMaxCodings = 5;
    // Decoded bytes made in one library call: the bound of each coding's buffer,
    // and the largest piece Decode hands out.
    static constexpr std::size_t kStepBytes = std::size_t{64} * 1024;

    // The codings as the Content-Encoding header lists them, in the order they
    // were applied: comma-separated, any letter case, blanks around them;
    // "identity" and empty entries count for nothing. Known: gzip (x-gzip),
    // deflate, br, zstd. An unknown coding, or more than kMaxCodings, makes the
    // decoder Failed at once.
    explicit CContentDecoder(std::string_view contentEncoding);
    ~CContentDecoder();
    CContentDecoder(const CContentDecoder&) = delete;
    CContentDecoder& operator=(const CContentDecoder&) = delete;

    // Nothing to undo: the caller may pass the raw bytes on as they are. (Feed
    // and Decode still work, handing the bytes out unchanged.)
    bool Identity() const { return m_stages.empty() && !Failed(); }

    // Takes more raw body bytes (copied). Bytes after the end of the coded
    // stream, and any after a failure, are dropped.
    void Feed(std::string_view raw);

    // Hands at most `maxOutput` decoded bytes to `out`, in pieces of at most
    // kStepBytes, and returns how many. Fewer than maxOutput means everything fed
    // so far is decoded (more input is needed, or the stream has ended), or the
    // decoder failed. No byte is decoded beyond what is handed out.
    std::size_t Decode(std::size_t maxOutput, const std::function<void(std::string_view)>& out);

    // True while Decode may have bytes to hand out without further input.
    bool Pending() const;

    // The body has ended; call it once Decode has handed out everything
    // (Pending() false). False, and Failed, when the coded stream was cut off or
    // invalid, or when decoded bytes were still due. A body without a byte is
    // whole whatever its codings (a redirect or a 304 often says gzip).
    bool Finish();

    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }

    // Bytes this decoder holds: the raw bytes waiting, its buffers, and the
    // libraries' state.
    std::size_t MemoryUse() const;

private:
    // kStepBytes that are not cleared when they are made: a small page writes a
    // few of them, and clearing all would cost as much as decoding it.
    struct StepBuffer {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t size = 0;

        bool empty() const { return size == 0; }
        std::size_t capacity() const { return size; }
        unsigned char* data() { return bytes.get(); }
        const unsigned char* data() const { return bytes.get(); }
        void Make() {
            bytes = std::make_unique_for_overwrite<unsigned char[]>(kStepBytes);
            size = kStepBytes;
        }
        void Release() {
            bytes.reset();
            size = 0;
        }
    };

    struct Stage {
        std::string coding;                   // as the header names it, for error texts
        std::unique_ptr<CDecodeStage> codec;  // null once its stream is over
        bool ended = false;                   // its stream ended, or a later coding's did
        // Decoded bytes the next coding has not taken yet ([begin, end)).
        StepBuffer buffer;
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    // Runs stage `index` into [out, out + outLeft), pulling input from the raw
    // bytes or from the stage before as it needs, until the room is full or
    // nothing more can come.
    void Produce(std::size_t index, unsigned char*& out, std::size_t& outLeft);
    // Fills the empty buffer of stage `index`; false when nothing came.
    bool Refill(std::size_t index);
    // The stream of stage `index` has ended: everything before it is trailing.
    void EndStage(std::size_t index);
    // Ends decoding for good; nothing already decoded is handed out after it.
    void Fail(std::string error);
    void ReleaseBuffers();
    void DropRawBytes();

    std::vector<Stage> m_stages;  // in the order they are undone: the last applied first
    std::string m_raw;
    std::size_t m_rawPos = 0;
    bool m_fedAny = false;
    std::string m_error;
};
