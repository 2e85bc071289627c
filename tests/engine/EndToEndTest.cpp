// The engine on real module files, written by the module builder and read through
// OpenModule.
#include "extract/Destination.h"
#include "tests/engine/EngineTestSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace harvix {
namespace {

using namespace harvix::testing;
namespace mb = harvix::modbuilder;

// Every file in a kind folder has exactly one record there, and every record names a
// file that is there.
void ExpectIndexMatchesFiles(const std::string& destination) {
    for (ResourceKind kind : kAllResourceKinds) {
        const std::string folder = destination + "/" + std::string(KindFolder(kind));
        std::map<std::string, int> recorded;
        for (const auto& line : CrLfLines(ReadFileText(folder + "/__index.txt"))) {
            const auto cut = line.find(" - SOURCE FILE = ");
            if (cut != std::string::npos)
                ++recorded[line.substr(0, cut)];
        }
        std::map<std::string, int> files;
        for (const auto& name : ListDir(folder))
            if (name != "__index.txt" && std::filesystem::is_regular_file(folder + "/" + name))
                ++files[name];
        EXPECT_EQ(recorded, files) << folder;
    }
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(PrepareDestination(dest, KindSwitches{true, true, true, true, true, true},
                                        {"/w", true, "*.dll"}, prompt));
    }
    // True when a write error stopped the extraction. The run's engine is made with the
    // options as they are at the first call.
    bool Extract(const std::string& path) {
        if (!core) {
            ExtractionOptions given = options;
            given.destinationFolder = dest;
            core = std::make_unique<mResCore>(given, prompt);
        }
        return core->ExtractFromFile(path, target).failed();
    }
    int Count(ResourceKind kind) const {
        int n = 0;
        for (const auto& f : target.found)
            n += f.kind == KindIndex(kind) ? 1 : 0;
        return n;
    }

    ScratchDir dir;
    std::string dest = dir / "out";
    ExtractionOptions options;
    ScriptedPrompt prompt;
    CollectingTarget target;
    std::unique_ptr<mResCore> core;
};

mb::ModuleBuilder SampleModule() {
    mb::ModuleBuilder b(mb::Machine::Pe32Plus);
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x409,
          mb::makeDib(32, 32, 8, mb::pictures::gradient()));
    b.add(ResId::of(ResType::Bitmap), ResId::number(102), 0x409,
          mb::makeDib(16, 16, 24, mb::pictures::checker(4)));
    b.add(ResId::of(ResType::Bitmap), ResId::number(103), 0x409,
          mb::makeDib(32, 32, 1, mb::pictures::checker(2)));
    mb::addIconGroup(b, ResId::name("MAIN"), 1,
                     {{16, 16, 8}, {32, 32, 8}, {32, 32, 32}, {48, 48, 32}},
                     mb::pictures::disc({200, 20, 20, 255}));
    mb::addCursorGroup(b, ResId::number(1), 1, {{32, 32, 1}}, mb::pictures::arrow(), 3, 5);
    b.add(ResId::of(ResType::AniCursor), ResId::number(1), 0x409,
          mb::makeAni({mb::makeCursorFile(32, 32, 4, 0, 0, mb::pictures::frame(0, 2)),
                       mb::makeCursorFile(32, 32, 4, 0, 0, mb::pictures::frame(1, 2))},
                      10));
    b.add(ResId::name("AVI"), ResId::name("CLIP"), 0x409,
          mb::makeAvi(8, 8, 2, 5, [](int f) { return mb::pictures::frame(f, 2); }));
    b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, mb::makeHtml("About", "Hello"));
    b.add(ResId::of(ResType::Version), ResId::number(1), 0x409,
          mb::makeVersionInfo({1, 2, 3, 4}, {1, 2, 3, 4}, "x"));
    return b;
}

