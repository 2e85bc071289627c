// The program a folder's icon is taken from: what is passed over (by file name, folder
// and version strings), the match of the folder's name (by file name or version strings
// alone), the ties broken by depth and then by icon size, and the bounds of the search.
#include "launcher/FolderPrograms.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace harvix {
namespace {

namespace fs = std::filesystem;

// Facts given by relative path instead of read from modules.
class FakeProbe final : public IProgramProbe {
public:
    std::map<std::string, ProgramFacts> facts;
    std::string folder;
    std::optional<ProgramFacts> probe(const std::string& path) const override {
        auto found = facts.find(path.substr(folder.size() + 1));
        if (found == facts.end())
            return std::nullopt;
        return found->second;
    }
};

ProgramFacts withIcon(std::uint32_t size, std::vector<std::pair<std::string, std::string>> version = {}) {
    ProgramFacts f;
    f.hasIcon = true;
    f.iconSize = size;
    f.version.entries = std::move(version);
    return f;
}

class FolderProgramsTest : public ::testing::Test {
protected:
    void SetUp() override { root = testing::MakeScratchFolder("harvix-folder"); }
    void TearDown() override { fs::remove_all(root); }

    // Makes the files of `probe` (and others) in FOLDER below the scratch folder and ranks.
    FolderChoice rank(const std::string& folderName, FakeProbe& probe, const std::vector<std::string>& others = {},
                      const FolderLimits& limits = {}) {
        const fs::path folder = root / folderName;
        probe.folder = folder.string();
        std::vector<std::string> all = others;
        for (const auto& [relative, facts] : probe.facts)
            all.push_back(relative);
        for (const std::string& relative : all) {
            fs::create_directories((folder / relative).parent_path());
            std::ofstream(folder / relative) << "x";
        }
        return RankFolderPrograms(ListFolderPrograms(folder.string(), limits), probe, limits);
    }
    static std::vector<std::string> order(const FolderChoice& choice) {
        std::vector<std::string> names;
        for (const auto& c : choice.candidates)
            names.push_back(c.file.relative);
        return names;
    }
    fs::path root;
};

// A game with its uninstaller, setup, crash reporter and redistributables beside it: the
// game is chosen though every other program has a larger icon or sits as high.
TEST_F(FolderProgramsTest, TheGameBeforeWhatComesWithIt) {
    FakeProbe probe;
    probe.facts = {
        {"Hollow_Knight.exe", withIcon(48)},
        {"unins000.exe", withIcon(256, {{"FileDescription", "Setup/Uninstall"}})},
        {"setup.exe", withIcon(256)},
        {"UnityCrashHandler64.exe", withIcon(256)},
        {"_CommonRedist/vcredist/2019/VC_redist.x64.exe", withIcon(256)},
        {"_CommonRedist/DirectX/Jun2010/DXSETUP.exe", withIcon(256)},
        {"tools/Launcher Helper.exe", withIcon(256)},
        {"bin/report.exe", withIcon(256, {{"FileDescription", "Crash Reporter"}})},
    };
    const FolderChoice choice = rank("Hollow Knight", probe, {"readme.txt", "data/level.dat"});
    ASSERT_EQ(choice.candidates.size(), 8u);
    const ProgramCandidate& first = choice.candidates.front();
    EXPECT_EQ(first.file.relative, "Hollow_Knight.exe");
    EXPECT_EQ(first.rank, 1u);
    EXPECT_EQ(first.reason, "its file name \"Hollow_Knight.exe\" is the folder's name \"Hollow Knight\"; in the "
                            "folder itself; its largest icon 48 px");
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"unins000.exe", {"uninstaller", "file name"}},
        {"setup.exe", {"installer", "file name"}},
        {"UnityCrashHandler64.exe", {"crash reporter", "file name"}},
        {"_CommonRedist/vcredist/2019/VC_redist.x64.exe", {"redistributable", "file name"}},
        {"_CommonRedist/DirectX/Jun2010/DXSETUP.exe", {"redistributable", "file name"}},
        {"tools/Launcher Helper.exe", {"helper", "file name"}},
        {"bin/report.exe", {"crash reporter", "FileDescription"}},
    };
    for (std::size_t i = 1; i < choice.candidates.size(); ++i) {
        const ProgramCandidate& c = choice.candidates[i];
        ASSERT_TRUE(c.passedOver.has_value()) << c.file.relative;
        EXPECT_EQ(c.passedOver->kind, expected.at(c.file.relative).first) << c.file.relative;
        EXPECT_EQ(c.passedOver->by, expected.at(c.file.relative).second) << c.file.relative;
        EXPECT_EQ(c.reason.rfind("passed over: a", 0), 0u) << c.reason;
        if (c.file.relative == "setup.exe") {
            EXPECT_EQ(c.reason, "passed over: an installer by its file name \"setup.exe\"; no name of it matches the "
                                "folder's name \"Hollow Knight\"; in the folder itself; its largest icon 256 px");
        }
    }
}

