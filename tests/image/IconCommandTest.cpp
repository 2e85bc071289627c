// harvix-cli icon, run as a launcher runs it: icon references in Windows' notation, the
// image chosen for a size (PNG and bitmap images, with and without enlarging), the icon
// theme layout, the group as an icon file, and what is said when a reference names
// nothing.
#include "image/IconFile.h"
#include "image/Png.h"
#include "tests/support/RunProgram.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/WindowsTree.h"
#include "tools/picbuilder/PictureBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;
using ::testing::HasSubstr;

// A solid colour per image, so that a test sees which image was chosen.
mb::Picture solid(mb::Rgba colour) {
    return [colour](int, int, int, int) { return colour; };
}
constexpr mb::Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kWhite{255, 255, 255, 255};

struct Image {
    int side;
    int bits;
    mb::Rgba colour;
    bool png = false;
};

// An icon group of the given images, each its own RT_ICON resource from `firstId` on.
std::uint16_t addGroup(mb::ModuleBuilder& b, const ResId& name, std::uint16_t firstId, const std::vector<Image>& images) {
    std::vector<mb::GroupEntry> entries;
    std::uint16_t id = firstId;
    for (const Image& image : images) {
        std::vector<std::uint8_t> bytes;
        if (image.png) {
            RgbaImage picture{static_cast<std::uint32_t>(image.side), static_cast<std::uint32_t>(image.side), {}};
            for (int i = 0; i < image.side * image.side; ++i)
                picture.rgba.insert(picture.rgba.end(), {image.colour.r, image.colour.g, image.colour.b, 255});
            bytes = EncodePng(picture).value();
        } else {
            bytes = mb::makeIconImage(image.side, image.side, image.bits, solid(image.colour));
        }
        entries.push_back({image.side, image.side, image.bits, static_cast<std::uint32_t>(bytes.size()), id});
        b.add(ResId::of(ResType::Icon), ResId::number(id), 0x409, std::move(bytes));
        ++id;
    }
    b.add(ResId::of(ResType::GroupIcon), name, 0x409, mb::makeGroupIconDir(entries));
    return id;
}

class IconCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-icon");
        // In the module's order: "MAIN" (named groups come first), 1, 5, 184.
        mb::ModuleBuilder b;
        std::uint16_t id = addGroup(b, ResId::name("MAIN"), 1,
                                    {{16, 4, kBlue}, {32, 8, kRed}, {32, 32, kGreen}, {48, 32, kBlue}});
        id = addGroup(b, ResId::number(1), id, {{32, 32, kWhite}});
        id = addGroup(b, ResId::number(5), id, {{16, 8, kRed}});
        addGroup(b, ResId::number(184), id, {{32, 32, kRed}, {256, 32, kGreen, true}});
        module = root / "app.exe";
        ASSERT_TRUE(mb::writeFile(module.string(), b.build()).ok());
    }
    void TearDown() override { fs::remove_all(root); }

    testing::ProgramRun icon(std::vector<std::string> args) {
        args.insert(args.begin(), "icon");
        return testing::RunProgram(HARVIX_CLI, args, root);
    }
    static std::vector<std::uint8_t> bytesOf(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static RgbaImage picture(const fs::path& path) {
        auto decoded = DecodePng(bytesOf(path), 4096);
        EXPECT_TRUE(decoded.ok()) << path;
        return decoded.ok() ? *decoded : RgbaImage{};
    }
    // The files in the folder besides the runner's own output files.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file() && e.path().filename() != ".stdout" && e.path().filename() != ".stderr")
                names.push_back(fs::relative(e.path(), root).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root;
    fs::path module;
};

// Every reference form picks its group; the colour in the middle tells which image.
TEST_F(IconCommandTest, ReferencesNameGroupsAsWindowsDoes) {
    const struct {
        std::string location;
        const char* size;
        std::uint32_t side;
        mb::Rgba colour;
    } cases[] = {
        {"app.exe", "32", 32, kGreen},       // the first group, its 32-bit image of 32
        {"app.exe,0", "32", 32, kGreen},     // the same, by position
        {"app.exe,-0", "32", 32, kGreen},    // "-0" is 0
        {"app.exe, 1", "32", 32, kWhite},    // the second group
        {"app.exe,3", "32", 32, kRed},       // the fourth: id 184
        {"app.exe,-184", "256", 256, kGreen}, // by id: its PNG image
        {"app.exe,-5", "16", 16, kRed},
        {"app.exe,-1", "20", 20, kWhite},
    };
    for (const auto& c : cases) {
        const testing::ProgramRun r = icon({(root / c.location).string(), (root / "out.png").string(), "--size", c.size});
        ASSERT_EQ(r.status, 0) << c.location << ": " << r.err;
        EXPECT_EQ(r.out, (root / "out.png").string() + "\n");
        const RgbaImage p = picture(root / "out.png");
        ASSERT_EQ(p.width, c.side) << c.location;
        const std::uint8_t* middle = p.pixel(p.width / 2, p.height / 2);
        EXPECT_EQ((std::vector<int>{middle[0], middle[1], middle[2]}), (std::vector<int>{c.colour.r, c.colour.g, c.colour.b}))
            << c.location;
    }
}

TEST_F(IconCommandTest, MissingReferencesNameTheModuleAndTheReference) {
    const std::string m = module.string();
    const struct {
        std::string location;
        const char* message;
    } cases[] = {
        {m + ",4", ",4: the module holds 4 icon groups, 0 to 3"},
        {m + ",-6", ",-6: no icon group has the id 6"},
        {m + ",-70000", ",-70000: no icon group has the id 70000"},
        {(root / "missing.exe,2").string(), "missing.exe,2: No such file or directory"},
        {(root / "notes.exe").string(), "notes.exe: neither a module nor an icon or cursor file"},
        {(root / "plain.dll").string(), "plain.dll: the module holds no icon"},
        {(root / "broken.dll").string(), "broken.dll: icon group 1 is damaged"},
        {(root / "hollow.dll").string(), "hollow.dll: icon group 1 names no image the module holds"},
        {(root / "icon.ico,1").string(), "icon.ico,1: an icon or cursor file holds one icon, 0"},
    };
    std::ofstream(root / "notes.exe") << "hello";
    mb::ModuleBuilder plain;
    plain.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, mb::makeDib(8, 8, 24, solid(kRed)));
    ASSERT_TRUE(mb::writeFile((root / "plain.dll").string(), plain.build()).ok());
    mb::ModuleBuilder broken;
    broken.add(ResId::of(ResType::GroupIcon), ResId::number(1), 0x409, {0, 0, 2, 0, 1, 0}); // a cursor group's type
    ASSERT_TRUE(mb::writeFile((root / "broken.dll").string(), broken.build()).ok());
    mb::ModuleBuilder hollow;
    hollow.add(ResId::of(ResType::GroupIcon), ResId::number(1), 0x409, mb::makeGroupIconDir({{32, 32, 8, 100, 9}}));
    ASSERT_TRUE(mb::writeFile((root / "hollow.dll").string(), hollow.build()).ok());
    std::ofstream(root / "icon.ico", std::ios::binary) << std::string(
        reinterpret_cast<const char*>(picbuilder::allIconForms().front().bytes.data()), picbuilder::allIconForms().front().bytes.size());
    const std::vector<std::string> before = files();
    for (const auto& c : cases) {
        const testing::ProgramRun r = icon({c.location, (root / "out.png").string(), "--theme", (root / "theme").string(),
                                            "--name", "x", "--ico", (root / "out.ico").string()});
        EXPECT_EQ(r.status, 1) << c.location;
        EXPECT_THAT(r.err, HasSubstr("harvix-cli icon: " + c.location + ": ")) << c.location;
        EXPECT_THAT(r.err, HasSubstr(c.message)) << c.location;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(files(), before); // nothing written, no temporary file left
}

// A file whose own name ends in ",N" is that file when it is there.
TEST_F(IconCommandTest, AFileNamedWithACommaIsTakenWhole) {
    fs::copy_file(module, root / "odd,3");
    const testing::ProgramRun r = icon({(root / "odd,3").string(), (root / "out.png").string(), "--size", "32"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(picture(root / "out.png").pixel(16, 16)[1], 255); // group MAIN's green, not group 184's red
    EXPECT_EQ(icon({(root / "odd,3,1").string(), (root / "out.png").string()}).status, 0); // "odd,3", group 1
}

// Exact size with the most colours; else the next larger one scaled down; else the
// largest enlarged by at most twice, or as far as asked with --upscale.
TEST_F(IconCommandTest, SizesComeFromTheBestImageAndSmallOnesGrowAtMostTwice) {
    const struct {
        std::vector<std::string> args;
        std::uint32_t side;
        mb::Rgba colour;
    } cases[] = {
        {{"--size", "16"}, 16, kBlue},       // the only 16, 4-bit
        {{"--size", "40"}, 40, kBlue},       // the 48 scaled down
        {{"--size", "64"}, 64, kBlue},       // the 48 enlarged
        {{"--size", "200"}, 96, kBlue},      // at most twice
        {{"--size", "200", "--upscale"}, 200, kBlue},
        {{}, 48, kBlue},                     // no size: the largest as it is
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{module.string(), (root / "out.png").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const testing::ProgramRun r = icon(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const RgbaImage p = picture(root / "out.png");
        EXPECT_EQ(p.width, c.side) << ::testing::PrintToString(c.args);
        EXPECT_EQ(p.height, c.side);
        EXPECT_EQ(p.pixel(p.width / 2, p.height / 2)[2], c.colour.b) << ::testing::PrintToString(c.args);
    }
    // A PNG image scaled down, and the bitmap of 32 beside it taken as it is.
    ASSERT_EQ(icon({module.string() + ",-184", (root / "png.png").string(), "--size", "100"}).status, 0);
    EXPECT_EQ(picture(root / "png.png").width, 100u);
    EXPECT_EQ(picture(root / "png.png").pixel(50, 50)[1], 255);
    ASSERT_EQ(icon({module.string() + ",-184", (root / "dib.png").string(), "--size", "32"}).status, 0);
    EXPECT_EQ(picture(root / "dib.png").pixel(16, 16)[0], 255);
    // An icon file is an icon too.
    const picbuilder::Bytes ico =
        picbuilder::makeIconFile({{picbuilder::makePng(64, 64), 64, 64, 32}, {picbuilder::makePng(20, 20), 20, 20, 32}});
    std::ofstream(root / "file.ico", std::ios::binary).write(reinterpret_cast<const char*>(ico.data()),
                                                             static_cast<std::streamsize>(ico.size()));
    ASSERT_EQ(icon({(root / "file.ico,0").string(), (root / "ico.png").string(), "--size", "24"}).status, 0);
    EXPECT_EQ(picture(root / "ico.png").width, 24u);
}

// The theme gets every size the group holds and the standard sizes that can be made
// without enlarging beyond twice; the icon file gets the group's images unchanged.
TEST_F(IconCommandTest, ThemeLayoutAndIconFile) {
    const fs::path theme = root / "icons/hicolor";
    const testing::ProgramRun r =
        icon({module.string(), "--theme", theme.string(), "--name", "my-app", "--ico", (root / "app.ico").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::uint32_t> sides{16, 22, 24, 32, 36, 48, 64, 72, 96};
    std::string expected;
    for (const std::uint32_t side : sides) {
        const std::string folder = std::to_string(side) + "x" + std::to_string(side);
        const fs::path png = theme / folder / "apps/my-app.png";
        expected += png.string() + "\n";
        const RgbaImage p = picture(png);
        EXPECT_EQ(p.width, side);
        EXPECT_EQ(p.height, side);
    }
    expected += (root / "app.ico").string() + "\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(picture(theme / "32x32/apps/my-app.png").pixel(16, 16)[1], 255); // the 32-bit image of 32
    EXPECT_FALSE(fs::exists(theme / "128x128"));

    // The icon file: the four images in the group's order, as the module holds them.
    const std::vector<std::uint8_t> ico = bytesOf(root / "app.ico");
    auto directory = ReadIconDirectory(ico);
    ASSERT_TRUE(directory.ok());
    ASSERT_EQ(directory->entries.size(), 4u);
    const int widths[] = {16, 32, 32, 48}, bits[] = {4, 8, 32, 32}, colours[] = {16, 0, 0, 0};
    const Image images[] = {{16, 4, kBlue}, {32, 8, kRed}, {32, 32, kGreen}, {48, 32, kBlue}};
    for (std::size_t i = 0; i < 4; ++i) {
        const IconDirEntry& e = directory->entries[i];
        EXPECT_EQ(e.width, widths[i]);
        EXPECT_EQ(e.bitCountOrHotY, bits[i]);
        EXPECT_EQ(e.colourCount, colours[i]);
        EXPECT_EQ(e.planesOrHotX, 1);
        auto image = IconImageBytes(ico, e);
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(std::vector<std::uint8_t>(image->begin(), image->end()),
                  mb::makeIconImage(images[i].side, images[i].side, images[i].bits, solid(images[i].colour)));
    }

    // With --upscale every standard size up to 256; a group with a 256 image has them
    // anyway, its PNG image in the 256 folder as it is. Files are replaced whole.
    ASSERT_EQ(icon({module.string() + ",-184", "--theme", theme.string(), "--name", "my-app"}).status, 0);
    EXPECT_EQ(picture(theme / "256x256/apps/my-app.png").width, 256u);
    EXPECT_EQ(picture(theme / "192x192/apps/my-app.png").width, 192u);
    EXPECT_EQ(picture(theme / "32x32/apps/my-app.png").pixel(16, 16)[0], 255); // now group 184's red
    ASSERT_EQ(icon({module.string() + ",2", "--theme", (root / "up").string(), "--name", "n", "--upscale"}).status, 0);
    EXPECT_EQ(picture(root / "up/256x256/apps/n.png").width, 256u);
    for (const std::string& name : files())
        EXPECT_EQ(name.find(".harvix-"), std::string::npos) << name;
}

TEST_F(IconCommandTest, BadUsage) {
    const std::string m = module.string();
    const std::vector<std::vector<std::string>> cases{
        {},
        {m},                                      // nothing to write
        {m, "a.png", "b.png", "c.png"},
        {m, "a.png", "--size", "0"},
        {m, "a.png", "--size", "4097"},
        {m, "a.png", "--size"},
        {m, "--theme", "t"},                      // without --name
        {m, "--name", "n"},                       // without --theme
        {m, "--theme", "t", "--name", "a/b"},
        {m, "--theme", "t", "--name", ".."},
        {m, "--size", "32", "--ico", "a.ico"},    // a size for no PNG
        {m, "a.png", "--frob"},
        {m, "a.bmp"},                             // neither .png nor .ico
        {m, "a"},
        {m, "a.ico", "--ico", "b.ico"},           // two icon files
        {m, "a.ico", "--size", "32"},             // a size for no PNG
        {m, "a.png", "--satellites", "--no-satellites"},
        {m, "a.png", "--language", "english"},
    };
    for (const auto& args : cases) {
        const testing::ProgramRun r = icon(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_THAT(r.err, HasSubstr("harvix-cli icon: ")) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(files(), std::vector<std::string>{"app.exe"});
    EXPECT_THAT(icon({m, "a.bmp"}).err, HasSubstr("'a.bmp' is neither a .png nor an .ico file"));
}

// The output's extension says what it holds, in any case: OUT.ico an icon file, OUT.png a
// PNG picture; --ico writes an icon file whatever the name.
TEST_F(IconCommandTest, TheOutputsExtensionChoosesItsFormat) {
    const fs::path ico = root / "np.ico", png = root / "np.PNG", named = root / "np.icon-file";
    const testing::ProgramRun r = icon({module.string(), ico.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ico.string() + "\n");
    auto directory = ReadIconDirectory(bytesOf(ico));
    ASSERT_TRUE(directory.ok());
    EXPECT_EQ(directory->entries.size(), 4u);
    ASSERT_EQ(icon({module.string(), png.string(), "--size", "16"}).status, 0);
    EXPECT_EQ(picture(png).width, 16u);
    ASSERT_EQ(icon({module.string(), "--ico", named.string()}).status, 0);
    EXPECT_EQ(bytesOf(named), bytesOf(ico));
}

// A Windows 10/11 system folder: the stub module in System32 holds no icon, its icons
// lie in SystemResources/NAME.mun. icon and thumbnail read them as list and extract do
// (caged where the kernel can), unless --no-satellites or the stored setting says not to.
TEST_F(IconCommandTest, IconsOfAStubComeFromItsSatellites) {
    const auto tree = mb::writeWindowsTree(root.string());
    ASSERT_TRUE(tree.ok());
    const std::vector<std::string> env = {"HARVIX_REGISTRY=" + (root / "registry.db").string(), "LANG=C"};
    const auto run = [&](std::vector<std::string> args) { return testing::RunProgram(HARVIX_CLI, args, root, env); };

    const fs::path first = root / "first.png", byId = root / "by-id.png";
    testing::ProgramRun r = run({"icon", tree->stub, first.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(picture(first).width, 48u); // the first group's largest image, 48 x 48
    r = run({"icon", tree->stub + ",-4", byId.string(), "--size", "32"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(picture(byId).width, 32u);
    r = run({"icon", tree->stub32 + ",1", (root / "wow.ico").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadIconDirectory(bytesOf(root / "wow.ico")).ok());
    r = run({"thumbnail", "--size", "32", tree->stub, (root / "thumb.png").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(picture(root / "thumb.png").width, 32u);

    // Read as it is, the stub holds no icon.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"icon", "--no-satellites", tree->stub, (root / "none.png").string()},
          std::vector<std::string>{"thumbnail", "--no-satellites", tree->stub, (root / "none.png").string()}}) {
        r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_THAT(r.err, HasSubstr("holds no icon")) << args[0];
    }
    // The stored setting is the default; the option wins over it.
    ASSERT_EQ(run({"settings", "Satellites=0"}).status, 0);
    r = run({"icon", tree->stub, (root / "none.png").string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(run({"thumbnail", tree->stub, (root / "none.png").string()}).status, 1);
    EXPECT_FALSE(fs::exists(root / "none.png"));
    r = run({"icon", "--satellites", tree->stub, (root / "again.png").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({"thumbnail", "--satellites", "--language", "de-DE", tree->stub, (root / "again.png").string()});
    EXPECT_EQ(r.status, 0) << r.err;
}

} // namespace
} // namespace harvix
