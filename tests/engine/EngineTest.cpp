#include "extract/Destination.h"
#include "tests/engine/EngineTestSupport.h"
#include "extract/JudgeResource.h"
#include "extract/writers/Plan.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix {
namespace {

using namespace harvix::testing;

const ResId kBitmap = ResId::of(ResType::Bitmap);
const ResId kIconImage = ResId::of(ResType::Icon);
const ResId kCursorImage = ResId::of(ResType::Cursor);
const ResId kIconGroup = ResId::of(ResType::GroupIcon);
const ResId kCursorGroup = ResId::of(ResType::GroupCursor);
const ResId kAni = ResId::of(ResType::AniCursor);
const ResId kHtml = ResId::of(ResType::Html);
const ResId kAvi = ResId::name("AVI");

ResId N(std::uint16_t id) {
    return ResId::number(id);
}
ResId S(const char* name) {
    return ResId::name(name);
}

class Engine : public ::testing::Test {
protected:
    Engine() {
        for (ResourceKind kind : kAllResourceKinds)
            std::filesystem::create_directory(dir / std::string(KindFolder(kind)));
    }

    // The engine of this test's run, made with the options as they are at its first use.
    mResCore& core() {
        if (!m_core)
            m_core = MakeEngine();
        return *m_core;
    }
    std::unique_ptr<mResCore> MakeEngine(const std::string& destination = {}) {
        ExtractionOptions given = options;
        given.destinationFolder = destination.empty() ? dir.path() : destination;
        return std::make_unique<mResCore>(given, prompt, fs);
    }

    // One call of the engine on `module` as if it were the file `source`; true when a
    // write error stopped it.
    bool Run(const FakeModule& module, const std::string& source = "/w/shell32.dll") {
        last = core().ExtractFromModule(module, source, target);
        return last.failed();
    }
    // The run-time error number of the error that stopped the last call.
    int LastErrorNumber() const { return last.error ? RuntimeErrorNumber(*last.error) : 0; }

    std::string Kind(ResourceKind kind) const { return dir / std::string(KindFolder(kind)); }
    std::vector<std::string> Records(ResourceKind kind) const {
        return CrLfLines(ReadFileText(Kind(kind) + "/__index.txt"));
    }

    ScratchDir dir;
    ExtractionOptions options;
    ScriptedPrompt prompt;
    FailingFileSystem fs;
    CollectingTarget target;
    ModuleOutcome last;

private:
    std::unique_ptr<mResCore> m_core;
};

TEST_F(Engine, BitmapsOfOneFileAreNumberedInOrderWithOneRecordEach) {
    FakeModule m;
    m.add(kBitmap, N(101), Dib(32, 32, 24))
        .add(kBitmap, N(7), Dib(4, 4, 24))
        .add(kBitmap, N(102), Dib(32, 32, 8));
    m.add(kBitmap, S("LOGO"), Dib(32, 32, 24));
    EXPECT_FALSE(Run(m));

    // The rejected one (4 x 4) leaves no gap.
    EXPECT_EQ(ListDir(Kind(ResourceKind::Bitmap)),
              (std::vector<std::string>{"__index.txt", "shell32.dll (2).bmp", "shell32.dll (3).bmp",
                                        "shell32.dll.bmp"}));
    EXPECT_EQ(
        Records(ResourceKind::Bitmap),
        (std::vector<std::string>{
            "shell32.dll.bmp - SOURCE FILE = /w/shell32.dll RESOURCE TYPE = 2 RESOURCE NAME = 101",
            "shell32.dll (2).bmp - SOURCE FILE = /w/shell32.dll RESOURCE TYPE = 2 RESOURCE NAME = "
            "102",
            "shell32.dll (3).bmp - SOURCE FILE = /w/shell32.dll RESOURCE TYPE = 2 RESOURCE NAME = "
            "LOGO"}));
    EXPECT_EQ(target.found, (std::vector<Found>{{0, N(101)}, {0, N(102)}, {0, S("LOGO")}}));

    const ByteVector written = ReadFileBytes(Kind(ResourceKind::Bitmap) + "/shell32.dll (2).bmp");
    const ByteVector dib = Dib(32, 32, 8);
    ASSERT_EQ(written.size(), 14 + dib.size());
    EXPECT_EQ(U32At(written, 10), 1078u);
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), written.begin() + 14));
}

TEST_F(Engine, OccupiedNamesAreSkippedAndNothingIsWrittenThroughALink) {
    const std::string bitmaps = Kind(ResourceKind::Bitmap);
    std::filesystem::create_directory(bitmaps + "/shell32.dll.bmp");
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (bitmaps + "/shell32.dll (2).bmp").c_str()),
              0);
    FakeModule m;
    m.add(kBitmap, N(1), Dib(32, 32, 24));
    EXPECT_FALSE(Run(m));
    EXPECT_TRUE(std::filesystem::is_regular_file(bitmaps + "/shell32.dll (3).bmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

TEST_F(Engine, WebPagesKeepTheirNamesSanitizedAndTheirOwnExtension) {
    FakeModule m;
    m.add(kHtml, S("ABOUT.HTM"), Filled(10)).add(kHtml, S("A/B.HTM"), Filled(10));
    m.add(kHtml, S("READ ME"), Filled(10)).add(kHtml, S("ABOUT.HTM "), Filled(10));
    m.add(kHtml, N(2110), Filled(10)).add(kHtml, S("EMPTY"), {});
    EXPECT_FALSE(Run(m, "C:/x/shdoclc.dll"));
    EXPECT_EQ(ListDir(Kind(ResourceKind::Html)),
              (std::vector<std::string>{"__index.txt", "shdoclc.dll - 2110",
                                        "shdoclc.dll - ABOUT.HTM", "shdoclc.dll - ABOUT.HTM ",
                                        "shdoclc.dll - A_B.HTM", "shdoclc.dll - READ ME"}));
    const auto records = Records(ResourceKind::Html);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1],
              "shdoclc.dll - A_B.HTM - SOURCE FILE = C:/x/shdoclc.dll RESOURCE TYPE = 23 "
              "RESOURCE NAME = A/B.HTM");
    EXPECT_EQ(ReadFileBytes(Kind(ResourceKind::Html) + "/shdoclc.dll - ABOUT.HTM"), Filled(10));
}

