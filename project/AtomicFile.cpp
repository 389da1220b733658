#include "project/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
        if (errno != EEXIST) return -1;
    }
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

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
    std::filesystem::path target = path;
    // Write where a link points, as writing through it would, instead of
    // replacing the link by a plain file.
    for (int depth = 0;; ++depth) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(target, ec)) break;
        if (depth == 40) return false;
        std::filesystem::path link = std::filesystem::read_symlink(target, ec);
        if (ec) return false;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }

    struct stat old {};
    bool hadOld = ::stat(target.c_str(), &old) == 0;
    if (hadOld) {
        // Only a file that could be overwritten in place may be replaced: a
        // read-only file stays read-only, a directory stays a directory.
        if (!S_ISREG(old.st_mode)) return false;
        int probe = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (probe < 0) return false;
        ::close(probe);
    }

    std::string tempPath;
    int fd = CreateTempBeside(target, tempPath);
    if (fd < 0) return false;

    bool ok = true;
    if (hadOld) {
        // Keeps the owner when an administrator saves someone's file; not
        // being allowed to is no reason to fail.
        [[maybe_unused]] int owned = ::fchown(fd, old.st_uid, old.st_gid);
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, bytes);
    // The rename below must not publish a file whose bytes are still only in
    // the cache; file systems without fsync answer EINVAL.
    ok = ok && (::fsync(fd) == 0 || errno == EINVAL);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    SyncDirectoryOf(target);
    return true;
}
