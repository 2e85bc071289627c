// The engine on 16-bit modules: a Windows 3.x program gives the very files the same
// resources give in a 32-bit module, icon libraries give their icons, font files give
// nothing, the pictures of Windows 2.x modules come out as standard files, and broken
// modules never crash.
#include "extract/Destination.h"
#include "tests/engine/EngineTestSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace harvix {
namespace {

using namespace harvix::testing;
namespace mb = harvix::modbuilder;
namespace fs = std::filesystem;

class NeEndToEnd : public ::testing::Test {
protected:
    std::string Prepare(const std::string& name) {
        const std::string dest = dir / name;
        EXPECT_FALSE(PrepareDestination(dest, KindSwitches{true, true, true, true, true, true},
                                        {"/w", true, "*.exe"}, prompt));
        return dest;
    }
    // True when a write error stopped the extraction.
    bool Extract(const std::string& path, const std::string& dest) {
        ExtractionOptions given = options;
        given.destinationFolder = dest;
        mResCore engine(given, prompt);
        return engine.ExtractFromFile(path, target).failed();
    }

    ScratchDir dir;
    ExtractionOptions options;
    ScriptedPrompt prompt;
    CollectingTarget target;
};

// The same resources, in the order both forms keep them, into either kind of module.
void AddSampleResources(const mb::AddResource& add) {
    add(ResId::of(ResType::Bitmap), ResId::name("LOGO"), mb::makeDib(40, 30, 8, mb::pictures::gradient()));
    add(ResId::of(ResType::Bitmap), ResId::number(101), mb::makeDib(32, 32, 4, mb::pictures::checker(4)));
    add(ResId::of(ResType::Bitmap), ResId::number(102), mb::makeDib(17, 16, 1, mb::pictures::checker(2)));
    mb::addIconGroup(add, ResId::name("APPICON"), 1, {{32, 32, 1}, {32, 32, 4}, {32, 32, 8}, {16, 16, 8}},
                     mb::pictures::disc({20, 20, 200, 255}));
    mb::addCursorGroup(add, ResId::number(1), 10, {{32, 32, 1}}, mb::pictures::arrow(), 4, 6);
}

std::map<std::string, ByteVector> FilesUnder(const std::string& root) {
    std::map<std::string, ByteVector> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().filename() != "__index.txt")
            files[fs::relative(entry.path(), root).string()] = ReadFileBytes(entry.path().string());
    return files;
}

TEST_F(NeEndToEnd, AProgramGivesTheFilesOfThe32BitForm) {
    // Windows 3.x pictures have 1, 4 and 8 bits per pixel: all of them are let through.
    options.bitmapDepth = {1, 32};
    options.iconDepth = {1, 32};
    mb::ModuleBuilder pe;
    pe.setSorted(false);
    AddSampleResources([&](const ResId& t, const ResId& n, std::vector<std::uint8_t> b) { pe.add(t, n, 0x409, std::move(b)); });
    const std::string peDir = dir / "pe";
    fs::create_directories(peDir);
    ASSERT_TRUE(mb::writeFile(peDir + "/app.exe", pe.build()).ok());
    const std::string peDest = Prepare("pe-out");
    EXPECT_FALSE(Extract(peDir + "/app.exe", peDest));
    const auto expected = FilesUnder(peDest);
    ASSERT_EQ(target.found.size(), 5u); // three bitmaps, one icon, one cursor

    for (unsigned shift : {0u, 4u, 9u}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        mb::NeBuilder ne(mb::NeForm::Program);
        ne.setShift(shift).setPadding(0x5A);
        AddSampleResources(ne.adder());
        const std::string neDir = dir / ("ne" + std::to_string(shift));
        fs::create_directories(neDir);
        ASSERT_TRUE(mb::writeFile(neDir + "/app.exe", ne.build()).ok());
        const std::string neDest = Prepare("ne-out" + std::to_string(shift));
        target.found.clear();
        EXPECT_FALSE(Extract(neDir + "/app.exe", neDest));
        EXPECT_EQ(target.found.size(), 5u);
        EXPECT_EQ(FilesUnder(neDest), expected);
        // The records are those of the 32-bit form, the folder of the source aside (the
        // header blocks carry the time of the run and are left out).
        auto records = [&](const std::string& index) {
            std::vector<std::string> out;
            for (std::string line : CrLfLines(ReadFileText(index))) {
                if (line.find(" - SOURCE FILE = ") == std::string::npos)
                    continue;
                const auto at = line.find(dir.path());
                if (at != std::string::npos)
                    line.replace(at, line.find("/app.exe", at) - at, "");
                out.push_back(line);
            }
            return out;
        };
        for (const char* kind : {"Bitmaps", "Icons", "Cursors"}) {
            const auto neRecords = records(neDest + "/" + kind + "/__index.txt");
            EXPECT_FALSE(neRecords.empty()) << kind;
            EXPECT_EQ(neRecords, records(peDest + "/" + kind + "/__index.txt")) << kind;
        }
    }
    EXPECT_TRUE(prompt.errors.empty());
}

