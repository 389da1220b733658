// A project file of any bytes: what loads must save and load back as the same
// patterns, entries and all-links flag.
//
// Every line of a file that loads comes back: lines are cut only at LF, a CR
// before the LF is the only byte dropped and every saved line gets one, so a
// line ending in CR, a NUL, an empty line or an entry that reads like a marker
// survives. What cannot come back by design is a file that does not load at
// all (empty, or without its URL section); such inputs are skipped, and only
// those.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "project/ProjectData.h"
#include "project/ProjectFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kName = "fuzz";

fs::path g_dir;

void RemoveDirectory() {
    std::error_code ec;
    fs::remove_all(g_dir, ec);
}

// Every save ends in an fsync: a directory in memory keeps thousands of runs
// a second possible.
void EnterFreshDirectory() {
    std::error_code ec;
    fs::path parent = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (parent / "netzspurer-fuzz-XXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr, "a temporary directory can be made", pattern);
    g_dir = pattern;
    Require(::chdir(g_dir.c_str()) == 0, "the temporary directory can be entered", pattern);
    std::atexit(RemoveDirectory);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EnterFreshDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(std::string(kName) + ".nsp", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        Require(static_cast<bool>(out), "the input can be written");
    }
    ProjectData loaded;
    if (!LoadProject(kName, loaded)) return 0;

    Require(SaveProject(kName, loaded), "a loaded project saves");
    ProjectData again;
    again.m_allLinks = loaded.m_allLinks == 1 ? 0 : 1;  // the flag must come from the file, not stay over
    Require(LoadProject(kName, again), "a saved project loads");
    Require(again.m_allLinks == loaded.m_allLinks, "the all-links flag comes back");
    Require(again.m_resourcePatterns == loaded.m_resourcePatterns, "the patterns come back");
    Require(again.m_urlList == loaded.m_urlList, "the entries come back");
    return 0;
}
