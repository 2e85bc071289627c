#include "search/SearchCore.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Found {
    std::string name;
    std::int32_t fileCount;
    std::int32_t dirCount;
};

// Records every event; cancels at the event number `cancelAt` (1-based) when set, and
// scribbles over the arguments it must not change, to show that the walk ignores that.
class Recorder : public harvix::cSearchCoreEvents {
public:
    std::vector<Found> found;
    int finished = 0;
    bool eventAfterFinish = false;
    int cancelAt = 0;

    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                   bool& Cancel) override {
        if (finished > 0)
            eventAfterFinish = true;
        found.push_back({FileName, FileCount, DirCount});
        if (cancelAt != 0 && static_cast<int>(found.size()) == cancelAt)
            Cancel = true;
        FileName = "changed";
        FileCount = -100;
        DirCount = -100;
    }
    void SearchFinished() override { ++finished; }

    // Searching: the names listed and the folders entered since the last event of any
    // kind, at each one; cancels at the Searching number `cancelSearchingAt`.
    int searching = 0;
    int cancelSearchingAt = 0;
    void Searching(bool& Cancel) override {
        ++searching;
        if (searching == cancelSearchingAt)
            Cancel = true;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& f : found)
            out.push_back(f.name);
        return out;
    }
};

// Runs `check` in a child process once `prepare` has changed what only that process
// may change (its user, its limits); the child must end with check's true.
void ExpectInChild(const std::function<bool()>& prepare, const std::function<bool()>& check) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(!prepare() ? 2 : check() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = harvix::testing::MakeScratchFolder("harvix-search").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(root, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
    std::string file(const std::string& relative) const {
        const fs::path path = fs::path(root) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path.string();
    }
    std::string dir(const std::string& relative) const {
        const fs::path path = fs::path(root) / relative;
        fs::create_directories(path);
        return path.string();
    }

    std::string root;
    Recorder events;
    harvix::cSearchCore core{&events};
};

// The folder-entry count at which each folder's files are reported, by the listing order
// of the file system: every folder entry counts, "." and ".." too.
void ExpectedCounts(const std::string& folder, std::int32_t& count,
                    std::map<std::string, std::int32_t>& out) {
    out[folder] = count;
    std::vector<std::string> subfolders;
    DIR* listing = opendir(folder.c_str());
    ASSERT_NE(listing, nullptr);
    while (const dirent* entry = readdir(listing))
        if (entry->d_type == DT_DIR)
            subfolders.emplace_back(entry->d_name);
    closedir(listing);
    for (const auto& name : subfolders) {
        ++count;
        if (name != "." && name != "..")
            ExpectedCounts(folder + "/" + name, count, out);
    }
}

// R lists ".", "..", A, B; A lists ".", "..", C; C and B hold only files.
class WorkedTree : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        R = dir("R");
        file("R/r.exe");
        file("R/readme.txt");
        file("R/A/a.exe");
        file("R/A/C/c.dll");
        file("R/B/b.EXE");
    }
    std::string R;
};

TEST_F(WorkedTree, CountsFolderEntriesAndReportsFilesBeforeTheirSubfolders) {
    EXPECT_EQ(core.GetDirCount(false, R), 11);
    EXPECT_TRUE(events.found.empty());
    EXPECT_EQ(events.finished, 0);

    core.SearchForFiles(R, true, "*.exe;*.dll");
    ASSERT_EQ(events.found.size(), 4u);
    EXPECT_EQ(events.found[0].name, R + "/r.exe");
    EXPECT_EQ(events.found[0].dirCount, 0);
    // The counts depend on the order in which the file system lists the entries, "."
    // and ".." included (R, A, C, B in a listing that starts with the dots: 0, 3, 6, 9).
    std::map<std::string, std::int32_t> expected;
    std::int32_t count = 0;
    ExpectedCounts(R, count, expected);
    EXPECT_EQ(count, 11);
    for (const auto& f : events.found) {
        const std::string folder = f.name.substr(0, f.name.rfind('/'));
        EXPECT_EQ(f.dirCount, expected[folder]) << f.name;
    }
    for (std::size_t i = 0; i < events.found.size(); ++i)
        EXPECT_EQ(events.found[i].fileCount, static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(events.finished, 1);
    EXPECT_FALSE(events.eventAfterFinish);

    // A second search starts its counters afresh.
    events.found.clear();
    core.SearchForFiles(R + "/", true, "*.exe");
    ASSERT_EQ(events.found.size(), 3u);
    EXPECT_EQ(events.found[0].name, R + "/r.exe"); // no doubled separator
    EXPECT_EQ(events.found[0].fileCount, 1);
    EXPECT_EQ(events.finished, 2);
}

TEST_F(WorkedTree, WithoutSubfoldersReportsOnlyTheFolderItself) {
    core.SearchForFiles(R, false, "*.*");
    std::vector<std::string> names = events.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{R + "/r.exe", R + "/readme.txt"}));
    for (const auto& f : events.found)
        EXPECT_EQ(f.dirCount, 0);
    EXPECT_EQ(events.finished, 1);
}

