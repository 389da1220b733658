#include "project/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Creates a new, empty file beside `target` whose name matches none of the
// program's patterns ("*.nsp", "*.htm"), so that a write cut short never shows
// up as a project or a results page. The kernel applies the umask to the 0666,
// as for any new file.
int CreateTempBeside(const std::filesystem::path& target, std::string& tempPath) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string leaf = ".nsp-save-";
        for (int i = 0; i < 12; ++i) leaf += kDigits[random() % (sizeof kDigits - 1)];
        tempPath = (target.parent_path() / leaf).string();
        int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    tempPath.clear();
    return -1;
}

void SyncDirectoryOf(const std::filesystem::path& file) {
    std::filesystem::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Where a write to `path` lands: links followed, as writing through them would,
// instead of replacing the link by a plain file. Empty when they cannot be.
std::filesystem::path FollowLinks(const std::string& path) {
    std::filesystem::path target = path;
    for (int depth = 0;; ++depth) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(target, ec)) return target;
        if (depth == 40) return {};
        std::filesystem::path link = std::filesystem::read_symlink(target, ec);
        if (ec) return {};
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
}

}  // namespace

CAtomicFile::CAtomicFile(const std::string& path, const std::atomic<bool>* cancel) : m_cancel(cancel) {
    const std::filesystem::path target = FollowLinks(path);
    if (target.empty()) return;
    m_target = target.string();

    struct stat old {};
    const bool hadOld = ::stat(m_target.c_str(), &old) == 0;
    if (hadOld) {
        // Only a file that could be overwritten in place may be replaced: a
        // read-only file stays read-only, a directory stays a directory.
        if (!S_ISREG(old.st_mode)) return;
        int probe = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (probe < 0) return;
        ::close(probe);
    }

    m_fd = CreateTempBeside(target, m_tempPath);
    if (m_fd < 0) return;
    if (hadOld) {
        // Keeps the owner when an administrator saves someone's file; not
        // being allowed to is no reason to fail.
        [[maybe_unused]] int owned = ::fchown(m_fd, old.st_uid, old.st_gid);
        if (::fchmod(m_fd, old.st_mode & 07777) != 0) {
            Abandon();
            return;
        }
    }
    m_buffer = std::make_unique<char[]>(kBufferBytes);
}

CAtomicFile::~CAtomicFile() { Abandon(); }

void CAtomicFile::Write(std::string_view bytes) {
    while (Good() && !bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), kBufferBytes - m_used);
        std::memcpy(m_buffer.get() + m_used, bytes.data(), n);
        m_used += n;
        bytes.remove_prefix(n);
        if (m_used == kBufferBytes) Flush();
    }
}

bool CAtomicFile::CancelRequested() {
    if (m_cancel == nullptr || !m_cancel->load(std::memory_order_relaxed)) return false;
    m_cancelled = true;
    return true;
}

bool CAtomicFile::Flush() {
    if (!Good()) return false;
    if (CancelRequested() || !WriteAll(m_fd, std::string_view(m_buffer.get(), m_used))) {
        Abandon();
        return false;
    }
    m_written += m_used;
    m_used = 0;
    PaceWriteback();
    return true;
}

void CAtomicFile::PaceWriteback() {
    if (m_written - m_stepStart < kWritebackStepBytes) return;
    // Only a pace: the fsync in Commit is what makes the bytes safe, so a file
    // system that cannot do this loses nothing but the pace.
    ::sync_file_range(m_fd, static_cast<off_t>(m_stepStart), static_cast<off_t>(m_written - m_stepStart),
                      SYNC_FILE_RANGE_WRITE);
    if (m_stepStart > m_prevStepStart) {
        ::sync_file_range(m_fd, static_cast<off_t>(m_prevStepStart), static_cast<off_t>(m_stepStart - m_prevStepStart),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    }
    m_prevStepStart = m_stepStart;
    m_stepStart = m_written;
}

bool CAtomicFile::Commit() {
    if (!Flush() || CancelRequested()) {
        Abandon();
        return false;
    }
    // The rename below must not publish a file whose bytes are still only in
    // the cache; file systems without fsync answer EINVAL.
    if (::fsync(m_fd) != 0 && errno != EINVAL) {
        Abandon();
        return false;
    }
    // The fsync is the last long wait: a cancel that came during it still counts.
    if (CancelRequested()) {
        Abandon();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 || ::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
        return false;
    }
    m_tempPath.clear();
    SyncDirectoryOf(m_target);
    return true;
}

void CAtomicFile::Abandon() {
    if (!m_tempPath.empty()) ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_buffer.reset();
    m_used = 0;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
    CAtomicFile file(path);
    file.Write(bytes);
    return file.Commit();
}