TEST_F(Engine, OnlyEnabledKindsAndTheExactTypeNameAviAreScanned) {
    FakeModule m;
    m.add(S("avi"), S("LOWER"), Filled(8)).add(kAvi, S("CLIP"), Filled(8, 'R'));
    m.add(N(6), N(1), Filled(8)).add(kIconImage, N(1), Filled(8)).add(kAni, N(5), Filled(8));
    m.add(kHtml, N(1), Filled(8)).add(S("2"), N(1), Dib(32, 32, 24));
    options.kindEnabled[KindIndex(ResourceKind::Html)] = false;
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(target.found, (std::vector<Found>{{4, S("CLIP")}, {3, N(5)}}));
    EXPECT_EQ(ReadFileBytes(Kind(ResourceKind::Video) + "/shell32.dll.avi"), Filled(8, 'R'));
    EXPECT_EQ(ListDir(Kind(ResourceKind::Html)), std::vector<std::string>{});
    EXPECT_EQ(ListDir(Kind(ResourceKind::Bitmap)), std::vector<std::string>{});
}

TEST_F(Engine, ANameOfDigitsIsLookedUpAsANumber) {
    FakeModule m;
    m.add(kAni, S("123"), Filled(8)); // there is no numeric 123: nothing written
    m.add(kAni, S("45"), Filled(8)).add(kAni, N(45), Filled(9, 'N'));
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(target.found, (std::vector<Found>{{3, S("45")}, {3, N(45)}}));
    EXPECT_EQ(ReadFileBytes(Kind(ResourceKind::AniCursor) + "/shell32.dll.ani"), Filled(9, 'N'));
}

// An icon group with its images under the identifiers of the entries.
FakeModule& AddIcons(FakeModule& m, std::uint16_t group, const std::vector<IconEntrySpec>& entries,
                     const std::vector<std::size_t>& realSizes = {}) {
    std::vector<IconEntrySpec> stated = entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t size =
            i < realSizes.size() ? realSizes[i] : static_cast<std::size_t>(entries[i].size);
        if (size > 0)
            m.add(kIconImage, N(entries[i].id),
                  Filled(size, static_cast<std::uint8_t>(entries[i].id)));
    }
    m.add(kIconGroup, N(group), IconGroup(stated));
    return m;
}

// An icon group's plan: one per-size file for each size in range, in the folder of its
// size, beside the group's own file; a group with nothing in range plans no file at all.
TEST_F(Engine, IconPlanHoldsThePerSizeFilesAndTheGroupFile) {
    FakeModule m;
    AddIcons(m, 1, {{16, 16, 0, 1, 8, 40, 1}, {32, 32, 0, 1, 8, 40, 2}}); // both in range
    AddIcons(m, 2, {{16, 16, 0, 1, 4, 40, 3}});                           // none in range
    const ResId groupType = ResId::of(ResType::GroupIcon);

    const ResourcePlan both = PlanResource(m, ResourceKind::Icon, groupType, N(1), options);
    ASSERT_EQ(both.sizeFiles.size(), 2u);
    EXPECT_EQ(both.sizeFiles[0].folder, "16x16/8/");
    EXPECT_EQ(both.sizeFiles[1].folder, "32x32/8/");
    EXPECT_EQ(both.sizeFiles[0].size(), 6u + 16u + 40u);
    ASSERT_TRUE(std::holds_alternative<PlannedFile>(both.own));
    const PlannedFile& own = std::get<PlannedFile>(both.own);
    EXPECT_EQ(own.folder, "");
    EXPECT_EQ(own.size(), 6u + 2 * 16u + 2 * 40u);
    EXPECT_EQ(both.extension, ".ico");
    EXPECT_EQ(both.bytes(), own.size() + 2 * (6u + 16u + 40u));

    const ResourcePlan none = PlanResource(m, ResourceKind::Icon, groupType, N(2), options);
    EXPECT_TRUE(none.sizeFiles.empty());
    ASSERT_TRUE(std::holds_alternative<LeftOut>(none.own));
    const LeftOut& why = std::get<LeftOut>(none.own);
    EXPECT_EQ(why.reason, LeftOutReason::Limits);
    const std::optional<LeftOut> judged = JudgeResource(m, ResourceKind::Icon, groupType, N(2), options);
    ASSERT_TRUE(judged.has_value());
    EXPECT_EQ(judged.value_or(LeftOut{}).detail, why.detail);
}

