#pragma once
// Replaces a file's content as one step: readers see either the old bytes or
// all of the new ones, never a file cut short by a full disk, a crash or an
// interrupted write.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "project/ByteSink.h"

// The new content of `path`, written as a stream into a temporary file beside
// it. Every write is checked; the first failure ends the write: Good() turns
// false and later pieces are dropped. Commit() syncs the file and renames it
// over `path`; anything else (a failure, a cancel, Abandon(), destruction
// without Commit) removes the temporary file and leaves `path` as it was.
// A symlink is written through to its target; an existing target keeps its
// permissions and, where allowed, its owner. An existing target that is not a
// regular file, or one that could not be overwritten in place, is refused.
class CAtomicFile : public IByteSink {
public:
    // Pieces are gathered up to this many bytes before they go to the file, so
    // that a writer may hand over a few bytes at a time.
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    // A file written faster than the disk takes it piles up in the page cache,
    // and the fsync before the rename would then wait for all of it, where no
    // signal can cut it short. Every this many bytes the new ones are sent to
    // the disk and the step before them is waited for, so that at most two
    // steps are ever outstanding and a cancel is seen within one step's write.
    static constexpr std::uint64_t kWritebackStepBytes = 4 * 1024 * 1024;

    // `cancel`, when given, is read before every write to the file and before
    // the commit; once it is true the write is abandoned.
    explicit CAtomicFile(const std::string& path, const std::atomic<bool>* cancel = nullptr);
    ~CAtomicFile() override;
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    void Write(std::string_view bytes) override;
    bool Good() const override { return m_fd >= 0; }
    // True when the write was abandoned because `cancel` asked for it.
    bool Cancelled() const { return m_cancelled; }
    // True when `path` now holds everything written; false when it was left as it was.
    bool Commit();
    void Abandon();

private:
    bool CancelRequested();
    bool Flush();
    void PaceWriteback();

    const std::atomic<bool>* m_cancel;
    std::string m_target;  // `path` with its links followed
    std::string m_tempPath;
    int m_fd = -1;
    bool m_cancelled = false;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_written = 0;        // bytes handed to the file
    std::uint64_t m_stepStart = 0;      // writeback not yet started from here on
    std::uint64_t m_prevStepStart = 0;  // the step being written back before that
};

// The whole of `bytes` as the new content of `path`, as above; false when it
// could not be written, the old file then left as it was.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);
