// The real file system under the engine: a new file has its name only once it is whole,
// never replaces what is there, and leaves nothing when it is given up, however it is
// linked to its name; leftovers of a
// killed run go when the destination is prepared; an index line cut by a full disk is
// taken back.
#include "extract/Destination.h"
#include "extract/FileSystem.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace harvix {
namespace {

using namespace harvix::testing;
namespace stdfs = std::filesystem;

Bytes View(const std::string& text) {
    return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The names in a folder, hidden ones included.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class NewFiles : public ::testing::TestWithParam<NewFileMethod> {
protected:
    std::unique_ptr<IFileSystem> fs = NewPosixFileSystem(GetParam());
    ScratchDir dir;
    std::string path = dir / "a.dll.bmp";
};

TEST_P(NewFiles, TakeTheirNameOnlyWhenWhole) {
    auto file = fs->CreateExclusive(path);
    ASSERT_TRUE(file.ok()) << file.error().message;
    ASSERT_TRUE((*file)->Write({View("first half, ")}).ok());
    EXPECT_FALSE(stdfs::exists(path));
    for (const std::string& name : Names(dir.path())) // at most a temporary of this process
        EXPECT_EQ(UnfinishedFileOwner(name), ::getpid()) << name;
    ASSERT_TRUE((*file)->Write({View("second half")}).ok());
    ASSERT_TRUE((*file)->Close().ok());
    EXPECT_EQ(ReadFileText(path), "first half, second half");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.dll.bmp"});
}

TEST_P(NewFiles, GivenUpLeaveNothing) {
    {
        auto file = fs->CreateExclusive(path);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE((*file)->Write({View("never finished")}).ok());
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{});
}

// Whatever took the name meanwhile stays as it was: a file, a folder, a link (also a
// dangling one, which must not be followed).
TEST_P(NewFiles, NeverReplaceWhatTookTheName) {
    const std::string elsewhere = dir / "elsewhere";
    const struct {
        const char* what;
        std::function<void()> take;
    } cases[] = {
        {"file", [&] { WriteFileText(path, "keep"); }},
        {"folder", [&] { stdfs::create_directory(path); }},
        {"link", [&] { stdfs::create_symlink(elsewhere, path); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = fs->CreateExclusive(path);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE((*file)->Write({View("new")}).ok());
        c.take();
        const Status closed = (*file)->Close();
        ASSERT_FALSE(closed.ok());
        EXPECT_EQ(closed.error().code, EEXIST);
        EXPECT_NE(closed.error().message.find(path), std::string::npos);
        EXPECT_FALSE(stdfs::exists(elsewhere));
        EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.dll.bmp"});
        if (stdfs::is_regular_file(stdfs::symlink_status(path))) {
            EXPECT_EQ(ReadFileText(path), "keep");
        }
        stdfs::remove(path);
    }
}

TEST_P(NewFiles, AMissingFolderIsReportedForThePath) {
    auto file = fs->CreateExclusive(dir / "gone/a.bmp");
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error().code, ENOENT);
    EXPECT_NE(file.error().message.find(dir / "gone/a.bmp"), std::string::npos);
}

// An unnamed file is linked to its name also where the system refuses to link the
// descriptor itself: here for a process whose user changed since it made the file (and
// which lacks the privilege to read any file). Then the file is linked through its entry
// in /proc, and so are the files after it.
TEST(UnnamedFiles, AreLinkedAlsoWhereTheDescriptorMayNotBe) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs to change its user";
    ScratchDir dir;
    stdfs::permissions(dir.path(), stdfs::perms::all);
    const pid_t child = ::fork();
    if (child == 0) {
        // As nobody, able to become root again: the file is nobody's.
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 0) != 0)
            std::_Exit(2);
        auto early = RealFileSystem().CreateExclusive(dir / "early.bmp");
        if (!early.ok() || !(*early)->Write({View("early")}).ok())
            std::_Exit(3);
        // The user changes back and forth: the same user, but no longer the one that
        // opened the file. Its own /proc entries stay readable.
        if (::seteuid(0) != 0 || ::seteuid(65534) != 0 || ::prctl(PR_SET_DUMPABLE, 1) != 0)
            std::_Exit(4);
        if (!(*early)->Close().ok())
            std::_Exit(5);
        auto late = RealFileSystem().CreateExclusive(dir / "late.bmp");
        std::_Exit(late.ok() && (*late)->Write({View("late")}).ok() && (*late)->Close().ok() ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileText(dir / "early.bmp"), "early");
    EXPECT_EQ(ReadFileText(dir / "late.bmp"), "late");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"early.bmp", "late.bmp"}));
}

