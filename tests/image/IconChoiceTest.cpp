// Icon references in Windows' notation, the groups they name in a module, the sizes an
// icon theme gets, and icon files made of a group's images.
#include "image/IconFile.h"
#include "convert/ModuleIcons.h"
#include "image/Thumbnail.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/picbuilder/PictureBuilder.h"

#include <gtest/gtest.h>

namespace harvix {
namespace {

namespace mb = modbuilder;
using By = IconRef::By;

TEST(IconRef, WindowsNotation) {
    const struct {
        const char* text;
        std::optional<IconRef> ref;
    } cases[] = {
        {"0", IconRef{By::Position, 0}},        {"3", IconRef{By::Position, 3}},
        {" 7 ", IconRef{By::Position, 7}},      {"-184", IconRef{By::Id, 184}},
        {"-0", IconRef{By::Position, 0}},       {"-70000", IconRef{By::Id, 70000}},
        {"2147483647", IconRef{By::Position, 2147483647}},
        {"2147483648", std::nullopt},           {"99999999999", std::nullopt},
        {"", std::nullopt},                     {"-", std::nullopt},
        {"+1", std::nullopt},                   {"1.5", std::nullopt},
        {"0x10", std::nullopt},                 {"--1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseIconRef(c.text), c.ref) << c.text;
    EXPECT_EQ((IconRef{By::Id, 184}).toText(), "-184");

    const struct {
        const char* text;
        const char* module;
        std::optional<IconRef> ref;
    } locations[] = {
        {"shell32.dll,3", "shell32.dll", IconRef{By::Position, 3}},
        {"imageres.dll, -184", "imageres.dll", IconRef{By::Id, 184}},
        {"a,b.dll", "a,b.dll", std::nullopt},
        {"a.dll,", "a.dll,", std::nullopt},
        {"odd,1,2", "odd,1", IconRef{By::Position, 2}},
        {"C:\\Program Files\\x.exe,0", "C:\\Program Files\\x.exe", IconRef{By::Position, 0}},
        {"plain.exe", "plain.exe", std::nullopt},
    };
    for (const auto& l : locations) {
        const IconLocation got = SplitIconLocation(l.text);
        EXPECT_EQ(got.module, l.module) << l.text;
        EXPECT_EQ(got.ref, l.ref) << l.text;
    }
}

// A group that names one image again and again, or claims more entries than it holds,
// is read as what it holds, each image once.
TEST(IconGroups, ImagesAreReadOnceAndTheGroupAsFarAsItGoes) {
    mb::ModuleBuilder b;
    const auto image = mb::makeIconImage(32, 32, 32, mb::pictures::gradient());
    b.add(ResId::of(ResType::Icon), ResId::number(1), 0x409, image);
    b.add(ResId::of(ResType::Icon), ResId::number(2), 0x409, mb::makeIconImage(16, 16, 8, mb::pictures::gradient()));
    std::vector<mb::GroupEntry> entries(5000, mb::GroupEntry{32, 32, 32, static_cast<std::uint32_t>(image.size()), 1});
    entries.push_back({16, 16, 8, 0, 2});
    b.add(ResId::of(ResType::GroupIcon), ResId::number(7), 0x409, mb::makeGroupIconDir(entries));
    auto claims = mb::makeGroupIconDir({{32, 32, 32, 0, 2}});
    claims[4] = 0xFF; // 255 entries claimed, one there
    b.add(ResId::of(ResType::GroupIcon), ResId::number(8), 0x409, claims);
    auto module = OpenModuleFromBuffer(b.build());
    ASSERT_TRUE(module.ok());

    auto group = LoadIconGroup(**module, IconRef{By::Id, 7});
    ASSERT_TRUE(group.ok()) << group.error().message;
    EXPECT_EQ(group->images.size(), 2u);
    EXPECT_EQ(group->position, 0u);
    EXPECT_EQ(group->groupCount, 2u);
    auto claimed = LoadIconGroup(**module, IconRef{By::Position, 1});
    ASSERT_TRUE(claimed.ok());
    EXPECT_EQ(claimed->images.size(), 1u);
    EXPECT_EQ(claimed->name, ResId::number(8));
    EXPECT_EQ(LoadIconGroup(**module, IconRef{By::Position, 2}).error().message, "the module holds 2 icon groups, 0 to 1");
}

TEST(IconTheme, HeldSizesAndTheStandardOnesThatCanBeMade) {
    auto icon = [](int side) {
        picbuilder::DibSpec s;
        s.width = s.height = side;
        s.bitCount = 32;
        return picbuilder::makeIconDib(s);
    };
    constexpr std::uint32_t kStandard[] = {16, 24, 32, 48, 64, 128, 256};
    const struct {
        std::vector<int> sides;
        std::uint32_t enlargement;
        std::vector<std::uint32_t> sizes;
    } cases[] = {
        {{16, 32}, 2, {16, 24, 32, 48, 64}},
        {{20, 40}, 2, {16, 20, 24, 32, 40, 48, 64}},
        {{256}, 2, {16, 24, 32, 48, 64, 128, 256}},
        {{16}, 1, {16}},
        {{16}, 1000, {16, 24, 32, 48, 64, 128, 256}},
        {{300}, 2, {16, 24, 32, 48, 64, 128, 256, 300}},
    };
    for (const auto& c : cases) {
        std::vector<picbuilder::Bytes> images;
        for (int side : c.sides)
            images.push_back(icon(side));
        images.push_back({1, 2, 3}); // unreadable: no size of its own
        const std::vector<ByteView> views(images.begin(), images.end());
        EXPECT_EQ(IconThemeSizes(views, kStandard, c.enlargement), c.sizes) << c.sides.back();
    }
    EXPECT_TRUE(IconThemeSizes({}, kStandard, 2).empty());
}

// The directory of an icon file states what each image's own header says.
TEST(IconFileOfImages, DirectoryFromTheImagesThemselves) {
    picbuilder::DibSpec four;
    four.width = four.height = 32;
    four.bitCount = 4;
    const std::vector<picbuilder::Bytes> images{picbuilder::makeIconDib(four), {9, 9}, picbuilder::makePng(256, 256),
                                                picbuilder::makePng(48, 40)};
    const std::vector<ByteView> views(images.begin(), images.end());
    const std::vector<std::uint8_t> ico = IconFileOfImages(views);
    ASSERT_TRUE(IsIconFileHead(ico));
    auto dir = ReadIconDirectory(ico);
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(dir->entries.size(), 3u); // the unreadable one is left out
    const struct {
        int width, height, colours, bits;
        std::size_t image;
    } expected[] = {{32, 32, 16, 4, 0}, {0, 0, 0, 32, 2}, {48, 40, 0, 32, 3}};
    for (std::size_t i = 0; i < 3; ++i) {
        const IconDirEntry& e = dir->entries[i];
        EXPECT_EQ(e.width, expected[i].width);
        EXPECT_EQ(e.height, expected[i].height);
        EXPECT_EQ(e.colourCount, expected[i].colours);
        EXPECT_EQ(e.planesOrHotX, 1);
        EXPECT_EQ(e.bitCountOrHotY, expected[i].bits);
        auto bytes = IconImageBytes(ico, e);
        ASSERT_TRUE(bytes.ok());
        EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(), images[expected[i].image].begin(),
                               images[expected[i].image].end()));
    }
    EXPECT_TRUE(IconFileOfImages({views[1]}).empty());
    EXPECT_FALSE(IsIconFileHead(std::vector<std::uint8_t>{0, 0, 1, 0, 0, 0})); // no image
    EXPECT_FALSE(IsIconFileHead(std::vector<std::uint8_t>{'M', 'Z', 0, 0, 1, 0}));
    EXPECT_TRUE(IsIconFileHead(std::vector<std::uint8_t>{0, 0, 2, 0, 1, 0}));
}

} // namespace
} // namespace harvix