TEST_F(WorkedTree, CancelOnTheFirstFileStopsTheSearch) {
    events.cancelAt = 1;
    core.SearchForFiles(R, true, "*");
    EXPECT_EQ(events.found.size(), 1u);
    EXPECT_EQ(events.finished, 1);
}

TEST_F(WorkedTree, MissingFolderOrEmptyMaskFindsNothing) {
    EXPECT_EQ(core.GetDirCount(false, R + "/missing"), 0);
    core.SearchForFiles(R + "/missing", true, "*");
    core.SearchForFiles(R, true, "");
    core.SearchForFiles(R, true, "   ");
    EXPECT_TRUE(events.found.empty());
    EXPECT_EQ(events.finished, 3);
}

// The count before a search knows what the search will report: its files (the last
// FileCount) and its folder entries (DirCount at the end), with and without subfolders,
// whatever the masks.
TEST_F(WorkedTree, TheCountAgreesWithTheSearch) {
    struct Case {
        bool recurse;
        const char* mask;
        harvix::SearchCount expected;
    };
    const Case cases[] = {
        {true, "*.exe;*.dll", {11, 4}},
        {true, "*.DLL", {11, 1}},
        {true, "", {11, 0}},
        {false, "*.exe;*.dll", {4, 1}}, // R's own entries: ".", "..", A and B
        {false, "*", {4, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mask) + (c.recurse ? " with subfolders" : " without"));
        const harvix::SearchCount counted = core.CountTree(false, R, c.recurse, c.mask);
        EXPECT_EQ(counted.dirs, c.expected.dirs);
        EXPECT_EQ(counted.files, c.expected.files);
        EXPECT_TRUE(events.found.empty()); // the count reports nothing
        core.SearchForFiles(R, c.recurse, c.mask);
        EXPECT_EQ(static_cast<std::int32_t>(events.found.size()), counted.files);
        events.found.clear();
    }
}

class DriveSearch : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        d1 = dir("d1");
        d2 = dir("d2");
        file("d1/one.exe");
        file("d1/sub/two.exe");
        file("d2/three.exe");
        core.SetDriveLister([this] { return std::vector<std::string>{d1, d2}; });
    }
    std::string d1, d2;
};

TEST_F(DriveSearch, CountsRunOnAcrossDrivesAndDriveRootsHaveNoDots) {
    // d1: "sub" (1) plus sub's "." and ".." (2); the roots contribute nothing.
    EXPECT_EQ(core.GetDirCount(true, ""), 3);
    EXPECT_EQ(core.GetDirCount(false, "/"), 3);
    // Every drive's files, always with subfolders.
    EXPECT_EQ(core.CountTree(true, "", false, "*.EXE").files, 3);

    core.SearchSystemForFiles("*.EXE");
    ASSERT_EQ(events.found.size(), 3u);
    EXPECT_EQ(events.found[0].name, d1 + "/one.exe");
    EXPECT_EQ(events.found[0].dirCount, 0);
    EXPECT_EQ(events.found[1].name, d1 + "/sub/two.exe");
    EXPECT_EQ(events.found[1].dirCount, 1);
    EXPECT_EQ(events.found[2].name, d2 + "/three.exe");
    EXPECT_EQ(events.found[2].dirCount, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(events.found[static_cast<std::size_t>(i)].fileCount, i + 1);
    EXPECT_EQ(events.finished, 1);
}

TEST_F(DriveSearch, CancelOnTheFirstFileSkipsTheOtherDrives) {
    events.cancelAt = 1;
    core.SearchSystemForFiles("*.exe");
    EXPECT_EQ(events.found.size(), 1u);
    EXPECT_EQ(events.finished, 1);
}

TEST_F(DriveSearch, NoDrivesEndsAtOnce) {
    core.SetDriveLister([] { return std::vector<std::string>{}; });
    EXPECT_EQ(core.GetDirCount(true, d1), 0);
    core.SearchSystemForFiles("*");
    EXPECT_TRUE(events.found.empty());
    EXPECT_EQ(events.finished, 1);
}

TEST_F(TempTree, OnlyRegularFilesAreReportedAndLinksAreNeverFolders) {
    const std::string R = dir("R");
    file("R/real.exe");
    dir("R/folder.exe");
    ASSERT_EQ(mkfifo((R + "/pipe.exe").c_str(), 0600), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = R + "/sock.exe";
    if (socketPath.size() < sizeof(address.sun_path)) {
        socketPath.copy(address.sun_path, socketPath.size());
        ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    }
    close(sock);
    fs::create_symlink(R + "/real.exe", R + "/link.exe");
    fs::create_symlink(R + "/nowhere", R + "/dead.exe");
    fs::create_symlink(R + "/folder.exe", R + "/dirlink.exe");
    fs::create_symlink(".", R + "/folder.exe/cycle"); // a link loop

    // R: "." "..", folder.exe (1) and its "." and ".." (2); links count for nothing.
    EXPECT_EQ(core.GetDirCount(false, R), 5);
    // The files counted are the two the search reports.
    EXPECT_EQ(core.CountTree(false, R, true, "*.EXE;*").files, 2);
    core.SearchForFiles(R, true, "*.EXE;*");
    std::vector<std::string> names = events.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{R + "/link.exe", R + "/real.exe"}));
}