INSTANTIATE_TEST_SUITE_P(Methods, NewFiles,
                         ::testing::Values(NewFileMethod::Unnamed, NewFileMethod::HiddenName),
                         [](const auto& method) {
                             return method.param == NewFileMethod::Unnamed ? "Unnamed" : "HiddenName";
                         });

TEST(UnfinishedFiles, OnlyTheirOwnNamesAreTakenForThem) {
    const struct {
        const char* name;
        long owner; // 0: not an unfinished file
    } cases[] = {
        {".harvix-4242-0123456789abcdef.part", 4242},
        {".harvix-1-ffffffffffffffff.part", 1},
        {".harvix-4242-0123456789abcde.part", 0},   // one digit short
        {".harvix-4242-0123456789ABCDEF.part", 0},  // upper case is not written
        {".harvix--0123456789abcdef.part", 0},      // no process
        {".harvix-0-0123456789abcdef.part", 0},
        {".harvix-42x2-0123456789abcdef.part", 0},
        {".harvix-4242-0123456789abcdef.part.bmp", 0}, // an output name of such a module
        {"a.dll - .harvix-4242-0123456789abcdef.part", 0},
        {"harvix-4242-0123456789abcdef.part", 0},
    };
    for (const auto& c : cases) {
        const auto owner = UnfinishedFileOwner(c.name);
        EXPECT_EQ(owner.value_or(0), c.owner) << c.name;
    }
}

// A process id that has just ended.
long EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        std::_Exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(UnfinishedFiles, LeftoversOfEndedRunsGoWhenTheDestinationIsPrepared) {
    ScratchDir dir;
    const std::string dest = dir / "out";
    const std::string ended = std::to_string(EndedProcess());
    const std::string running = std::to_string(::getpid());
    auto name = [](const std::string& pid) { return ".harvix-" + pid + "-00000000000000aa.part"; };
    const std::vector<std::string> gone = {
        "/" + name(ended), "/Bitmaps/" + name(ended), "/Videos/" + name(ended),
        "/Icons/32x32/8/" + name(ended), "/PNG/Icons/32x32/8/" + name(ended)};
    const std::vector<std::string> kept = {
        "/Bitmaps/" + name(running),                  // in flight
        "/Bitmaps/" + name(ended) + ".bmp",           // an output name
        "/Bitmaps/a.dll.bmp",
        "/Other/" + name(ended),                      // not a folder of the destination's
        "/Icons/32x32/8/deeper/" + name(ended)};      // below any per-size folder
    for (const auto& list : {gone, kept})
        for (const std::string& file : list) {
            stdfs::create_directories(stdfs::path(dest + file).parent_path());
            WriteFileText(dest + file, "x");
        }
    ScriptedPrompt prompt;
    prompt.answers = {Answer::Yes};
    ASSERT_FALSE(PrepareDestination(dest, KindSwitches{true, false, false, false, false, false},
                                    {"/w", false, "*"}, prompt));
    for (const std::string& file : gone)
        EXPECT_FALSE(stdfs::exists(dest + file)) << file;
    for (const std::string& file : kept)
        EXPECT_TRUE(stdfs::exists(dest + file)) << file;
}

// An index line that a full disk cuts short is taken back: the file keeps what it held
// before, and the next line starts clean. The child process is limited in file size,
// which cuts the write part-way as a full disk does.
TEST(IndexFile, ALineCutShortIsTakenBack) {
    ScratchDir dir;
    const std::string index = dir / "__index.txt";
    const std::string before = "\r\nHarvix index file of now\r\n";
    WriteFileText(index, before);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 10, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Status cut = RealFileSystem().Append(index, std::string(100, 'r') + "\r\n");
        const Status fits = RealFileSystem().Append(index, "short\r\n");
        std::_Exit(!cut.ok() && cut.error().code == EFBIG && fits.ok() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileText(index), before + "short\r\n");
}

} // namespace
} // namespace harvix
