// What harvix-cli says when something is not as asked, run as a program: every message
// begins with the command's name, and each names the file, folder or value at fault.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tests/support/RunProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace harvix {
namespace {

using ::testing::HasSubstr;
using namespace harvix::modbuilder;
namespace fs = std::filesystem;

class CliMessages : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-messages");
        env = {"HARVIX_REGISTRY=" + (root / "registry.db").string()};
        fs::create_directories(root / "src");
        module = (root / "src" / "sample.dll").string();
        ModuleBuilder b;
        b.add(ResId::number(2), ResId::number(1), 0x409, makeDib(32, 32, 8, pictures::gradient()));
        ASSERT_TRUE(writeFile(module, b.build()));
        text = (root / "src" / "readme.dll").string();
        std::ofstream(text) << "not a module at all";
        NeBuilder font(NeForm::Font);
        font.add(ResId::number(7), ResId::name("FONTDIR"), makeFontDirectory({"Sample Sans"}, 10));
        font.add(ResId::number(8), ResId::number(1), makeFont("Sample Sans", 10));
        // Data of the picture kind's types that is no picture does not count.
        font.add(ResId::number(10), ResId::name("LICENCE"),
                 std::vector<std::uint8_t>{'F', 'r', 'e', 'e', ' ', 'f', 'o', 'n', 't'});
        fonts = (root / "src" / "sample.fon").string();
        ASSERT_TRUE(writeFile(fonts, font.build()));
        font.add(ResId::name("PNG"), ResId::number(1), makePngFile(4, 4, pictures::rings()));
        fontsWithPicture = (root / "src" / "pictured.fon").string();
        ASSERT_TRUE(writeFile(fontsWithPicture, font.build()));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(root, fs::perms::owner_all, ignored);
        fs::remove_all(root, ignored);
    }

    testing::ProgramRun run(const std::vector<std::string>& args,
                            const std::function<bool()>& inChild = {}) const {
        return testing::RunProgram(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli", args, root, env, inChild);
    }

    // Each line of stderr begins with "harvix-cli COMMAND: ".
    static void expectEveryLineNamesTheCommand(const std::string& err, const std::string& command) {
        std::istringstream lines(err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_EQ(line.rfind("harvix-cli " + command + ": ", 0), 0u) << line;
    }

    fs::path root;
    std::vector<std::string> env;
    std::string module, text, fonts, fontsWithPicture;
};

// Root reads anything whatever the mode bits: the unreadable file is read as "nobody".
bool AsNobody() {
    return ::geteuid() != 0 ||
           (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}

TEST_F(CliMessages, EveryMessageBeginsWithTheCommand) {
    const std::string dest = (root / "out").string();
    fs::create_directories(root / "folder");
    const std::vector<std::vector<std::string>> cases = {
        {"list", "--frobnicate"},
        {"list", (root / "missing.dll").string()},
        {"list", text},
        {"version"},
        {"version", text, (root / "folder").string(), (root / "missing.dll").string()},
        {"extract", "--dest", dest},
        {"extract", "--dest", dest, "--jobs", "65", module},
        {"extract", "--dest", dest, text},
        {"extract", "--dest", (root / "src").string(), module}, // exists: refused
        {"settings", "Frobnicate=1"},
        {"settings", "Priority=9"},
        {"png", (root / "missing.ico").string()},
        {"thumbnail", module},
        {"icon", module + ",7", (root / "icon.png").string()},
    };
    for (const auto& args : cases) {
        const testing::ProgramRun r = run(args);
        SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err, "");
        expectEveryLineNamesTheCommand(r.err, args[0]);
        EXPECT_THAT(r.err, ::testing::Not(HasSubstr("will now close")));
    }
}

// A file named on the command line that is no module, or cannot be read, makes the exit
// status 1, alike in list and extract; one that is no module is named. One the search
// found, or a file list named, that is no module is passed over.
TEST_F(CliMessages, NamedFilesThatAreNoModulesOrUnreadableFailListAndExtractAlike) {
    const std::string locked = (root / "src" / "locked.dll").string();
    fs::copy_file(module, locked);
    fs::permissions(locked, fs::perms::none);
    struct Case {
        std::string named;
        bool asNobody;
        std::string listSays, extractSays;
    };
    const Case cases[] = {
        {text, false, text + " is not a Windows module (no MZ header)",
         text + " is not a Windows module (no MZ header); nothing is extracted from it"},
        {locked, true, "1 file could not be read (first: " + locked + ": Permission denied)",
         "1 file could not be read (first: " + locked + ": Permission denied)"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        const auto inChild = c.asNobody ? std::function<bool()>(AsNobody) : std::function<bool()>();
        if (c.asNobody)
            fs::permissions(root, fs::perms::all); // nobody writes the destination
        const testing::ProgramRun listed = run({"list", c.named, module}, inChild);
        EXPECT_EQ(listed.status, 1);
        EXPECT_THAT(listed.err, HasSubstr("harvix-cli list: " + c.listSays + "\n"));
        EXPECT_THAT(listed.out, HasSubstr(module + "\t2\t1\t"));

        const std::string dest = (root / ("out" + std::to_string(++n))).string();
        const testing::ProgramRun extracted =
            run({"extract", "--dest", dest, "--kinds", "bitmap", c.named, module}, inChild);
        EXPECT_EQ(extracted.status, 1);
        EXPECT_THAT(extracted.err, HasSubstr("harvix-cli extract: " + c.extractSays + "\n"));
        EXPECT_EQ(extracted.out, "Bitmap: 1\n");

        // The same file found by searching its folder, or named in a list, is passed over.
        if (!c.asNobody) {
            EXPECT_EQ(run({"list", "--mask", "*.dll", (root / "src").string()}).status, 0);
            std::ofstream(root / "names.txt") << c.named << '\n' << module << '\n';
            const testing::ProgramRun listed2 =
                run({"extract", "--dest", dest + "-list", "--files-from", (root / "names.txt").string()});
            EXPECT_EQ(listed2.status, 0) << listed2.err;
            EXPECT_EQ(listed2.err, "");
        }
    }
    fs::permissions(root, fs::perms::owner_all);

    // A font file named: a module that holds nothing of the kinds, and says so.
    const testing::ProgramRun font =
        run({"extract", "--dest", (root / "fonts").string(), fonts});
    EXPECT_EQ(font.status, 0) << font.err;
    EXPECT_EQ(font.err, "harvix-cli extract: " + fonts + " holds fonts, of which nothing is extracted\n");
    // One that also holds a picture kept whole has something to take.
    const testing::ProgramRun pictured = run(
        {"extract", "--dest", (root / "pictured").string(), "--kinds", "image", fontsWithPicture});
    EXPECT_EQ(pictured.status, 0) << pictured.err;
    EXPECT_EQ(pictured.err, "");
    EXPECT_EQ(pictured.out, "Image: 1\n");
}

// version names a file that is no module (its line stays, for scripts), refuses a
// folder as it refuses a missing file, and fails for a file it cannot read.
TEST_F(CliMessages, VersionNamesWhatIsNoModule) {
    fs::create_directories(root / "folder");
    const testing::ProgramRun r = run({"version", text, (root / "folder").string(), module});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, text + ": no version information\n" + module + ": no version information\n");
    EXPECT_EQ(r.err, "harvix-cli version: " + text + " is not a Windows module (no MZ header)\n"
                     "harvix-cli version: " + (root / "folder").string() +
                         " is a folder, not a module (give the module files in it)\n");
    EXPECT_EQ(run({"version", text, module}).status, 0);

    const std::string locked = (root / "src" / "locked.dll").string();
    fs::copy_file(module, locked);
    fs::permissions(locked, fs::perms::none);
    fs::permissions(root, fs::perms::all);
    const testing::ProgramRun unread = run({"version", locked, module}, AsNobody);
    EXPECT_EQ(unread.status, 1);
    EXPECT_EQ(unread.out, module + ": no version information\n");
    EXPECT_EQ(unread.err, "harvix-cli version: " + locked + " could not be read: Permission denied\n");
}

TEST_F(CliMessages, AnOutOfRangeLimitNamesTheValueAndItsRange) {
    const std::string dest = (root / "out").string();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bitmap-limits", "8-32;0-99999999999;16-48"},
         "--bitmap-limits: the maximum 99999999999 of the width limit '0-99999999999' is out of "
         "range: a limit is a whole number from 0 to 2147483647"},
        {{"--icon-limits", "4294967296-32;16-32;16-32"},
         "--icon-limits: the minimum 4294967296 of the colour depth limit '4294967296-32' is out of "
         "range: a limit is a whole number from 0 to 2147483647"},
        {{"--icon-limits", "8-32;16-32;16-x"},
         "--icon-limits: the height limit '16-x' is not two whole numbers joined by '-'"},
    };
    for (const auto& [limits, says] : cases) {
        std::vector<std::string> args = {"extract", "--dest", dest};
        args.insert(args.end(), limits.begin(), limits.end());
        args.push_back(module);
        const testing::ProgramRun r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: " + says));
    }
    EXPECT_FALSE(fs::exists(dest));
}