TEST_F(Engine, IconGroupHoldsAllImagesAndTheSplitOnlyThoseInRange) {
    FakeModule m;
    AddIcons(m, 1,
             {{16, 16, 16, 1, 4, 100, 1},
              {16, 16, 0, 1, 8, 200, 2},
              {32, 32, 16, 1, 4, 300, 3},
              {32, 32, 0, 1, 8, 400, 4}});
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(target.found, (std::vector<Found>{{1, N(1)}}));

    const std::string icons = Kind(ResourceKind::Icon);
    const ByteVector group = ReadFileBytes(icons + "/shell32.dll.ico");
    ASSERT_EQ(group.size(), 6 + 4 * 16 + 1000u);
    EXPECT_EQ(U16At(group, 2), 1);
    EXPECT_EQ(U16At(group, 4), 4);
    const std::uint32_t offsets[] = {70, 170, 370, 670};
    const std::uint8_t widths[] = {16, 16, 32, 32};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t e = 6 + 16 * i;
        EXPECT_EQ(group[e], widths[i]);
        EXPECT_EQ(group[e + 3], 0) << "reserved byte is not copied";
        EXPECT_EQ(U16At(group, e + 4), 1);
        EXPECT_EQ(U32At(group, e + 8), 100 * (i + 1));
        EXPECT_EQ(U32At(group, e + 12), offsets[i]);
        EXPECT_EQ(group[offsets[i]], static_cast<std::uint8_t>(i + 1));
    }

    EXPECT_EQ(ListDir(icons),
              (std::vector<std::string>{"16x16", "32x32", "__index.txt", "shell32.dll.ico"}));
    EXPECT_EQ(ListDir(icons + "/16x16"), std::vector<std::string>{"8"});
    const ByteVector single = ReadFileBytes(icons + "/32x32/8/shell32.dll.ico");
    ASSERT_EQ(single.size(), 22 + 400u);
    EXPECT_EQ(U16At(single, 4), 1);
    EXPECT_EQ(U32At(single, 6 + 8), 400u);
    EXPECT_EQ(U32At(single, 6 + 12), 22u);
    EXPECT_EQ(single[22], 4);
    EXPECT_EQ(Records(ResourceKind::Icon).size(), 1u);
}

TEST_F(Engine, IconGroupsOfManyShapes) {
    struct Case {
        const char* what;
        std::vector<IconEntrySpec> entries;
        std::vector<std::size_t> realSizes;
        bool groupWritten;
        std::vector<std::string> perSize; // "WxH/BPP" folders with a file
    };
    const Case cases[] = {
        {"all 4 bpp", {{16, 16, 16, 1, 4, 10, 1}, {32, 32, 16, 1, 4, 10, 2}}, {}, false, {}},
        {"256 and 32",
         {{0, 0, 0, 1, 32, 10, 1}, {32, 32, 0, 1, 32, 10, 2}},
         {},
         true,
         {"32x32/32"}},
        {"third entry with 255 colours",
         {{16, 16, 0, 1, 8, 10, 1}, {32, 32, 0, 1, 8, 10, 2}, {48, 48, 255, 1, 8, 10, 3}},
         {},
         false,
         {"16x16/8", "32x32/8"}},
        {"planes 2", {{16, 16, 0, 2, 8, 10, 1}}, {}, false, {}},
        {"depth 3", {{16, 16, 0, 1, 3, 10, 1}}, {}, false, {}},
        {"stated size 0", {{16, 16, 0, 1, 8, 0, 1}}, {10}, false, {}},
        {"missing image",
         {{16, 16, 0, 1, 8, 10, 1}, {32, 32, 0, 1, 8, 10, 2}},
         {10, 0},
         false,
         {"16x16/8"}},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        std::filesystem::create_directory(scratch / "Icons");
        FakeModule m;
        AddIcons(m, 1, c.entries, c.realSizes);
        CollectingTarget t;
        auto engine = MakeEngine(scratch.path());
        EXPECT_FALSE(engine->ExtractFromModule(m, "/w/x.dll", t).failed()) << c.what;
        EXPECT_EQ(std::filesystem::exists(scratch / "Icons/x.dll.ico"), c.groupWritten) << c.what;
        EXPECT_EQ(t.found.size(), c.groupWritten ? 1u : 0u) << c.what;
        EXPECT_EQ(std::filesystem::exists(scratch / "Icons/__index.txt"), c.groupWritten) << c.what;
        std::vector<std::string> perSize;
        for (const auto& sizeDir : ListDir(scratch / "Icons"))
            if (std::filesystem::is_directory(scratch / ("Icons/" + sizeDir)))
                for (const auto& depth : ListDir(scratch / ("Icons/" + sizeDir)))
                    if (std::filesystem::exists(scratch /
                                                ("Icons/" + sizeDir + "/" + depth + "/x.dll.ico")))
                        perSize.push_back(sizeDir + "/" + depth);
        EXPECT_EQ(perSize, c.perSize) << c.what;
    }
}

TEST_F(Engine, IconOffsetsFollowTheRealImageSizes) {
    FakeModule m;
    // Stated 744, 296, 2216 and so they are.
    AddIcons(m, 1,
             {{32, 32, 0, 1, 8, 744, 1}, {16, 16, 0, 1, 8, 296, 2}, {48, 48, 0, 1, 32, 2216, 3}});
    // Stated sizes that lie: the images are 50 and 70 bytes.
    AddIcons(m, 2, {{32, 32, 0, 1, 8, 744, 4}, {16, 16, 0, 1, 8, 296, 5}}, {50, 70});
    EXPECT_FALSE(Run(m));

    const ByteVector first = ReadFileBytes(Kind(ResourceKind::Icon) + "/shell32.dll.ico");
    EXPECT_EQ(U32At(first, 6 + 12), 54u);
    EXPECT_EQ(U32At(first, 22 + 12), 798u);
    EXPECT_EQ(U32At(first, 38 + 12), 1094u);
    EXPECT_EQ(first.size(), 1094u + 2216u);

    const ByteVector second = ReadFileBytes(Kind(ResourceKind::Icon) + "/shell32.dll (2).ico");
    ASSERT_EQ(second.size(), 38u + 50 + 70);
    EXPECT_EQ(U32At(second, 6 + 8), 50u);
    EXPECT_EQ(U32At(second, 6 + 12), 38u);
    EXPECT_EQ(U32At(second, 22 + 8), 70u);
    EXPECT_EQ(U32At(second, 22 + 12), 88u);
    const ByteVector single =
        ReadFileBytes(Kind(ResourceKind::Icon) + "/16x16/8/shell32.dll (2).ico");
    EXPECT_EQ(single.size(), 22u + 70);
    EXPECT_EQ(U32At(single, 6 + 8), 70u);
}

