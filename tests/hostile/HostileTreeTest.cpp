// Runs over trees built to trip the search and the engine: link cycles, special files
// named like modules, folders and files nobody may read, files that change under the
// run, a 2 GiB module, a module of 65,535 bitmaps, names of every byte, and folders
// nested deeper than a path can name. Each run must go on to its end with counts that
// match what was written, an index that matches the files, and a peak memory that does
// not follow the size of the tree or of the module.
#include "tests/hostile/HostileSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

namespace harvix::hostile {
namespace {

namespace mb = harvix::modbuilder;

class HostileTree : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(src);
        ::chmod(src.c_str(), 0755);
    }

    // harvix-cli extract of `src` into a new destination, every kind, defaults otherwise.
    ChildRun Extract(std::vector<std::string> extra = {}, const ChildOptions& options = {}) {
        std::vector<std::string> args{"--dest", dest, "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(src);
        ChildOptions o = options;
        o.environment.push_back("HARVIX_REGISTRY=" + scratch / "registry.sqlite3");
        return RunExtract(args, o);
    }

    // The run ended by itself, completed, within its time, and within the memory bound.
    static void ExpectCompleted(const ChildRun& run) {
        EXPECT_FALSE(run.timedOut) << "the run blocked or looped";
        EXPECT_EQ(run.signal, 0) << "the run was killed by signal " << run.signal;
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_LT(run.peakRssKiB, PeakRssBoundKiB()) << "peak resident size in KiB";
    }

    // The printed counts are the files there, and the index tells the same.
    void ExpectConsistent(const ChildRun& run, long bitmaps) {
        const auto counts = PrintedCounts(run.out);
        EXPECT_EQ(counts.at("Bitmap"), bitmaps) << run.out;
        const DestinationCheck check = CheckDestination(dest);
        EXPECT_TRUE(check.ok()) << check.describe();
        EXPECT_EQ(check.files.at("Bitmaps"), bitmaps);
        EXPECT_EQ(check.records.at("Bitmaps"), bitmaps);
    }

    Scratch scratch;
    std::string src = scratch / "src";
    std::string dest = scratch / "out";
};

TEST_F(HostileTree, LinkCyclesEndAndLinksToModulesAreFiles) {
    WriteModule(src + "/a.dll", BitmapModule(2));
    fs::create_directories(src + "/sub/deeper");
    WriteModule(src + "/sub/deeper/b.dll", BitmapModule(1));
    fs::create_symlink("..", src + "/sub/up");                 // back to the parent
    fs::create_symlink(src, src + "/sub/deeper/top");          // absolute, to the top
    fs::create_symlink("self", src + "/self");                 // a link to itself
    fs::create_symlink("loop2", src + "/loop1");               // two links round
    fs::create_symlink("loop1", src + "/loop2");
    fs::create_symlink("a.dll", src + "/alias.dll");           // a module by another name
    fs::create_symlink("missing.dll", src + "/dangling.dll");  // pointing at nothing
    fs::create_symlink("sub", src + "/folder.dll");            // a folder named like a module

    const ChildRun run = Extract({}, ChildOptions{std::chrono::seconds(20), {}, {}});
    ExpectCompleted(run);
    ExpectConsistent(run, 2 + 1 + 2);
}

TEST_F(HostileTree, SpecialFilesNamedLikeModulesNeverBlock) {
    WriteModule(src + "/real.dll", BitmapModule(1));
    ASSERT_EQ(::mkfifo((src + "/pipe.dll").c_str(), 0644), 0);
    // A pipe with a writer that never writes: opening it for reading would not block,
    // but reading it would.
    const int writer = ::open((src + "/pipe.dll").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string sockPath = src + "/socket.dll";
    ASSERT_LT(sockPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(sock, 1), 0);

    bool devices = false;
    if (::geteuid() == 0) {
        // A terminal-like and a zero-filled character device, and a block device.
        devices = ::mknod((src + "/tty.dll").c_str(), S_IFCHR | 0666, makedev(5, 0)) == 0 &&
                  ::mknod((src + "/zero.exe").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0 &&
                  ::mknod((src + "/disk.ocx").c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0;
    }

    const ChildRun run = Extract({}, ChildOptions{std::chrono::seconds(20), {}, {}});
    ::close(writer);
    ::close(sock);
    ExpectCompleted(run);
    ExpectConsistent(run, 1);
    if (!devices)
        std::printf("device nodes not tested (needs root)\n");
}

TEST_F(HostileTree, UnreadableFoldersAndFilesAreSkipped) {
    WriteModule(src + "/readable.dll", BitmapModule(1));
    fs::create_directories(src + "/closed");
    WriteModule(src + "/closed/inside.dll", BitmapModule(1));
    fs::create_directories(src + "/listonly");
    WriteModule(src + "/listonly/behind.dll", BitmapModule(1));
    fs::create_directories(src + "/open");
    WriteModule(src + "/open/visible.dll", BitmapModule(1));
    WriteModule(src + "/secret.dll", BitmapModule(1));
    ASSERT_EQ(::chmod((src + "/closed").c_str(), 0), 0);       // no listing, no passage
    ASSERT_EQ(::chmod((src + "/listonly").c_str(), 0444), 0);  // listing, but no passage
    ASSERT_EQ(::chmod((src + "/secret.dll").c_str(), 0), 0);   // listed, not readable

    // The super-user reads everything; the run is then made by a user without rights.
    ChildOptions options{std::chrono::seconds(20), {}, {}};
    if (::geteuid() == 0) {
        options.runAs = UnprivilegedUser();
        ::chmod(scratch.path().c_str(), 0777);
    }
    const ChildRun run = Extract({}, options);
    ExpectCompleted(run);
    ExpectConsistent(run, 2);
}

// A module that is a sparse file of 2 GiB, its headers at the start and its resources
// in the last kilobytes.
TEST_F(HostileTree, TwoGibModuleWithItsResourcesAtTheEnd) {
    mb::ModuleBuilder b = BitmapModule(3);
    b.add(ResId::name("AVI"), ResId::name("CLIP"), 0x409,
          mb::makeAvi(8, 8, 2, 5, [](int f) { return mb::pictures::frame(f, 2); }));
    const std::uint64_t twoGib = std::uint64_t{2} << 30;
    const mb::SplitImage image = b.buildSplit(twoGib - 64 * 1024);
    ASSERT_TRUE(mb::writeSparseFile(src + "/huge.dll", image));
    ASSERT_GE(fs::file_size(src + "/huge.dll"), twoGib - 64 * 1024);

    const ChildRun run = Extract({}, ChildOptions{std::chrono::seconds(30), {}, {}});
    ExpectCompleted(run);
    ExpectConsistent(run, 3);
    EXPECT_EQ(PrintedCounts(run.out).at("Video (AVI)"), 1);
}

TEST_F(HostileTree, ModuleOfTheMostBitmapsADirectoryHolds) {
    constexpr int kCount = 65535;
    mb::ModuleBuilder b;
    const auto dib = mb::makeDib(1, 1, 1, mb::pictures::checker(1));
    for (int i = 1; i <= kCount; ++i)
        b.add(ResId::of(ResType::Bitmap), ResId::number(static_cast<std::uint16_t>(i)), 0x409, dib);
    WriteModule(src + "/many.dll", b);

    const ChildRun run =
        Extract({"--kinds", "bitmap", "--bitmap-limits", "1-32;0-3000;0-48"}, ChildOptions{std::chrono::seconds(120), {}, {}});
    ExpectCompleted(run);
    ExpectConsistent(run, kCount);
    EXPECT_TRUE(fs::exists(dest + "/Bitmaps/many.dll (65535).bmp"));
    std::printf("65,535 bitmaps: %lld ms, peak %ld KiB\n", static_cast<long long>(run.elapsed.count()), run.peakRssKiB);
}

// Module and folder names holding each byte a Linux name may hold (1 to 255 but "/"),
// and a web page whose resource name holds every character from U+0001 to U+00FF.
TEST_F(HostileTree, NamesOfEveryByte) {
    std::u16string everyCharacter;
    for (char16_t c = 1; c <= 0xFF; ++c)
        everyCharacter.push_back(c);
    mb::ModuleBuilder withPage = BitmapModule(1);
    withPage.add(ResId::of(ResType::Html), mb::RawName{everyCharacter}, 0x409, mb::makeHtml("t", "b"));
    WriteModule(src + "/page.dll", withPage);

    int modules = 1;
    for (int byte = 1; byte <= 255; ++byte) {
        if (byte == '/')
            continue;
        const std::string name = "m" + std::string(1, static_cast<char>(byte)) + ".dll";
        WriteModule(src + "/" + name, BitmapModule(1));
        const std::string folder = src + "/" + std::string(1, static_cast<char>(byte)) + "d";
        fs::create_directory(folder);
        WriteModule(folder + "/x.dll", BitmapModule(1));
        modules += 2;
    }

    const ChildRun run = Extract({}, ChildOptions{std::chrono::seconds(30), {}, {}});
    ExpectCompleted(run);
    ExpectConsistent(run, modules);
    EXPECT_EQ(PrintedCounts(run.out).at("Web page"), 1);
    for (int byte = 1; byte <= 255; ++byte) {
        if (byte == '/' || byte == '\r' || byte == '\n')
            continue;
        EXPECT_TRUE(fs::exists(dest + "/Bitmaps/m" + std::string(1, static_cast<char>(byte)) + ".dll.bmp"))
            << byte;
    }
    // A CR or LF is "_" in a file name as in its record; the three names that meet so
    // are told apart by their numbers.
    for (const char* name : {"m_.dll.bmp", "m_.dll (2).bmp", "m_.dll (3).bmp"})
        EXPECT_TRUE(fs::exists(dest + "/Bitmaps/" + name)) << name;
    // The page's file name holds no character a file name must not hold, and fits (its
    // name is cut: stem first, then the source name).
    for (const auto& entry : fs::directory_iterator(dest + "/Web pages")) {
        const std::string name = entry.path().filename().string();
        if (name == "__index.txt")
            continue;
        EXPECT_LE(name.size(), 255u);
        EXPECT_EQ(name.find_first_of(std::string("\\:*?<>|\"\x01\x1f", 11)), std::string::npos) << name;
    }
}

// Folders nested so deep that the path of the lowest is longer than PATH_MAX: they are
// made and filled through descriptors, as no path reaches them. The walk goes down to
// the bottom, and the modules there are opened folder by folder and extracted too.
TEST_F(HostileTree, FoldersNestedBeyondTheLongestPath) {
    constexpr int kDepth = 48;
    const std::string level(100, 'n');
    static_assert(kDepth * 101 > PATH_MAX);
    const auto image = BitmapModule(1).build();
    int fd = ::open(src.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    long beyondPathMax = 0;
    for (int depth = 1; depth <= kDepth; ++depth) {
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0) << depth;
        const int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0) << depth;
        fd = next;
        if (depth == 2 || depth == kDepth / 2 || depth == kDepth) {
            const int file = ::openat(fd, "m.dll", O_WRONLY | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(file, 0);
            ASSERT_EQ(::write(file, image.data(), image.size()), static_cast<ssize_t>(image.size()));
            ::close(file);
            const std::size_t pathLength = src.size() + static_cast<std::size_t>(depth) * 101 + 6;
            beyondPathMax += pathLength < PATH_MAX ? 0 : 1;
        }
    }
    ::close(fd);
    ASSERT_EQ(beyondPathMax, 1);

    const ChildRun run = Extract({}, ChildOptions{std::chrono::seconds(30), {}, {}});
    ExpectCompleted(run);
    ExpectConsistent(run, 3);
    EXPECT_LT(run.peakRssKiB, PeakRssBoundKiB());
}

// Files that change between the listing and the extraction: the FileFound handler
// removes, empties, cuts or replaces them before the engine opens them.
TEST(ChangingFiles, ShrinkOrVanishBetweenListingAndOpening) {
    Scratch scratch;
    const std::string src = scratch / "src";
    fs::create_directories(src);
    for (const char* name : {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"})
        WriteModule(src + "/" + name, BitmapModule(3));

    InProcessRun run;
    run.folder = src;
    run.destination = scratch / "out";
    run.beforeFile = [](const std::string& path) {
        const std::string name = fs::path(path).filename().string();
        if (name == "a.dll")
            fs::remove(path);                       // gone
        else if (name == "b.dll")
            fs::resize_file(path, 0);               // emptied
        else if (name == "c.dll")
            fs::resize_file(path, 1024);            // only its headers left
        else if (name == "e.dll") {
            fs::remove(path);                       // a folder in its place
            fs::create_directory(path);
        }
    };
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.outcome, RunEnd::Completed);
    EXPECT_EQ(run.filesSeen.size(), 5u);
    EXPECT_EQ(run.counts[0], 3);
    EXPECT_TRUE(run.prompt.errors.empty());
    const DestinationCheck check = CheckDestination(run.destination);
    EXPECT_TRUE(check.ok()) << check.describe();
    EXPECT_EQ(check.files.at("Bitmaps"), 3);
}

// A module cut short by another program after it was opened: the bytes of its
// resources vanish from under the reader.
TEST(ChangingFiles, ShrinkWhileTheModuleIsOpen) {
    Scratch scratch;
    const std::string src = scratch / "src";
    fs::create_directories(src);
    // Big enough to be read in parts rather than whole: about 740 KiB of bitmaps.
    mb::ModuleBuilder big;
    const auto dib = mb::makeDib(48, 48, 32, mb::pictures::gradient());
    for (std::uint16_t id = 1; id <= 80; ++id)
        big.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, dib);
    WriteModule(src + "/cut.dll", big);
    WriteModule(src + "/whole.dll", BitmapModule(2));

    EXPECT_EXIT(
        {
            InProcessRun run;
            run.folder = src;
            run.destination = scratch / "out";
            run.opener = [](const std::string& path) {
                auto module = OpenModule(path);
                if (fs::path(path).filename() == "cut.dll")
                    fs::resize_file(path, 4096);
                return module;
            };
            const bool ran = run.Run();
            const DestinationCheck check = CheckDestination(run.destination);
            const bool whole = fs::exists(run.destination + "/Bitmaps/whole.dll (2).bmp");
            // The bitmaps beyond the cut were not there to be read.
            const bool cut = !fs::exists(run.destination + "/Bitmaps/cut.dll (80).bmp");
            std::fprintf(stderr, "ran %d outcome %d whole %d cut %d bitmaps %lld problems:\n%s", ran,
                         run.outcome ? static_cast<int>(*run.outcome) : -1, whole, cut, static_cast<long long>(run.counts[0]),
                         check.describe().c_str());
            std::exit(ran && run.outcome == RunEnd::Completed && whole && cut && check.ok() &&
                              check.files.at("Bitmaps") == run.counts[0]
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Another program cuts modules short and lets them grow again, over and over, while
// runs read them: small modules (read whole), larger ones (headers and resource section)
// and one whose resource section is too large to hold (read in blocks). Every run ends
// normally with an index that matches its files.
TEST(ChangingFiles, TruncatedAndRegrownInALoopWhileRunsReadThem) {
    Scratch scratch;
    const std::string src = scratch / "src";
    fs::create_directories(src);
    mb::ModuleBuilder parts;
    mb::ModuleBuilder blocks;
    const auto dib = mb::makeDib(48, 48, 32, mb::pictures::gradient());
    for (std::uint16_t id = 1; id <= 40; ++id)
        parts.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, dib);
    for (std::uint16_t id = 1; id <= 120; ++id)
        blocks.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, dib);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> modules;
    for (int i = 0; i < 3; ++i) {
        modules.emplace_back(src + "/small" + std::to_string(i) + ".dll", BitmapModule(6).build());
        auto padded = parts.build();
        padded.resize(padded.size() + 300 * 1024, 0);
        modules.emplace_back(src + "/parts" + std::to_string(i) + ".dll", std::move(padded));
        modules.emplace_back(src + "/blocks" + std::to_string(i) + ".dll", blocks.build());
    }
    for (const auto& [path, bytes] : modules)
        ASSERT_TRUE(mb::writeFile(path, bytes).ok());

    std::atomic<bool> done{false};
    std::thread changer([&] {
        std::mt19937 random(14);
        while (!done.load()) {
            const auto& [path, bytes] = modules[random() % modules.size()];
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            (void)::ftruncate(fd, static_cast<off_t>(random() % bytes.size()));
            std::this_thread::yield();
            (void)::pwrite(fd, bytes.data(), bytes.size(), 0);
            ::close(fd);
        }
    });
    for (int round = 0; round < 6; ++round) {
        InProcessRun run;
        run.folder = src;
        run.destination = scratch / ("out" + std::to_string(round));
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(run.outcome, RunEnd::Completed) << round;
        EXPECT_TRUE(run.prompt.errors.empty()) << round;
        const DestinationCheck check = CheckDestination(run.destination);
        EXPECT_TRUE(check.ok()) << round << ": " << check.describe();
        const auto bitmaps = check.files.find("Bitmaps");
        EXPECT_EQ(bitmaps == check.files.end() ? 0 : bitmaps->second, run.counts[0]) << round;
    }
    done = true;
    changer.join();
}

} // namespace
} // namespace harvix::hostile
