// cFileVersion: reading the fixed version record, text and parts, comparison.
#include "module/FileVersion.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace harvix;
using namespace harvix::modbuilder;

namespace {

std::unique_ptr<IResourceModule> moduleWith(const std::vector<std::vector<std::uint8_t>>& versions) {
    ModuleBuilder b;
    std::uint16_t name = 1;
    for (const auto& v : versions)
        b.add(ResId::of(ResType::Version), ResId::number(name++), 0x409, v);
    auto m = OpenModuleFromBuffer(b.build());
    return m.ok() ? std::move(m).value() : nullptr;
}

TEST(FileVersion, ReadsTheFileVersionOfTheFirstVersionResource) {
    auto m = moduleWith({makeVersionInfo({10, 2, 3000, 45}, {9, 9, 9, 9}, "first"),
                         makeVersionInfo({1, 1, 1, 1}, {1, 1, 1, 1}, "second")});
    ASSERT_TRUE(m);
    cFileVersion v(*m);
    ASSERT_TRUE(v.HasVersion());
    EXPECT_EQ(v.Version(), "10.2.3000.45");
    EXPECT_EQ(v.Major(), 10);
    EXPECT_EQ(v.Minor(), 2);
    EXPECT_EQ(v.Build(), 3000);
    EXPECT_EQ(v.Revision(), 45);
}

// Resource compilers that write the resource section's raw size short leave the end of
// the version resource outside the section's file part; the version is still found.
TEST(FileVersion, ReadsAVersionThatRunsPastItsSection) {
    ModuleBuilder b;
    b.add(ResId::of(ResType::Version), ResId::number(1), 0x409, makeVersionInfo({6, 1, 7601, 17514}, {}, "x"));
    auto m = OpenModuleFromBuffer(b.inject(Fault::DataPastSectionEnd).build());
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(cFileVersion(**m).Version(), "6.1.7601.17514");
}

TEST(FileVersion, LargestPartsAndZeros) {
    auto m = moduleWith({makeVersionInfo({65535, 0, 65535, 0}, {}, "x")});
    ASSERT_TRUE(m);
    EXPECT_EQ(cFileVersion(*m).Version(), "65535.0.65535.0");
}

TEST(FileVersion, MalformedVersionResourcesGiveNoVersion) {
    const auto good = makeVersionInfo({1, 2, 3, 4}, {}, "x");
    auto patched = [&](std::size_t at, std::uint8_t value) {
        auto v = good;
        v.at(at) = value;
        return v;
    };
    // The fixed record follows the 6-byte block header and the 32-byte key with its NUL,
    // at offset 40; its signature is BD 04 EF FE.
    ASSERT_EQ(good.at(40), 0xBD);
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
        {"empty", {}},
        {"header only", std::vector<std::uint8_t>(good.begin(), good.begin() + 6)},
        {"cut in the record", std::vector<std::uint8_t>(good.begin(), good.begin() + 50)},
        {"wrong key", patched(6, 'W')},
        {"wrong signature", patched(40, 0xBC)},
        {"value length too small", patched(2, 10)},
        {"block length cuts the record", [&] {
             auto v = patched(0, 44);
             v[1] = 0;
             return v;
         }()},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_FALSE(cFileVersion::ParseVersionResource(bytes)) << what;
    }
    EXPECT_TRUE(cFileVersion::ParseVersionResource(good));
    // A block length larger than the resource is limited to the resource.
    EXPECT_TRUE(cFileVersion::ParseVersionResource(patched(1, 0xFF)));
}

TEST(FileVersion, ModulesAndFilesWithoutVersion) {
    auto none = moduleWith({});
    ASSERT_TRUE(none);
    cFileVersion v(*none);
    EXPECT_FALSE(v.HasVersion());
    EXPECT_EQ(v.Version(), "");
    EXPECT_EQ(v.Major(), 0);
    cFileVersion missing("/nonexistent/file.dll");
    EXPECT_FALSE(missing.HasVersion());
    EXPECT_EQ(missing.FileName(), "/nonexistent/file.dll");
}

TEST(FileVersion, ComparesPartByPartFromTheMajorNumber) {
    auto version = [](VersionNumber n) {
        auto m = moduleWith({makeVersionInfo(n, {}, "x")});
        return cFileVersion(*m);
    };
    const cFileVersion none;
    const struct {
        cFileVersion a, b;
        int expected;
    } cases[] = {
        {version({1, 2, 3, 4}), version({1, 2, 3, 4}), 0},
        {version({1, 2, 3, 4}), version({1, 2, 3, 5}), -1},
        {version({1, 2, 4, 0}), version({1, 2, 3, 9}), 1},
        {version({1, 10, 0, 0}), version({1, 9, 0, 0}), 1}, // numeric, not textual
        {version({2, 0, 0, 0}), version({1, 65535, 65535, 65535}), 1},
        {none, version({0, 0, 0, 1}), -1},
        {none, version({0, 0, 0, 0}), 0},
        {none, none, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a.Compare(c.b), c.expected) << c.a.Version() << " vs " << c.b.Version();
        EXPECT_EQ(c.b.Compare(c.a), -c.expected) << c.b.Version() << " vs " << c.a.Version();
    }
}

TEST(FileVersion, ReadsTheBundledSamples) {
    const std::filesystem::path samples = std::filesystem::path(HARVIX_TEST_BINARY_DIR) / "samples";
    if (!std::filesystem::exists(samples / "pictures.dll"))
        GTEST_SKIP() << "samples not built";
    EXPECT_EQ(cFileVersion((samples / "pictures.dll").string()).Version(), "2.5.1200.7");
    EXPECT_EQ(cFileVersion((samples / "viewer.exe").string()).Version(), "3.1.0.15");
    EXPECT_FALSE(cFileVersion((samples / "readme.dll").string()).HasVersion());
}

} // namespace