TEST_F(Engine, SplitWritesOneFilePerSizeWhateverTheRepeats) {
    FakeModule m;
    std::vector<IconEntrySpec> entries(255, IconEntrySpec{32, 32, 0, 1, 8, 10, 1});
    entries.push_back({32, 32, 0, 1, 8, 10, 2}); // the last of its size: its file remains
    AddIcons(m, 1, entries, std::vector<std::size_t>(256, 10));
    EXPECT_FALSE(Run(m));
    // The group file holds every image; the split loaded one.
    EXPECT_LE(m.loads, 256 + 3);
    const ByteVector single = ReadFileBytes(Kind(ResourceKind::Icon) + "/32x32/8/shell32.dll.ico");
    ASSERT_EQ(single.size(), 32u);
    EXPECT_EQ(single[22], 2);
}

TEST_F(Engine, IconLimitsApplyToIconsOnly) {
    options.iconWidth = {24, 32};
    options.bitmapWidth = {0, 1};
    FakeModule m;
    AddIcons(m, 1, {{16, 16, 0, 1, 8, 10, 1}, {32, 32, 0, 1, 8, 10, 2}});
    EXPECT_FALSE(Run(m));
    EXPECT_TRUE(std::filesystem::exists(Kind(ResourceKind::Icon) + "/shell32.dll.ico"));
    EXPECT_FALSE(std::filesystem::exists(Kind(ResourceKind::Icon) + "/16x16"));
    EXPECT_TRUE(std::filesystem::exists(Kind(ResourceKind::Icon) + "/32x32/8/shell32.dll.ico"));
}

TEST_F(Engine, PerSizeFileOfAnEarlierRunIsReplacedNotWrittenThrough) {
    const std::string folder = Kind(ResourceKind::Icon) + "/32x32/8";
    std::filesystem::create_directories(folder);
    const std::string victim = dir / "victim";
    WriteFileText(victim, "keep");
    ASSERT_EQ(::symlink(victim.c_str(), (folder + "/shell32.dll.ico").c_str()), 0);
    FakeModule m;
    AddIcons(m, 1, {{32, 32, 0, 1, 8, 10, 1}});
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(ReadFileText(victim), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(folder + "/shell32.dll.ico"));
    EXPECT_EQ(ReadFileBytes(folder + "/shell32.dll.ico").size(), 32u);
}

FakeModule& AddCursors(FakeModule& m, std::uint16_t group,
                       const std::vector<CursorEntrySpec>& entries,
                       const std::vector<std::size_t>& sizes) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (sizes[i] > 0)
            m.add(kCursorImage, N(entries[i].id),
                  Filled(sizes[i], static_cast<std::uint8_t>(10 * entries[i].id)));
    m.add(kCursorGroup, N(group), CursorGroup(entries));
    return m;
}

TEST_F(Engine, GroupsLargerThanOneWriteAreWrittenWhole) {
    // 1.8 MB of images: held and written in more than one go.
    FakeModule m;
    AddIcons(m, 1, {{32, 32, 0, 1, 32, 600000, 1}, {48, 48, 0, 1, 32, 600000, 2}, {64, 64, 0, 1, 32, 600000, 3}});
    AddCursors(m, 2, {{32, 64, 1, 1, 700000, 4}, {48, 96, 1, 1, 700000, 5}}, {700000, 700000});
    EXPECT_FALSE(Run(m));

    const ByteVector icon = ReadFileBytes(Kind(ResourceKind::Icon) + "/shell32.dll.ico");
    ASSERT_EQ(icon.size(), 6u + 3 * 16 + 3 * 600000);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint32_t at = U32At(icon, 6 + 16 * i + 12);
        const auto image = m.load(kIconImage, N(static_cast<std::uint16_t>(i + 1)));
        EXPECT_TRUE(std::equal(image.begin(), image.end(), icon.begin() + static_cast<std::ptrdiff_t>(at))) << i;
    }
    const ByteVector cursor = ReadFileBytes(Kind(ResourceKind::Cursor) + "/shell32.dll.cur");
    ASSERT_EQ(cursor.size(), 6u + 2 * 16 + 2 * (700000 - 4));
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint32_t at = U32At(cursor, 6 + 16 * i + 12);
        const auto image = m.load(kCursorImage, N(static_cast<std::uint16_t>(i + 4)));
        EXPECT_TRUE(std::equal(image.begin() + 4, image.end(), cursor.begin() + static_cast<std::ptrdiff_t>(at))) << i;
    }
}

TEST_F(Engine, CursorFilesDropTheHotSpotFromTheImages) {
    FakeModule m;
    AddCursors(m, 1, {{32, 64, 1, 1, 308, 1}}, {308});
    AddCursors(m, 2, {{32, 64, 1, 1, 308, 2}, {16, 32, 1, 1, 100, 3}}, {308, 100});
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(target.found, (std::vector<Found>{{2, N(1)}, {2, N(2)}}));

    const ByteVector one = ReadFileBytes(Kind(ResourceKind::Cursor) + "/shell32.dll.cur");
    ASSERT_EQ(one.size(), 326u);
    EXPECT_EQ(U16At(one, 2), 2);
    EXPECT_EQ(one[6], 32);
    EXPECT_EQ(one[7], 32);
    EXPECT_EQ(one[8], 2);
    EXPECT_EQ(one[9], 0);
    EXPECT_EQ(U16At(one, 10), 10 | (11 << 8)); // hot spot: the image's first bytes
    EXPECT_EQ(U16At(one, 12), 12 | (13 << 8));
    EXPECT_EQ(U32At(one, 14), 304u);
    EXPECT_EQ(U32At(one, 18), 22u);
    EXPECT_EQ(one[22], 14);

    const ByteVector two = ReadFileBytes(Kind(ResourceKind::Cursor) + "/shell32.dll (2).cur");
    EXPECT_EQ(U32At(two, 6 + 12), 38u);
    EXPECT_EQ(U32At(two, 22 + 12), 38u + 304);
    EXPECT_EQ(two[23], 16);
    EXPECT_EQ(two.size(), 38u + 304 + 96);
}

