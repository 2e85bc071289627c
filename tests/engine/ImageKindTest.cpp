// Pictures kept whole in RCDATA and in named types: each comes out once as the file it
// is, with its record; the data beside them never does, and never counts as left out.
#include "extract/Destination.h"
#include "extract/JudgeResource.h"
#include "tests/engine/EngineTestSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace harvix {
namespace {

using namespace harvix::testing;
namespace mb = harvix::modbuilder;
namespace fs = std::filesystem;

const ResId kRcData = ResId::of(ResType::RcData);

KindSwitches Only(ResourceKind kind) {
    KindSwitches kinds{};
    kinds[static_cast<std::size_t>(KindIndex(kind))] = true;
    return kinds;
}

class LeftOutLog final : public IExtractObserver {
public:
    struct Entry {
        std::string type;
        std::string name;
        LeftOut why;
    };
    std::vector<Entry> entries;
    void ResourceLeftOut(const ResourceRef& resource, ResourceKind kind, const LeftOut& why) override {
        EXPECT_EQ(kind, ResourceKind::Image);
        entries.push_back({resource.type.toText(), resource.name.toText(), why});
    }
};

// The pictures of one theme-like module, with what is not a picture beside them.
struct Sample {
    ByteVector png = mb::makePngFile(48, 40, mb::pictures::gradient());
    ByteVector jpeg = mb::makeJpegFile(16, 24, mb::pictures::checker(2));
    ByteVector gif = mb::makeGifFile(20, 10, mb::pictures::rings());
    ByteVector bmp = mb::makeBmpFile(12, 12, 24, mb::pictures::checker(3));
    ByteVector ico = mb::makeIcoFile({{16, 16, 32}, {32, 32, 32}}, mb::pictures::disc({200, 20, 20, 255}));
    ByteVector smallPng = mb::makePngFile(9, 9, mb::pictures::checker(3));
    ByteVector cutPng; // a PNG cut short: a picture, but not a whole one

    Sample() { cutPng.assign(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)); }

    void addTo(const mb::AddResource& add) const {
        add(kRcData, ResId::number(1), png);
        add(kRcData, ResId::number(2), {'<', '?', 'x', 'm', 'l', '?', '>'});
        add(kRcData, ResId::number(3), jpeg);
        // Begins like a bitmap file, and is none: the bitmap and icon files' short
        // signatures begin plenty of other data.
        add(kRcData, ResId::number(4), ByteVector{'B', 'M', 'W', ' ', 'p', 'a', 'r', 't', 's'});
        add(kRcData, ResId::number(8), ByteVector{0, 0, 1, 0, 0, 0, 0, 0});
        add(kRcData, ResId::name("CUT"), cutPng);
        add(ResId::name("PNG"), ResId::name("LOGO"), smallPng);
        add(ResId::name("PNG"), ResId::number(7), ByteVector(64, 0));
        add(ResId::name("IMAGE"), ResId::number(5), gif);
        add(ResId::name("IMAGE"), ResId::number(6), bmp);
        add(ResId::name("IMAGE"), ResId::name("APP"), ico);
        add(ResId::name("TEXTS"), ResId::number(1), {'h', 'e', 'l', 'l', 'o'});
        // A named type the videos keep is never the images'.
        add(ResId::name("AVI"), ResId::number(1), png);
    }
};

class ImageKind : public ::testing::Test {
protected:
    std::string Prepare(const std::string& name, const KindSwitches& kinds) {
        const std::string dest = dir / name;
        EXPECT_FALSE(PrepareDestination(dest, kinds, {"/w", true, "*.dll"}, prompt));
        return dest;
    }
    ModuleOutcome Extract(const std::string& path, const std::string& dest) {
        ExtractionOptions given = options;
        given.destinationFolder = dest;
        mResCore engine(given, prompt);
        engine.AddObserver(leftOut);
        return engine.ExtractFromFile(path, target);
    }
    std::string WritePe(const std::string& name) {
        mb::ModuleBuilder pe;
        sample.addTo([&](const ResId& t, const ResId& n, std::vector<std::uint8_t> b) {
            pe.add(t, n, 0x409, std::move(b));
        });
        const std::string path = dir / name;
        EXPECT_TRUE(mb::writeFile(path, pe.build()).ok());
        return path;
    }