// A disk that fills while a file is written: the message names the file and the folder,
// and the run ends with status 1 without the window's "will now close". The disk is a
// small file system the test mounts in a mount namespace of the program's own.
TEST_F(CliMessages, AFullDiskNamesTheFileAndTheFolder) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only the super-user mounts a small file system";
    ModuleBuilder big;
    big.add(ResId::number(2), ResId::number(1), 0x409, makeDib(256, 256, 24, pictures::gradient()));
    const std::string bigModule = (root / "big.dll").string();
    ASSERT_TRUE(writeFile(bigModule, big.build()));
    const fs::path disk = root / "disk";
    fs::create_directories(disk);
    const auto smallDisk = [disk] {
        return ::unshare(CLONE_NEWNS) == 0 &&
               ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0;
    };
    const std::string dest = (disk / "out").string();
    const testing::ProgramRun r =
        run({"extract", "--dest", dest, "--kinds", "bitmap", "--bitmap-limits", "1-32;1-300;1-300",
             bigModule},
            smallDisk);
    if (r.status == 126)
        GTEST_SKIP() << "no small file system could be mounted here";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "harvix-cli extract: the disk is full: 'big.dll.bmp' could not be written in '" +
                         dest + "/Bitmaps/'\n"
                         "harvix-cli extract: the run stopped at that error; what was written "
                         "before it stays\n");
    EXPECT_EQ(r.out, "Bitmap: 0\n");
}

} // namespace
} // namespace harvix
