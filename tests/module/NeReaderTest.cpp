// The NE reader on 16-bit modules written by the module builder: table order, text
// forms, exact sizes without the alignment padding at every shift, icon libraries and
// fonts, the 16-bit version resource, and every broken form.
#include "module/FileVersion.h"
#include "module/NeModule.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tests/support/ModuleIds.h"
#include "tests/support/ModuleWalk.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace harvix;
using namespace harvix::modbuilder;
using namespace harvix::testing;

namespace {

TEST(NeReader, EnumeratesTypesAndNamesInTableOrder) {
    NeBuilder b;
    b.setShift(0);
    b.add(num(23), num(300), bytesOf("c"));
    b.add(num(2), num(101), bytesOf("bitmap101"));
    b.add(txt("AVI"), txt("CLIP"), bytesOf("avi"));
    b.add(num(2), txt("ZEBRA"), bytesOf("z"));
    b.add(num(2), num(7), bytesOf("bitmap7"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    // Not sorted: the order of the table.
    EXPECT_EQ(texts(m->types()), (std::vector<std::string>{"23", "2", "AVI"}));
    EXPECT_EQ(m->types()[2], txt("AVI"));
    EXPECT_EQ(texts(m->names(num(2))), (std::vector<std::string>{"101", "ZEBRA", "7"}));
    EXPECT_EQ(m->names(num(2))[0], num(101));
    EXPECT_EQ(m->load(num(2), num(7)), bytesOf("bitmap7"));
    EXPECT_EQ(m->load(num(2), txt("ZEBRA")), bytesOf("z"));
    EXPECT_EQ(m->load(txt("AVI"), txt("CLIP")), bytesOf("avi"));
    EXPECT_TRUE(m->load(num(2), num(8)).empty());
    EXPECT_TRUE(m->load(txt("avi"), txt("CLIP")).empty());
    EXPECT_TRUE(m->names(num(3)).empty());
    const auto languages = m->languages(num(2), num(101));
    ASSERT_EQ(languages.size(), 1u);
    EXPECT_EQ(languages[0].language, 0);
    EXPECT_EQ(languages[0].size, 9u);
}

TEST(NeReader, DuplicateEntriesFindTheFirstInTheTable) {
    NeBuilder b;
    b.add(num(23), num(5), bytesOf("first"));
    b.add(num(23), num(5), bytesOf("second"));
    auto m = OpenBuilt(b.setShift(0));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->names(num(23)).size(), 2u);
    EXPECT_EQ(m->load(num(23), num(5)), bytesOf("first"));
}

TEST(NeReader, NamesAreWindows1252MadeUtf8) {
    NeBuilder b;
    b.add(num(2), txt("CAFÉ€™"), makeDib(8, 8, 8, pictures::gradient()));
    b.add(txt("TYPÉ"), num(1), bytesOf("x"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    EXPECT_EQ(texts(m->names(num(2))), (std::vector<std::string>{"CAFÉ€™"}));
    EXPECT_EQ(m->types()[1], txt("TYPÉ"));

    struct Case {
        std::vector<std::uint8_t> in;
        std::string out;
    };
    const Case cases[] = {
        {{'A', 'b', '1'}, "Ab1"},
        {{0x80, 0x99, 0x9F}, "€™Ÿ"},
        {{0xE9, 0xFF, 0xA0}, "éÿ\u00A0"},
        {{0x81, 0x8D, 0x8F, 0x90, 0x9D}, "\u0081\u008D\u008F\u0090\u009D"}, // unassigned: kept as controls
        {{'A', 0, 'B'}, "A"},                                                // a NUL ends the name
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(windows1252ToUtf8(c.in), c.out);
}

// Icons, cursors and bitmaps come out at their own size at every shift: the padding to
// whole alignment units is not part of them, whatever the padding bytes are.
TEST(NeReader, ImagesLoadWithoutTheirAlignmentPaddingAtEveryShift) {
    for (unsigned shift = 0; shift <= 9; ++shift) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        NeBuilder b;
        b.setShift(shift).setPadding(0xEE);
        addIconGroup(b.adder(), num(1), 1, {{32, 32, 1}, {32, 32, 4}, {16, 16, 8}}, pictures::rings());
        addCursorGroup(b.adder(), txt("POINTER"), 1, {{32, 32, 1}}, pictures::arrow(), 3, 5);
        const auto bitmap4 = makeDib(13, 7, 4, pictures::gradient());
        const auto bitmap24 = makeDib(5, 3, 24, pictures::checker(2));
        b.add(num(2), num(10), bitmap4);
        b.add(num(2), num(11), bitmap24);
        auto m = OpenBuilt(b);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->load(num(3), num(1)), makeIconImage(32, 32, 1, pictures::rings()));
        EXPECT_EQ(m->load(num(3), num(2)), makeIconImage(32, 32, 4, pictures::rings()));
        EXPECT_EQ(m->load(num(3), num(3)), makeIconImage(16, 16, 8, pictures::rings()));
        EXPECT_EQ(m->load(num(1), num(1)), makeCursorImage(32, 32, 1, 3, 5, pictures::arrow()));
        EXPECT_EQ(m->load(num(2), num(10)), bitmap4);
        EXPECT_EQ(m->load(num(2), num(11)), bitmap24);
        // A listing gives the sizes they load at.
        EXPECT_EQ(m->languages(num(3), num(2)).front().size, makeIconImage(32, 32, 4, pictures::rings()).size());
        EXPECT_EQ(m->languages(num(2), num(10)).front().size, bitmap4.size());
        EXPECT_EQ(m->languages(num(2), num(11)).front().size, bitmap24.size());
    }
}

// The group's size of an image wins where it fits in the rounded length; a size that
// does not fit is not believed, and the image keeps its own.
TEST(NeReader, GroupSizesWinOnlyWhereTheyFit) {
    const auto image = makeIconImage(16, 16, 4, pictures::disc({200, 0, 0, 255}));
    for (const auto& [stated, expected] : std::vector<std::pair<std::uint32_t, std::size_t>>{
             {static_cast<std::uint32_t>(image.size()), image.size()},
             {static_cast<std::uint32_t>(image.size() - 8), image.size() - 8},
             {static_cast<std::uint32_t>(image.size() + 4096), image.size()},
             {0, image.size()}}) {
        NeBuilder b;
        b.setShift(9).setPadding(0x11);
        b.add(num(3), num(1), image);
        b.add(num(14), num(1), makeGroupIconDir({{16, 16, 4, stated, 1}}));
        auto m = OpenBuilt(b);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->load(num(3), num(1)).size(), expected) << stated;
    }
}

// Raw resources have no size of their own: they keep their whole units, but never more
// than the file holds; a last resource whose padding the file lacks is read whole.
TEST(NeReader, RawDataEndsWithTheFile) {
    NeBuilder b;
    b.setShift(4);
    b.add(num(23), num(1), bytesOf("<html>page</html>")); // 17 bytes: two units
    const auto full = b.build();
    auto whole = OpenModuleFromBuffer(full);
    ASSERT_TRUE(whole.ok());
    EXPECT_EQ((*whole)->load(num(23), num(1)).size(), 32u);
    // Without its padding: the 17 bytes.
    auto unpadded = OpenModuleFromBuffer(NeBuilder(b).truncateTo(full.size() - 15).build());
    ASSERT_TRUE(unpadded.ok());
    EXPECT_EQ((*unpadded)->load(num(23), num(1)), bytesOf("<html>page</html>"));
    EXPECT_EQ((*unpadded)->languages(num(23), num(1)).front().size, 17u);
    // Cut inside the data's first unit: nothing.
    auto cut = OpenModuleFromBuffer(NeBuilder(b).truncateTo(full.size() - 17).build());
    ASSERT_TRUE(cut.ok());
    EXPECT_TRUE((*cut)->load(num(23), num(1)).empty());
}

// A resource whose own header gives its size keeps exactly that size; where that size
// fills its last unit and the file ends inside that unit, data is missing, not padding,
// and the resource is not read rather than written short.
TEST(NeReader, ResourcesWithASizeOfTheirOwnAreReadWholeOrNotAtAll) {
    auto clip = [](std::uint32_t riffSize, std::size_t total) {
        std::vector<std::uint8_t> bytes = bytesOf("RIFF");
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(riffSize >> (8 * i)));
        const auto rest = bytesOf("AVI LIST0123456789abcdefghijklmnop");
        bytes.insert(bytes.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(total - 8));
        return bytes;
    };
    for (const std::size_t size : {std::size_t{32}, std::size_t{28}}) {
        SCOPED_TRACE(size);
        NeBuilder b;
        b.setShift(4);
        b.add(txt("AVI"), num(1), clip(static_cast<std::uint32_t>(size - 8), size)); // two units
        const auto full = b.build();
        auto whole = OpenModuleFromBuffer(full);
        ASSERT_TRUE(whole.ok());
        EXPECT_EQ((*whole)->load(txt("AVI"), num(1)), clip(static_cast<std::uint32_t>(size - 8), size));
        // The file ends right after the clip's own size: it is whole.
        auto unpadded = OpenModuleFromBuffer(NeBuilder(b).truncateTo(full.size() - (32 - size)).build());
        ASSERT_TRUE(unpadded.ok());
        EXPECT_EQ((*unpadded)->load(txt("AVI"), num(1)).size(), size);
        EXPECT_EQ((*unpadded)->languages(txt("AVI"), num(1)).front().size, size);
        // The file ends three bytes before it: nothing, though less than a unit is missing.
        auto cut = OpenModuleFromBuffer(NeBuilder(b).truncateTo(full.size() - (32 - size) - 3).build());
        ASSERT_TRUE(cut.ok());
        EXPECT_TRUE((*cut)->load(txt("AVI"), num(1)).empty());
    }
}

TEST(NeReader, ModuleFormsOpenAsTheyShould) {
    struct Case {
        NeForm form;
        bool loadable;
    };
    for (const Case& c : {Case{NeForm::Program, true}, Case{NeForm::Library, true}, Case{NeForm::IconLibrary, true},
                          Case{NeForm::IconLibraryIm, true}, Case{NeForm::Font, true}}) {
        NeBuilder b(c.form);
        addIconGroup(b.adder(), txt("APP"), 1, {{32, 32, 4}}, pictures::rings());
        auto m = OpenModuleFromBuffer(b.build());
        ASSERT_EQ(m.ok(), c.loadable);
        EXPECT_EQ(texts((*m)->names(num(14))), (std::vector<std::string>{"APP"}));
        EXPECT_EQ((*m)->load(num(3), num(1)), makeIconImage(32, 32, 4, pictures::rings()));
    }
    const auto im = NeBuilder(NeForm::IconLibraryIm).build();
    EXPECT_EQ(im[0x7E], 'I');
    EXPECT_EQ(im[0x80], 'N');
    auto os2 = OpenModuleFromBuffer(NeBuilder().inject(NeFault::Os2Target).build());
    ASSERT_FALSE(os2.ok());
    EXPECT_EQ(os2.error().kind, ErrorKind::NotLoadable);
}

TEST(NeReader, ReadsTheSixteenBitVersionResource) {
    NeBuilder b;
    b.add(num(16), num(1), makeVersionInfo16({3, 10, 103, 7}, {3, 10, 0, 0}, "Sample"));
    auto m = OpenBuilt(b);
    ASSERT_TRUE(m);
    cFileVersion v(*m);
    EXPECT_EQ(v.Version(), "3.10.103.7");
    // The 16-bit form with a wrong key or signature gives no version.
    auto wrongKey = makeVersionInfo16({1, 2, 3, 4}, {1, 2, 3, 4}, "x");
    wrongKey[4] = 'W';
    EXPECT_FALSE(cFileVersion::ParseVersionResource(wrongKey));
    auto wrongSignature = makeVersionInfo16({1, 2, 3, 4}, {1, 2, 3, 4}, "x");
    wrongSignature[20] ^= 1;
    EXPECT_FALSE(cFileVersion::ParseVersionResource(wrongSignature));
    EXPECT_TRUE(cFileVersion::ParseVersionResource(makeVersionInfo16({1, 2, 3, 4}, {1, 2, 3, 4}, "x")));
}

// A module with numeric and named types and names, for the broken forms.
NeBuilder sample() {
    NeBuilder b;
    b.add(txt("AVI"), num(5), std::vector<std::uint8_t>(20, 3));
    b.add(num(2), txt("NAMED"), std::vector<std::uint8_t>(30, 2));
    b.add(num(2), num(1), std::vector<std::uint8_t>(40, 1));
    b.add(num(23), num(7), std::vector<std::uint8_t>(10, 4));
    return b;
}

enum class Expect { NotLoadable, NoResources, Damaged };

TEST(NeBrokenForms, NeverCrashAndLoseOnlyWhatIsDamaged) {
    // Ten bytes of a raw resource, with the padding to a whole unit of 16.
    std::vector<std::uint8_t> page(10, 4);
    page.resize(16, 0);
    struct Case {
        NeFault fault;
        Expect expect;
        bool pageIntact; // the last resource still loads
    };
    const Case cases[] = {
        {NeFault::Os2Target, Expect::NotLoadable, false},
        {NeFault::TablePastEnd, Expect::NoResources, false},
        {NeFault::EqualTableOffsets, Expect::NoResources, false},
        {NeFault::CountBeyondTable, Expect::Damaged, false},
        {NeFault::NameOffsetOutOfRange, Expect::Damaged, true},
        {NeFault::DataPastEnd, Expect::Damaged, true},
        {NeFault::ZeroShift, Expect::Damaged, false},
        {NeFault::HugeShift, Expect::Damaged, false},
        {NeFault::NoTypeEnd, Expect::Damaged, true},
    };
    EXPECT_EQ(std::size(cases), allNeFaults().size());
    for (const Case& c : cases) {
        SCOPED_TRACE(neFaultName(c.fault));
        const auto image = sample().inject(c.fault).build();
        auto m = OpenModuleFromBytes(image);
        if (c.expect == Expect::NotLoadable) {
            ASSERT_FALSE(m.ok());
            EXPECT_EQ(m.error().kind, ErrorKind::NotLoadable);
            continue;
        }
        ASSERT_TRUE(m.ok()) << m.error().message;
        if (c.expect == Expect::NoResources) {
            EXPECT_TRUE((*m)->types().empty());
        }
        harvix::testing::ExpectEveryResourceWholeOrAbsent(**m, image.size());
        if (c.pageIntact) {
            EXPECT_EQ((*m)->load(num(23), num(7)), page);
        }
    }
}

TEST(NeBrokenForms, WhatEachFaultTakes) {
    {   // A name past the table: the first named thing (the type "AVI") is lost with its
        // resources, the rest stays.
        auto m = OpenModuleFromBuffer(sample().inject(NeFault::NameOffsetOutOfRange).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ(texts((*m)->types()), (std::vector<std::string>{"2", "23"}));
        EXPECT_EQ(texts((*m)->names(num(2))), (std::vector<std::string>{"NAMED", "1"}));
    }
    {   // Data past the end: that resource lists but loads as nothing.
        auto m = OpenModuleFromBuffer(sample().inject(NeFault::DataPastEnd).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ((*m)->names(txt("AVI")).size(), 1u);
        EXPECT_TRUE((*m)->load(txt("AVI"), num(5)).empty());
        EXPECT_EQ((*m)->load(num(2), num(1)).size(), 48u); // three units of 16
    }
    {   // No end of the type list: every type is read up to the end of the table; the
        // names, which would have followed it, are gone.
        auto m = OpenModuleFromBuffer(sample().inject(NeFault::NoTypeEnd).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ(texts((*m)->types()), (std::vector<std::string>{"2", "23"}));
        EXPECT_EQ(texts((*m)->names(num(2))), (std::vector<std::string>{"1"}));
    }
    {   // A count beyond the table: no more records than the table holds.
        auto m = OpenModuleFromBuffer(sample().inject(NeFault::CountBeyondTable).build());
        ASSERT_TRUE(m.ok());
        EXPECT_LE((*m)->types().size(), 1u);
    }
}

TEST(NeBrokenForms, EveryLengthOpensCleanlyOrIsRefused) {
    NeBuilder b = sample();
    addIconGroup(b.adder(), num(1), 1, {{16, 16, 4}}, pictures::rings());
    b.add(num(16), num(1), makeVersionInfo16({1, 2, 3, 4}, {1, 2, 3, 4}, "x"));
    const auto full = b.build();
    for (std::size_t length = 0; length < full.size(); ++length) {
        const std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        auto m = OpenModuleFromBytes(cut);
        if (m.ok()) {
            harvix::testing::ExpectEveryResourceWholeOrAbsent(**m, cut.size());
            (void)cFileVersion(**m).HasVersion();
        } else {
            EXPECT_EQ(m.error().kind, ErrorKind::NotLoadable);
        }
    }
}

// A module larger than what is read whole reads the same through its file.
TEST(NeReader, AFileReadThroughItsDescriptorReadsAsInMemory) {
    NeBuilder b;
    b.setShift(9);
    addIconGroup(b.adder(), num(1), 1, {{32, 32, 8}, {32, 32, 4}}, pictures::rings());
    b.add(num(2), txt("BIG"), makeDib(64, 64, 24, pictures::gradient()));
    const auto bytes = b.build();
    ASSERT_GT(bytes.size(), 8u * 1024);
    const std::string path = (std::filesystem::temp_directory_path() / "harvix-ne-read-test.exe").string();
    ASSERT_TRUE(writeFile(path, bytes).ok());
    auto fromFile = OpenModule(path);
    auto inMemory = OpenModuleFromBytes(bytes);
    std::filesystem::remove(path);
    ASSERT_TRUE(fromFile.ok() && inMemory.ok());
    for (const ResId& type : (*inMemory)->types())
        for (const ResId& name : (*inMemory)->names(type))
            EXPECT_EQ((*fromFile)->load(type, name), (*inMemory)->load(type, name));
    EXPECT_EQ((*fromFile)->load(num(2), txt("BIG")), makeDib(64, 64, 24, pictures::gradient()));
}

} // namespace