TEST_F(EndToEnd, EveryKindOfASampleModule) {
    const std::string module = dir / "sample.dll";
    ASSERT_TRUE(mb::writeFile(module, SampleModule().build()));
    EXPECT_FALSE(Extract(module));

    EXPECT_EQ(Count(ResourceKind::Bitmap), 2);
    EXPECT_EQ(Count(ResourceKind::Icon), 1);
    EXPECT_EQ(Count(ResourceKind::Cursor), 1);
    EXPECT_EQ(Count(ResourceKind::AniCursor), 1);
    EXPECT_EQ(Count(ResourceKind::Video), 1);
    EXPECT_EQ(Count(ResourceKind::Html), 1);
    EXPECT_TRUE(prompt.errors.empty());

    EXPECT_EQ(ListDir(dest + "/Bitmaps"),
              (std::vector<std::string>{"__index.txt", "sample.dll (2).bmp", "sample.dll.bmp"}));
    EXPECT_EQ(ListDir(dest + "/Icons"),
              (std::vector<std::string>{"16x16", "32x32", "__index.txt", "sample.dll.ico"}));
    EXPECT_EQ(ListDir(dest + "/Icons/32x32"), (std::vector<std::string>{"32", "8"}));
    EXPECT_TRUE(std::filesystem::exists(dest + "/Web pages/sample.dll - ABOUT.HTM"));
    const ByteVector avi = ReadFileBytes(dest + "/Videos/sample.dll.avi");
    ASSERT_GE(avi.size(), 12u);
    EXPECT_EQ(std::string(avi.begin(), avi.begin() + 4), "RIFF");
    const ByteVector cur = ReadFileBytes(dest + "/Cursors/sample.dll.cur");
    ASSERT_GE(cur.size(), 22u);
    EXPECT_EQ(U16At(cur, 10), 3);
    EXPECT_EQ(U16At(cur, 12), 5);
    EXPECT_EQ(U32At(cur, 18), 22u);
    EXPECT_EQ(cur.size(), 22u + U32At(cur, 14));
    ExpectIndexMatchesFiles(dest);

    // The same file again, in the same run, numbers on.
    EXPECT_FALSE(Extract(module));
    EXPECT_TRUE(std::filesystem::exists(dest + "/Bitmaps/sample.dll (4).bmp"));
    ExpectIndexMatchesFiles(dest);
}

// The image each entry of the directory of an .ico or .cur file stands for: its width,
// its height and its bytes from its offset on.
struct DirectoryEntry {
    int width, height;
    ByteVector image;
    friend bool operator==(const DirectoryEntry&, const DirectoryEntry&) = default;
};
std::vector<DirectoryEntry> IconDirectory(const ByteVector& file) {
    std::vector<DirectoryEntry> entries;
    for (std::size_t i = 0; i < U16At(file, 4); ++i) {
        const std::size_t e = 6 + 16 * i;
        const std::size_t offset = U32At(file, e + 12);
        entries.push_back({file[e], file[e + 1],
                           ByteVector(file.begin() + static_cast<std::ptrdiff_t>(offset),
                                      file.begin() + static_cast<std::ptrdiff_t>(offset + U32At(file, e + 8)))});
    }
    return entries;
}

// A group whose entry states another size than its image has: the files state the
// image's own size, and its per-size file goes to its own size's folder, beside (never
// over) the file of the image really of the size stated.
TEST_F(EndToEnd, GroupEntriesStateTheirImagesOwnSize) {
    const auto picture = mb::pictures::disc({20, 120, 200, 255});
    const ByteVector small = mb::makeIconImage(16, 16, 8, picture);
    const ByteVector large = mb::makeIconImage(32, 32, 8, picture);
    mb::ModuleBuilder b(mb::Machine::Pe32Plus);
    mb::GroupImage statedLarge{16, 16, 8};
    statedLarge.stated.width = 32;
    statedLarge.stated.height = 32;
    mb::addIconGroup(b, ResId::number(1), 1, {statedLarge, {32, 32, 8}}, picture);
    mb::GroupImage cursor{16, 16, 1};
    cursor.stated.width = 32;
    cursor.stated.height = 64;
    mb::addCursorGroup(b, ResId::number(1), 1, {cursor}, mb::pictures::arrow(), 3, 5);
    const std::string module = dir / "sized.dll";
    ASSERT_TRUE(mb::writeFile(module, b.build()));
    EXPECT_FALSE(Extract(module));

    const std::vector<DirectoryEntry> group = IconDirectory(ReadFileBytes(dest + "/Icons/sized.dll.ico"));
    EXPECT_EQ(group, (std::vector<DirectoryEntry>{{16, 16, small}, {32, 32, large}}));
    EXPECT_EQ(IconDirectory(ReadFileBytes(dest + "/Icons/16x16/8/sized.dll.ico")),
              (std::vector<DirectoryEntry>{{16, 16, small}}));
    EXPECT_EQ(IconDirectory(ReadFileBytes(dest + "/Icons/32x32/8/sized.dll.ico")),
              (std::vector<DirectoryEntry>{{32, 32, large}}));
    const ByteVector cur = ReadFileBytes(dest + "/Cursors/sized.dll.cur");
    ASSERT_GE(cur.size(), 22u);
    EXPECT_EQ(cur[6], 16);
    EXPECT_EQ(cur[7], 16);
    ExpectIndexMatchesFiles(dest);
}

