// Satellite resource files in a run: each module is read with its satellites and every
// record names the file its bytes came from; a satellite the run meets on its own is
// passed over when the run reads its module, and read as a module of its own when it
// does not or when satellites are off.
#include "extract/ResCore.h"
#include "run/SatelliteReading.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/WindowsTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using harvix::modbuilder::WindowsTree;

class CountingTarget final : public IResFoundTarget {
public:
    void ResFound(ResourceKind, const ResName&) override { ++found; }
    int found = 0;
};

class SatelliteRun : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = harvix::testing::MakeScratchFolder("harvix-satellite-run");
        auto written = modbuilder::writeWindowsTree(m_root.string());
        ASSERT_TRUE(written.ok()) << written.error().message;
        tree = *written;
        system32 = fs::path(tree.stub).parent_path().string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    // Extracts the files as a run of `places` does, in the order given; the records of the
    // bitmaps and the number of resources written.
    std::pair<std::string, int> Run(const SatelliteChoice& choice, const RunPlaces& places,
                                    const std::vector<std::string>& files, const std::string& name) {
        ExtractionOptions options;
        options.bitmapDepth = {1, 32};
        options.bitmapHeight = {1, 64};
        options.destinationFolder = (m_root / name).string();
        fs::create_directories(options.destinationFolder);
        for (const KindInfo& info : kKinds)
            fs::create_directories(m_root / name / info.folder);
        harvix::testing::ScriptedPrompt prompt;
        mResCore engine(options, prompt, RealFileSystem(), SatelliteOpener(choice, places));
        CountingTarget target;
        for (const std::string& file : files)
            (void)engine.ExtractFromFile(file, target);
        return {testing::ReadText(m_root / name / "Bitmaps" / "__index.txt"), target.found};
    }

    WindowsTree tree;
    fs::path m_root;
    std::string system32;
};

// How many records name `source` for the bitmap `id`.
std::size_t Records(const std::string& records, const std::string& source, int id) {
    const std::string record = " - SOURCE FILE = " + source + " RESOURCE TYPE = 2 RESOURCE NAME = " + std::to_string(id) + "\r\n";
    std::size_t count = 0;
    for (auto at = records.find(record); at != std::string::npos; at = records.find(record, at + 1))
        ++count;
    return count;
}

TEST_F(SatelliteRun, RecordsNameTheFileEachResourceCameFrom) {
    const RunPlaces places = PlacesOf(false, system32, {}, true, "*", false);
    const auto [records, written] =
        Run({true, "de-DE"}, places, {tree.stub, tree.german, tree.english}, "out");
    // The stub's own bitmap, the SystemResources file's two (one over the stub's), the
    // German file's one; the German file met on its own is passed over, the English one,
    // which this run does not read with the module, is a module of its own.
    EXPECT_EQ(Records(records, tree.stub, 140), 1u) << records;
    EXPECT_EQ(Records(records, tree.stub, 130), 0u) << records;
    EXPECT_EQ(Records(records, tree.systemResources, 130), 1u) << records;
    EXPECT_EQ(Records(records, tree.systemResources, 131), 1u) << records;
    EXPECT_EQ(Records(records, tree.german, 200), 1u) << records;
    EXPECT_EQ(Records(records, tree.english, 200), 1u) << records;
    EXPECT_GT(written, 6);
}

TEST_F(SatelliteRun, ASatelliteIsAModuleOfItsOwnWhenTheRunDoesNotReadItsModule) {
    // The SystemResources folder searched alone: its file's module lies elsewhere.
    const std::string resources = fs::path(tree.systemResources).parent_path().string();
    const auto alone =
        Run({true, "de-DE"}, PlacesOf(false, resources, {}, true, "*", false), {tree.systemResources}, "alone").first;
    EXPECT_EQ(Records(alone, tree.systemResources, 131), 1u) << alone;
    // A mask that takes the satellites and not the modules.
    const auto masked =
        Run({true, "de-DE"}, PlacesOf(false, system32, {}, true, "*.mui", false), {tree.german}, "masked").first;
    EXPECT_EQ(Records(masked, tree.german, 200), 1u) << masked;
    // Satellites off: the stub as it is, the satellite a module of its own.
    const auto off = Run({false, ""}, PlacesOf(false, tree.windows, {}, true, "*", false),
                         {tree.stub, tree.systemResources}, "off").first;
    EXPECT_EQ(Records(off, tree.stub, 130), 1u) << off;
    EXPECT_EQ(Records(off, tree.stub, 131), 0u) << off;
    EXPECT_EQ(Records(off, tree.systemResources, 131), 1u) << off;
}

TEST_F(SatelliteRun, TheModulesARunReadsAreThoseOfItsPlacesAndMasks) {
    const RunPlaces folder = PlacesOf(false, system32, {}, false, "*.dll;*.exe", false);
    EXPECT_TRUE(ReadsModule(folder, tree.stub));
    EXPECT_FALSE(ReadsModule(folder, tree.german)); // in a subfolder, and no mask takes it
    EXPECT_FALSE(ReadsModule(folder, tree.viewer));
    const RunPlaces files = PlacesOf(false, "", {tree.systemResources, tree.viewer}, true, "*.dll", false);
    EXPECT_TRUE(ReadsModule(files, tree.viewer)); // a file named is taken whatever the mask
    EXPECT_FALSE(ReadsModule(files, tree.stub));
    EXPECT_TRUE(ReadsModule(PlacesOf(false, "", {}, true, "", true), tree.stub)); // a file list
    EXPECT_TRUE(ReadsModule(PlacesOf(true, "/", {}, true, "*.dll", false), tree.stub));
    EXPECT_TRUE(IsLanguageChoice("de-DE"));
    EXPECT_FALSE(IsLanguageChoice("../x"));
}

} // namespace
} // namespace harvix