// Group entries whose values cannot be right are judged by their images, in both
// module forms alike: the Windows 3.0 entry "4 planes, 1 bit" of a 16-colour icon, an
// 8-bit icon stated as 255 colours, a cursor 64 pixels high, a cursor stated with no
// planes. The files state the images' own values; an entry whose image is no picture
// still leaves its group out.
TEST_F(NeEndToEnd, OldGroupEntriesAreJudgedByTheirImages) {
    options.iconDepth = {1, 32};
    const auto addOld = [](const mb::AddResource& add) {
        std::uint16_t next = mb::addIconGroup(add, ResId::number(1), 1, {{32, 32, 4, {16, 4, 1}}},
                                              mb::pictures::rings());
        next = mb::addIconGroup(add, ResId::number(2), next, {{32, 32, 8, {255}}, {16, 16, 8, {0, 0, 0}}},
                                mb::pictures::disc({20, 200, 20, 255}));
        add(ResId::number(3), ResId::number(next), ByteVector(300, 0x11));
        add(ResId::number(14), ResId::number(3),
            mb::makeGroupIconDir({{32, 32, 8, 300, next, {255}}}));
        next = mb::addCursorGroup(add, ResId::number(1), 20, {{64, 64, 32}}, mb::pictures::arrow(), 1, 1);
        mb::addCursorGroup(add, ResId::number(2), next, {{32, 32, 1, {-1, 0, 0}}}, mb::pictures::arrow(), 1, 1);
    };
    mb::ModuleBuilder pe;
    addOld([&](const ResId& t, const ResId& n, std::vector<std::uint8_t> b) { pe.add(t, n, 0x409, std::move(b)); });
    mb::NeBuilder ne(mb::NeForm::Program);
    addOld(ne.adder());
    ASSERT_TRUE(mb::writeFile(dir / "new.exe", pe.build()).ok());
    ASSERT_TRUE(mb::writeFile(dir / "old.exe", ne.build()).ok());

    std::map<std::string, ByteVector> first;
    for (const char* module : {"new.exe", "old.exe"}) {
        SCOPED_TRACE(module);
        const std::string dest = Prepare(std::string(module) + "-out");
        target.found.clear();
        EXPECT_FALSE(Extract(dir / module, dest));
        EXPECT_EQ(target.found.size(), 4u); // all but BROKEN
        const std::string icons = dest + "/Icons/";
        const ByteVector win30 = ReadFileBytes(icons + module + ".ico");
        ASSERT_GE(win30.size(), 22u);
        EXPECT_EQ(win30[6 + 2], 16);         // colours
        EXPECT_EQ(U16At(win30, 6 + 4), 1u);  // planes
        EXPECT_EQ(U16At(win30, 6 + 6), 4u);  // bits per pixel
        const ByteVector eight = ReadFileBytes(icons + module + " (2).ico");
        ASSERT_GE(eight.size(), 38u);
        EXPECT_EQ(eight[6 + 2], 0);
        EXPECT_EQ(U16At(eight, 6 + 6), 8u);
        EXPECT_EQ(U16At(eight, 22 + 4), 1u);
        EXPECT_EQ(U16At(eight, 22 + 6), 8u);
        // The per-size files go by the images' own depth.
        EXPECT_TRUE(fs::exists(icons + "32x32/4/" + module + ".ico"));
        EXPECT_TRUE(fs::exists(icons + "32x32/8/" + module + " (2).ico"));
        EXPECT_TRUE(fs::exists(icons + "16x16/8/" + module + " (2).ico"));
        EXPECT_FALSE(fs::exists(icons + module + " (3).ico"));
        const ByteVector big = ReadFileBytes(dest + "/Cursors/" + std::string(module) + ".cur");
        ASSERT_GE(big.size(), 22u);
        EXPECT_EQ(big[6], 64);
        EXPECT_EQ(big[7], 64);
        EXPECT_TRUE(fs::exists(dest + "/Cursors/" + std::string(module) + " (2).cur"));
        // Both forms give the same files, but for their names.
        std::map<std::string, ByteVector> files;
        for (auto& [name, bytes] : FilesUnder(dest)) {
            std::string key = name;
            key.replace(key.find(module), std::string(module).size(), "M");
            files[key] = std::move(bytes);
        }
        if (first.empty())
            first = std::move(files);
        else
            EXPECT_EQ(files, first);
    }
}

