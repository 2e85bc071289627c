// The satellites of modules inside containers, and the progress of a run through
// containers, without a display: where a listing's satellites are found, how they are
// kept or read again, and what the run counts and shows while a container is read.
#include "container/Container.h"
#include "module/Satellites.h"
#include "run/ContainerSatellites.h"
#include "run/ContainerSearch.h"
#include "run/RunTexts.h"
#include "run/SearchRun.h"
#include "tests/support/RunProgram.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SatelliteListingTest, FindsSatellitesAtTheLoadersPlacesWhateverTheCase) {
    SatelliteListing listing({"de-DE", "en-US"});
    for (const char* path : {"WINDOWS/System32/shell32.dll", "WINDOWS/System32/EN-us/shell32.dll.mui",
                             "WINDOWS/System32/de-de/SHELL32.DLL.MUI", "WINDOWS/SystemResources/shell32.dll.mun",
                             "WINDOWS/SysWOW64/shell32.dll", "App/app.exe", "App/zh-CN/app.exe.mui",
                             "App/fr-FR/app.exe.mui", "App/drivers/app.exe.mui", "App/tool.exe",
                             "App/en-US/other.dll.mui", "Other/System32/x.dll", "Other/res.mun"})
        listing.add(path);
    // The chosen language first; the SystemResources file beside System32 and SysWOW64.
    SatellitePaths found = listing.Find("WINDOWS/System32/shell32.dll");
    EXPECT_EQ(found.languageFile, "WINDOWS/System32/de-de/SHELL32.DLL.MUI");
    EXPECT_EQ(found.systemResources, "WINDOWS/SystemResources/shell32.dll.mun");
    found = listing.Find("WINDOWS/SysWOW64/shell32.dll");
    EXPECT_EQ(found.systemResources, "WINDOWS/SystemResources/shell32.dll.mun");
    EXPECT_EQ(found.languageFile, "");
    // Neither chosen language there: the first language folder by name that holds the
    // file; a folder that is no language ("drivers") never.
    found = listing.Find("App/app.exe");
    EXPECT_EQ(found.languageFile, "App/fr-FR/app.exe.mui");
    EXPECT_EQ(found.systemResources, "");
    EXPECT_EQ(listing.Find("App/tool.exe").languageFile, "");
    // A System32 without a SystemResources folder beside it.
    EXPECT_EQ(listing.Find("Other/System32/x.dll").systemResources, "");
    // Modules at the top of the listing.
    SatelliteListing top({"en-US"});
    top.add("setup.exe");
    top.add("en-us/setup.exe.mui");
    EXPECT_EQ(top.Find("setup.exe").languageFile, "en-us/setup.exe.mui");
}

class ContainerSatellitesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-container-satellites-run");
        using namespace modbuilder;
        fs::create_directories(root / "pack" / "fr-FR");
        ModuleBuilder program;
        program.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(16, 16, 24, pictures::gradient()));
        ASSERT_TRUE(writeFile((root / "pack" / "app.exe").string(), program.build()).ok());
        ModuleBuilder french;
        french.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x40C, makeDib(16, 16, 24, pictures::rings()));
        mui = french.build();
        ASSERT_TRUE(writeFile((root / "pack" / "fr-FR" / "app.exe.mui").string(), mui).ok());
        ModuleBuilder library;
        library.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x409, makeDib(16, 16, 8, pictures::checker(2)));
        ASSERT_TRUE(writeFile((root / "pack" / "lib.dll").string(), library.build()).ok());
        ASSERT_TRUE(writeFile((root / "pack" / "other.dll").string(), library.build()).ok());
        // The satellite after its module: it is read while the container is listed.
        const testing::ProgramRun zip = testing::RunShell(
            "cd '" + (root / "pack").string() + "' && zip -q9 ../pack.zip app.exe fr-FR/app.exe.mui lib.dll other.dll",
            root);
        ASSERT_EQ(zip.status, 0) << zip.err;
        zipPath = (root / "pack.zip").string();
    }
    void TearDown() override { fs::remove_all(root); }

    // The satellites of app.exe, the container listed with `keptInMemory` bytes kept.
    std::vector<MemberSatellite> satellitesOfApp(std::uint64_t keptInMemory, std::vector<std::string>& told) {
        auto source = OpenByteSource(zipPath);
        EXPECT_TRUE(source.ok());
        const ContainerFormat* format = Containers().identify(*source, "pack.zip");
        EXPECT_NE(format, nullptr);
        MemberBounds bounds{1 << 30, 1 << 30, 0};
        ContainerSatellites satellites(zipPath, {"fr-FR"}, modules, keptInMemory);
        satellites.List(*format, *source, bounds, [] { return true; });
        EXPECT_TRUE(satellites.Claimed("fr-FR/app.exe.mui"));
        EXPECT_FALSE(satellites.Claimed("lib.dll"));
        EXPECT_EQ(satellites.ModuleCount(), 3);
        return satellites.For("app.exe", bounds, [&](const std::string& member, const std::string& reason) {
            told.push_back(member + ": " + reason);
        });
    }

    fs::path root;
    std::string zipPath;
    std::vector<std::uint8_t> mui;
    MaskSet modules{SplitMask("*.exe;*.dll")};
};

