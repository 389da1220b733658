#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "project/AtomicFile.h"
#include "project/ProjectData.h"
#include "project/ProjectFile.h"
#include "support/FileSizeLimit.h"
#include "support/ScriptedMessageBox.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class ProjectFileTest : public ::testing::Test {
protected:
    // A project with nothing in its lists and the all-links flag as given.
    static ProjectData Fresh(int allLinks) {
        ProjectData project;
        project.m_allLinks = allLinks;
        return project;
    }

    // Every file in the current directory, so that a test sees leftovers.
    static std::vector<std::string> DirectoryListing() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(".")) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir m_dir;
};

TEST_F(ProjectFileTest, RoundTripIsByteForByteWithCrLf) {
    ProjectData saved;
    saved.m_resourcePatterns = {".ZIP", ".exe", ""};
    saved.m_urlList = {"http://a.example/", "+http://a.example/docs/", "*http://b.example/", "!banner", "",
                       "http://a.example/"};
    ASSERT_TRUE(SaveProject("site", saved));
    const std::string expected =
        ".ZIP\r\n.exe\r\n\r\n__URLSECTION__\r\nhttp://a.example/\r\n+http://a.example/docs/\r\n"
        "*http://b.example/\r\n!banner\r\n\r\nhttp://a.example/\r\n";
    EXPECT_EQ(ReadFileBytes("site.nsp"), expected);

    ProjectData loaded = Fresh(1);
    ASSERT_TRUE(LoadProject("site", loaded));
    EXPECT_EQ(loaded.m_allLinks, 0);
    EXPECT_EQ(loaded.m_resourcePatterns, saved.m_resourcePatterns);
    EXPECT_EQ(loaded.m_urlList, saved.m_urlList);

    ASSERT_TRUE(SaveProject("site", loaded));
    EXPECT_EQ(ReadFileBytes("site.nsp"), expected);
}

TEST_F(ProjectFileTest, AllLinksWritesNoPatternsAndReloadsWithoutThem) {
    ProjectData saved = Fresh(1);
    saved.m_resourcePatterns = {".ZIP", ".JPG"};
    saved.m_urlList = {"http://a.example/"};
    ASSERT_TRUE(SaveProject("all", saved));
    EXPECT_EQ(ReadFileBytes("all.nsp"), "__ALLLINKS__\r\n__URLSECTION__\r\nhttp://a.example/\r\n");

    ProjectData loaded = Fresh(0);
    ASSERT_TRUE(LoadProject("all", loaded));
    EXPECT_EQ(loaded.m_allLinks, 1);
    EXPECT_TRUE(loaded.m_resourcePatterns.empty());
    EXPECT_EQ(loaded.m_urlList, StringList({"http://a.example/"}));
}

TEST_F(ProjectFileTest, EmptyProjectIsTheSectionMarkerAlone) {
    ASSERT_TRUE(SaveProject("empty", ProjectData()));
    EXPECT_EQ(ReadFileBytes("empty.nsp"), "__URLSECTION__\r\n");
    ProjectData loaded = Fresh(1);
    ASSERT_TRUE(LoadProject("empty", loaded));
    EXPECT_EQ(loaded.m_allLinks, 0);
    EXPECT_TRUE(loaded.m_resourcePatterns.empty());
    EXPECT_TRUE(loaded.m_urlList.empty());
}