TEST_F(Engine, CursorDirectoryHeightFollowsTheImagesOwnHeader) {
    // The image: a hot spot, then the picture (a bitmap information header or not).
    auto image = [](const ByteVector& picture) {
        ByteVector bytes{1, 0, 2, 0};
        bytes.insert(bytes.end(), picture.begin(), picture.end());
        return bytes;
    };
    ByteVector png = Filled(60);
    png[0] = 0x89;
    png[1] = 'P';
    // A 12-byte core header: 16-bit width and height, planes, bits; then pixels.
    ByteVector core{12, 0, 0, 0, 32, 0, 64, 0, 1, 0, 1, 0};
    core.resize(core.size() + 2 * 6 + 256, 0x55);
    const struct {
        std::int16_t groupHeight;
        ByteVector picture;
        int expected;
    } cases[] = {
        {32, Dib(32, 64, 1), 32},           // plain height in the group, as Wine stores it
        {64, Dib(32, 64, 1), 32},           // doubled height in the group: unchanged
        {48, Dib(32, 96, 1, 0, 108, 1, 0, 128), 48}, // a larger header counts too
        {32, Dib(32, -64, 1), 16},          // top-down: not trusted, the group's rule
        {32, core, 32},                     // the core header tells its height too
        {32, png, 16},                      // no header at all
        {32, Dib(32, 600, 1), 0},           // a half height of 300: 0, as for 256 and more
    };
    FakeModule m;
    std::uint16_t id = 1;
    for (const auto& c : cases) {
        const ByteVector bytes = image(c.picture);
        m.add(kCursorImage, N(id), bytes);
        m.add(kCursorGroup, N(id),
              CursorGroup({{32, c.groupHeight, 1, 1, static_cast<std::int32_t>(bytes.size()), id}}));
        ++id;
    }
    EXPECT_FALSE(Run(m));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string name = i == 0 ? "shell32.dll.cur"
                                        : "shell32.dll (" + std::to_string(i + 1) + ").cur";
        const ByteVector file = ReadFileBytes(Kind(ResourceKind::Cursor) + "/" + name);
        ASSERT_GT(file.size(), 22u) << name;
        EXPECT_EQ(file[7], cases[i].expected) << name;
        EXPECT_EQ(file[6], 32) << name;
    }
}

TEST_F(Engine, InvalidCursorGroupsAreAbandoned) {
    const std::vector<std::pair<CursorEntrySpec, std::size_t>> cases = {
        {{64, 128, 1, 1, 308, 1}, 308}, // 64 high
        {{0, 64, 1, 1, 308, 1}, 308},   // no width
        {{256, 64, 1, 1, 308, 1}, 308}, // too wide
        {{32, 64, 2, 1, 308, 1}, 308},  // planes
        {{32, 64, 1, 1, 0, 1}, 308},    // stated size
        {{32, 64, 1, 1, 308, 1}, 0},    // no image
        {{32, 64, 1, 1, 308, 1}, 3},    // too short for a hot spot
    };
    std::uint16_t group = 1;
    FakeModule m;
    for (const auto& [entry, size] : cases) {
        CursorEntrySpec e = entry;
        e.id = group;
        AddCursors(m, group++, {e}, {size});
    }
    EXPECT_FALSE(Run(m));
    EXPECT_TRUE(target.found.empty());
    EXPECT_EQ(ListDir(Kind(ResourceKind::Cursor)), std::vector<std::string>{});
}

// A module of three bitmaps of 32 x 32 at 24 bits, the second of which the disk-full
// tests make fail.
FakeModule ThreeBitmaps() {
    FakeModule m;
    m.add(kBitmap, N(1), Dib(32, 32, 24))
        .add(kBitmap, N(2), Dib(32, 32, 24))
        .add(kBitmap, N(3), Dib(32, 32, 24));
    return m;
}

TEST_F(Engine, DiskFullRetryWritesTheSamePathOnce) {
    fs.fail({FailingFileSystem::Rule::Op::Write, "shell32.dll (2).bmp", ENOSPC});
    prompt.answers = {Answer::Retry};
    FakeModule m = ThreeBitmaps();
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(prompt.asked, std::vector<Question>{Question::RetryDiskFull});
    EXPECT_EQ(prompt.paths, std::vector<std::string>{Kind(ResourceKind::Bitmap) + "/shell32.dll (2).bmp"});
    EXPECT_EQ(Records(ResourceKind::Bitmap).size(), 3u);
    EXPECT_EQ(target.found.size(), 3u);
    EXPECT_EQ(ReadFileBytes(Kind(ResourceKind::Bitmap) + "/shell32.dll (2).bmp").size(),
              14 + Dib(32, 32, 24).size());
}

TEST_F(Engine, DiskFullCancelRemovesThePartialFileAndStops) {
    fs.fail({FailingFileSystem::Rule::Op::Write, "shell32.dll (2).bmp", EDQUOT});
    prompt.answers = {Answer::Cancel};
    FakeModule m = ThreeBitmaps();
    m.add(kAni, N(1), Filled(4));
    EXPECT_TRUE(Run(m));
    EXPECT_EQ(LastErrorNumber(), kErrDiskFull);
    EXPECT_EQ(target.found, (std::vector<Found>{{0, N(1)}}));
    EXPECT_EQ(ListDir(Kind(ResourceKind::Bitmap)),
              (std::vector<std::string>{"__index.txt", "shell32.dll.bmp"}));
    EXPECT_EQ(ListDir(Kind(ResourceKind::AniCursor)), std::vector<std::string>{});
    EXPECT_TRUE(prompt.errors.empty());
}