// A picture of more than 256 pixels is stated as 0, as the format says (not as its size
// modulo 256), whatever its entry states; the icon limits take it as 0 too.
TEST_F(EndToEnd, PicturesBeyond256PixelsAreStatedAsZero) {
    const auto picture = mb::pictures::gradient();
    mb::ModuleBuilder b(mb::Machine::Pe32Plus);
    mb::GroupImage huge{512, 512, 32};
    huge.png = true;                      // stated 0 x 0, as resource compilers write it
    mb::GroupImage misstated = huge;      // stated 300 modulo 256, as a careless one does
    misstated.width = misstated.height = 300;
    misstated.stated.width = misstated.stated.height = 300 % 256;
    mb::addIconGroup(b, ResId::number(1), 1, {huge, misstated, {32, 32, 8}}, picture);
    const std::string module = dir / "huge.dll";
    ASSERT_TRUE(mb::writeFile(module, b.build()));
    options.iconWidth = {0, 512};
    options.iconHeight = {0, 512};
    EXPECT_FALSE(Extract(module));

    const ByteVector file = ReadFileBytes(dest + "/Icons/huge.dll.ico");
    const std::vector<DirectoryEntry> group = IconDirectory(file);
    ASSERT_EQ(group.size(), 3u);
    EXPECT_EQ(std::pair(group[0].width, group[0].height), std::pair(0, 0));
    EXPECT_EQ(std::pair(group[1].width, group[1].height), std::pair(0, 0));
    EXPECT_EQ(std::pair(group[2].width, group[2].height), std::pair(32, 32));
    EXPECT_EQ(ListDir(dest + "/Icons"), (std::vector<std::string>{"0x0", "32x32", "__index.txt", "huge.dll.ico"}));
    // Both pictures are of the size stated as 0 x 0: the later one's file remains.
    EXPECT_EQ(IconDirectory(ReadFileBytes(dest + "/Icons/0x0/32/huge.dll.ico")),
              (std::vector<DirectoryEntry>{{0, 0, group[1].image}}));
}

TEST_F(EndToEnd, FilesThatAreNoModulesAreSkipped) {
    WriteFileText(dir / "readme.exe", "This is text.\r\n");
    EXPECT_FALSE(Extract(dir / "readme.exe"));
    EXPECT_FALSE(Extract(dir / "missing.dll"));
    EXPECT_FALSE(Extract(dir.path()));
    EXPECT_TRUE(target.found.empty());
}

TEST_F(EndToEnd, BrokenModulesNeverCrashAndLeaveAConsistentIndex) {
    int index = 0;
    for (mb::Fault fault : mb::allFaults()) {
        const std::string module = dir / ("broken" + std::to_string(index++) + ".dll");
        ASSERT_TRUE(mb::writeFile(module, SampleModule().inject(fault).build()))
            << mb::faultName(fault);
        EXPECT_FALSE(Extract(module)) << mb::faultName(fault);
    }
    const auto whole = SampleModule().build();
    for (std::size_t size : {std::size_t{64}, whole.size() / 2, whole.size() - 1}) {
        const std::string module = dir / ("cut" + std::to_string(size) + ".dll");
        ASSERT_TRUE(mb::writeFile(module, SampleModule().truncateTo(size).build()));
        EXPECT_FALSE(Extract(module));
    }
    EXPECT_TRUE(prompt.errors.empty());
    ExpectIndexMatchesFiles(dest);
}

// A module file that ends inside its last resource: that resource is left out as empty
// (no file, no record), as the system's loader would not load it; the ones before it are
// written whole.
TEST_F(EndToEnd, AResourceCutByTheEndOfTheFileIsNotWritten) {
    mb::ModuleBuilder b(mb::Machine::Pe32Plus);
    b.add(ResId::name("AVI"), ResId::number(1), 0x409, ByteVector(100, 0x11));
    b.add(ResId::name("AVI"), ResId::number(2), 0x409, ByteVector(5000, 0xEE));
    auto image = b.build();
    const auto end = image.size() - static_cast<std::size_t>(
                                        std::find(image.rbegin(), image.rend(), 0xEE) - image.rbegin());
    for (const std::size_t shortBy : {std::size_t{0}, std::size_t{1}, std::size_t{4000}}) {
        SCOPED_TRACE(shortBy);
        const std::string module = dir / ("cut" + std::to_string(shortBy) + ".dll");
        ASSERT_TRUE(mb::writeFile(module, std::vector<std::uint8_t>(image.begin(), image.begin() +
                                                                        static_cast<std::ptrdiff_t>(end - shortBy))));
        target.found.clear();
        EXPECT_FALSE(Extract(module));
        const std::string videos = dest + "/Videos/cut" + std::to_string(shortBy) + ".dll";
        EXPECT_EQ(Count(ResourceKind::Video), shortBy == 0 ? 2 : 1);
        EXPECT_EQ(ReadFileBytes(videos + ".avi"), ByteVector(100, 0x11));
        EXPECT_EQ(std::filesystem::exists(videos + " (2).avi"), shortBy == 0);
    }
    ExpectIndexMatchesFiles(dest);
}