TEST_F(TempTree, UnreadableFolderIsSkippedButCounted) {
    const std::string R = dir("R");
    file("R/locked/hidden.exe");
    file("R/open/seen.exe");
    ASSERT_EQ(chmod((R + "/locked").c_str(), 0), 0);
    std::vector<std::pair<std::string, int>> unlisted;
    core.SetUnlistedFolderHandler(
        [&](const std::string& folder, int error) { unlisted.emplace_back(folder, error); });
    const auto check = [&] {
        // "." ".." + locked (1) + open (3)
        const bool counted = core.GetDirCount(false, R) == 6;
        core.SearchForFiles(R, true, "*.exe");
        // The search (not the count) tells of the folder it could not enter.
        const std::vector<std::pair<std::string, int>> told{{R + "/locked/", EACCES}};
        return counted && events.names() == std::vector<std::string>{R + "/open/seen.exe"} &&
               unlisted == told;
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(check());
        return;
    }
    // Permissions do not stop the superuser: walk as an ordinary user in a child.
    const uid_t nobody = 65534;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        ASSERT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0);
    ASSERT_EQ(chown(root.c_str(), nobody, nobody), 0);
    ExpectInChild([&] { return setgid(nobody) == 0 && setuid(nobody) == 0; }, check);
}

TEST_F(TempTree, WalksTreesDeeperThanTheLongestPath) {
    const std::string segment(200, 'd');
    const int depth = PATH_MAX / 200 + 5;
    // Built relative to each folder's descriptor: the full path is too long for mkdir.
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(fd, segment.c_str(), 0700), 0);
        const int next = openat(fd, segment.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int leaf = openat(fd, "deep.exe", O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(leaf, 0);
    close(leaf);
    close(fd);

    EXPECT_EQ(core.GetDirCount(false, root), 2 + 3 * depth);
    core.SearchForFiles(root, true, "*.exe");
    ASSERT_EQ(events.found.size(), 1u);
    EXPECT_GT(events.found[0].name.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_TRUE(events.found[0].name.ends_with("/" + segment + "/deep.exe"));

    // Clean up from the inside out; remove_all cannot handle paths this long.
    std::string rel;
    for (int i = 0; i < depth; ++i)
        rel += (i ? "/" : "") + segment;
    // unlinkat relative to the deepest folder still reachable keeps every path short.
    std::vector<int> fds{open(root.c_str(), O_RDONLY | O_DIRECTORY)};
    for (int i = 0; i < depth; ++i)
        fds.push_back(openat(fds.back(), segment.c_str(), O_RDONLY | O_DIRECTORY));
    unlinkat(fds.back(), "deep.exe", 0);
    for (int i = depth; i > 0; --i) {
        close(fds[static_cast<std::size_t>(i)]);
        unlinkat(fds[static_cast<std::size_t>(i - 1)], segment.c_str(), AT_REMOVEDIR);
    }
    close(fds[0]);
}

// Mounts below the walked folder: a file system in memory with one module, and the
// kernel's process table.
class MountedTree : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        R = dir("R");
        file("R/top.exe");
        memory = dir("R/memory");
        processes = dir("R/processes");
        if (mount("tmpfs", memory.c_str(), "tmpfs", 0, nullptr) != 0)
            GTEST_SKIP() << "mounting needs privileges this test does not have";
        mounted.push_back(memory);
        ASSERT_EQ(mount("proc", processes.c_str(), "proc", 0, nullptr), 0);
        mounted.push_back(processes);
        std::ofstream(memory + "/inside.exe") << "x";
    }
    void TearDown() override {
        for (const auto& point : mounted)
            umount2(point.c_str(), MNT_DETACH);
        TempTree::TearDown();
    }
    std::string R, memory, processes;
    std::vector<std::string> mounted;
};