TEST_F(NeEndToEnd, IconLibrariesGiveTheirIcons) {
    for (mb::NeForm form : {mb::NeForm::IconLibrary, mb::NeForm::IconLibraryIm}) {
        mb::NeBuilder b(form);
        std::uint16_t next = 1;
        for (const char* name : {"STAR", "MOON", "SUN"})
            next = mb::addIconGroup(b.adder(), ResId::name(name), next, {{32, 32, 4}, {32, 32, 8}},
                                    mb::pictures::rings());
        const std::string module = dir / (form == mb::NeForm::IconLibrary ? "old.icl" : "im.icl");
        ASSERT_TRUE(mb::writeFile(module, b.build()).ok());
        const std::string dest = Prepare(form == mb::NeForm::IconLibrary ? "old" : "im");
        target.found.clear();
        EXPECT_FALSE(Extract(module, dest));
        ASSERT_EQ(target.found.size(), 3u);
        EXPECT_EQ(ListDir(dest + "/Icons/32x32"), (std::vector<std::string>{"8"}));
        EXPECT_EQ(ListDir(dest + "/Icons/32x32/8").size(), 3u);
    }
}

// Font files are nothing the engine extracts, and no error either; nor is what lies
// under the picture types of a Windows 2.x module and is no picture.
TEST_F(NeEndToEnd, FontsAndBrokenWindows2PicturesGiveNothing) {
    mb::NeBuilder font(mb::NeForm::Font);
    font.add(ResId::of(ResType::FontDir), ResId::name("FONTDIR"), mb::makeFontDirectory({"Sample Sans", "Sample Serif"}, 10));
    font.add(ResId::of(ResType::Font), ResId::number(1), mb::makeFont("Sample Sans", 10));
    font.add(ResId::of(ResType::Font), ResId::number(2), mb::makeFont("Sample Serif", 10));
    ASSERT_TRUE(mb::writeFile(dir / "sample.fon", font.build()).ok());

    mb::NeBuilder old(mb::NeForm::Program);
    old.setWindowsVersion(2, 0);
    old.add(ResId::of(ResType::Bitmap), ResId::number(1), mb::makeOldBitmap(32, 16));
    old.add(ResId::of(ResType::Icon), ResId::number(1), mb::makeOldBitmap(32, 64));
    old.add(ResId::of(ResType::Cursor), ResId::number(1), mb::makeOldBitmap(32, 64));
    ASSERT_TRUE(mb::writeFile(dir / "paint.exe", old.build()).ok());

    // Both are listed as they are.
    for (const auto& [file, types] : std::vector<std::pair<std::string, std::vector<ResId>>>{
             {"sample.fon", {ResId::of(ResType::FontDir), ResId::of(ResType::Font)}},
             {"paint.exe", {ResId::of(ResType::Bitmap), ResId::of(ResType::Icon), ResId::of(ResType::Cursor)}}}) {
        auto m = OpenModule(dir / file);
        ASSERT_TRUE(m.ok()) << file;
        EXPECT_EQ((*m)->types(), types) << file;
    }

    const std::string dest = Prepare("out");
    EXPECT_FALSE(Extract(dir / "sample.fon", dest));
    EXPECT_FALSE(Extract(dir / "paint.exe", dest));
    EXPECT_TRUE(target.found.empty());
    EXPECT_TRUE(prompt.errors.empty());
    EXPECT_EQ(ListDir(dest + "/Bitmaps"), (std::vector<std::string>{"__index.txt"}));
}