// A small real file system that fills up. Needs the right to mount (root in CI).
class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to mount a small tmpfs";
        if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=256k") != 0)
            GTEST_SKIP() << "tmpfs can't be mounted here";
        mounted = true;
    }
    void TearDown() override {
        if (mounted)
            ::umount(dir.path().c_str());
    }
    ScratchDir dir;
    ScratchDir modules;
    bool mounted = false;
};

class FreeingPrompt : public ScriptedPrompt {
public:
    std::string filler;
    Answer retryDiskFull(const std::string& path) override {
        asked.push_back(Question::RetryDiskFull);
        paths.push_back(path);
        if (!filler.empty() && std::filesystem::remove(filler))
            return Answer::Retry; // room made: try again
        return Answer::Cancel;
    }
};

TEST_F(FullDisk, RetryAfterFreeingSpaceThenCancelWhenFullAgain) {
    const std::string dest = dir / "out";
    FreeingPrompt p;
    ASSERT_FALSE(PrepareDestination(dest, KindSwitches{false, false, false, false, true, false},
                                    {"/w", false, "*"}, p));
    // Fill most of the disk.
    p.filler = dir / "filler";
    WriteFileText(p.filler, std::string(200 * 1024, 'f'));

    mb::ModuleBuilder b;
    for (std::uint16_t i = 1; i <= 8; ++i)
        b.add(ResId::name("AVI"), ResId::number(i), 0x409, Filled(60 * 1024));
    const std::string module = modules / "clips.dll";
    ASSERT_TRUE(mb::writeFile(module, b.build()));

    CollectingTarget t;
    ExtractionOptions options;
    options.destinationFolder = dest;
    mResCore engine(options, p);
    const ModuleOutcome outcome = engine.ExtractFromFile(module, t);
    ASSERT_TRUE(outcome.failed());
    EXPECT_EQ(RuntimeErrorNumber(*outcome.error), kErrDiskFull);
    EXPECT_EQ(p.count(Question::RetryDiskFull), 2u);
    EXPECT_GE(t.found.size(), 1u);
    EXPECT_LT(t.found.size(), 8u);
    ExpectIndexMatchesFiles(dest);
    for (const auto& name : ListDir(dest + "/Videos")) {
        if (name != "__index.txt") {
            EXPECT_EQ(ReadFileBytes(dest + "/Videos/" + name).size(), 60u * 1024) << name;
        }
    }
}

// The disk fills up in the middle of an index record: the part that was written is taken
// back before the question, so the index holds whole lines only, and Retry writes the
// record once.
TEST_F(FullDisk, AnIndexRecordCutShortIsTakenBackBeforeTheQuestion) {
    const std::string dest = dir / "out";
    const std::string index = dest + "/Videos/__index.txt";
    struct Prompt : ScriptedPrompt {
        std::string index, filler, atQuestion;
        Answer retryDiskFull(const std::string& path) override {
            asked.push_back(Question::RetryDiskFull);
            paths.push_back(path);
            atQuestion = ReadFileText(index);
            std::filesystem::remove(filler);
            return Answer::Retry;
        }
    } p;
    p.index = index;
    p.filler = dir / "filler";
    ASSERT_FALSE(PrepareDestination(dest, KindSwitches{false, false, false, false, true, false},
                                    {"/w", false, "*"}, p));
    const std::string header = ReadFileText(index);
    // A source path so long that its record runs past the index file's first page: the
    // start of the record fits there, the rest finds no room.
    std::string source = "/w";
    while (source.size() < 4200)
        source += "/folder";
    source += "/clips.dll";
    // Room for the clip's one page and no more.
    struct statvfs info {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &info), 0);
    WriteFileText(p.filler, std::string(info.f_bavail * info.f_frsize - info.f_frsize, 'f'));

    FakeModule m;
    m.add(ResId::name("AVI"), ResId::number(1), Filled(1000));
    CollectingTarget t;
    ExtractionOptions options;
    options.destinationFolder = dest;
    mResCore engine(options, p);
    EXPECT_FALSE(engine.ExtractFromModule(m, source, t).failed());
    ASSERT_EQ(p.count(Question::RetryDiskFull), 1u);
    EXPECT_EQ(p.atQuestion, header);
    EXPECT_EQ(ReadFileText(index),
              header + "clips.dll.avi - SOURCE FILE = " + source + " RESOURCE TYPE = AVI RESOURCE NAME = 1\r\n");
    EXPECT_EQ(t.found.size(), 1u);
    ExpectIndexMatchesFiles(dest);
}

} // namespace
} // namespace harvix
