// Shortcuts read from their bytes (every part of a shell link, Unicode and 8-bit, cut
// short at every length), Windows Installer descriptors, Internet shortcuts, and
// Windows paths found in a Wine prefix.
#include "launcher/ShellLink.h"
#include "launcher/WinePrefix.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/ShellLinkBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;

mb::ShellLinkParts everyPart() {
    mb::ShellLinkParts s;
    s.iconIndex = -101;
    s.name = "Start the game";
    s.relativePath = "..\\..\\Program Files\\Game\\game.exe";
    s.workingDir = "C:\\Program Files\\Game";
    s.arguments = "-windowed";
    s.iconLocation = "%ProgramFiles%\\Game\\game.ico";
    s.linkInfoPath = "C:\\Program Files\\Game\\game.exe";
    s.idListPath = "C:\\Program Files\\Game\\game.exe";
    s.environmentTarget = "%ProgramFiles%\\Game\\game.exe";
    s.environmentIcon = "%ProgramFiles%\\Game\\other.ico";
    return s;
}

TEST(ShellLinkTest, EveryPartIsRead) {
    for (const bool unicode : {true, false}) {
        mb::ShellLinkParts parts = everyPart();
        parts.unicode = unicode;
        auto link = ParseShellLink(mb::makeShellLink(parts));
        ASSERT_TRUE(link.ok()) << link.error().message;
        EXPECT_EQ(link->iconIndex, -101);
        EXPECT_EQ(link->name, "Start the game");
        EXPECT_EQ(link->relativePath, *parts.relativePath);
        EXPECT_EQ(link->workingDir, *parts.workingDir);
        EXPECT_EQ(link->arguments, "-windowed");
        EXPECT_EQ(link->iconLocation, *parts.iconLocation);
        EXPECT_EQ(link->linkInfoPath, *parts.linkInfoPath);
        // The item ID list's long names, not the short ones ("PROGRA~1").
        EXPECT_EQ(link->idListPath, *parts.idListPath);
        EXPECT_EQ(link->environmentTarget, *parts.environmentTarget);
        // The icon block wins over ICON_LOCATION, as the shell takes it.
        EXPECT_EQ(link->iconPath(), *parts.environmentIcon);
        EXPECT_EQ(link->targetPaths(),
                  (std::vector<std::string>{*parts.linkInfoPath, *parts.environmentTarget}));
    }
}

TEST(ShellLinkTest, TextsOutsideAsciiSurvive) {
    mb::ShellLinkParts parts;
    parts.iconLocation = "C:\\Spiele\\Größe\\icône.ico";
    auto link = ParseShellLink(mb::makeShellLink(parts));
    ASSERT_TRUE(link.ok());
    EXPECT_EQ(link->iconLocation, *parts.iconLocation);
    // 8-bit texts are in the Western code page.
    const std::uint8_t western[] = {'G', 'r', 0xF6, 0xDF, 'e', 0x80};
    EXPECT_EQ(WesternToUtf8(western), "Größe€");
}

// Cut short anywhere, a link is refused or read as far as it is whole, never more.
TEST(ShellLinkTest, CutShortAnywhereIsRefusedOrReadInPart) {
    const std::vector<std::uint8_t> whole = mb::makeShellLink(everyPart());
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        auto link = ParseShellLink(cut);
        if (!link.ok()) {
            EXPECT_FALSE(link.error().message.empty());
            continue;
        }
        // Only the extra blocks may be lost: the string data is whole.
        EXPECT_EQ(link->iconLocation, *everyPart().iconLocation) << size;
    }
    auto header = ParseShellLink(std::vector<std::uint8_t>(whole.begin(), whole.begin() + 0x50));
    ASSERT_FALSE(header.ok());
    EXPECT_EQ(header.error().message, "the shortcut's item ID list runs past its end");
    EXPECT_EQ(ParseShellLink(std::vector<std::uint8_t>(76, 0)).error().kind, ErrorKind::NotLoadable);
}

// A string's count that claims more than the file holds names the string.
TEST(ShellLinkTest, DamagedStringsNameThemselves) {
    mb::ShellLinkParts parts;
    parts.iconLocation = "C:\\app.ico";
    std::vector<std::uint8_t> bytes = mb::makeShellLink(parts);
    bytes[0x4C] = 0xFF; // the icon location's count
    bytes[0x4D] = 0x7F;
    auto link = ParseShellLink(bytes);
    ASSERT_FALSE(link.ok());
    EXPECT_EQ(link.error().message, "the shortcut's icon location runs past its end");
}

TEST(DescriptorTest, ProductCodesAreDecodedFromTheirPackedForm) {
    // The packed product code of a published descriptor, with its feature and component.
    EXPECT_EQ(DescriptorProductCode("ykG^V5!!!!4!!!!MKKSkFeature>P`os,1@SW=P7v6GPl]Xh"),
              "{91140000-0011-0000-1000-0000000FF1CE}");
    const std::string guid = "{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}";
    EXPECT_EQ(DescriptorProductCode(mb::packedProductCode(guid) + "<"), guid);
    EXPECT_FALSE(DescriptorProductCode("short").has_value());
    EXPECT_FALSE(DescriptorProductCode("\"kG^V5!!!!4!!!!MKKSk").has_value()); // '"' is no digit
    EXPECT_FALSE(DescriptorProductCode("~~~~~~~~~~~~~~~~~~~~").has_value()); // beyond 32 bits
}