// A program whose file name says nothing is still found by its version strings.
TEST_F(FolderProgramsTest, ANameMatchByVersionStringsAlone) {
    FakeProbe probe;
    probe.facts = {
        {"a.exe", withIcon(256)},
        {"bin/x64/zz.exe", withIcon(32, {{"ProductName", "Space Trader"}, {"FileDescription", "Game"}})},
        {"tool.exe", withIcon(64, {{"OriginalFilename", "editor.exe"}})},
    };
    const FolderChoice choice = rank("Space Trader", probe);
    ASSERT_EQ(order(choice), (std::vector<std::string>{"bin/x64/zz.exe", "a.exe", "tool.exe"}));
    EXPECT_EQ(choice.candidates[0].match.strength, NameMatch::Strength::Exact);
    EXPECT_EQ(choice.candidates[0].match.by, "ProductName");
    // A part of the name: "witcher3" in "The Witcher 3".
    FakeProbe partial;
    partial.facts = {{"bin/x64/witcher3.exe", withIcon(32)}, {"launcher.exe", withIcon(256)}};
    const FolderChoice second = rank("The Witcher 3", partial);
    ASSERT_EQ(order(second), (std::vector<std::string>{"bin/x64/witcher3.exe", "launcher.exe"}));
    EXPECT_EQ(second.candidates[0].match.strength, NameMatch::Strength::Partial);
}

// Without a name to go by: the one nearest the top, then the larger icon, then the
// listing's order.
TEST_F(FolderProgramsTest, TiesAreBrokenByDepthThenIconSize) {
    FakeProbe probe;
    probe.facts = {
        {"deep/er/big.exe", withIcon(256)},
        {"small.exe", withIcon(32)},
        {"large.exe", withIcon(128)},
        {"sub/huge.exe", withIcon(256)},
        {"also128.exe", withIcon(128)},
        {"noicon.exe", ProgramFacts{}},
    };
    const FolderChoice choice = rank("Unrelated", probe, {"notes.exe.txt"});
    EXPECT_EQ(order(choice), (std::vector<std::string>{"also128.exe", "large.exe", "small.exe", "sub/huge.exe",
                                                       "deep/er/big.exe"}));
    EXPECT_EQ(choice.candidates[3].reason,
              "no name of it matches the folder's name \"Unrelated\"; 1 folder down; its largest icon 256 px");
}

// The search stops at its bounds and says so; links to folders are not followed.
TEST_F(FolderProgramsTest, TheSearchIsBounded) {
    FakeProbe probe;
    probe.facts = {{"a/b/c/deep.exe", withIcon(32)}, {"top.exe", withIcon(32)}};
    FolderLimits limits;
    limits.depth = 2;
    FolderChoice choice = rank("Bounded", probe, {}, limits);
    EXPECT_EQ(order(choice), (std::vector<std::string>{"top.exe"}));
    EXPECT_EQ(choice.cutShort, "folders deeper than 2 levels not searched");

    fs::create_directory_symlink(root / "Bounded", root / "Bounded/a/loop");
    limits = FolderLimits{};
    limits.programs = 1;
    choice = RankFolderPrograms(ListFolderPrograms((root / "Bounded").string(), {}), probe, limits);
    EXPECT_EQ(choice.programsOpened, 1u);
    EXPECT_EQ(choice.cutShort, "1 programs opened");
    const FolderListing listing = ListFolderPrograms((root / "Bounded").string());
    EXPECT_EQ(listing.programs.size(), 2u); // the loop is not entered
    limits = FolderLimits{};
    limits.names = 2;
    EXPECT_EQ(ListFolderPrograms((root / "Bounded").string(), limits).cutShort, "2 names listed");
}

TEST(VersionStringsTest, TheStringTableIsRead) {
    const auto resource = modbuilder::makeVersionInfo(
        {1, 2, 3, 4}, {{"ProductName", "Space Trader"}, {"InternalName", "st"}, {"OriginalFilename", "st.exe"}});
    const VersionStrings strings = ParseVersionStrings(resource);
    EXPECT_EQ(strings.get("productname"), "Space Trader");
    EXPECT_EQ(strings.get("OriginalFilename"), "st.exe");
    EXPECT_EQ(strings.get("FileDescription"), "");
    // Cut short anywhere: what is whole is read, nothing more.
    for (std::size_t size = 0; size < resource.size(); ++size) {
        const VersionStrings cut = ParseVersionStrings(std::span(resource).first(size));
        for (const auto& [key, value] : cut.entries)
            EXPECT_EQ(strings.get(key).rfind(value, 0), 0u) << size << " " << key;
    }
}

} // namespace
} // namespace harvix
