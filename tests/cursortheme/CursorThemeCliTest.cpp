// harvix-cli cursor-theme run as a program on a cursor pack the test builds, the theme
// read back with libXcursor as desktops read it; and the same pack given to win2xcur,
// where it is installed, to compare.
#include "cursortheme/CursorRole.h"
#include "tests/support/RunProgram.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <X11/Xcursor/Xcursor.h>
#undef Status

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

namespace harvix {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;
using testing::RunProgram;

const std::vector<std::uint32_t> kSizes = {24, 32, 48, 64, 96};

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> cur(int size, int hotX, int hotY) {
    return mb::makeCursorFile(size, size, 32, hotX, hotY, mb::pictures::arrow());
}

// What the pack gives a role: its side in pixels, its hot spot, and for an animation
// the display times of its steps in milliseconds.
struct Given {
    CursorRole role;
    int side;
    int hotX, hotY;
    std::vector<std::uint32_t> delays;
};

const std::vector<Given> kGiven = {
    {CursorRole::Arrow, 32, 5, 7, {}},
    {CursorRole::Hand, 48, 13, 3, {}},
    {CursorRole::IBeam, 32, 15, 15, {}},
    // seq 0 1 2 1, rates 6 10 3 1 jiffies
    {CursorRole::Wait, 32, 16, 17, {100, 167, 50, 17}},
};

class CursorThemeCli : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-cursor-theme");
        pack = root / "Glass Pack";
        dest = root / "icons";
        fs::create_directories(pack);
        writeFile(pack / "Normal Select.cur", cur(32, 5, 7));
        writeFile(pack / "LINK.CUR", cur(48, 13, 3));
        writeFile(pack / "text.cur", cur(32, 15, 15));
        writeFile(pack / "busy.ani", mb::makeAni({cur(32, 16, 17), cur(32, 16, 17), cur(32, 16, 17)}, 10,
                                                 {0, 1, 2, 1}, {6, 10, 3, 1}));
        // The files in role order; "help.cur" is named but not there.
        std::ofstream(pack / "install.inf")
            << "[Version]\r\nsignature=\"$CHICAGO$\"\r\n"
               "[Scheme.Reg]\r\n"
               "HKCU,\"Control Panel\\Cursors\\Schemes\",\"%SCHEME_NAME%\",,\"%10%\\%CUR_DIR%\\%pointer%,"
               "%10%\\%CUR_DIR%\\%help%,,%10%\\%CUR_DIR%\\%busy%,,%10%\\%CUR_DIR%\\%text%,,,,,,,,,"
               "%10%\\%CUR_DIR%\\%link%\"\r\n"
               "[Strings]\r\nCUR_DIR=\"Cursors\\Glass\"\r\nSCHEME_NAME=\"Glass\"\r\n"
               "pointer=\"Normal Select.cur\"\r\nhelp=\"help.cur\"\r\nbusy=\"busy.ani\"\r\n"
               "text=\"text.cur\"\r\nlink=\"link.cur\"\r\n";
    }
    void TearDown() override { fs::remove_all(root); }

    testing::ProgramRun run(std::vector<std::string> args) {
        return RunProgram(HARVIX_CLI, std::move(args), root);
    }

    fs::path root, pack, dest;
};

TEST_F(CursorThemeCli, ThemeReadBackWithLibXcursor) {
    const auto made = run({"cursor-theme", "--name", "Glass", "--dest", dest.string(), pack.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, (dest / "Glass").string() + "\n");
    EXPECT_NE(made.err.find("help.cur, which the pack lacks"), std::string::npos) << made.err;
    EXPECT_NE(made.err.find("those of Adwaita are shown"), std::string::npos) << made.err;

    const std::string index = testing::ReadText(dest / "Glass" / "index.theme");
    EXPECT_NE(index.find("[Icon Theme]\nName=Glass\n"), std::string::npos) << index;
    EXPECT_NE(index.find("\nInherits=Adwaita\n"), std::string::npos) << index;
    EXPECT_NE(index.find("Glass"), std::string::npos);

    for (const Given& given : kGiven) {
        const CursorRoleInfo& info = InfoOf(given.role);
        for (std::size_t n = 0; n < info.names.size(); ++n) {
            const fs::path path = dest / "Glass" / "cursors" / std::string(info.names[n]);
            SCOPED_TRACE(path.string());
            ASSERT_TRUE(fs::exists(path));
            EXPECT_EQ(fs::is_symlink(path), n > 0);
            int count = 0;
            XcursorComments* comments = nullptr;
            XcursorImages* images = nullptr;
            ASSERT_TRUE(XcursorFilenameLoad(path.c_str(), &comments, &images));
            std::map<std::uint32_t, std::vector<const XcursorImage*>> bySize;
            for (int i = 0; i < images->nimage; ++i)
                bySize[images->images[i]->size].push_back(images->images[i]);
            for (const std::uint32_t size : kSizes) {
                const auto& at = bySize[size];
                ASSERT_EQ(at.size(), given.delays.empty() ? 1u : given.delays.size()) << size;
                for (std::size_t step = 0; step < at.size(); ++step) {
                    const XcursorImage* image = at[step];
                    EXPECT_EQ(image->width, size);
                    EXPECT_EQ(image->height, size);
                    // Within one pixel of the source's hot spot scaled, and inside the picture.
                    const double x = given.hotX * static_cast<double>(size) / given.side;
                    const double y = given.hotY * static_cast<double>(size) / given.side;
                    EXPECT_LE(std::fabs(image->xhot - x), 1.0) << size;
                    EXPECT_LE(std::fabs(image->yhot - y), 1.0) << size;
                    EXPECT_LT(image->xhot, size);
                    EXPECT_LT(image->yhot, size);
                    EXPECT_EQ(image->delay, given.delays.empty() ? 0u : given.delays[step]);
                    ++count;
                }
            }
            EXPECT_EQ(count, images->nimage);
            XcursorImagesDestroy(images);
            XcursorCommentsDestroy(comments);
        }
    }
    // No role the pack lacks is written: the inherited theme has them.
    EXPECT_FALSE(fs::exists(dest / "Glass" / "cursors" / "question_arrow"));
    EXPECT_FALSE(fs::exists(dest / "Glass" / "cursors" / "fleur"));
    // Nothing is left beside the theme.
    EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 1);
}

