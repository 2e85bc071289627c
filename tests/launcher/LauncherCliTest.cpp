// harvix-cli icon and thumbnail on a Wine prefix the test builds: shortcuts whose icon
// location has environment variables and another case, a shortcut with a target only,
// an advertised one, an Internet shortcut, broken ones; and a game folder with its
// uninstaller, setup, crash reporter and redistributable beside it.
#include "image/Png.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/ShellLinkBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;
using ::testing::HasSubstr;

constexpr mb::Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kWhite{255, 255, 255, 255};
const std::string kProduct = "{6A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}";

mb::Picture solid(mb::Rgba colour) {
    return [colour](int, int, int, int) { return colour; };
}

// A program whose groups have one colour each, of the given size.
std::vector<std::uint8_t> program(const std::vector<mb::Rgba>& groups, int side = 32,
                                  std::vector<std::pair<std::string, std::string>> version = {}) {
    mb::ModuleBuilder b;
    b.setDll(false);
    std::uint16_t id = 1;
    std::uint16_t group = 1;
    for (const mb::Rgba& colour : groups)
        id = mb::addIconGroup(b, ResId::number(group++), id, {mb::GroupImage{side, side, 32}}, solid(colour));
    if (!version.empty())
        b.add(ResId::of(ResType::Version), ResId::number(1), 0x409, mb::makeVersionInfo({1, 0, 0, 0}, version));
    return b.build();
}