    ScratchDir dir;
    ExtractionOptions options;
    ScriptedPrompt prompt;
    CollectingTarget target;
    LeftOutLog leftOut;
    Sample sample;
};

std::map<std::string, ByteVector> FilesIn(const std::string& folder) {
    std::map<std::string, ByteVector> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != "__index.txt")
            files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

// "theme.dll.png RCDATA 1" for each record of an index file.
std::vector<std::string> Records(const std::string& index) {
    std::vector<std::string> out;
    for (const std::string& line : CrLfLines(ReadFileText(index))) {
        const auto source = line.find(" - SOURCE FILE = ");
        if (source == std::string::npos)
            continue;
        const auto type = line.find(" RESOURCE TYPE = ");
        const auto name = line.find(" RESOURCE NAME = ");
        out.push_back(line.substr(0, source) + " " + line.substr(type + 17, name - type - 17) + " " +
                      line.substr(name + 17));
    }
    return out;
}

TEST_F(ImageKind, EachPictureComesOutOnceAsTheFileItIsWithItsRecord) {
    options.kindEnabled = Only(ResourceKind::Image);
    const std::string module = WritePe("theme.dll");
    const std::string dest = Prepare("out", options.kindEnabled);
    const ModuleOutcome outcome = Extract(module, dest);
    EXPECT_EQ(outcome.end, ModuleEnd::Done);
    EXPECT_EQ(outcome.written, 6);

    // Named after the module, with the extension of the file each one is; the counter
    // tells pictures of one format apart.
    const std::map<std::string, ByteVector> expected{
        {"theme.dll.png", sample.smallPng}, {"theme.dll (2).png", sample.png},
        {"theme.dll.jpg", sample.jpeg},     {"theme.dll.gif", sample.gif},
        {"theme.dll.bmp", sample.bmp},      {"theme.dll.ico", sample.ico},
    };
    EXPECT_EQ(FilesIn(dest + "/Images"), expected);
    // Named types are enumerated before numbered ones, as modules keep them.
    EXPECT_EQ(Records(dest + "/Images/__index.txt"),
              (std::vector<std::string>{"theme.dll.ico IMAGE APP", "theme.dll.gif IMAGE 5",
                                        "theme.dll.bmp IMAGE 6", "theme.dll.png PNG LOGO",
                                        "theme.dll (2).png 10 1", "theme.dll.jpg 10 3"}));
    ASSERT_EQ(target.found.size(), 6u);
    for (const auto& found : target.found)
        EXPECT_EQ(found.kind, KindIndex(ResourceKind::Image));

    // The picture cut short is the one left out; data that is no picture is not.
    EXPECT_EQ(outcome.leftOut, 1);
    ASSERT_EQ(leftOut.entries.size(), 1u);
    EXPECT_EQ(leftOut.entries[0].name, "CUT");
    EXPECT_EQ(leftOut.entries[0].why.reason, LeftOutReason::Malformed);
    EXPECT_FALSE(leftOut.entries[0].why.detail.empty());
    EXPECT_TRUE(prompt.errors.empty());
}

TEST_F(ImageKind, WidthAndHeightLimitsLeaveOutWhatIsOutside) {
    options.kindEnabled = Only(ResourceKind::Image);
    options.imageWidth = {10, 40};
    options.imageHeight = {10, 30};
    const std::string module = WritePe("theme.dll");
    const std::string dest = Prepare("out", options.kindEnabled);
    EXPECT_EQ(Extract(module, dest).written, 3); // JPEG 16x24, GIF 20x10, BMP 12x12

    EXPECT_EQ(ListDir(dest + "/Images"),
              (std::vector<std::string>{"__index.txt", "theme.dll.bmp", "theme.dll.gif", "theme.dll.jpg"}));
    std::map<std::string, std::string> details;
    for (const auto& entry : leftOut.entries) {
        if (entry.why.reason == LeftOutReason::Limits)
            details[entry.type + " " + entry.name] = entry.why.detail;
    }
    // An ICO file is judged by its largest image.
    EXPECT_EQ(details, (std::map<std::string, std::string>{
                           {"10 1", "PNG width 48 outside the limit 10-40"},
                           {"PNG LOGO", "PNG width 9 outside the limit 10-40"},
                           {"IMAGE APP", "ICO height 32 outside the limit 10-30"},
                       }));
}

