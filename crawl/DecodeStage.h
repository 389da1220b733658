#pragma once
// One content coding undone by its compression library, a step at a time. A step
// writes no more than the room it is given, so a small body that unpacks into
// gigabytes costs no more than that room; the library's own state (its window)
// is all a stage keeps besides.
#include <cstddef>
#include <memory>
#include <string>

class CDecodeStage {
public:
    virtual ~CDecodeStage() = default;

    // Decodes from [in, in + inLeft) into [out, out + outLeft) and advances both
    // past what was taken and written. Input is taken only as far as the room
    // allows, and never past the end of the coded stream.
    virtual void Run(const unsigned char*& in, std::size_t& inLeft, unsigned char*& out, std::size_t& outLeft) = 0;

    // The coded stream has ended: whatever follows it is not part of it.
    bool Ended() const { return m_ended; }
    // What was taken so far makes a whole stream. Only zstd differs from Ended:
    // after a whole frame another one may follow.
    virtual bool Complete() const { return m_ended; }
    // Output may be due without further input: the last step filled its room.
    bool MayHoldOutput() const { return m_mayHoldOutput; }
    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // Bytes the library holds for this stream.
    virtual std::size_t MemoryUse() const = 0;

protected:
    // Called after each library call: the room was filled (or the library says
    // so) and the stream goes on.
    void NoteRoom(std::size_t outLeft, bool libraryHoldsOutput = false) {
        m_mayHoldOutput = !m_ended && m_error.empty() && (outLeft == 0 || libraryHoldsOutput);
    }

    bool m_ended = false;
    bool m_mayHoldOutput = false;
    std::string m_error;
};

// gzip: one gzip member; anything after it is ignored.
std::unique_ptr<CDecodeStage> MakeGzipStage();
// deflate: the zlib format, or raw deflate when the first two bytes are not a
// zlib header (some servers send it so, and browsers take it).
std::unique_ptr<CDecodeStage> MakeDeflateStage();
std::unique_ptr<CDecodeStage> MakeBrotliStage();
// zstd: its window is bounded (see ZstdDecodeStage.cpp); a frame needing a larger one fails.
std::unique_ptr<CDecodeStage> MakeZstdStage();
