// Picture files read as modules: an icon file is one icon group whose entries are the
// file's own, naming its images in order, and a damaged icon file gives the images up to
// the damage; a picture file kept whole is one RCDATA resource; anything else is refused.
#include "module/PictureModule.h"
#include "tools/modbuilder/PicturePayloads.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace harvix;
using namespace harvix::modbuilder;

namespace {

std::shared_ptr<const std::vector<std::uint8_t>> shared(std::vector<std::uint8_t> bytes) {
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

// The 16-byte directory entry `index` of an icon file.
std::span<const std::uint8_t> entryOf(const std::vector<std::uint8_t>& file, std::size_t index) {
    return std::span(file).subspan(6 + 16 * index, 16);
}

std::uint32_t u32At(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

TEST(PictureModule, AnIconFileIsOneGroupNamingItsImagesInOrder) {
    const auto file = makeIcoFile({{32, 32, 32}, {16, 16, 4}}, pictures::rings());
    auto module = OpenIconFileAsModule(shared(file));
    ASSERT_TRUE(module.ok()) << module.error().message;
    const IResourceModule& m = **module;
    ASSERT_EQ(m.types(), (std::vector<ResId>{ResId::of(ResType::Icon), ResId::of(ResType::GroupIcon)}));
    EXPECT_EQ(m.names(ResId::of(ResType::GroupIcon)), std::vector<ResId>{ResId::number(1)});
    ASSERT_EQ(m.names(ResId::of(ResType::Icon)), (std::vector<ResId>{ResId::number(1), ResId::number(2)}));
    const auto group = m.load(ResId::of(ResType::GroupIcon), ResId::number(1));
    ASSERT_EQ(group.size(), 6u + 2 * 14u);
    EXPECT_EQ(group[4], 2);
    for (std::size_t i = 0; i < 2; ++i) {
        const auto entry = entryOf(file, i);
        // The first 12 bytes of the file's entry, then the image's number.
        const auto groupEntry = std::span(group).subspan(6 + 14 * i, 14);
        EXPECT_TRUE(std::equal(entry.begin(), entry.begin() + 12, groupEntry.begin()));
        EXPECT_EQ(groupEntry[12], i + 1);
        const auto image = m.load(ResId::of(ResType::Icon), ResId::number(static_cast<std::uint16_t>(i + 1)));
        ASSERT_EQ(image.size(), u32At(entry, 8));
        const auto inFile = std::span(file).subspan(u32At(entry, 12), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), inFile.begin()));
    }
    EXPECT_EQ(m.languages(ResId::of(ResType::Icon), ResId::number(2)).size(), 1u);
    EXPECT_TRUE(m.load(ResId::of(ResType::Icon), ResId::number(3)).empty());
    EXPECT_TRUE(m.names(ResId::name("PNG")).empty());
}

TEST(PictureModule, ADamagedIconFileGivesTheImagesBeforeTheDamage) {
    auto file = makeIcoFile({{32, 32, 32}, {16, 16, 4}}, pictures::rings());
    // The second image said to run past the end of the file.
    const std::uint32_t huge = 0x7FFFFFFF;
    std::memcpy(file.data() + 6 + 16 + 8, &huge, 4);
    auto module = OpenIconFileAsModule(shared(file));
    ASSERT_TRUE(module.ok());
    EXPECT_EQ((*module)->names(ResId::of(ResType::Icon)), std::vector<ResId>{ResId::number(1)});
    EXPECT_EQ((*module)->load(ResId::of(ResType::GroupIcon), ResId::number(1))[4], 1);

    // The first image already past the end: nothing is left of it.
    std::memcpy(file.data() + 6 + 8, &huge, 4);
    EXPECT_EQ(OpenIconFileAsModule(shared(file)).error().kind, ErrorKind::NotLoadable);
}

TEST(PictureModule, OnlyIconAndPictureFilesAreRead) {
    const auto bmp = makeBmpFile(8, 4, 24, pictures::checker(2));
    // A cursor file, a bitmap, text, nothing: no icon file.
    auto cursor = makeIcoFile({{16, 16, 4}}, pictures::rings());
    cursor[2] = 2;
    for (const auto& bytes : {cursor, bmp, std::vector<std::uint8_t>{'M', 'Z', 0, 0}, std::vector<std::uint8_t>{}})
        EXPECT_FALSE(OpenIconFileAsModule(shared(bytes)).ok());

    auto picture = OpenPictureFileAsModule(shared(bmp));
    ASSERT_TRUE(picture.ok());
    EXPECT_EQ((*picture)->types(), std::vector<ResId>{ResId::of(ResType::RcData)});
    EXPECT_EQ((*picture)->load(ResId::of(ResType::RcData), ResId::number(1)), bmp);
    // A bitmap cut short is no whole picture, and text none at all.
    EXPECT_FALSE(OpenPictureFileAsModule(shared(std::vector<std::uint8_t>(bmp.begin(), bmp.end() - 10))).ok());
    EXPECT_FALSE(OpenPictureFileAsModule(shared({'t', 'e', 'x', 't'})).ok());
}

} // namespace