// A run that does not ask for images writes what it wrote before: no Images folder,
// RCDATA untouched, and the other kinds' files as they were.
TEST_F(ImageKind, ARunWithTheDefaultKindsLooksForNoPictures) {
    ASSERT_FALSE(options.enabled(ResourceKind::Image));
    const std::string module = WritePe("theme.dll");
    KindSwitches kinds = options.kindEnabled;
    const std::string dest = Prepare("out", kinds);
    const ModuleOutcome outcome = Extract(module, dest);
    EXPECT_EQ(outcome.written, 1); // the "AVI" resource, a video
    EXPECT_EQ(outcome.leftOut, 0);
    EXPECT_FALSE(fs::exists(dest + "/Images"));
    EXPECT_EQ(FilesIn(dest + "/Videos"), (std::map<std::string, ByteVector>{{"theme.dll.avi", sample.png}}));
}

// A 16-bit module pads its resources with zero bytes: the pictures are found all the
// same, and written as stored.
TEST_F(ImageKind, SixteenBitModulesHoldThemToo) {
    options.kindEnabled = Only(ResourceKind::Image);
    for (unsigned shift : {0u, 4u, 9u}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        mb::NeBuilder ne(mb::NeForm::Program);
        ne.setShift(shift).setPadding(0);
        sample.addTo(ne.adder());
        const std::string module = dir / ("old" + std::to_string(shift) + ".exe");
        ASSERT_TRUE(mb::writeFile(module, ne.build()).ok());
        const std::string dest = Prepare("out" + std::to_string(shift), options.kindEnabled);
        leftOut.entries.clear();
        EXPECT_EQ(Extract(module, dest).written, 6);
        const auto files = FilesIn(dest + "/Images");
        ASSERT_EQ(files.size(), 6u);
        int whole = 0;
        for (const auto& [name, bytes] : files)
            whole += bytes.size() >= sample.png.size() &&
                     std::equal(sample.png.begin(), sample.png.end(), bytes.begin());
        EXPECT_EQ(whole, 1);
        EXPECT_EQ(leftOut.entries.size(), 1u);
    }
}

// What list --explain tells: data of the image kind's types that is no picture is none
// of the kind's, whatever the kinds chosen; a picture is judged by the writer.
TEST_F(ImageKind, JudgedWithoutWritingAsTheRunWould) {
    const std::string module = WritePe("theme.dll");
    auto opened = OpenModule(module);
    ASSERT_TRUE(opened.ok());
    const IResourceModule& m = **opened;
    options.kindEnabled = Only(ResourceKind::Image);
    options.imageWidth = {1, 40};
    struct Case {
        ResId type;
        ResId name;
        bool ofKind;
        std::optional<LeftOutReason> leftOut;
    };
    const Case cases[] = {
        {kRcData, ResId::number(2), false, std::nullopt},
        {kRcData, ResId::number(4), false, std::nullopt},
        {kRcData, ResId::number(8), false, std::nullopt},
        {kRcData, ResId::name("CUT"), true, LeftOutReason::Malformed},
        {kRcData, ResId::number(1), true, LeftOutReason::Limits},
        {kRcData, ResId::number(3), true, std::nullopt},
        {ResId::name("PNG"), ResId::number(7), false, std::nullopt},
        {ResId::name("TEXTS"), ResId::number(1), false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type.toText() + " " + c.name.toText());
        ASSERT_EQ(ExtractedKind(m, c.type), ResourceKind::Image);
        EXPECT_EQ(IsOfKind(m, ResourceKind::Image, c.type, c.name), c.ofKind);
        if (!c.ofKind)
            continue;
        const auto why = JudgeResource(m, ResourceKind::Image, c.type, c.name, options);
        EXPECT_EQ(why ? std::optional(why->reason) : std::nullopt, c.leftOut);
    }
    EXPECT_EQ(ExtractedKind(m, ResId::name("AVI")), ResourceKind::Video);
    // Every other kind's resources are its own.
    EXPECT_TRUE(IsOfKind(m, ResourceKind::Video, ResId::name("AVI"), ResId::number(1)));
}

} // namespace
} // namespace harvix
