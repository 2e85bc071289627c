// cPathSearch: files and folders given as paths, reported as one search.
#include "search/PathSearch.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace harvix {
namespace {

namespace fs = std::filesystem;

struct Found {
    std::string name;
    std::int32_t files;
    std::int32_t dirs;
};

class Recorder final : public cSearchCoreEvents {
public:
    std::vector<Found> found;
    int finished = 0;
    int cancelAt = 0;
    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                   bool& Cancel) override {
        found.push_back({FileName, FileCount, DirCount});
        Cancel = cancelAt == static_cast<int>(found.size());
    }
    void SearchFinished() override { ++finished; }
};

class PathSearch : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "harvix-paths-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        for (const char* file : {"a/x.dll", "a/sub/y.dll", "a/notes.txt", "c/z.exe", "b.TXT"}) {
            fs::create_directories((fs::path(root) / file).parent_path());
            std::ofstream(root + "/" + file) << "x";
        }
    }
    void TearDown() override { fs::remove_all(root); }

    Recorder Search(std::vector<std::string> paths, bool recurse, int cancelAt = 0) {
        cSearchCore core;
        cPathSearch search(core, std::move(paths));
        Recorder recorder;
        recorder.cancelAt = cancelAt;
        search.SetEvents(&recorder);
        total = search.CountTree(recurse, "*.dll;*.exe");
        search.SearchForFiles(recurse, "*.dll;*.exe");
        return recorder;
    }

    std::string root;
    SearchCount total;
};

TEST_F(PathSearch, FilesAsTheyAreFoldersWalkedCountersRunOn) {
    struct Case {
        const char* name;
        bool recurse;
        int cancelAt;
        std::vector<std::string> expected; // relative to root, in order
    };
    const Case cases[] = {
        // A file is taken whatever its name; the folders' files follow the mask.
        {"with subfolders", true, 0, {"b.TXT", "a/x.dll", "a/sub/y.dll", "c/z.exe"}},
        {"without subfolders", false, 0, {"b.TXT", "a/x.dll", "c/z.exe"}},
        // A stop inside the first folder stops the paths after it too.
        {"stopped", true, 2, {"b.TXT", "a/x.dll"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Recorder r = Search({root + "/b.TXT", root + "/a", root + "/c/"}, c.recurse,
                                  c.cancelAt);
        EXPECT_EQ(r.finished, 1);
        ASSERT_EQ(r.found.size(), c.expected.size());
        std::int32_t dirs = 0;
        std::vector<std::string> shown;
        for (std::size_t i = 0; i < r.found.size(); ++i) {
            // The walk writes the folder with "/" added; the file path stays as given.
            shown.push_back(
                fs::path(r.found[i].name).lexically_normal().lexically_relative(root).string());
            EXPECT_EQ(r.found[i].files, static_cast<std::int32_t>(i + 1));
            EXPECT_GE(r.found[i].dirs, dirs);
            dirs = r.found[i].dirs;
        }
        // The paths in the order given; inside a folder, the walk's own order.
        EXPECT_EQ(shown.front(), c.expected.front());
        const auto folderOf = [](const std::string& name) { return name.substr(0, 1); };
        for (std::size_t i = 1; i < shown.size(); ++i)
            EXPECT_LE(folderOf(shown[i - 1]) == "b" ? "" : folderOf(shown[i - 1]),
                      folderOf(shown[i]));
        if (c.cancelAt == 0) {
            std::sort(shown.begin(), shown.end());
            std::vector<std::string> expected = c.expected;
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(shown, expected);
        } else {
            EXPECT_EQ(folderOf(shown.back()), "a");
        }
        EXPECT_EQ(r.found.front().dirs, 1); // the file path is one unit of progress
        EXPECT_LE(dirs, total.dirs);
        // The count knew how many files the search would report.
        if (c.cancelAt == 0) {
            EXPECT_EQ(total.files, static_cast<std::int32_t>(c.expected.size()));
        }
    }
    // The total: one for the file, then each folder's entries (a: x.dll, sub, y.dll,
    // notes.txt and the dot entries as the walk counts them).
    cSearchCore core;
    EXPECT_EQ(total.dirs, 1 + core.GetDirCount(false, root + "/a") + core.GetDirCount(false, root + "/c/"));
}

TEST_F(PathSearch, NamesWhatWasSearched) {
    cSearchCore core;
    const cPathSearch files(core, {root + "/b.TXT", "rel/x.dll"});
    EXPECT_EQ(files.DisplayName(), root + "/b.TXT; rel/x.dll");
    EXPECT_FALSE(files.HasFolder());
    EXPECT_TRUE(cPathSearch(core, {root + "/b.TXT", root + "/a"}).HasFolder());
}

} // namespace
} // namespace harvix