TEST_F(MountedTree, FolderSearchEntersOtherMountsButNotKernelOnes) {
    core.SearchForFiles(R, true, "*");
    std::vector<std::string> names = events.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{memory + "/inside.exe", R + "/top.exe"}));
}

TEST_F(MountedTree, DriveWalkStaysOnItsDevice) {
    core.SetDriveLister([this] { return std::vector<std::string>{R}; });
    // Both mount points are entries of the drive's root, but neither is entered.
    EXPECT_EQ(core.GetDirCount(true, ""), 2);
    core.SearchSystemForFiles("*");
    EXPECT_EQ(events.names(), std::vector<std::string>{R + "/top.exe"});
}

TEST_F(TempTree, DeepTreesDoNotUseUpTheDescriptors) {
    // 300 levels, with a side branch half-way down that is reached only after the walk
    // has come back up from the bottom.
    std::string chain;
    for (int i = 0; i < 300; ++i) {
        chain += "/d";
        if (i == 149)
            file(chain.substr(1) + "/e/side.exe");
    }
    ASSERT_EQ(chain.size(), 600u);
    file(chain.substr(1) + "/deep.exe");
    const std::string relativeSide = chain.substr(1, 299) + "/e/side.exe";
    const auto check = [&] {
        const bool counted = core.GetDirCount(false, root) == 2 + 3 * 300 + 3;
        core.SearchForFiles(root, true, "*.exe");
        std::vector<std::string> names = events.names();
        std::sort(names.begin(), names.end());
        return counted &&
               names == std::vector<std::string>{root + "/" + chain.substr(1) + "/deep.exe",
                                                 root + "/" + relativeSide};
    };
    // Far fewer descriptors than levels.
    ExpectInChild(
        [] {
            const rlimit limit{48, 48};
            return setrlimit(RLIMIT_NOFILE, &limit) == 0;
        },
        check);
}

TEST_F(TempTree, LongStretchesWithoutMatchesRaiseSearchingOftenAndCanBeStopped) {
    // 40 folders of 100 names each, none matching, and one match at the very end.
    for (int d = 0; d < 40; ++d)
        for (int f = 0; f < 100; ++f)
            file("d" + std::to_string(d) + "/f" + std::to_string(f) + ".txt");
    file("zz/last.exe");
    // The counting pass raises nothing.
    EXPECT_EQ(core.GetDirCount(false, root), 2 + 41 * 3);
    EXPECT_EQ(events.searching, 0);
    // The search: at every folder entered and after every 64 names in a row (each
    // folder lists 102 names, "." and ".." with them).
    core.SearchForFiles(root, true, "*.exe");
    EXPECT_GE(events.searching, 41 + 40 * (102 / harvix::kSearchingInterval));
    ASSERT_EQ(events.found.size(), 1u);
    const int searchingBefore = events.searching;
    // Cancel from Searching (the first comes as the first folder is entered) ends the
    // walk with no file reported and one SearchFinished.
    Recorder stopping;
    stopping.cancelSearchingAt = 1;
    harvix::cSearchCore other(&stopping);
    other.SearchForFiles(root, true, "*.exe");
    EXPECT_EQ(stopping.searching, 1);
    EXPECT_TRUE(stopping.found.empty());
    EXPECT_EQ(stopping.finished, 1);

    // The count, which raises no event, asks its stop as often: stopped at once it counts
    // short of the tree and raises nothing; the search after it finds everything.
    int asked = 0;
    core.SetCountStop([&asked] { return ++asked >= 3; });
    const harvix::SearchCount stopped = core.CountTree(false, root, true, "*.exe");
    EXPECT_EQ(asked, 3);
    EXPECT_LT(stopped.dirs, 2 + 41 * 3);
    EXPECT_EQ(stopped.files, 0);
    EXPECT_EQ(events.searching, searchingBefore);
    core.SearchForFiles(root, true, "*.exe");
    EXPECT_EQ(events.found.size(), 2u);
}

TEST_F(DriveSearch, AStoppedCountSkipsTheOtherDrives) {
    int asked = 0;
    core.SetCountStop([&asked] { return ++asked >= 1; });
    // Stopped as the walk enters d1's subfolder: d1's own file counted, d2 never walked.
    EXPECT_EQ(core.CountTree(true, "", false, "*.EXE").files, 1);
    EXPECT_EQ(asked, 1);
}

} // namespace