TEST_F(ProjectFileTest, LoadReadsLinesAndMarkers) {
    struct Case {
        const char* what;
        std::string bytes;
        bool loaded;
        int allLinks;
        StringList patterns;
        StringList urls;
    };
    const Case cases[] = {
        {"bare LF", ".ZIP\n__URLSECTION__\nhttp://a/\n", true, 0, {".ZIP"}, {"http://a/"}},
        {"mixed line ends",
         ".ZIP\r\n.EXE\n__URLSECTION__\r\nhttp://a/\nhttp://b/\r\n",
         true,
         0,
         {".ZIP", ".EXE"},
         {"http://a/", "http://b/"}},
        {"section first", "__URLSECTION__\r\nhttp://a/\r\n", true, 0, {}, {"http://a/"}},
        {"lines after all-links skipped",
         "__ALLLINKS__\r\n.ZIP\r\n__ALLLINKS__\r\n\r\n__URLSECTION__\r\n*http://a/\r\n",
         true,
         1,
         {},
         {"*http://a/"}},
        {"all-links below the first line is a pattern",
         ".ZIP\r\n__ALLLINKS__\r\n__URLSECTION__\r\n",
         true,
         0,
         {".ZIP", "__ALLLINKS__"},
         {}},
        {"all-links marker with a blank is a pattern",
         "__ALLLINKS__ \r\n__URLSECTION__\r\n",
         true,
         0,
         {"__ALLLINKS__ "},
         {}},
        {"markers after the section are entries",
         "__URLSECTION__\r\n__URLSECTION__\r\n__ALLLINKS__\r\n",
         true,
         0,
         {},
         {"__URLSECTION__", "__ALLLINKS__"}},
        {"blank line and duplicates kept",
         "__URLSECTION__\r\nhttp://a/\r\n\r\nhttp://a/\r\n",
         true,
         0,
         {},
         {"http://a/", "", "http://a/"}},
        {"blanks inside lines kept",
         " .ZIP \r\n__URLSECTION__\r\n http://a/ \r\n",
         true,
         0,
         {" .ZIP "},
         {" http://a/ "}},
        {"one CR stripped, others kept", "a\r\r\nb\rc\r\n__URLSECTION__\r\n", true, 0, {"a\r", "b\rc"}, {}},
        {"last line without line end", ".ZIP\r\n__URLSECTION__\r\nhttp://a/", true, 0, {".ZIP"}, {"http://a/"}},
        {"section marker without line end at the end", ".ZIP\r\n__URLSECTION__", true, 0, {".ZIP"}, {}},
        {"lower-case section marker",
         ".ZIP\r\n__urlsection__\r\nhttp://a/\r\n",
         false,
         0,
         {".ZIP", "__urlsection__", "http://a/"},
         {}},
        {"section marker with a trailing blank",
         ".ZIP\r\n__URLSECTION__ \r\n",
         false,
         0,
         {".ZIP", "__URLSECTION__ "},
         {}},
        {"section marker with a leading blank",
         " __URLSECTION__\r\nhttp://a/\r\n",
         false,
         0,
         {" __URLSECTION__", "http://a/"},
         {}},
        {"all-links without section", "__ALLLINKS__\r\n.ZIP\r\n", false, 1, {}, {}},
        {"a single empty line", "\r\n", false, 0, {""}, {}},
        {"empty file", "", false, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes("p.nsp", c.bytes);
        // Starting from the other flag shows that every outcome sets it.
        ProjectData project = Fresh(c.allLinks == 1 ? 0 : 1);
        EXPECT_EQ(LoadProject("p", project), c.loaded);
        EXPECT_EQ(project.m_allLinks, c.allLinks);
        EXPECT_EQ(project.m_resourcePatterns, c.patterns);
        EXPECT_EQ(project.m_urlList, c.urls);
    }
}

TEST_F(ProjectFileTest, UnreadableProjectChangesNothing) {
    fs::create_directory("dir.nsp");
    ASSERT_EQ(mkfifo("fifo.nsp", 0600), 0);
    fs::create_symlink("/dev/zero", "device.nsp");
    // A valid start, then more than a project file may hold; sparse, so nothing is written.
    WriteFileBytes("big.nsp", "__URLSECTION__\r\nhttp://a/\r\n");
    fs::resize_file("big.nsp", 64 * 1024 * 1024 + 1);
    for (const char* name : {"missing", "dir", "fifo", "device", "big"}) {
        SCOPED_TRACE(name);
        ProjectData project = Fresh(1);
        project.m_urlList = {"http://keep/"};
        EXPECT_FALSE(LoadProject(name, project));
        EXPECT_EQ(project.m_allLinks, 1);
        EXPECT_TRUE(project.m_resourcePatterns.empty());
        EXPECT_EQ(project.m_urlList, StringList({"http://keep/"}));
    }
}

TEST_F(ProjectFileTest, OnlyARegularResultsPageCounts) {
    WriteFileBytes("page.htm", "<html>");
    ASSERT_EQ(mkfifo("pipe.htm", 0600), 0);
    std::filesystem::create_directory("dir.htm");
    EXPECT_TRUE(ResultsPageOpens("page"));
    for (const char* name : {"missing", "pipe", "dir"}) EXPECT_FALSE(ResultsPageOpens(name)) << name;
}

TEST_F(ProjectFileTest, NewProjectPlaceholderReadsNothing) {
    for (const char* name : {"new", "New", "NEW"}) {
        SCOPED_TRACE(name);
        WriteFileBytes(std::string(name) + ".nsp", "__ALLLINKS__\r\n__URLSECTION__\r\nhttp://a/\r\n");
        ProjectData project = Fresh(0);
        EXPECT_TRUE(LoadProject(name, project));
        EXPECT_EQ(project.m_allLinks, 0);
        EXPECT_TRUE(project.m_urlList.empty());
    }
}

TEST_F(ProjectFileTest, LongLinesReadBackWhole) {
    for (std::size_t length : {258u, 259u, 260u, 5000u, 200000u}) {
        SCOPED_TRACE(length);
        std::string entry = "+http://a.example/";
        while (entry.size() < length) entry += static_cast<char>('a' + entry.size() % 26);
        const std::string pattern(length, 'P');
        ProjectData saved;
        saved.m_resourcePatterns = {pattern, ".ZIP"};
        saved.m_urlList = {entry, "http://short/"};
        ASSERT_TRUE(SaveProject("long", saved));
        ProjectData loaded;
        ASSERT_TRUE(LoadProject("long", loaded));
        EXPECT_EQ(loaded.m_resourcePatterns, StringList({pattern, ".ZIP"}));
        EXPECT_EQ(loaded.m_urlList, StringList({entry, "http://short/"}));
    }
}

TEST_F(ProjectFileTest, SaveKeepsThePermissionsOfTheProjectFile) {
    WriteFileBytes("p.nsp", "__URLSECTION__\r\n");
    fs::permissions("p.nsp", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(SaveProject("p", ProjectData()));
    EXPECT_EQ(fs::status("p.nsp").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProjectFileTest, SaveWritesThroughALinkedProjectFile) {
    fs::create_directory("store");
    WriteFileBytes("store/real.nsp", "old");
    fs::create_symlink("store/real.nsp", "p.nsp");
    ProjectData project;
    project.m_urlList = {"http://a/"};
    ASSERT_TRUE(SaveProject("p", project));
    EXPECT_TRUE(fs::is_symlink("p.nsp"));
    EXPECT_EQ(ReadFileBytes("store/real.nsp"), "__URLSECTION__\r\nhttp://a/\r\n");
}

TEST_F(ProjectFileTest, SaveThatCannotCreateTheFileFails) {
    fs::create_directory("taken.nsp");
    WriteFileBytes("taken.nsp/inside", "x");
    ProjectData project;
    project.m_urlList = {"http://a/"};
    EXPECT_FALSE(SaveProject("taken", project));
    EXPECT_TRUE(fs::is_directory("taken.nsp"));
    EXPECT_EQ(ReadFileBytes("taken.nsp/inside"), "x");

    EXPECT_FALSE(SaveProject("no-such-dir/p", project));
    EXPECT_FALSE(fs::exists("no-such-dir"));
    EXPECT_EQ(DirectoryListing(), std::vector<std::string>({"taken.nsp"}));
}

TEST_F(ProjectFileTest, FailedWriteLeavesTheStoredProjectAlone) {
    const std::string stored = ".ZIP\r\n__URLSECTION__\r\nhttp://stored.example/\r\n";
    WriteFileBytes("p.nsp", stored);
    ProjectData project;
    for (int i = 0; i < 100; ++i) project.m_urlList.push_back("http://a.example/page" + std::to_string(i));
    {
        FileSizeLimit limit(256);
        ASSERT_TRUE(limit.Ok());
        EXPECT_FALSE(SaveProject("p", project));
    }
    EXPECT_EQ(ReadFileBytes("p.nsp"), stored);
    EXPECT_EQ(DirectoryListing(), std::vector<std::string>({"p.nsp"}));

    ASSERT_TRUE(SaveProject("p", project));
    ProjectData loaded;
    ASSERT_TRUE(LoadProject("p", loaded));
    EXPECT_EQ(loaded.m_urlList.size(), 100u);
}

// The stream a results page is written as, cancelled with part of it on disk.
TEST_F(ProjectFileTest, CancelledStreamLeavesTheOldFileAndNoTemporaryFile) {
    WriteFileBytes("r.htm", "old");
    std::atomic<bool> cancel{false};
    CAtomicFile file("r.htm", &cancel);
    const std::string piece(CAtomicFile::kBufferBytes, 'x');
    file.Write(piece);
    file.Write(piece);
    const std::vector<std::string> midway = DirectoryListing();
    ASSERT_EQ(midway.size(), 2u);
    EXPECT_EQ(fs::file_size(midway[0]), 2 * piece.size());  // the temporary file sorts first

    cancel = true;
    file.Write(piece);  // the next piece that would go to the file ends the write
    EXPECT_FALSE(file.Good());
    EXPECT_TRUE(file.Cancelled());
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(ReadFileBytes("r.htm"), "old");
    EXPECT_EQ(DirectoryListing(), std::vector<std::string>({"r.htm"}));
}

TEST_F(ProjectFileTest, RenameMovesBothFilesButNeverOverwrites) {
    using Files = std::map<std::string, std::string>;
    struct Case {
        const char* what;
        Files before;
        Files after;
    };
    const Case cases[] = {
        {"both files move", {{"a.nsp", "P"}, {"a.htm", "H"}}, {{"b.nsp", "P"}, {"b.htm", "H"}}},
        {"project file only", {{"a.nsp", "P"}}, {{"b.nsp", "P"}}},
        {"results page moves without project file", {{"a.htm", "H"}}, {{"b.htm", "H"}}},
        {"existing project file kept",
         {{"a.nsp", "P"}, {"a.htm", "H"}, {"b.nsp", "other"}},
         {{"a.nsp", "P"}, {"b.nsp", "other"}, {"b.htm", "H"}}},
        {"existing results page kept",
         {{"a.nsp", "P"}, {"a.htm", "H"}, {"b.htm", "other"}},
         {{"b.nsp", "P"}, {"a.htm", "H"}, {"b.htm", "other"}}},
        {"nothing to move", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : fs::directory_iterator(".")) fs::remove_all(e.path());
        for (const auto& [name, bytes] : c.before) WriteFileBytes(name, bytes);
        RenameProjectFiles("a", "b");
        Files after;
        for (const std::string& name : DirectoryListing()) after[name] = ReadFileBytes(name);
        EXPECT_EQ(after, c.after);
    }
}

TEST_F(ProjectFileTest, NameRulesRefuseEmptyAndHelp) {
    const std::pair<std::string, std::string> refused[] = {
        {"", "Please provide a name for this project!"},
        {"help", "\"help\" is not a correct project name!"},
        {"HELP", "\"help\" is not a correct project name!"},
        {"hElP", "\"help\" is not a correct project name!"},
    };
    for (const auto& [name, message] : refused) {
        SCOPED_TRACE(name);
        ScriptedMessageBox box;
        EXPECT_FALSE(CheckProjectName(name, box));
        const auto shown = box.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, message);
        EXPECT_EQ(shown[0].caption, "Important");
        EXPECT_EQ(shown[0].icon, MsgIcon::Information);
        EXPECT_EQ(shown[0].buttons, MsgButtons::Ok);
    }
    // The name is taken verbatim: only the bare word is reserved.
    for (const char* name : {"help ", "helper", " ", "a/b", "new"}) {
        SCOPED_TRACE(name);
        ScriptedMessageBox box;
        EXPECT_TRUE(CheckProjectName(name, box));
        EXPECT_TRUE(box.Shown().empty());
    }
}

TEST_F(ProjectFileTest, ExistingProjectAsksBeforeOverwriting) {
    const std::string question = "This project already exists!\nOverwrite project?";
    WriteFileBytes("site.nsp", "__URLSECTION__\r\n");
    WriteFileBytes("site.htm", "<html>");
    {
        ScriptedMessageBox box({MsgResult::No});
        EXPECT_FALSE(CheckProjectName("site", box));
        const auto shown = box.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, question);
        EXPECT_EQ(shown[0].caption, "Important");
        EXPECT_EQ(shown[0].icon, MsgIcon::Question);
        EXPECT_EQ(shown[0].buttons, MsgButtons::YesNo);
        EXPECT_TRUE(fs::exists("site.nsp"));
        EXPECT_TRUE(fs::exists("site.htm"));
    }
    {
        ScriptedMessageBox box({MsgResult::Yes});
        EXPECT_TRUE(CheckProjectName("site", box));
        EXPECT_EQ(box.Texts(), std::vector<std::string>({question}));
        EXPECT_FALSE(fs::exists("site.nsp"));
        EXPECT_FALSE(fs::exists("site.htm"));
    }
}

TEST_F(ProjectFileTest, OverwriteThatCannotDeleteAsksOnceMore) {
    // A directory of the project file's name opens for reading but is no
    // file to delete, so the project seems to survive its deletion.
    fs::create_directory("stuck.nsp");
    for (MsgResult second : {MsgResult::Yes, MsgResult::No}) {
        ScriptedMessageBox box({MsgResult::Yes, second, MsgResult::Yes});
        EXPECT_TRUE(CheckProjectName("stuck", box));
        EXPECT_EQ(box.Shown().size(), 2u);
        EXPECT_TRUE(fs::is_directory("stuck.nsp"));
    }
}

}  // namespace
