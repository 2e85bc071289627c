// The PE reader on broken modules: every broken form the builder writes, truncation at
// every length, and past crashes. Nothing may crash, hang or allocate without bound; a
// broken header makes the file not loadable, a broken directory loses only what it
// breaks.
#include "tools/modbuilder/ModuleBuilder.h"
#include "module/PeModule.h"
#include "tests/support/ModuleIds.h"
#include "tests/support/ModuleWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace harvix;
using namespace harvix::modbuilder;
using namespace harvix::testing;

namespace {

// A module with numeric and named types and names, several languages.
ModuleBuilder sample(Machine machine) {
    ModuleBuilder b(machine);
    b.add(num(2), num(1), 0x409, std::vector<std::uint8_t>(40, 1));
    b.add(num(2), txt("NAMED"), 0x409, std::vector<std::uint8_t>(30, 2));
    b.add(txt("AVI"), num(5), 0x409, std::vector<std::uint8_t>(20, 3));
    b.add(num(23), num(7), 0x407, std::vector<std::uint8_t>(10, 4));
    b.add(num(23), num(7), 0x409, std::vector<std::uint8_t>(11, 5));
    return b;
}

enum class Expect { NotLoadable, NoResources, Damaged };

struct FaultCase {
    Fault fault;
    Expect expect;
};

const FaultCase kFaultCases[] = {
    {Fault::NoMzSignature, Expect::NotLoadable},
    {Fault::MzOnly, Expect::NotLoadable},
    {Fault::NeOnly, Expect::NoResources},
    {Fault::NoPeSignature, Expect::NotLoadable},
    {Fault::LfanewPastEnd, Expect::NotLoadable},
    {Fault::BadOptionalMagic, Expect::NotLoadable},
    {Fault::TinyOptionalHeader, Expect::NotLoadable},
    {Fault::HugeOptionalHeader, Expect::NotLoadable},
    {Fault::FewDataDirectories, Expect::NoResources},
    {Fault::HugeDataDirectoryCount, Expect::Damaged},
    {Fault::NoSections, Expect::NoResources},
    {Fault::HugeSectionCount, Expect::NotLoadable},
    {Fault::SectionPastEnd, Expect::NotLoadable},
    {Fault::SectionRawSizeHuge, Expect::Damaged},
    {Fault::ZeroVirtualSize, Expect::Damaged},
    {Fault::NoResourceDirectory, Expect::NoResources},
    {Fault::ResourceRvaUnmapped, Expect::NoResources},
    {Fault::DirectoryCycle, Expect::Damaged},
    {Fault::SelfCycle, Expect::Damaged},
    {Fault::SubdirectoryPastEnd, Expect::Damaged},
    {Fault::HugeEntryCount, Expect::Damaged},
    {Fault::NamePastEnd, Expect::Damaged},
    {Fault::HugeNameLength, Expect::Damaged},
    {Fault::DataEntryPastEnd, Expect::Damaged},
    {Fault::DataRvaUnmapped, Expect::Damaged},
    {Fault::HugeDataSize, Expect::Damaged},
    {Fault::DataSizeZero, Expect::Damaged},
    {Fault::LeafAtTypeLevel, Expect::Damaged},
    {Fault::DirectoryAtLanguageLevel, Expect::Damaged},
    {Fault::DataPastSectionEnd, Expect::Damaged},
};

class BrokenForms : public ::testing::TestWithParam<std::tuple<FaultCase, Machine>> {};

TEST_P(BrokenForms, NeverCrashAndFailAsExpected) {
    const auto [c, machine] = GetParam();
    const auto image = sample(machine).inject(c.fault).build();
    auto m = OpenModuleFromBytes(image);
    switch (c.expect) {
    case Expect::NotLoadable:
        ASSERT_FALSE(m.ok());
        EXPECT_EQ(m.error().kind, ErrorKind::NotLoadable);
        break;
    case Expect::NoResources:
        ASSERT_TRUE(m.ok()) << m.error().message;
        EXPECT_TRUE((*m)->types().empty());
        break;
    case Expect::Damaged:
        ASSERT_TRUE(m.ok()) << m.error().message;
        harvix::testing::ExpectEveryResourceWholeOrAbsent(**m, image.size());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, BrokenForms,
                         ::testing::Combine(::testing::ValuesIn(kFaultCases),
                                            ::testing::Values(Machine::Pe32, Machine::Pe32Plus)),
                         [](const auto& p) {
                             return std::string(faultName(std::get<0>(p.param).fault)) +
                                    (std::get<1>(p.param) == Machine::Pe32 ? "_Pe32" : "_Pe32Plus");
                         });

TEST(BrokenForms, EveryFaultIsCovered) {
    EXPECT_EQ(allFaults().size(), std::size(kFaultCases));
}

// What a damaged directory still gives: the parts the fault does not touch.
TEST(BrokenDirectory, KeepsWhatTheFaultDoesNotTouch) {
    const std::vector<std::uint8_t> bitmap(40, 1);
    {   // The first data entry points outside every section: that resource is gone.
        auto m = OpenModuleFromBuffer(sample(Machine::Pe32).inject(Fault::DataRvaUnmapped).build());
        ASSERT_TRUE(m.ok());
        const ResId first = (*m)->names((*m)->types().front()).front();
        EXPECT_TRUE((*m)->load((*m)->types().front(), first).empty());
        EXPECT_EQ((*m)->load(num(23), num(7)), std::vector<std::uint8_t>(10, 4));
    }
    {   // A size beyond the section and the file: listed with its claimed size, but it
        // loads as nothing, not as the part the file holds.
        const auto image = sample(Machine::Pe32).inject(Fault::HugeDataSize).build();
        auto m = OpenModuleFromBytes(image);
        ASSERT_TRUE(m.ok());
        const ResId type = (*m)->types().front();
        const ResId first = (*m)->names(type).front();
        EXPECT_TRUE((*m)->load(type, first).empty());
        EXPECT_EQ((*m)->languages(type, first).front().size, 0xFFFFFFF0u);
        EXPECT_EQ((*m)->load(num(2), num(1)), bitmap);
    }
    {   // A virtual size of 0: the raw size stands in, and everything is read.
        auto m = OpenModuleFromBuffer(sample(Machine::Pe32).inject(Fault::ZeroVirtualSize).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ((*m)->load(num(2), num(1)), bitmap);
        EXPECT_EQ((*m)->load(num(23), num(7)), std::vector<std::uint8_t>(10, 4));
    }
    {   // A raw size far beyond the file is cut at the end of the file.
        auto m = OpenModuleFromBuffer(sample(Machine::Pe32).inject(Fault::SectionRawSizeHuge).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ((*m)->load(num(2), num(1)), bitmap);
    }
    {   // A cycle back to the root: the tree is read once, the rest stays.
        auto m = OpenModuleFromBuffer(sample(Machine::Pe32Plus).inject(Fault::DirectoryCycle).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ((*m)->types().size(), 3u);
        EXPECT_EQ((*m)->load(num(23), num(7)), std::vector<std::uint8_t>(10, 4));
    }
    {   // Counts of 0xFFFF + 0xFFFF entries: no more are read than the section holds.
        auto m = OpenModuleFromBuffer(sample(Machine::Pe32).inject(Fault::HugeEntryCount).build());
        ASSERT_TRUE(m.ok());
        EXPECT_LT((*m)->types().size(), 0x200u);
        EXPECT_EQ((*m)->load(num(2), num(1)), bitmap);
    }
    {   // A name that cannot be read drops that entry only.
        auto m = OpenModuleFromBuffer(sample(Machine::Pe32).inject(Fault::NamePastEnd).build());
        ASSERT_TRUE(m.ok());
        EXPECT_TRUE((*m)->names(txt("AVI")).empty());
        EXPECT_EQ((*m)->load(num(2), num(1)), bitmap);
    }
}

// Data that begins in the resource section's file part and runs past it is read on from
// the file, as long as it ends within the file. Data that runs past the end of the file
// loads as nothing, as the system's loader refuses it: never the part the file holds.
// Data that begins past the section's file part gives nothing either.
TEST(BrokenDirectory, DataPastTheSectionLoadsButDataPastTheFileDoesNot) {
    const std::vector<std::uint8_t> last(24, 9);
    auto builder = [&] {
        ModuleBuilder b;
        b.add(num(2), num(1), 0x409, std::vector<std::uint8_t>(40, 1));
        b.add(num(23), num(7), 0x409, last);
        return b.inject(Fault::DataPastSectionEnd);
    };
    const auto image = builder().build();
    // Where the last resource's data ends: the file may be cut there and no shorter.
    const std::size_t end = image.size() - static_cast<std::size_t>(
                                               std::find(image.rbegin(), image.rend(), 9) - image.rbegin());
    const struct {
        std::size_t shortBy; // bytes of the last resource missing from the file
        bool loads;
    } cases[] = {{0, true}, {1, false}, {4, false}, {23, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shortBy);
        auto m = OpenModuleFromBuffer(builder().truncateTo(end - c.shortBy).build());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ((*m)->load(num(23), num(7)), c.loads ? last : std::vector<std::uint8_t>{});
        EXPECT_EQ((*m)->languages(num(23), num(7)).front().size, 24u);
        EXPECT_EQ((*m)->load(num(2), num(1)), std::vector<std::uint8_t>(40, 1));
    }
}

TEST(BrokenDirectory, SharedSubdirectoriesAreReadOnce) {
    // Many type entries all pointing at one name directory (with many entries) must not
    // multiply the work: the directory is read for the first type only.
    ModuleBuilder b;
    for (std::uint16_t t = 1; t <= 200; ++t)
        b.add(num(t), num(1), 0x409, {1});
    auto image = b.build();
    // Every type entry's subdirectory offset becomes that of the first one.
    const std::size_t root = 0x400;
    std::uint32_t firstTarget = 0;
    for (std::size_t k = 0; k < 4; ++k)
        firstTarget |= std::uint32_t{image[root + 20 + k]} << (8 * k);
    for (std::size_t i = 0; i < 200; ++i)
        for (std::size_t k = 0; k < 4; ++k)
            image[root + 16 + 8 * i + 4 + k] = static_cast<std::uint8_t>(firstTarget >> (8 * k));
    auto m = OpenModuleFromBytes(image);
    ASSERT_TRUE(m.ok());
    EXPECT_EQ((*m)->types().size(), 200u);
    std::size_t names = 0;
    for (const ResId& t : (*m)->types())
        names += (*m)->names(t).size();
    EXPECT_EQ(names, 1u);
}

TEST(Truncation, EveryLengthOpensCleanlyOrIsRefused) {
    for (Machine machine : {Machine::Pe32, Machine::Pe32Plus}) {
        const auto full = sample(machine).build();
        for (std::size_t length = 0; length < full.size(); length += (length < 0x480 ? 1 : 7)) {
            const std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            auto m = OpenModuleFromBytes(cut);
            if (m.ok())
                harvix::testing::ExpectEveryResourceWholeOrAbsent(**m, cut.size());
            else
                EXPECT_EQ(m.error().kind, ErrorKind::NotLoadable);
        }
    }
}

TEST(Truncation, HeadersCutShortAreNotLoadable) {
    for (std::size_t length : {0u, 1u, 2u, 0x3Cu, 0x40u, 0x84u, 0x98u, 0x100u, 0x1F0u})
        EXPECT_FALSE(OpenModuleFromBuffer(sample(Machine::Pe32).truncateTo(length).build()).ok()) << length;
}

// Files that once crashed the reader (found by fuzzing) stay here as regression tests.
TEST(Regressions, PastFuzzCrashes) {
    const std::filesystem::path dir = std::filesystem::path(HARVIX_TEST_SOURCE_DIR) / "fuzz/regressions/module_reader";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "no regression files";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto m = OpenModuleFromBytes(bytes);
        if (m.ok())
            harvix::testing::ExpectEveryResourceWholeOrAbsent(**m, bytes.size());
    }
}

} // namespace