TEST_F(ContainerSatellitesTest, ASatelliteIsKeptFromTheListingOrReadAgainWhenItsModuleComes) {
    for (const std::uint64_t kept : {std::uint64_t{1} << 20, std::uint64_t{0}}) {
        SCOPED_TRACE(kept);
        std::vector<std::string> told;
        const std::vector<MemberSatellite> found = satellitesOfApp(kept, told);
        ASSERT_EQ(found.size(), 1U);
        EXPECT_EQ(found[0].name, zipPath + "!/fr-FR/app.exe.mui");
        EXPECT_EQ(found[0].kind, SatelliteKind::LanguageFile);
        EXPECT_EQ(found[0].bytes.head(mui.size() + 1), mui);
        EXPECT_THAT(told, IsEmpty());
    }
}

TEST_F(ContainerSatellitesTest, ASatelliteNoModuleTakesIsAFileOfItsOwnWhenTheMasksSelectIt) {
    auto source = OpenByteSource(zipPath);
    ASSERT_TRUE(source.ok());
    const ContainerFormat* format = Containers().identify(*source, "pack.zip");
    ASSERT_NE(format, nullptr);
    MemberBounds bounds{1 << 30, 1 << 30, 0};
    const MaskSet every(SplitMask("*"));
    ContainerSatellites satellites(zipPath, {"fr-FR"}, every);
    satellites.List(*format, *source, bounds, [] { return true; });
    const auto ignore = [](const std::string&, const std::string&) {};
    ASSERT_EQ(satellites.For("app.exe", bounds, ignore).size(), 1U);
    // Taken: nothing left over.
    satellites.Done("app.exe", {zipPath + "!/fr-FR/app.exe.mui"});
    EXPECT_THAT(satellites.Untaken(bounds, ignore), IsEmpty());

    ContainerSatellites refused(zipPath, {"fr-FR"}, every);
    refused.List(*format, *source, bounds, [] { return true; });
    refused.Done("app.exe", {});
    const auto left = refused.Untaken(bounds, ignore);
    ASSERT_EQ(left.size(), 1U);
    EXPECT_EQ(left[0].name, zipPath + "!/fr-FR/app.exe.mui");
    EXPECT_EQ(left[0].bytes.head(mui.size() + 1), mui);
}

// The search of a run: a module on disk, the archive, another module on disk.
struct ThreeFiles : IRunSearch {
    std::vector<std::string> files;
    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override { return {1, 3}; }
    void SearchForFiles(const std::string&, bool, const std::string&, cSearchCoreEvents& events) override {
        bool cancel = false;
        std::int32_t count = 0;
        for (std::string file : files) {
            std::int32_t fileCount = ++count;
            std::int32_t dirs = 1;
            events.FileFound(file, fileCount, dirs, cancel);
        }
        events.SearchFinished();
    }
    void SearchSystemForFiles(const std::string&, cSearchCoreEvents&) override {}
};