void write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(mb::writeFile(path.string(), bytes).ok()) << path;
}
void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class LauncherCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-launcher");
        prefix = root / "prefix";
        const fs::path game = prefix / "drive_c/Program Files/Game";
        write(game / "Game.exe", program({kRed, kWhite}));
        write(game / "game.ico", mb::makeIcoFile({mb::GroupImage{48, 48, 32}}, solid(kGreen)));
        write(prefix / "drive_c/windows/Installer" / kProduct / "appicon.ico",
              mb::makeIcoFile({mb::GroupImage{32, 32, 32}}, solid(kBlue)));
        fs::create_directories(prefix / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
        desktop = prefix / "drive_c/users/Public/Desktop";
        fs::create_directories(desktop);
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path link(const std::string& name, const mb::ShellLinkParts& parts) {
        write(desktop / name, mb::makeShellLink(parts));
        return desktop / name;
    }
    testing::ProgramRun run(std::vector<std::string> args) { return testing::RunProgram(HARVIX_CLI, args, root); }

    // The colour in the middle of the PNG written by `icon`.
    mb::Rgba iconColour(const std::string& location, std::vector<std::string> more = {}) {
        const fs::path out = root / "out.png";
        fs::remove(out);
        std::vector<std::string> args{"icon", location, out.string()};
        args.insert(args.end(), more.begin(), more.end());
        const testing::ProgramRun r = run(args);
        EXPECT_EQ(r.status, 0) << location << ": " << r.err;
        auto png = DecodePng(testing::ReadBytes(out), 4096);
        if (!png.ok())
            return {};
        const std::uint8_t* middle = png->pixel(png->width / 2, png->height / 2);
        return {middle[0], middle[1], middle[2], middle[3]};
    }
    static bool same(mb::Rgba a, mb::Rgba b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

    fs::path root, prefix, desktop;
};

TEST_F(LauncherCliTest, ShortcutsGiveTheIconTheyName) {
    mb::ShellLinkParts named; // an icon location with a variable and another case
    named.iconLocation = "%programfiles%\\GAME\\GAME.ICO";
    named.linkInfoPath = "C:\\Program Files\\Game\\Game.exe";
    EXPECT_TRUE(same(iconColour(link("Game.lnk", named).string()), kGreen));

    mb::ShellLinkParts target; // a target only: its first icon
    target.linkInfoPath = "C:\\PROGRAM FILES\\game\\game.exe";
    target.unicode = false;
    const fs::path targetLink = link("Target.lnk", target);
    EXPECT_TRUE(same(iconColour(targetLink.string()), kRed));
    // A reference given with the shortcut names a group of what it names.
    EXPECT_TRUE(same(iconColour(targetLink.string() + ",1"), kWhite));

    mb::ShellLinkParts indexed; // the header's index names the group
    indexed.iconLocation = "%SystemDrive%\\Program Files\\Game\\Game.exe";
    indexed.iconIndex = -2; // the group with the id 2
    EXPECT_TRUE(same(iconColour(link("Indexed.lnk", indexed).string()), kWhite));

    mb::ShellLinkParts items; // the item ID list alone names the target
    items.idListPath = "C:\\Program Files\\Game\\Game.exe";
    EXPECT_TRUE(same(iconColour(link("Items.lnk", items).string()), kRed));

    mb::ShellLinkParts advertised; // Windows Installer keeps its icon
    advertised.darwin = mb::packedProductCode(kProduct) + "Complete>" + mb::packedProductCode(kProduct);
    EXPECT_TRUE(same(iconColour(link("Advertised.lnk", advertised).string()), kBlue));

    mb::ShellLinkParts relative; // the relative path alone, from the shortcut's folder
    relative.relativePath = "..\\..\\..\\Program Files\\Game\\Game.exe";
    EXPECT_TRUE(same(iconColour(link("Relative.lnk", relative).string()), kRed));

    writeText(desktop / "Store.URL",
              "[InternetShortcut]\r\nURL=steam://rungameid/1\r\nIconFile=C:\\Program Files\\Game\\Game.exe\r\n"
              "IconIndex=1\r\n");
    EXPECT_TRUE(same(iconColour((desktop / "Store.URL").string()), kWhite));
}

TEST_F(LauncherCliTest, AShortcutThatCannotBeResolvedSaysWhichPart) {
    mb::ShellLinkParts broken;
    broken.iconLocation = "C:\\Program Files\\Gone\\app.ico";
    broken.linkInfoPath = "C:\\Program Files\\Gone\\app.exe";
    const fs::path shortcut = link("Broken.lnk", broken);
    testing::ProgramRun r = run({"icon", shortcut.string(), (root / "out.png").string()});
    EXPECT_EQ(r.status, 1);
    const std::string devices = (prefix / "dosdevices/c:").string();
    EXPECT_EQ(r.err, "harvix-cli icon: " + shortcut.string() +
                         ": the shortcut's icon file C:\\Program Files\\Gone\\app.ico is not in the prefix " +
                         prefix.string() + " (looked for " + devices +
                         "/Program Files/Gone/app.ico); the shortcut's target C:\\Program Files\\Gone\\app.exe is "
                         "not in the prefix " +
                         prefix.string() + " (looked for " + devices + "/Program Files/Gone/app.exe)\n");
    EXPECT_FALSE(fs::exists(root / "out.png"));

    // The icon file is missing, the target is there: the target's icon, and a word why.
    mb::ShellLinkParts half = broken;
    half.linkInfoPath = "C:\\Program Files\\Game\\Game.exe";
    const fs::path halfLink = link("Half.lnk", half);
    r = run({"icon", halfLink.string(), (root / "out.png").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("is not in the prefix"));
    EXPECT_THAT(r.err, HasSubstr("; its target's icon is taken\n"));

    // An advertised shortcut whose product has no icon in the prefix.
    mb::ShellLinkParts advertised;
    advertised.darwin = mb::packedProductCode("{00000000-1111-2222-3333-444455556666}") + "<";
    r = run({"icon", link("Gone.lnk", advertised).string(), (root / "out.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the shortcut is advertised by Windows Installer (product "
                                 "{00000000-1111-2222-3333-444455556666}) and no icon of it is in " +
                                 prefix.string() + "/drive_c/windows/Installer/{00000000-1111-2222-3333-444455556666}"));

    // A descriptor whose product code cannot be read: every product's folder is looked in
    // for the file the icon location names, and that is said.
    mb::ShellLinkParts unreadable;
    unreadable.iconLocation = "C:\\windows\\Installer\\{00000000-0000-0000-0000-000000000000}\\APPICON.ICO";
    unreadable.darwin = "\"not a packed code at all\"";
    r = run({"icon", link("Unreadable.lnk", unreadable).string(), (root / "out.png").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("the product code of the shortcut's Windows Installer descriptor cannot be read; "
                                 "every product's folder in "));

    // A variable Wine does not set, and a damaged shortcut.
    mb::ShellLinkParts variable;
    variable.iconLocation = "%GAMEDIR%\\app.ico";
    r = run({"icon", link("Variable.lnk", variable).string(), (root / "out.png").string()});
    EXPECT_THAT(r.err, HasSubstr("the shortcut's icon file %GAMEDIR%\\app.ico: the variable %GAMEDIR% has no value"));
    std::vector<std::uint8_t> damaged = mb::makeShellLink(broken);
    damaged.resize(0x60);
    write(desktop / "Damaged.lnk", damaged);
    r = run({"icon", (desktop / "Damaged.lnk").string(), (root / "out.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("Damaged.lnk: the shortcut's link information runs past its end"));
}

TEST_F(LauncherCliTest, AShortcutOutsideItsPrefixNeedsThePrefixNamed) {
    mb::ShellLinkParts parts;
    parts.iconLocation = "C:\\Program Files\\Game\\game.ico";
    write(root / "copied/Game.lnk", mb::makeShellLink(parts));
    const std::string shortcut = (root / "copied/Game.lnk").string();
    testing::ProgramRun r = run({"icon", shortcut, (root / "out.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "harvix-cli icon: " + shortcut +
                         ": the shortcut is not inside a Wine prefix (no drive_c or dosdevices folder above it); "
                         "name the prefix with --prefix DIR\n");
    EXPECT_TRUE(same(iconColour(shortcut, {"--prefix", prefix.string()}), kGreen));
}

TEST_F(LauncherCliTest, TheThumbnailOfAShortcutIsItsIcon) {
    mb::ShellLinkParts parts;
    parts.iconLocation = "%ProgramFiles%\\Game\\game.ico";
    const testing::ProgramRun r =
        run({"thumbnail", "--size", "48", link("Game.lnk", parts).string(), (root / "thumb.png").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    auto png = DecodePng(testing::ReadBytes(root / "thumb.png"), 4096);
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png->width, 48u);
    EXPECT_EQ(png->pixel(24, 24)[1], 255); // green
}

// A game folder: the game itself among what comes with it.
TEST_F(LauncherCliTest, AFolderGivesItsGamesIcon) {
    const fs::path game = root / "Star Pilot";
    write(game / "StarPilot.exe", program({kRed}, 48));
    write(game / "unins000.exe", program({kBlue}, 256, {{"FileDescription", "Setup/Uninstall"}}));
    write(game / "setup.exe", program({kBlue}, 256));
    write(game / "UnityCrashHandler64.exe", program({kBlue}, 256));
    write(game / "redist/vcredist_x64.exe", program({kBlue}, 256));
    write(game / "bin/launch.exe", program({kWhite}, 64, {{"ProductName", "Star Pilot"}}));
    write(game / "readme.exe", {'M', 'Z'}); // no module: not a candidate
    EXPECT_TRUE(same(iconColour(game.string()), kRed));

    testing::ProgramRun r = run({"icon", game.string(), "--candidates", "--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Every line as its schema says.
    writeText(root / "candidates.jsonl", r.out);
    const testing::ProgramRun valid = testing::RunShell(
        "/usr/bin/python3 " HARVIX_TEST_SOURCE_DIR "/tests/cli/validate_json.py " HARVIX_TEST_SOURCE_DIR
        "/cli/schema/icon-candidate.schema.json --lines '" + (root / "candidates.jsonl").string() + "'",
        root);
    EXPECT_EQ(valid.status, 0) << valid.err;
    std::istringstream lines(r.out);
    std::vector<nlohmann::json> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0]["relative"], "StarPilot.exe");
    EXPECT_EQ(rows[0]["chosen"], true);
    EXPECT_EQ(rows[0]["name_match"]["strength"], "exact");
    EXPECT_EQ(rows[0]["passed_over"], nullptr);
    EXPECT_EQ(rows[1]["relative"], "bin/launch.exe");
    EXPECT_EQ(rows[1]["name_match"]["by"], "ProductName");
    EXPECT_EQ(rows[1]["version"]["ProductName"], "Star Pilot");
    EXPECT_EQ(rows[1]["icon_size"], 64);
    std::vector<std::string> kinds;
    for (std::size_t i = 2; i < rows.size(); ++i)
        kinds.push_back(rows[i]["passed_over"]["kind"]);
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<std::string>{"crash reporter", "installer", "redistributable", "uninstaller"}));

    r = run({"icon", game.string(), "--candidates"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "1\t" + (game / "StarPilot.exe").string() +
                  "\tits file name \"StarPilot.exe\" is the folder's name \"Star Pilot\"; in the folder itself; its "
                  "largest icon 48 px");

    // A folder without a program with an icon, and --candidates on no folder.
    fs::create_directories(root / "Empty");
    r = run({"icon", (root / "Empty").string(), (root / "out.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no program with an icon in the folder or its subfolders (0 programs looked at)"));
    r = run({"icon", (game / "setup.exe").string(), "--candidates"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("--candidates lists the programs of a folder; this is no folder"));
    r = run({"icon", game.string(), "--candidates", (root / "out.png").string()});
    EXPECT_EQ(r.status, 2);
}

// A game library whose folders hold links to programs installed elsewhere (as launchers
// and Wine prefixes link them): the confined icon command reads the linked programs, as it
// reads programs that are there.
TEST_F(LauncherCliTest, AFolderOfLinkedProgramsGivesItsGamesIcon) {
    const fs::path store = root / "store";
    write(store / "StarPilot.exe", program({kGreen}, 48));
    write(store / "setup.exe", program({kBlue}, 256));
    const fs::path game = root / "library" / "Star Pilot";
    fs::create_directories(game / "bin");
    fs::create_symlink(store / "StarPilot.exe", game / "StarPilot.exe");
    fs::create_symlink(store / "setup.exe", game / "bin" / "setup.exe");
    EXPECT_TRUE(same(iconColour(game.string()), kGreen));
    const testing::ProgramRun r = run({"icon", game.string(), "--candidates"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr((game / "StarPilot.exe").string()));
    EXPECT_THAT(r.out, HasSubstr((game / "bin" / "setup.exe").string()));
}

} // namespace
} // namespace harvix