// A theme of that name is refused unless --force, which replaces it whole.
TEST_F(CursorThemeCli, AThemeThereAlreadyIsReplacedOnlyWhenAsked) {
    ASSERT_EQ(run({"cursor-theme", "--name", "Glass", "--dest", dest.string(), pack.string()}).status, 0);
    std::ofstream(dest / "Glass" / "cursors" / "stale") << "old";
    const auto refused = run({"cursor-theme", "--name", "Glass", "--dest", dest.string(), pack.string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is there already (--force replaces it)"), std::string::npos) << refused.err;
    EXPECT_TRUE(fs::exists(dest / "Glass" / "cursors" / "stale"));

    const auto forced = run({"cursor-theme", "--name", "Glass", "--dest", dest.string(), "--force", "--sizes",
                             "32", "--inherits", "", "Hand=" + (pack / "text.cur").string(), pack.string()});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_FALSE(fs::exists(dest / "Glass" / "cursors" / "stale"));
    EXPECT_EQ(testing::ReadText(dest / "Glass" / "index.theme").find("Inherits"), std::string::npos);
    XcursorImages* hand = XcursorFilenameLoadAllImages((dest / "Glass" / "cursors" / "pointer").c_str());
    ASSERT_NE(hand, nullptr);
    ASSERT_EQ(hand->nimage, 1);
    EXPECT_EQ(hand->images[0]->size, 32u);
    EXPECT_EQ(hand->images[0]->xhot, 15u); // text.cur, given before the pack's link.cur
    XcursorImagesDestroy(hand);
    EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 1);
}

// A module's cursors take the roles of the system's identifiers (user32.dll's); a
// cursor file named alone takes the role its name tells; one whose name tells none is
// refused with the way out.
TEST_F(CursorThemeCli, ModulesAndLooseFiles) {
    mb::ModuleBuilder b;
    mb::addCursorGroup(b, ResId::number(32649), 1, {mb::GroupImage{32, 32, 32, {}}}, mb::pictures::arrow(), 9, 4);
    writeFile(root / "user32.dll", b.build());
    writeFile(root / "whatever.cur", cur(32, 1, 1));
    const auto made = run({"cursor-theme", "--name", "Mixed", "--dest", dest.string(),
                           (root / "user32.dll").string(), (pack / "busy.ani").string()});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(fs::exists(dest / "Mixed" / "cursors" / "hand2"));
    EXPECT_TRUE(fs::exists(dest / "Mixed" / "cursors" / "watch"));
    EXPECT_FALSE(fs::exists(dest / "Mixed" / "cursors" / "left_ptr"));

    // One cursor of a module by its identifier, given a role of the user's choice; an
    // identifier the module lacks says how many it holds.
    const auto named = run({"cursor-theme", "--name", "Named", "--dest", dest.string(),
                            "Help=" + (root / "user32.dll").string() + ",-32649"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(fs::exists(dest / "Named" / "cursors" / "question_arrow"));
    EXPECT_FALSE(fs::exists(dest / "Named" / "cursors" / "hand2"));
    const auto missing = run({"cursor-theme", "--name", "None", "--dest", dest.string(),
                              (root / "user32.dll").string() + ",-7"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no such cursor (the module holds 1, 0 to 0)"), std::string::npos) << missing.err;

    // A Windows 2 module's cursor, of the older form without groups.
    mb::NeBuilder old(mb::NeForm::Program);
    old.setWindowsVersion(2, 0);
    old.add(ResId::of(ResType::Cursor), ResId::number(32512),
            mb::makeOldCursor(mb::OldForm::DeviceDependent, 32, 7, 9, mb::pictures::arrow()));
    writeFile(root / "user.exe", old.build());
    const auto old2 = run({"cursor-theme", "--name", "Two", "--dest", dest.string(), (root / "user.exe").string()});
    ASSERT_EQ(old2.status, 0) << old2.err;
    XcursorImages* arrow = XcursorFilenameLoadImages((dest / "Two" / "cursors" / "default").c_str(), 64);
    ASSERT_NE(arrow, nullptr);
    ASSERT_EQ(arrow->nimage, 1);
    EXPECT_EQ(arrow->images[0]->xhot, 14u);
    EXPECT_EQ(arrow->images[0]->yhot, 18u);
    XcursorImagesDestroy(arrow);

    const auto refused = run({"cursor-theme", "--name", "Loose", "--dest", dest.string(),
                              (root / "whatever.cur").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("its name tells no role (give ROLE="), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dest / "Loose"));
}

// A pack without install.inf: the file names tell the roles, in the folder and the
// folders below it; a name that tells none is passed over and said so.
TEST_F(CursorThemeCli, WithoutInstallInfTheNamesTellTheRoles) {
    fs::remove(pack / "install.inf");
    fs::create_directories(pack / "extra");
    writeFile(pack / "extra" / "Diagonal Resize 2.cur", cur(32, 16, 16));
    writeFile(pack / "readme.cur", cur(32, 0, 0));
    const auto made = run({"cursor-theme", "--name", "Guessed", "--dest", dest.string(), pack.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    for (const char* name : {"left_ptr", "hand2", "xterm", "watch", "fd_double_arrow", "nesw-resize"})
        EXPECT_TRUE(fs::exists(dest / "Guessed" / "cursors" / name)) << name;
    EXPECT_NE(made.err.find("readme.cur: passed over, its name tells no role"), std::string::npos) << made.err;
}

// --install puts the theme where desktops look for the user's own: the icons folder of
// $XDG_DATA_HOME, made when missing.
TEST_F(CursorThemeCli, InstallGoesIntoTheUsersDataFolder) {
    const fs::path data = root / "data";
    const auto made = RunProgram(HARVIX_CLI, {"cursor-theme", "--name", "Mine", "--install", pack.string()}, root,
                                 {"XDG_DATA_HOME=" + data.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, (data / "icons" / "Mine").string() + "\n");
    EXPECT_TRUE(fs::exists(data / "icons" / "Mine" / "index.theme"));
    EXPECT_EQ(run({"cursor-theme", "--name", "a/b", "--install", pack.string()}).status, 2);
    EXPECT_EQ(run({"cursor-theme", "--name", "Mine", "--dest", dest.string(), "--install", pack.string()}).status, 2);
    EXPECT_EQ(run({"cursor-theme", "--name", "Mine", "--dest", dest.string(), "--sizes", "4", pack.string()}).status,
              2);
}

// win2xcur (pip's, not packaged by Debian 12) made from the same pack, where it is
// installed: what each tool writes, side by side.
TEST_F(CursorThemeCli, ComparedWithWin2xcur) {
    if (std::system("command -v win2xcur >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "win2xcur is not installed (pip install win2xcur); nothing to compare";
    const fs::path theirs = root / "win2xcur";
    fs::create_directories(theirs);
    std::string command = "win2xcur -o '" + theirs.string() + "'";
    for (const char* file : {"Normal Select.cur", "LINK.CUR", "text.cur", "busy.ani"})
        command += " '" + (pack / file).string() + "'";
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    ASSERT_EQ(run({"cursor-theme", "--name", "Glass", "--dest", dest.string(), pack.string()}).status, 0);

    auto sizesOf = [](const fs::path& path) {
        std::set<std::uint32_t> sizes;
        if (XcursorImages* images = XcursorFilenameLoadAllImages(path.c_str())) {
            for (int i = 0; i < images->nimage; ++i)
                sizes.insert(images->images[i]->size);
            XcursorImagesDestroy(images);
        }
        return sizes;
    };
    const std::set<std::uint32_t> ours = sizesOf(dest / "Glass" / "cursors" / "left_ptr");
    const std::set<std::uint32_t> theirSizes = sizesOf(theirs / "Normal Select");
    std::printf("index.theme: harvix %s, win2xcur %s\n", fs::exists(dest / "Glass" / "index.theme") ? "yes" : "no",
                fs::exists(theirs / "index.theme") ? "yes" : "no");
    std::printf("sizes of the arrow: harvix %zu, win2xcur %zu\n", ours.size(), theirSizes.size());
    EXPECT_EQ(ours, std::set<std::uint32_t>(kSizes.begin(), kSizes.end()));
}

} // namespace
} // namespace harvix