// A full disk met by a per-size icon file names that file in its own folder
// (Icons/32x32/8/), not the folder of the group's file.
TEST_F(Engine, DiskFullNamesThePerSizeFileThatCouldNotBeWritten) {
    fs.fail({FailingFileSystem::Rule::Op::Create, "32x32", ENOSPC});
    prompt.answers = {Answer::Cancel};
    FakeModule m;
    AddIcons(m, 1, {{16, 16, 0, 1, 8, 40, 1}, {32, 32, 0, 1, 8, 40, 2}});
    EXPECT_TRUE(Run(m));
    EXPECT_EQ(prompt.asked, std::vector<Question>{Question::RetryDiskFull});
    EXPECT_EQ(prompt.paths, std::vector<std::string>{Kind(ResourceKind::Icon) + "/32x32/8/shell32.dll.ico"});
}

TEST_F(Engine, OtherErrorsAreShownAndStopLeavingNoUnrecordedFile) {
    struct Case {
        FailingFileSystem::Rule rule;
        int number;
    };
    const Case cases[] = {
        {{FailingFileSystem::Rule::Op::Create, ".bmp", EACCES}, kErrPathFileAccess},
        {{FailingFileSystem::Rule::Op::Write, ".bmp", EIO}, 1000 + EIO},
        {{FailingFileSystem::Rule::Op::Append, "__index.txt", EROFS}, kErrPathFileAccess},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        std::filesystem::create_directory(scratch / "Bitmaps");
        FailingFileSystem failing;
        failing.fail(c.rule);
        ScriptedPrompt p;
        CollectingTarget t;
        ExtractionOptions given = options;
        given.destinationFolder = scratch.path();
        mResCore engine(given, p, failing);
        FakeModule m;
        m.add(kBitmap, N(1), Dib(32, 32, 24)).add(kBitmap, N(2), Dib(32, 32, 24));
        const ModuleOutcome outcome = engine.ExtractFromModule(m, "/w/a.dll", t);
        ASSERT_TRUE(outcome.failed());
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(RuntimeErrorNumber(*outcome.error), c.number);
        ASSERT_EQ(p.errors.size(), 1u);
        EXPECT_NE(p.errors[0].find(scratch / "Bitmaps/"), std::string::npos) << p.errors[0];
        EXPECT_TRUE(p.asked.empty());
        EXPECT_EQ(p.shown[0].failure, Failure::WriteFailed);
        EXPECT_TRUE(t.found.empty());
        EXPECT_EQ(ListDir(scratch / "Bitmaps"), std::vector<std::string>{});
    }
}

TEST_F(Engine, MissingKindFolderIsAPathNotFoundError) {
    std::filesystem::remove(Kind(ResourceKind::Video));
    FakeModule m;
    m.add(kAvi, N(1), Filled(4));
    EXPECT_TRUE(Run(m));
    EXPECT_EQ(LastErrorNumber(), kErrPathNotFound);
    EXPECT_EQ(prompt.errors.size(), 1u);
}

TEST_F(Engine, IconSplitErrorIsAnErrorOfTheIcon) {
    fs.fail({FailingFileSystem::Rule::Op::Write, "32x32/8/", ENOSPC});
    prompt.answers = {Answer::Retry};
    FakeModule m;
    AddIcons(m, 1, {{32, 32, 0, 1, 8, 10, 1}});
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(prompt.asked, std::vector<Question>{Question::RetryDiskFull});
    EXPECT_EQ(Records(ResourceKind::Icon).size(), 1u);
    EXPECT_EQ(ReadFileBytes(Kind(ResourceKind::Icon) + "/32x32/8/shell32.dll.ico").size(), 32u);
}

TEST_F(Engine, NameProbingResumesWhereItEnded) {
    FakeModule m;
    constexpr int kCount = 1500;
    for (int i = 1; i <= kCount; ++i)
        m.add(kAni, N(static_cast<std::uint16_t>(i)), Filled(2));
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(target.found.size(), static_cast<std::size_t>(kCount));
    EXPECT_LE(fs.existsCalls, kCount + 1);
    EXPECT_TRUE(std::filesystem::exists(Kind(ResourceKind::AniCursor) + "/shell32.dll (1500).ani"));

    // The next file of the same name, in the same run, goes on from there.
    fs.existsCalls = 0;
    FakeModule one;
    one.add(kAni, N(1), Filled(2));
    EXPECT_FALSE(Run(one, "/other/shell32.dll"));
    EXPECT_LE(fs.existsCalls, 1);
    EXPECT_TRUE(std::filesystem::exists(Kind(ResourceKind::AniCursor) + "/shell32.dll (1501).ani"));

    // A new run starts from 1 and fills a gap.
    std::filesystem::remove(Kind(ResourceKind::AniCursor) + "/shell32.dll (7).ani");
    auto next = MakeEngine();
    EXPECT_FALSE(next->ExtractFromModule(one, "/w/shell32.dll", target).failed());
    EXPECT_TRUE(std::filesystem::exists(Kind(ResourceKind::AniCursor) + "/shell32.dll (7).ani"));
}

TEST_F(Engine, OverLongNamesAreCutAndRecordedAsCut) {
    const std::string source = "/w/" + std::string(254, 'x');
    FakeModule m;
    m.add(kBitmap, N(1), Dib(32, 32, 24)).add(kBitmap, N(2), Dib(32, 32, 24));
    m.add(kHtml, S((std::string(300, 'p') + ".htm").c_str()), Filled(3));
    EXPECT_FALSE(Run(m, source));
    EXPECT_EQ(target.found.size(), 3u);
    const auto records = Records(ResourceKind::Bitmap);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].substr(0, 255), std::string(251, 'x') + ".bmp");
    EXPECT_EQ(records[1].substr(0, 255), std::string(247, 'x') + " (2).bmp");
    EXPECT_TRUE(std::filesystem::exists(Kind(ResourceKind::Bitmap) + "/" + std::string(247, 'x') +
                                        " (2).bmp"));
    // The web page loses its stem, then enough of the source name.
    const auto html = ListDir(Kind(ResourceKind::Html));
    ASSERT_EQ(html.size(), 2u);
    EXPECT_EQ(html[1], std::string(255 - 7, 'x') + " - .htm");
}