TEST(InternetShortcutTest, KeysWithoutRegardToCase) {
    const std::string text =
        "\xEF\xBB\xBF[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,2\r\n"
        "[internetshortcut]\r\nurl=steam://rungameid/70\r\n ICONFILE = C:\\Steam\\game.ico \r\nIconIndex=-7\r\n";
    auto url = ParseInternetShortcut(std::vector<std::uint8_t>(text.begin(), text.end()));
    ASSERT_TRUE(url.ok());
    EXPECT_EQ(url->url, "steam://rungameid/70");
    EXPECT_EQ(url->iconFile, "C:\\Steam\\game.ico");
    EXPECT_EQ(url->iconIndex, -7);
    const std::string none = "[Desktop Entry]\nIcon=x\n";
    EXPECT_FALSE(ParseInternetShortcut(std::vector<std::uint8_t>(none.begin(), none.end())).ok());
}

class WinePrefixTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-prefix");
        fs::create_directories(root / "drive_c/Program Files/Game");
        fs::create_directories(root / "drive_c/users/alice/AppData/Roaming/Tool");
        fs::create_directories(root / "drive_c/users/Public/Desktop");
        fs::create_directories(root / "drive_c/windows/system32");
        fs::create_directories(root / "d-drive/Data");
        fs::create_directories(root / "dosdevices");
        fs::create_directory_symlink("../drive_c", root / "dosdevices/c:");
        fs::create_directory_symlink("../d-drive", root / "dosdevices/d:");
        for (const char* file : {"drive_c/Program Files/Game/Game.EXE", "drive_c/users/alice/AppData/Roaming/Tool/t.ico",
                                 "drive_c/windows/system32/shell32.dll", "d-drive/Data/x.ico"})
            std::ofstream(root / file) << "x";
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(WinePrefixTest, PathsAreFoundAsWindowsFindsThem) {
    const WinePrefix prefix(root.string(), (root / "drive_c/users/alice/Desktop/x.lnk").string());
    EXPECT_EQ(prefix.user(), "alice");
    const std::string r = root.string();
    const struct {
        const char* windows;
        std::string linux;
    } cases[] = {
        {"%PROGRAMFILES%\\game\\game.exe", r + "/drive_c/Program Files/Game/Game.EXE"},
        {"c:\\PROGRAM FILES\\Game\\GAME.exe", r + "/drive_c/Program Files/Game/Game.EXE"},
        {"%AppData%\\tool\\T.ICO", r + "/drive_c/users/alice/AppData/Roaming/Tool/t.ico"},
        {"%SystemRoot%\\System32\\SHELL32.dll", r + "/dosdevices/c:/windows/system32/shell32.dll"},
        {"%windir%/system32/../system32/shell32.dll", r + "/dosdevices/c:/windows/system32/shell32.dll"},
        {"D:\\data\\X.ico", r + "/dosdevices/d:/Data/x.ico"},
        {"\"C:\\Program Files\\Game\\Game.exe\"", r + "/dosdevices/c:/Program Files/Game/Game.EXE"},
        {"%PUBLIC%\\Desktop", r + "/drive_c/users/Public/Desktop"},
    };
    for (const auto& c : cases) {
        std::string looked;
        auto found = prefix.Locate(c.windows, {}, looked);
        ASSERT_TRUE(found.ok()) << c.windows << ": " << found.error().message;
        EXPECT_EQ(fs::weakly_canonical(*found), fs::weakly_canonical(c.linux)) << c.windows;
    }
    // Relative paths from a Windows folder or a Linux one.
    std::string looked;
    EXPECT_TRUE(prefix.Locate("..\\Game\\game.exe", "C:\\Program Files\\Game", looked).ok());
    EXPECT_TRUE(prefix.Locate("Game.exe", (root / "drive_c/Program Files/Game").string(), looked).ok());
}

TEST_F(WinePrefixTest, WhatIsMissingIsSaid) {
    const WinePrefix prefix(root.string(), {}, "alice");
    std::string looked;
    auto missing = prefix.Locate("C:\\Program Files\\Game\\icons\\app.ico", {}, looked);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "is not in the prefix");
    EXPECT_EQ(fs::path(looked), fs::path(root.string() + "/dosdevices/c:/Program Files/Game/icons/app.ico"));
    auto variable = prefix.Locate("%GAMEDIR%\\app.ico", {}, looked);
    ASSERT_FALSE(variable.ok());
    EXPECT_EQ(variable.error().message, "the variable %GAMEDIR% has no value in a Wine prefix");
    auto drive = prefix.Locate("Q:\\app.ico", {}, looked);
    ASSERT_FALSE(drive.ok());
    EXPECT_EQ(drive.error().message, "is on drive Q:, which the prefix does not have");
    EXPECT_EQ(prefix.Locate("\\\\server\\share\\app.ico", {}, looked).error().kind, ErrorKind::Unsupported);
}

TEST_F(WinePrefixTest, ThePrefixIsFoundAboveAFileInIt) {
    auto held = WinePrefix::Holding((root / "drive_c/users/Public/Desktop/Game.lnk").string());
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(fs::path(held->root()), root);
    auto viaDevices = WinePrefix::Holding((root / "dosdevices/c:/Program Files/Game/Game.EXE").string());
    ASSERT_TRUE(viaDevices.has_value());
    EXPECT_EQ(fs::path(viaDevices->root()), root);
    EXPECT_FALSE(WinePrefix::Holding("/tmp/nowhere/Game.lnk").has_value());
}

} // namespace
} // namespace harvix
