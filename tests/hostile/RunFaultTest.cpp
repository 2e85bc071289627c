// Faults in the middle of a run: the disk filling up inside a resource, the destination
// removed, moved or made read-only, and the registry store locked by another program,
// read-only or damaged. Whatever happens, nothing written before the fault is lost,
// every output file has exactly one record and no record names a missing file.
#include "tests/hostile/HostileSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "run/RunTexts.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace harvix::hostile {
namespace {

namespace mb = harvix::modbuilder;

using harvix::testing::ReadText;

std::vector<std::uint8_t> Clip(int number, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(number * 31 + static_cast<int>(i % 251));
    return bytes;
}

// A private view of the mounts for this process, so that what it mounts is seen by no
// one else and goes away with it. False when that is not allowed.
bool PrivateMounts() {
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Ends a child test process: 0 when `problems` is empty, else 1 with the problems told.
[[noreturn]] void ExitWith(const std::string& problems) {
    std::fprintf(stderr, "%s", problems.c_str());
    std::fflush(stderr);
    std::_Exit(problems.empty() ? 0 : 1);
}

#define CHILD_CHECK(cond, what)                                                                    \
    do {                                                                                           \
        if (!(cond))                                                                               \
            problems += std::string(what) + "\n";                                                  \
    } while (false)

// ---- the disk fills up --------------------------------------------------------------------

// Where the clips go and how full it is: a small real file system, or the engine's file
// system with a byte budget where nothing may be mounted.
class Disk {
public:
    virtual ~Disk() = default;
    virtual std::string folder() = 0;
    // Takes up all space but `bytes`.
    virtual void leave(std::size_t bytes) = 0;
    // Gives back what leave() took.
    virtual void free() = 0;
    virtual IFileSystem* fileSystem() { return nullptr; }
};

class SmallFileSystem final : public Disk {
public:
    explicit SmallFileSystem(std::string mountPoint) : m_folder(std::move(mountPoint)) {}
    std::string folder() override { return m_folder; }
    void leave(std::size_t bytes) override {
        struct statvfs info {};
        ::statvfs(m_folder.c_str(), &info);
        const auto freeBytes = static_cast<std::size_t>(info.f_bavail) * info.f_frsize;
        std::ofstream(filler(), std::ios::binary) << std::string(freeBytes - bytes, 'f');
    }
    void free() override { fs::remove(filler()); }

private:
    std::string filler() const { return m_folder + "/filler"; }
    std::string m_folder;
};

// The real file system with a budget of bytes: a write that goes beyond it writes what
// fits and fails as a full disk does; removing a file gives its bytes back.
class BudgetFileSystem final : public IFileSystem, public Disk {
public:
    explicit BudgetFileSystem(std::string folder, std::int64_t capacity)
        : m_folder(std::move(folder)), m_room(capacity) {}

    std::string folder() override { return m_folder; }
    void leave(std::size_t bytes) override {
        m_taken = m_room - static_cast<std::int64_t>(bytes);
        m_room = static_cast<std::int64_t>(bytes);
    }
    void free() override {
        m_room += m_taken;
        m_taken = 0;
    }
    IFileSystem* fileSystem() override { return this; }

    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override {
        auto file = real().CreateExclusive(path);
        if (!file)
            return file.error();
        return std::unique_ptr<IOutputFile>(std::make_unique<File>(*this, std::move(*file), path));
    }
    Status Append(const std::string& path, std::string_view text) override {
        if (!take(path, static_cast<std::int64_t>(text.size())))
            return Full(path);
        return real().Append(path, text);
    }
    Status Remove(const std::string& path) override {
        m_room += m_sizes[path];
        m_sizes.erase(path);
        return real().Remove(path);
    }
    bool Exists(const std::string& path) override { return real().Exists(path); }
    bool IsDirectory(const std::string& path) override { return real().IsDirectory(path); }
    Status MakeDirectory(const std::string& path) override { return real().MakeDirectory(path); }
    Status MakeDirectories(const std::string& path) override { return real().MakeDirectories(path); }

private:
    class File final : public IOutputFile {
    public:
        File(BudgetFileSystem& owner, std::unique_ptr<IOutputFile> inner, std::string path)
            : m_owner(owner), m_inner(std::move(inner)), m_path(std::move(path)) {}
        Status WritePieces(std::span<const Bytes> pieces) override {
            for (Bytes piece : pieces) {
                const auto fits = static_cast<std::size_t>(
                    std::max<std::int64_t>(0, std::min<std::int64_t>(m_owner.m_room, static_cast<std::int64_t>(piece.size()))));
                (void)m_owner.take(m_path, static_cast<std::int64_t>(fits));
                if (auto written = m_inner->Write({piece.first(fits)}); !written)
                    return written;
                if (fits < piece.size())
                    return Full(m_path);
            }
            return success();
        }
        Status Close() override { return m_inner->Close(); }

    private:
        BudgetFileSystem& m_owner;
        std::unique_ptr<IOutputFile> m_inner;
        std::string m_path;
    };

    static IFileSystem& real() { return RealFileSystem(); }
    static Error Full(const std::string& path) {
        return IoError(ENOSPC, path);
    }
    bool take(const std::string& path, std::int64_t bytes) {
        if (bytes > m_room)
            return false;
        m_room -= bytes;
        m_sizes[path] += bytes;
        return true;
    }

    std::string m_folder;
    std::int64_t m_room;
    std::int64_t m_taken = 0;
    std::map<std::string, std::int64_t> m_sizes;
};

// Eight clips of 150 KiB onto a disk of 1 MiB that is nearly full: the second clip fails
// in its middle; the user frees the space and chooses Retry, which writes that clip to
// the same name; when the disk is full again the user cancels.
std::string DiskFillsUpScenario(Disk& disk, const std::string& src) {
    std::string problems;
    constexpr std::size_t kClip = 150 * 1024;
    constexpr int kClips = 8;
    mb::ModuleBuilder b;
    for (int i = 1; i <= kClips; ++i)
        b.add(ResId::name("AVI"), ResId::number(static_cast<std::uint16_t>(i)), 0x409, Clip(i, kClip));
    WriteModule(src + "/clips.dll", b);

    InProcessRun run;
    run.folder = src;
    run.destination = disk.folder() + "/out";
    run.kinds = KindSwitches{false, false, false, false, true, false};
    run.fileSystem = disk.fileSystem();
    const std::string videos = run.destination + "/Videos";
    // Room for one clip and a third of the next.
    run.beforeFile = [&](const std::string&) { disk.leave(kClip + kClip / 3); };
    std::vector<std::string> seenAtFirstQuestion;
    run.prompt.onDiskFull = [&](const std::string&) {
        if (run.prompt.diskFull.size() > 1)
            return Answer::Cancel;
        for (const auto& entry : fs::directory_iterator(videos))
            seenAtFirstQuestion.push_back(entry.path().filename().string());
        disk.free();
        return Answer::Retry;
    };
    CHILD_CHECK(run.Run(), "the destination was refused");

    CHILD_CHECK(run.prompt.diskFull.size() == 2, "not asked twice");
    std::sort(seenAtFirstQuestion.begin(), seenAtFirstQuestion.end());
    CHILD_CHECK((seenAtFirstQuestion == std::vector<std::string>{"__index.txt", "clips.dll.avi"}),
                "the cut clip was left at the first question");
    CHILD_CHECK(run.outcome == RunEnd::Failed, "the run did not stop after Cancel");
    const DestinationCheck check = CheckDestination(run.destination);
    CHILD_CHECK(check.ok(), "index and files differ:\n" + check.describe());
    const int written = check.files.count("Videos") ? check.files.at("Videos") : 0;
    CHILD_CHECK(written == run.counts[4], "counted " + std::to_string(run.counts[4]) + ", written " +
                                              std::to_string(written));
    CHILD_CHECK(written >= 3 && written < kClips, "written: " + std::to_string(written));
    // Each name holds its own clip, whole: the retried one too.
    for (int n = 1; n <= written; ++n) {
        const std::string name = n == 1 ? "clips.dll.avi" : "clips.dll (" + std::to_string(n) + ").avi";
        const std::string bytes = ReadText(videos + "/" + name);
        const auto expected = Clip(n, kClip);
        CHILD_CHECK(bytes == std::string(expected.begin(), expected.end()), name + " does not hold clip " +
                                                                                 std::to_string(n));
    }
    return problems;
}

TEST(DiskFull, RetryWritesTheSameResourceOnceAndCancelKeepsEverything) {
    Scratch scratch;
    const std::string mountPoint = scratch / "disk";
    const std::string src = scratch / "src";
    fs::create_directories(mountPoint);
    fs::create_directories(src);
    if (::geteuid() != 0)
        GTEST_SKIP() << "only the super-user mounts a small file system; the budget test stands in";
    EXPECT_EXIT(
        {
            if (!PrivateMounts() || ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
                ExitWith("cannot mount a small file system\n");
            SmallFileSystem disk(mountPoint);
            ExitWith(DiskFillsUpScenario(disk, src));
        },
        ::testing::ExitedWithCode(0), "");
}

// The same through the engine's file system with a budget of bytes, which needs no rights.
TEST(DiskFull, TheSameWithABudgetOfBytes) {
    Scratch scratch;
    fs::create_directories(scratch / "disk");
    fs::create_directories(scratch / "src");
    BudgetFileSystem budget(scratch / "disk", 1 << 20);
    EXPECT_EQ(DiskFillsUpScenario(budget, scratch / "src"), "");
}

// ---- the destination goes away or turns read-only ----------------------------------------

enum class DestinationFault { Removed, KindFolderRemoved, MovedAway, ReadOnly };

struct DestinationCase {
    DestinationFault fault;
    const char* name;
};

class DestinationFaults : public ::testing::TestWithParam<DestinationCase> {};

// Five modules of two bitmaps each; before the third is extracted, the fault strikes.
std::string DestinationScenario(const std::string& root, DestinationFault fault) {
    std::string problems;
    const std::string src = root + "/src";
    fs::create_directories(src);
    for (const char* name : {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"})
        WriteModule(src + "/" + name, BitmapModule(2));

    InProcessRun run;
    run.folder = src;
    run.destination = root + "/out";
    run.kinds = KindSwitches{true, true, false, false, false, false};
    const std::string moved = root + "/moved";
    run.beforeFile = [&](const std::string&) {
        if (run.filesSeen.size() != 3)
            return;
        switch (fault) {
        case DestinationFault::Removed: fs::remove_all(run.destination); break;
        case DestinationFault::KindFolderRemoved: fs::remove_all(run.destination + "/Bitmaps"); break;
        case DestinationFault::MovedAway: fs::rename(run.destination, moved); break;
        case DestinationFault::ReadOnly:
            if (PrivateMounts()) {
                ::mount(run.destination.c_str(), run.destination.c_str(), nullptr, MS_BIND, nullptr);
                ::mount(nullptr, run.destination.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
            } else {
                for (const char* folder : {"", "/Bitmaps", "/Icons"})
                    fs::permissions(run.destination + folder, fs::perms::owner_read | fs::perms::owner_exec);
            }
            break;
        }
    };
    CHILD_CHECK(run.Run(), "the destination was refused");
    CHILD_CHECK(run.outcome == RunEnd::Failed, "the run went on after the fault");
    CHILD_CHECK(run.filesSeen.size() == 3, "files handed on after the fault: " + std::to_string(run.filesSeen.size()));
    CHILD_CHECK(run.prompt.errors.size() == 2 && run.prompt.errors.back() == kSearchError,
                "the error and the closing message were not shown");
    if (!run.prompt.errors.empty())
        CHILD_CHECK(run.prompt.errors.front().find(run.destination) == 0,
                    "the error does not name the path: " + run.prompt.errors.front());
    CHILD_CHECK(run.counts[0] == 4, "bitmaps counted: " + std::to_string(run.counts[0]));

    switch (fault) {
    case DestinationFault::Removed:
        CHILD_CHECK(!fs::exists(run.destination), "the destination was made again");
        break;
    case DestinationFault::KindFolderRemoved:
        CHILD_CHECK(!fs::exists(run.destination + "/Bitmaps"), "the kind folder was made again");
        break;
    case DestinationFault::MovedAway: {
        CHILD_CHECK(!fs::exists(run.destination), "the destination was made again");
        const DestinationCheck check = CheckDestination(moved);
        CHILD_CHECK(check.ok(), "index and files differ:\n" + check.describe());
        CHILD_CHECK(check.files.at("Bitmaps") == 4, "the moved files are not all there");
        break;
    }
    case DestinationFault::ReadOnly: {
        const DestinationCheck check = CheckDestination(run.destination);
        CHILD_CHECK(check.ok(), "index and files differ:\n" + check.describe());
        CHILD_CHECK(check.files.at("Bitmaps") == 4, "files written before are not all there");
        break;
    }
    }
    return problems;
}

TEST_P(DestinationFaults, TheRunStopsWithAMessageAndKeepsWhatWasWritten) {
    Scratch scratch;
    const DestinationFault fault = GetParam().fault;
    if (fault == DestinationFault::ReadOnly && ::geteuid() != 0) {
        // Permissions bind an ordinary user: no mount needed.
        EXPECT_EQ(DestinationScenario(scratch.path(), fault), "");
        return;
    }
    EXPECT_EXIT(ExitWith(DestinationScenario(scratch.path(), fault)), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Hostile, DestinationFaults,
                         ::testing::Values(DestinationCase{DestinationFault::Removed, "Removed"},
                                           DestinationCase{DestinationFault::KindFolderRemoved, "KindFolderRemoved"},
                                           DestinationCase{DestinationFault::MovedAway, "MovedAway"},
                                           DestinationCase{DestinationFault::ReadOnly, "ReadOnly"}),
                         [](const ::testing::TestParamInfo<DestinationCase>& param) { return param.param.name; });

// ---- the registry store --------------------------------------------------------------------

// Another program that holds the store in an exclusive transaction for `hold`, started
// once the lock is taken.
class StoreLocker {
public:
    StoreLocker(const std::string& path, std::chrono::milliseconds hold) {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            sqlite3* db = nullptr;
            if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
                sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
                std::_Exit(1);
            const char one = 1;
            (void)::write(ready[1], &one, 1);
            std::this_thread::sleep_for(hold);
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            std::_Exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        m_locked = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~StoreLocker() {
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    StoreLocker(const StoreLocker&) = delete;
    StoreLocker& operator=(const StoreLocker&) = delete;
    [[nodiscard]] bool locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};

class StoreFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("HARVIX_REGISTRY"))
            m_old = old;
        ::setenv("HARVIX_REGISTRY", store.c_str(), 1);
        fs::create_directories(src);
        WriteModule(src + "/a.dll", BitmapModule(1));
        WriteModule(src + "/b.ocx", BitmapModule(2));
        saved = DefaultSettings();
        saved.Mask = "*.ocx";
        saved.DestPath = scratch / "out";
        ASSERT_TRUE(SaveSettings(saved).ok());
    }
    void TearDown() override {
        if (m_old)
            ::setenv("HARVIX_REGISTRY", m_old->c_str(), 1);
        else
            ::unsetenv("HARVIX_REGISTRY");
    }

    // harvix-cli extract from the saved settings, with the source folder given.
    ChildRun ExtractSaved(const ChildOptions& options = {}) {
        ChildOptions o = options;
        o.environment.push_back("HARVIX_REGISTRY=" + store);
        return RunExtract({"--saved", "--yes", src}, o);
    }

    Scratch scratch;
    std::string store = scratch / "config/registry.sqlite3";
    std::string src = scratch / "src";
    Settings saved;

private:
    std::optional<std::string> m_old;
};

// A lock held briefly by another copy only delays reading and writing; nothing is lost.
TEST_F(StoreFaults, ABrieflyLockedStoreIsWaitedFor) {
    {
        StoreLocker locker(store, std::chrono::milliseconds(1500));
        ASSERT_TRUE(locker.locked());
        const ChildRun run = ExtractSaved();
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(PrintedCounts(run.out)["Bitmap"], 2) << "the saved mask *.ocx was not used";
        EXPECT_TRUE(CheckDestination(saved.DestPath).ok());
    }
    {
        StoreLocker locker(store, std::chrono::milliseconds(1500));
        Settings changed = saved;
        changed.Mask = "*.scr";
        EXPECT_TRUE(SaveSettingsAtExit(changed));
    }
    EXPECT_EQ(LoadSettings().value().Mask, "*.scr");
}

// A lock held for longer than one wait of the store: the save at the end either waits it
// out or gives up with a message; either way the store holds one whole set of settings,
// the old or the new, and the next save works.
TEST_F(StoreFaults, AStoreLockedForLongLosesNothing) {
    Settings changed = saved;
    changed.Mask = "*.scr";
    changed.Priority = 5;
    {
        StoreLocker locker(store, std::chrono::seconds(11));
        ASSERT_TRUE(locker.locked());
        ::testing::internal::CaptureStderr();
        const bool stored = SaveSettingsAtExit(changed);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(stored, err.empty()) << err;
    }
    const Settings after = LoadSettings().value();
    EXPECT_TRUE(after == saved || after == changed) << "a mixture of old and new settings";
    changed.Mask = "*.cpl";
    EXPECT_TRUE(SaveSettingsAtExit(changed));
    EXPECT_EQ(LoadSettings().value(), changed);
}

// A store held by another program for longer than one wait: the save gives up after that
// one wait, not after one wait per value, and says so.
TEST_F(StoreFaults, ASaveGivesUpAfterOneWaitForABusyStore) {
    Settings changed = saved;
    changed.Mask = "*.scr";
    StoreLocker locker(store, std::chrono::seconds(14));
    ASSERT_TRUE(locker.locked());
    const auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(SaveSettingsAtExit(changed));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
    EXPECT_NE(err.find("in use by another program"), std::string::npos) << err;
}

// Loading from a store held by another program gives the defaults after one wait, not
// after a wait for each of the twelve values.
TEST_F(StoreFaults, ALoadGivesTheDefaultsAfterOneWaitForABusyStore) {
    StoreLocker locker(store, std::chrono::seconds(14));
    ASSERT_TRUE(locker.locked());
    const auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStderr();
    const Settings loaded = LoadSettingsOrDefaults();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
    EXPECT_EQ(loaded, DefaultSettings());
    EXPECT_NE(err.find("in use by another program"), std::string::npos) << err;
}

// A store that may be read but not written: the run uses it, the save at the end fails
// quietly and the store keeps what it had.
TEST_F(StoreFaults, AReadOnlyStoreIsReadAndKept) {
    const std::string before = ReadText(store);
    const std::string folder = fs::path(store).parent_path().string();
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    ::chmod(scratch.path().c_str(), 0777);
    ChildOptions asNobody;
    if (::geteuid() == 0)
        asNobody.runAs = UnprivilegedUser();
    else
        ::chmod(store.c_str(), 0444);
    const ChildRun run = ExtractSaved(asNobody);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(PrintedCounts(run.out)["Bitmap"], 2);

    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(UnprivilegedUser()) != 0 || ::setuid(UnprivilegedUser()) != 0))
                ExitWith("cannot become an ordinary user\n");
            Settings changed = saved;
            changed.Mask = "*.scr";
            std::string problems;
            CHILD_CHECK(!SaveSettingsAtExit(changed), "a read-only store took a write");
            CHILD_CHECK(LoadSettings().value().Mask == "*.ocx", "the stored settings changed");
            ExitWith(problems);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadText(store), before);
}

// A damaged store: the run goes on with the defaults, and reading does not touch it.
TEST_F(StoreFaults, ADamagedStoreGivesTheDefaults) {
    std::string garbage;
    for (int i = 0; i < 300; ++i)
        garbage += "not a store ";
    fs::remove(store);
    std::ofstream(store, std::ios::binary) << garbage;
    const ChildRun run = RunExtract({"--saved", "--yes", "--dest", scratch / "out", src},
                                    ChildOptions{std::chrono::seconds(30), {}, {"HARVIX_REGISTRY=" + store}});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(PrintedCounts(run.out)["Bitmap"], 3) << "the default mask takes both modules";
    EXPECT_TRUE(CheckDestination(scratch / "out").ok());
    EXPECT_EQ(ReadText(store), garbage);
}

} // namespace
} // namespace harvix::hostile