struct StatusView : IRunView {
    std::vector<std::string> statuses;
    void setStatusText(const std::string& text) override { statuses.push_back(text); }
    void repaintStatus() override {}
    void setCancelEnabled(bool) override {}
    void showProgressFrame() override {}
    void setProgressValue(int) override {}
    void setCaption(const std::string&) override {}
    void pumpEvents() override {}
    void stopAnimation() override {}
    void statsChanged(int, const std::string&) override {}
    void searchFinished() override {}
    void closeProgram() override {}
};

// Notes, as each file's extraction begins, its name and how far the run has come.
struct NotingEngine : IExtractEngine {
    SearchRun* run = nullptr;
    std::vector<std::string> files;
    std::vector<std::pair<std::int32_t, std::int32_t>> counts; // files handled before it, and the total
    ModuleOutcome ExtractFromFile(const std::string& name, IResFoundTarget&) override {
        files.push_back(name);
        counts.emplace_back(run->FilesHandled(), run->TotalFiles());
        return {};
    }
    ModuleOutcome Finish() override { return {}; }
};

TEST_F(ContainerSatellitesTest, TheMembersOfAContainerCountAsFilesAndTheOneReadIsShown) {
    for (const bool satellites : {true, false}) {
        SCOPED_TRACE(satellites);
        ThreeFiles walk;
        walk.files = {(root / "pack" / "lib.dll").string(), zipPath, (root / "pack" / "other.dll").string()};
        ContainerChoice choice;
        choice.named = {zipPath};
        choice.satellites = {satellites, "fr-FR"};
        MemberSources members;
        ContainerSearch search(walk, choice, members);
        StatusView view;
        testing::ScriptedPrompt prompt;
        NotingEngine engine;
        struct Clock : IRunClock {
            std::uint32_t GetTickCount() override { return 1000; }
            void Sleep(std::uint32_t) override {}
        } clock;
        SearchRun run(view, prompt, search, engine, clock);
        run.setPriorityApplier({});
        engine.run = &run;
        search.setProgress(&run);
        SearchSettings settings;
        settings.SearchSystem = false;
        settings.Folder = root.string();
        settings.Mask = "*.exe;*.dll";
        run.StartSearch(settings);

        // With its satellites the program is one file; without, the language file is
        // no module the masks select either.
        const std::string inside = zipPath + "!/";
        EXPECT_THAT(engine.files, ElementsAre(walk.files[0], inside + "app.exe", inside + "lib.dll",
                                              inside + "other.dll", walk.files[2]));
        // The archive counted as one file gives way to its three modules: five files, each
        // handled in turn, never more than the total.
        EXPECT_EQ(run.TotalFiles(), 5);
        EXPECT_EQ(run.FilesHandled(), 5);
        for (std::size_t i = 0; i < engine.counts.size(); ++i) {
            EXPECT_EQ(engine.counts[i].first, static_cast<std::int32_t>(i));
            EXPECT_LE(engine.counts[i].first, engine.counts[i].second);
        }
        // Listed ahead, the archive's files are in the total before its first member.
        if (satellites) {
            EXPECT_EQ(engine.counts[1].second, 5);
        }
        // The member being read is shown, and no longer once the run is back on disk.
        EXPECT_THAT(view.statuses, Contains(std::string(kPleaseWait) + inside + "lib.dll"));
        ASSERT_FALSE(view.statuses.empty());
        EXPECT_EQ(view.statuses.back(), kPleaseWait);
    }
}

TEST(RunStatusTextTest, TheSecondLineNamesTheMemberAfterTheRemainingTime) {
    const std::string wait = kPleaseWait;
    EXPECT_EQ(RunStatusText("", ""), wait);
    EXPECT_EQ(RunStatusText("Remaining time:  2 min", ""), wait + "Remaining time:  2 min");
    EXPECT_EQ(RunStatusText("", "a.zip!/b.dll"), wait + "a.zip!/b.dll");
    EXPECT_EQ(RunStatusText("Remaining time:  2 min", "a.zip!/b.dll"), wait + "Remaining time:  2 min - a.zip!/b.dll");
}

} // namespace
} // namespace harvix