TEST_F(Engine, RecordsStayOneLineWhateverTheNames) {
    FakeModule m;
    m.add(kHtml, S("two\r\nlines"), Filled(3));
    EXPECT_FALSE(Run(m, "/w/new\nline.dll"));
    const std::string text = ReadFileText(Kind(ResourceKind::Html) + "/__index.txt");
    EXPECT_EQ(text, "new_line.dll - two__lines - SOURCE FILE = /w/new_line.dll RESOURCE TYPE = 23 "
                    "RESOURCE NAME = two__lines\r\n");
    // The file has the name its record gives, byte for byte.
    EXPECT_EQ(ListDir(Kind(ResourceKind::Html)),
              (std::vector<std::string>{"__index.txt", "new_line.dll - two__lines"}));

    // Names that meet once CR and LF are "_" are kept apart by the collision suffix.
    FakeModule b;
    b.add(kBitmap, N(1), Dib(32, 32, 8));
    EXPECT_FALSE(Run(b, "/w/a\rb.dll"));
    EXPECT_FALSE(Run(b, "/w/a\nb.dll"));
    EXPECT_FALSE(Run(b, "/w/a_b.dll"));
    EXPECT_EQ(ListDir(Kind(ResourceKind::Bitmap)),
              (std::vector<std::string>{"__index.txt", "a_b.dll (2).bmp", "a_b.dll (3).bmp",
                                        "a_b.dll.bmp"}));
}

TEST_F(Engine, ModulesThatCannotBeOpenedAreSkipped) {
    ExtractionOptions given = options;
    given.destinationFolder = dir.path();
    mResCore engine(given, prompt, fs,
                    [](const std::string&) -> Result<std::unique_ptr<IResourceModule>> {
                        return makeError(ErrorKind::NotLoadable, "not a module");
                    });
    const ModuleOutcome outcome = engine.ExtractFromFile("/w/readme.exe", target);
    EXPECT_EQ(outcome.end, ModuleEnd::NotModule);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->message, "not a module");
    EXPECT_TRUE(target.found.empty());
}

// Hears the engine's account of files and left-out resources.
struct RecordingObserver : IExtractObserver {
    std::vector<std::string> events;
    std::vector<std::string> left; // module, type, name and language of each left out
    void ModuleOpened(const std::string& path) override { events.push_back("opened " + path); }
    void ModuleNotOpened(const std::string& path, const Error& error) override {
        events.push_back("not opened " + path + " " + std::to_string(error.code));
    }
    void ResourceLeftOut(const ResourceRef& resource, ResourceKind kind,
                         const LeftOut& why) override {
        static const char* const kReasons[] = {"limits", "malformed", "empty"};
        events.push_back(std::string(KindKey(kind)) + " " +
                         kReasons[static_cast<int>(why.reason)]);
        left.push_back(resource.module + " " + resource.type.toText() + " " +
                       resource.name.toText() + " " + std::to_string(resource.language));
    }
    void FileWritten(ResourceKind kind, const std::string& path) override {
        const std::string folder = "/" + std::string(KindFolder(kind)) + "/";
        events.push_back(std::string(KindKey(kind)) + " wrote " +
                         path.substr(path.find(folder) + folder.size()));
    }
};

TEST_F(Engine, ObserverHearsEveryFileAndWhyEachResourceWasLeftOut) {
    FakeModule m;
    m.add(kBitmap, N(1), Dib(4, 4, 24))                // below the height limit
        .add(kBitmap, N(2), Dib(32, 32, 24, 0, 20))    // a header size no bitmap has
        .add(kBitmap, N(3), ByteVector{})              // empty
        .add(kBitmap, N(4), Dib(32, 32, 24));          // written
    AddIcons(m, 1, {{48, 48, 0, 1, 8, 10, 1}});        // outside the icon limits
    AddIcons(m, 2, {{32, 32, 0, 2, 8, 10, 2}});        // two planes
    AddIcons(m, 3, {{32, 32, 0, 1, 8, 10, 3}}, {0});   // its image is missing
    AddCursors(m, 1, {{32, 64, 2, 1, 308, 5}}, {308}); // two planes
    m.add(kAni, N(1), ByteVector{});
    RecordingObserver observer;
    core().AddObserver(observer);
    const ModuleOutcome a = core().ExtractFromFile(
        "/w/a.dll", std::unique_ptr<IResourceModule>(std::make_unique<FakeModule>(m)), target);
    EXPECT_EQ(a.end, ModuleEnd::Done);
    EXPECT_EQ(a.written, 1);
    EXPECT_EQ(a.leftOut, 8);
    const ModuleOutcome b =
        core().ExtractFromFile("/w/b.dll", makeError(ErrorKind::NotLoadable, "x", EACCES), target);
    EXPECT_EQ(b.end, ModuleEnd::NotModule);
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"opened /w/a.dll", "BITMAP limits", "BITMAP malformed",
                                        "BITMAP empty", "BITMAP wrote a.dll.bmp", "ICON limits",
                                        "ICON malformed", "ICON empty", "CURSOR malformed",
                                        "ANICURSOR empty",
                                        "not opened /w/b.dll " + std::to_string(EACCES)}));
    EXPECT_EQ(target.found, (std::vector<Found>{{0, N(4)}}));
    // Each resource left out is named: module, type, name and language.
    ASSERT_EQ(observer.left.size(), 8u);
    EXPECT_EQ(observer.left.front(), "/w/a.dll 2 1 1033");
    EXPECT_EQ(observer.left[3], "/w/a.dll 14 1 1033");
}

