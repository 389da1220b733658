#include "ui/ProgramName.h"

#include <filesystem>
#include <string_view>
#include <system_error>

std::string ProgramFileName() {
    std::error_code ec;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    // A program file replaced while it runs (an update, a rebuild) still names itself.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? "netzspurer" : name;
}
