#include "project/ProjectFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "ui/MessageBox.h"
#include "project/AsciiText.h"
#include "project/AtomicFile.h"
#include "project/ProjectData.h"
#include "project/ReadableFile.h"
#include "project/UrlEntry.h"

namespace {

constexpr std::string_view kAllLinksMarker = "__ALLLINKS__";
constexpr std::string_view kUrlSectionMarker = "__URLSECTION__";
// Project files are exchanged with the Windows program, which writes text
// streams with CR LF.
constexpr std::string_view kLineEnd = "\r\n";

std::string ProjectFileName(const std::string& name) { return name + ".nsp"; }
std::string ResultsFileName(const std::string& name) { return name + ".htm"; }

// Far more than any list of start URLs and patterns; a larger file, or something
// that is no file at all (a FIFO, a device, a directory), is not read, so that it
// cannot fill the memory or keep the window waiting.
constexpr std::size_t kMaxProjectFileBytes = 64 * 1024 * 1024;

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    // O_NONBLOCK keeps a FIFO of that name from hanging the window.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uintmax_t>(st.st_size) > kMaxProjectFileBytes) {
        ::close(fd);
        return false;
    }
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        // The file may have grown since it was measured.
        if (bytes.size() > kMaxProjectFileBytes) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

// LF ends a line, and so does CR LF; a CR anywhere else is text. A last line
// without a line end still counts, so a file cut short after its final
// marker or entry loses nothing.
StringList SplitLines(std::string_view bytes) {
    StringList lines;
    while (!bytes.empty()) {
        std::size_t lf = bytes.find('\n');
        if (lf == std::string_view::npos) {
            lines.emplace_back(bytes);
            break;
        }
        std::string_view line = bytes.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        bytes.remove_prefix(lf + 1);
    }
    return lines;
}

std::string ProjectFileText(const ProjectData& project) {
    std::string text;
    auto addLine = [&text](std::string_view line) {
        text.append(line);
        text.append(kLineEnd);
    };
    if (project.m_allLinks == 1) {
        addLine(kAllLinksMarker);
    } else {
        for (const std::string& pattern : project.m_resourcePatterns) addLine(pattern);
    }
    addLine(kUrlSectionMarker);
    for (const std::string& entry : project.m_urlList) addLine(entry);
    return text;
}

// A move that never replaces an existing target: POSIX rename() would.
bool MoveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP) return false;

    // The file system cannot refuse a replacement on its own; a hard link can.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return true;
        ::unlink(to.c_str());
        return false;
    }
    if (errno == EEXIST || errno == ENOENT) return false;

    // Neither (e.g. FAT): look first. Not atomic, but the window is the only
    // writer of these names.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool ProjectFileExists(const std::string& name) {
    int fd = ::open(ProjectFileName(name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool CheckName(const std::string& name, IMessageBox& box, bool mayRecheck) {
    if (name.empty()) {
        box.Show("Please provide a name for this project!", "Important", MsgIcon::Information, MsgButtons::Ok);
        return false;
    }
    if (EqualsNoCase(name, "help")) {
        box.Show("\"help\" is not a correct project name!", "Important", MsgIcon::Information, MsgButtons::Ok);
        return false;
    }
    if (ProjectFileExists(name)) {
        MsgResult answer = box.Show("This project already exists!\nOverwrite project?", "Important", MsgIcon::Question,
                                    MsgButtons::YesNo);
        if (answer != MsgResult::Yes) return false;
        ::unlink(ProjectFileName(name).c_str());
        ::unlink(ResultsFileName(name).c_str());
        // Asks once more only if the project file survived the deletion; the
        // user has already said yes, so the answer does not change the result.
        if (mayRecheck) CheckName(name, box, false);
        return true;
    }
    return true;
}

}  // namespace

bool LoadProject(const std::string& name, ProjectData& project) {
    if (IsNewProjectName(name)) return true;

    std::string bytes;
    if (!ReadWholeFile(ProjectFileName(name), bytes)) return false;
    const StringList lines = SplitLines(bytes);
    if (lines.empty()) {
        project.m_allLinks = 0;
        return false;
    }

    std::size_t i = 0;
    if (lines[0] == kAllLinksMarker) {
        project.m_allLinks = 1;
        // Patterns are not used while every link is reported; anything stored
        // before the URL section is skipped.
        i = 1;
        while (i < lines.size() && lines[i] != kUrlSectionMarker) ++i;
    } else {
        project.m_allLinks = 0;
        // A file without its URL section keeps the patterns read so far: the
        // editor shows them and a later save writes them back.
        while (i < lines.size() && lines[i] != kUrlSectionMarker) project.m_resourcePatterns.push_back(lines[i++]);
    }
    if (i == lines.size()) return false;

    for (++i; i < lines.size(); ++i) project.m_urlList.push_back(lines[i]);
    return true;
}

bool SaveProject(const std::string& name, const ProjectData& project) {
    return WriteFileAtomically(ProjectFileName(name), ProjectFileText(project));
}

bool ResultsPageOpens(const std::string& name) { return ReadableFileError(ResultsFileName(name)) == 0; }

bool CheckProjectName(const std::string& name, IMessageBox& box) { return CheckName(name, box, true); }

void RenameProjectFiles(const std::string& oldName, const std::string& newName) {
    // Each move is tried on its own; a missing results page must not keep
    // the project file from moving, nor the other way round.
    MoveNoReplace(ProjectFileName(oldName), ProjectFileName(newName));
    MoveNoReplace(ResultsFileName(oldName), ResultsFileName(newName));
}
