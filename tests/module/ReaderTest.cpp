// The PE reader on well-formed modules written by the module builder: directory order,
// text forms, languages, bytes, lookups and the packer that compressed a module.
#include "tools/modbuilder/ModuleBuilder.h"
#include "module/PeModule.h"
#include "tests/support/ModuleIds.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace harvix;
using namespace harvix::modbuilder;
using namespace harvix::testing;

namespace {

class Reader : public ::testing::TestWithParam<Machine> {};

INSTANTIATE_TEST_SUITE_P(Machines, Reader, ::testing::Values(Machine::Pe32, Machine::Pe32Plus),
                         [](const auto& p) { return p.param == Machine::Pe32 ? "Pe32" : "Pe32Plus"; });

TEST_P(Reader, EnumeratesTypesAndNamesInDirectoryOrder) {
    ModuleBuilder b(GetParam());
    // Added out of order on purpose; the builder sorts as linkers do.
    b.add(num(23), num(300), 0x409, bytesOf("c"));
    b.add(num(2), num(101), 0x409, bytesOf("bitmap101"));
    b.add(txt("AVI"), txt("CLIP"), 0x409, bytesOf("avi"));
    b.add(num(2), txt("ZEBRA"), 0x409, bytesOf("z"));
    b.add(num(2), num(7), 0x409, bytesOf("bitmap7"));
    b.add(num(2), txt("APPLE"), 0x409, bytesOf("a"));
    b.add(num(14), num(1), 0x409, bytesOf("group"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);

    EXPECT_EQ(texts(m->types()), (std::vector<std::string>{"AVI", "2", "14", "23"}));
    EXPECT_EQ(m->types()[0], txt("AVI"));
    EXPECT_EQ(m->types()[1], num(2));
    EXPECT_EQ(texts(m->names(num(2))), (std::vector<std::string>{"APPLE", "ZEBRA", "7", "101"}));
    EXPECT_EQ(m->names(num(2))[2], num(7));
    EXPECT_EQ(m->load(num(2), num(101)), bytesOf("bitmap101"));
    EXPECT_EQ(m->load(num(2), txt("ZEBRA")), bytesOf("z"));
    EXPECT_EQ(m->load(txt("AVI"), txt("CLIP")), bytesOf("avi"));
    EXPECT_EQ(m->load(num(23), num(300)), bytesOf("c"));
}

TEST_P(Reader, KeepsAnUnsortedDirectoryInItsOwnOrderAndStillFindsEverything) {
    ModuleBuilder b(GetParam());
    b.setSorted(false);
    b.add(num(23), num(9), 0x409, bytesOf("nine"));
    b.add(num(23), txt("B.HTM"), 0x409, bytesOf("b"));
    b.add(num(23), num(2), 0x409, bytesOf("two"));
    b.add(num(2), num(1), 0x409, bytesOf("one"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    EXPECT_EQ(texts(m->types()), (std::vector<std::string>{"23", "2"}));
    EXPECT_EQ(texts(m->names(num(23))), (std::vector<std::string>{"9", "B.HTM", "2"}));
    EXPECT_EQ(m->load(num(23), num(2)), bytesOf("two"));
    EXPECT_EQ(m->load(num(23), num(9)), bytesOf("nine"));
    EXPECT_EQ(m->load(num(23), txt("B.HTM")), bytesOf("b"));
}

TEST_P(Reader, LanguagesComeInDirectoryOrderAndTheFirstOneIsLoaded) {
    ModuleBuilder b(GetParam());
    b.add(num(23), txt("ABOUT.HTM"), 0x0409, bytesOf("english page"));
    b.add(num(23), txt("ABOUT.HTM"), 0x0407, bytesOf("german"));
    b.add(num(23), txt("ABOUT.HTM"), 0x040C, bytesOf("french!"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    auto langs = m->languages(num(23), txt("ABOUT.HTM"));
    ASSERT_EQ(langs.size(), 3u);
    EXPECT_EQ(langs[0].language, 0x0407);
    EXPECT_EQ(langs[0].size, 6u);
    EXPECT_EQ(langs[1].language, 0x0409);
    EXPECT_EQ(langs[1].size, 12u);
    EXPECT_EQ(langs[2].language, 0x040C);
    EXPECT_EQ(m->load(num(23), txt("ABOUT.HTM")), bytesOf("german"));
    EXPECT_EQ(m->names(num(23)).size(), 1u);
}

TEST_P(Reader, UnknownTypesAndNamesGiveNothing) {
    ModuleBuilder b(GetParam());
    b.add(num(2), num(5), 0x409, bytesOf("x"));
    b.add(txt("AVI"), num(1), 0x409, bytesOf("y"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->names(num(3)).empty());
    EXPECT_TRUE(m->names(txt("avi")).empty()); // names are compared exactly
    EXPECT_TRUE(m->load(txt("avi"), num(1)).empty());
    EXPECT_TRUE(m->load(num(2), num(6)).empty());
    EXPECT_TRUE(m->load(num(2), txt("5")).empty()); // a name of digits is not the number
    EXPECT_TRUE(m->languages(num(2), num(6)).empty());
}

TEST_P(Reader, EmptyResourceLoadsAsNothingButIsListed) {
    ModuleBuilder b(GetParam());
    b.add(num(23), num(1), 0x409, {});
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->names(num(23)).size(), 1u);
    EXPECT_TRUE(m->load(num(23), num(1)).empty());
}

TEST_P(Reader, ModuleWithoutResourcesOpensEmpty) {
    auto m = OpenBuilt(ModuleBuilder(GetParam()));
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->types().empty());
}

TEST(ReaderLookup, FindsEachOfTheLargestPossibleNumberOfNames) {
    // 65,535 resources of one type: each is found by binary search, so loading all of
    // them takes well under a second.
    ModuleBuilder b(Machine::Pe32Plus);
    for (std::uint32_t id = 1; id <= 0xFFFF; ++id)
        b.add(num(3), num(static_cast<std::uint16_t>(id)), 0x409,
              {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)});
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    const auto names = m->names(num(3));
    ASSERT_EQ(names.size(), 0xFFFFu);
    for (const ResId& name : names) {
        auto bytes = m->load(num(3), name);
        ASSERT_EQ(bytes.size(), 2u);
        ASSERT_EQ(bytes[0] | (bytes[1] << 8), int{name.id});
    }
}

TEST(ReaderNames, TextFormsOfNamesAreUtf8) {
    ModuleBuilder b;
    b.add(num(23), txt("Über.htm"), 0x409, bytesOf("u"));
    b.add(num(23), txt("名前"), 0x409, bytesOf("cjk"));
    b.add(num(23), txt("smile😀"), 0x409, bytesOf("pair"));
    b.add(num(23), txt("mixed Case"), 0x409, bytesOf("m"));
    b.add(num(23), RawName{u"bad\xD800x"}, 0x409, bytesOf("lone high"));
    b.add(num(23), RawName{u"\xDC00tail"}, 0x409, bytesOf("lone low"));
    b.add(num(23), RawName{std::u16string(u"cut\0here", 8)}, 0x409, bytesOf("nul"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    std::vector<std::string> got = texts(m->names(num(23)));
    std::sort(got.begin(), got.end());
    std::vector<std::string> want = {"Über.htm", "名前", "smile😀", "mixed Case", "bad\xEF\xBF\xBDx",
                                     "\xEF\xBF\xBDtail", "cut"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(m->load(num(23), txt("smile😀")), bytesOf("pair"));
    EXPECT_EQ(m->load(num(23), txt("bad\xEF\xBF\xBDx")), bytesOf("lone high"));
    EXPECT_EQ(m->load(num(23), txt("cut")), bytesOf("nul"));
    EXPECT_TRUE(m->load(num(23), txt("MIXED CASE")).empty());
}

TEST(ReaderNames, DuplicateEntriesFindTheFirstInTheDirectory) {
    ModuleBuilder b;
    b.setSorted(false);
    b.add(num(2), num(5), 0x409, bytesOf("first"));
    b.add(num(2), num(6), 0x409, bytesOf("other"));
    auto image = b.build();
    // The resource section starts at 0x400: the root (one type, 24 bytes), then the name
    // directory, whose second entry (at 0x418 + 16 + 8) becomes a second 5.
    ASSERT_EQ(image.at(0x430), 6);
    image[0x430] = 5;
    auto m = OpenModuleFromBytes(image);
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(texts((*m)->names(num(2))), (std::vector<std::string>{"5", "5"}));
    EXPECT_EQ((*m)->load(num(2), num(5)), bytesOf("first"));
}

TEST(ReaderUtf16, ConvertsCodeUnits) {
    auto conv = [](std::u16string s) {
        std::vector<std::uint8_t> bytes;
        for (char16_t c : s) {
            bytes.push_back(static_cast<std::uint8_t>(c));
            bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        return utf16ToUtf8(bytes);
    };
    EXPECT_EQ(conv(u"ABOUT.HTM"), "ABOUT.HTM");
    EXPECT_EQ(conv(u"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(conv(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(conv(u"\xD83D"), "\xEF\xBF\xBD"); // high surrogate at the end
    EXPECT_EQ(conv(u"\xD83D\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
    EXPECT_EQ(conv(u""), "");
    // An odd trailing byte is not a code unit.
    EXPECT_EQ(utf16ToUtf8(std::vector<std::uint8_t>{'A', 0, 'B'}), "A");
}

} // namespace

namespace {

// Replaces the first occurrence of `from` in the image by `to` (of the same length).
void patch(std::vector<std::uint8_t>& image, std::string_view from, std::string_view to) {
    const auto at = std::search(image.begin(), image.end(), from.begin(), from.end());
    ASSERT_NE(at, image.end()) << from;
    std::copy(to.begin(), to.end(), at);
}

} // namespace

// A module packed by UPX is told by its section names and the packer's signature, both;
// what it holds is read as from any module.
TEST_P(Reader, TellsAModulePackedByUpxBySectionNamesAndSignature) {
    ModuleBuilder packed(GetParam());
    packed.add(num(16), num(1), 0x409, bytesOf("version"));
    packed.setPackedByUpx(true);
    ModuleBuilder plain(GetParam());
    plain.add(num(16), num(1), 0x409, bytesOf("version"));
    const auto upx = packed.build();
    auto namesOnly = upx;
    patch(namesOnly, "UPX!", "UPX?");
    auto signatureOnly = upx;
    patch(signatureOnly, std::string_view("UPX0\0", 5), std::string_view(".tex\0", 5));
    auto longerName = upx;
    patch(longerName, std::string_view("UPX0\0", 5), std::string_view("UPX0a", 5));
    const struct {
        const char* what;
        std::vector<std::uint8_t> image;
        Packer packer;
    } cases[] = {
        {"packed", upx, Packer::Upx},
        {"plain", plain.build(), Packer::None},
        {"section names without the signature", namesOnly, Packer::None},
        {"the signature without the section names", signatureOnly, Packer::None},
        {"a longer section name", longerName, Packer::None},
    };
    for (const auto& c : cases) {
        auto m = OpenModuleFromBuffer(c.image);
        ASSERT_TRUE(m.ok()) << c.what;
        EXPECT_EQ((*m)->packer(), c.packer) << c.what;
        EXPECT_EQ((*m)->load(num(16), num(1)), bytesOf("version")) << c.what;
    }

    // A file too large to be read whole is told apart from its first page alone.
    packed.add(num(10), num(2), 0x409, std::vector<std::uint8_t>(64 * 1024, 7));
    const auto path = std::filesystem::temp_directory_path() / ("harvix-upx-" + std::to_string(::getpid()) + ".exe");
    ASSERT_TRUE(writeFile(path.string(), packed.build()).ok());
    auto fromFile = OpenModule(path.string());
    std::filesystem::remove(path);
    ASSERT_TRUE(fromFile.ok());
    EXPECT_EQ((*fromFile)->packer(), Packer::Upx);
    EXPECT_EQ(PackedNotice(Packer::Upx), "packed by UPX: the resources beyond the first icon group and the version "
                                         "are compressed; unpack it with `upx -d` to read them");
    EXPECT_EQ(PackedNotice(Packer::None), "");
}