// The pictures of Windows 1.x and 2.x modules come out as standard files: icons and
// cursors of every form as .ico and .cur files of one image (stored size, hot spot kept),
// bitmaps as .bmp files, each with its record; the icon and bitmap limits hold them as
// they hold other pictures (their colour depth is 1), and what is not such a picture
// under those types is left out.
TEST_F(NeEndToEnd, Windows2PicturesComeOutAsStandardFiles) {
    mb::NeBuilder old(mb::NeForm::Program);
    old.setWindowsVersion(2, 0);
    old.add(ResId::of(ResType::Bitmap), ResId::number(1), mb::makeOldBitmap(32, 16));
    old.add(ResId::of(ResType::Icon), ResId::number(1), mb::makeOldIcon(mb::OldForm::DeviceIndependent, 32, mb::pictures::rings()));
    old.add(ResId::of(ResType::Icon), ResId::number(2), mb::makeOldIcon(mb::OldForm::DeviceDependent, 32, mb::pictures::rings()));
    old.add(ResId::of(ResType::Icon), ResId::number(3), mb::makeOldIcon(mb::OldForm::Both, 16, mb::pictures::rings()));
    old.add(ResId::of(ResType::Icon), ResId::number(4), mb::makeOldBitmap(32, 64)); // no icon at all
    old.add(ResId::of(ResType::Cursor), ResId::number(1), mb::makeOldCursor(mb::OldForm::DeviceIndependent, 16, 3, 5, mb::pictures::arrow()));
    old.add(ResId::of(ResType::Cursor), ResId::number(2), mb::makeOldCursor(mb::OldForm::DeviceDependent, 32, 7, 9, mb::pictures::arrow()));
    old.add(ResId::of(ResType::Cursor), ResId::number(3), mb::makeOldCursor(mb::OldForm::Both, 32, 1, 2, mb::pictures::arrow()));
    ASSERT_TRUE(mb::writeFile(dir / "paint.exe", old.build()).ok());

    // With the default limits (8 to 32 bits) the monochrome icons and bitmaps stay out;
    // cursors have no limits.
    const std::string plain = Prepare("plain");
    EXPECT_FALSE(Extract(dir / "paint.exe", plain));
    EXPECT_EQ(target.found.size(), 3u);
    EXPECT_EQ(ListDir(plain + "/Bitmaps"), (std::vector<std::string>{"__index.txt"}));
    EXPECT_EQ(ListDir(plain + "/Icons"), (std::vector<std::string>{"__index.txt"}));

    target.found.clear();
    options.bitmapDepth = {1, 32};
    options.iconDepth = {1, 32};
    options.iconWidth = {16, 64};
    options.iconHeight = {16, 64};
    const std::string dest = Prepare("out");
    EXPECT_FALSE(Extract(dir / "paint.exe", dest));
    EXPECT_TRUE(prompt.errors.empty());
    EXPECT_EQ(target.found.size(), 7u);
    EXPECT_EQ(ListDir(dest + "/Bitmaps"), (std::vector<std::string>{"__index.txt", "paint.exe.bmp"}));
    EXPECT_EQ(ListDir(dest + "/Icons"), (std::vector<std::string>{"__index.txt", "paint.exe (2).ico", "paint.exe (3).ico",
                                                                  "paint.exe.ico"}));
    EXPECT_EQ(ListDir(dest + "/Cursors"), (std::vector<std::string>{"__index.txt", "paint.exe (2).cur", "paint.exe (3).cur",
                                                                    "paint.exe.cur"}));
    EXPECT_NE(ReadFileText(dest + "/Icons/__index.txt").find("paint.exe (3).ico - SOURCE FILE = " + (dir / "paint.exe") +
                                                             " RESOURCE TYPE = 3 RESOURCE NAME = 3"),
              std::string::npos);

    // Each file is a standard one: the directory of one image, then the image in the
    // standard form; the stored size (twice the screen's for the device-independent
    // form) and the cursor's hot spot as stored.
    const struct {
        std::string file;
        bool cursor;
        int size, hotX, hotY;
    } expected[] = {
        {"Icons/paint.exe.ico", false, 64, 1, 1},  {"Icons/paint.exe (2).ico", false, 32, 1, 1},
        {"Icons/paint.exe (3).ico", false, 32, 1, 1},  {"Cursors/paint.exe.cur", true, 32, 6, 10},
        {"Cursors/paint.exe (2).cur", true, 32, 7, 9}, {"Cursors/paint.exe (3).cur", true, 64, 2, 4},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.file);
        const ByteVector bytes = ReadFileBytes(dest + "/" + e.file);
        ASSERT_GE(bytes.size(), 22u + 40u + 8u);
        auto u16 = [&](std::size_t at) { return bytes[at] | (bytes[at + 1] << 8); };
        auto u32 = [&](std::size_t at) { return static_cast<std::uint32_t>(u16(at) | (u16(at + 2) << 16)); };
        EXPECT_EQ(u16(0), 0);
        EXPECT_EQ(u16(2), e.cursor ? 2 : 1);
        EXPECT_EQ(u16(4), 1);
        EXPECT_EQ(bytes[6], e.size);
        EXPECT_EQ(bytes[7], e.size);
        EXPECT_EQ(u16(10), e.hotX);
        EXPECT_EQ(u16(12), e.hotY);
        EXPECT_EQ(u32(14), bytes.size() - 22);
        EXPECT_EQ(u32(18), 22u);
        EXPECT_EQ(u32(22), 40u);                       // the information header
        EXPECT_EQ(u32(26), static_cast<std::uint32_t>(e.size));
        EXPECT_EQ(u32(30), static_cast<std::uint32_t>(2 * e.size)); // XOR and AND
        EXPECT_EQ(u16(36), 1);                         // one bit per pixel
        const std::uint32_t stride = ((static_cast<std::uint32_t>(e.size) + 31) / 32) * 4;
        EXPECT_EQ(bytes.size(), 22u + 40u + 8u + 2u * stride * static_cast<std::uint32_t>(e.size));
    }
    const ByteVector bmp = ReadFileBytes(dest + "/Bitmaps/paint.exe.bmp");
    ASSERT_GE(bmp.size(), 62u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(bmp[2] | (bmp[3] << 8), static_cast<int>(bmp.size()));
    EXPECT_EQ(bmp[10], 62);
    EXPECT_EQ(bmp[18], 32); // width
    EXPECT_EQ(bmp[22], 16); // height, rows from the bottom
    EXPECT_EQ(bmp.size(), 62u + 16u * 4u);
}

TEST_F(NeEndToEnd, BrokenModulesNeverCrash) {
    const std::string dest = Prepare("out");
    auto sample = [] {
        mb::NeBuilder b;
        AddSampleResources(b.adder());
        return b;
    };
    for (mb::NeFault fault : mb::allNeFaults()) {
        const std::string module = dir / (std::string(mb::neFaultName(fault)) + ".exe");
        ASSERT_TRUE(mb::writeFile(module, sample().inject(fault).build()).ok());
        EXPECT_FALSE(Extract(module, dest)) << mb::neFaultName(fault);
    }
    const auto whole = sample().build();
    for (std::size_t size = 0; size < whole.size(); size += 97) {
        const std::string module = dir / ("cut" + std::to_string(size) + ".exe");
        ASSERT_TRUE(mb::writeFile(module, sample().truncateTo(size).build()).ok());
        EXPECT_FALSE(Extract(module, dest));
    }
    EXPECT_TRUE(prompt.errors.empty());
}

} // namespace
} // namespace harvix