// A group may hold up to 256 images and write up to 16 MiB; one beyond either bound is
// not well formed, so that a crafted group naming one image thousands of times can't
// make a file of gigabytes. The last size within each bound is written, the first
// beyond it is not.
TEST_F(Engine, GroupsBeyondTheirBoundsAreNotWellFormed) {
    constexpr std::size_t kBound = 16u << 20;
    const struct {
        ResourceKind kind;
        std::size_t members;
        std::size_t imageSize; // each member names the one image of this size
        bool written;
    } cases[] = {
        {ResourceKind::Icon, 256, 10, true},
        {ResourceKind::Icon, 257, 10, false},
        {ResourceKind::Icon, 2, (kBound - 6 - 32) / 2, true}, // a file of exactly 16 MiB
        {ResourceKind::Icon, 2, (kBound - 6 - 32) / 2 + 1, false},
        {ResourceKind::Icon, 30000, 10, false},
        {ResourceKind::Cursor, 256, 14, true},
        {ResourceKind::Cursor, 257, 14, false},
        {ResourceKind::Cursor, 2, (kBound - 6 - 32) / 2 + 4, true}, // hot spots are not written
        {ResourceKind::Cursor, 2, (kBound - 6 - 32) / 2 + 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(KindKey(c.kind)) + " " + std::to_string(c.members) + " x " +
                     std::to_string(c.imageSize));
        ScratchDir scratch;
        std::filesystem::create_directories(scratch / "Icons");
        std::filesystem::create_directories(scratch / "Cursors");
        const auto size = static_cast<std::int32_t>(c.imageSize);
        FakeModule m;
        if (c.kind == ResourceKind::Icon)
            AddIcons(m, 1, std::vector<IconEntrySpec>(c.members, {32, 32, 0, 1, 8, size, 1}),
                     std::vector<std::size_t>(c.members, c.imageSize));
        else
            AddCursors(m, 1, std::vector<CursorEntrySpec>(c.members, {32, 64, 1, 1, size, 1}),
                       std::vector<std::size_t>(c.members, c.imageSize));
        RecordingObserver observer;
        CollectingTarget t;
        auto engine = MakeEngine(scratch.path());
        engine->AddObserver(observer);
        EXPECT_FALSE(engine->ExtractFromModule(m, "/w/a.dll", t).failed());
        const std::string file =
            scratch / (c.kind == ResourceKind::Icon ? "Icons/a.dll.ico" : "Cursors/a.dll.cur");
        EXPECT_EQ(std::filesystem::exists(file), c.written);
        EXPECT_EQ(t.found.size(), c.written ? 1u : 0u);
        if (c.written)
            EXPECT_LE(std::filesystem::file_size(file), kBound);
        else
            EXPECT_EQ(observer.events,
                      std::vector<std::string>{std::string(KindKey(c.kind)) + " malformed"});
        // Nor are per-size files made for a group beyond the bounds.
        EXPECT_EQ(std::filesystem::exists(scratch / "Icons/32x32"),
                  c.written && c.kind == ResourceKind::Icon);
    }
}

// A resource the directory lists but the module can't give whole (its data runs past
// the end of the file) is left out as empty, whatever the kind and whether it is a
// group's member image; nothing is written for it.
TEST_F(Engine, ResourcesThatCannotBeReadWholeAreEmpty) {
    FakeModule m;
    const ByteVector dib = Dib(32, 32, 24);
    m.addUnreadable(kBitmap, N(1), static_cast<std::uint32_t>(dib.size()));
    m.addUnreadable(kAvi, N(2), 101);
    m.addUnreadable(kAni, N(3), 4000);
    m.addUnreadable(kHtml, S("A.HTM"), 101);
    m.addUnreadable(kIconImage, N(4), 41);
    m.add(kIconGroup, N(4), IconGroup({{32, 32, 0, 1, 8, 40, 4}}));
    m.addUnreadable(kCursorImage, N(5), 41);
    m.add(kCursorGroup, N(5), CursorGroup({{32, 64, 1, 1, 40, 5}}));
    m.add(kBitmap, N(6), dib); // whole: written
    RecordingObserver observer;
    core().AddObserver(observer);
    EXPECT_FALSE(Run(m));
    EXPECT_EQ(target.found, (std::vector<Found>{{0, N(6)}}));
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"BITMAP empty", "BITMAP wrote shell32.dll.bmp",
                                        "VIDEO empty", "ANICURSOR empty", "HTML empty",
                                        "ICON empty", "CURSOR empty"}));
    EXPECT_FALSE(std::filesystem::exists(Kind(ResourceKind::Icon) + "/32x32"));
}

// Observers hear of the files that are complete and stay: the per-size files of an icon
// before the icon's own file, also when the icon itself is left out; never a file the
// engine removed again because its record could not be written.
TEST_F(Engine, ObserverHearsOfEveryFileThatStays) {
    fs.fail({FailingFileSystem::Rule::Op::Append, "Bitmaps/__index.txt", EROFS, 1, 1});
    FakeModule m;
    AddIcons(m, 1, {{16, 16, 0, 1, 8, 10, 1}, {32, 32, 0, 1, 8, 10, 2}});
    AddIcons(m, 2, {{32, 32, 0, 1, 32, 10, 3}, {32, 32, 0, 2, 8, 10, 4}}); // 2nd: two planes
    m.add(kBitmap, N(1), Dib(32, 32, 24)).add(kBitmap, N(2), Dib(32, 32, 24));
    RecordingObserver observer;
    core().AddObserver(observer);
    EXPECT_TRUE(Run(m));
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{
                  "ICON wrote 16x16/8/shell32.dll.ico", "ICON wrote 32x32/8/shell32.dll.ico",
                  "ICON wrote shell32.dll.ico", "ICON malformed",
                  "ICON wrote 32x32/32/shell32.dll (2).ico", "BITMAP wrote shell32.dll.bmp"}));
    EXPECT_EQ(ListDir(Kind(ResourceKind::Bitmap)),
              (std::vector<std::string>{"__index.txt", "shell32.dll.bmp"}));
    EXPECT_TRUE(
        std::filesystem::exists(Kind(ResourceKind::Icon) + "/32x32/32/shell32.dll (2).ico"));
}

} // namespace
} // namespace harvix
