// harvix-cli extract, run as a program on modules written by the module builder: its
// usage errors, its exit status, the refused destination and the counts it prints.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "settings/Settings.h"
#include "tests/support/RunProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace harvix {
namespace {

using CliResult = testing::ProgramRun;
using testing::ReadText;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace harvix::modbuilder;
namespace fs = std::filesystem;

class ExtractCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-extract-test");
        fs::create_directories(root / "src" / "sub");
        // Keep the tool away from the user's own saved settings.
        env = {"HARVIX_REGISTRY=" + (root / "registry.db").string()};
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs harvix-cli extract with no terminal: stdin from /dev/null, output to files.
    CliResult extract(std::vector<std::string> args) {
        args.insert(args.begin(), "extract");
        // Root writes anywhere whatever the mode bits: a test of refused writes runs the
        // tool as "nobody".
        const bool dropRoot = asNobody && ::geteuid() == 0;
        return testing::RunProgram(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli", args, root, env, [dropRoot] {
            return !dropRoot ||
                   (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
        });
    }

    // A module with two bitmaps, one icon group with one image, one web page and one
    // 8x8 bitmap that the default limits keep out.
    static void writeSampleModule(const fs::path& path) {
        ModuleBuilder b;
        b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x409, makeDib(32, 32, 8, pictures::gradient()));
        b.add(ResId::of(ResType::Bitmap), ResId::number(102), 0x409, makeDib(24, 24, 24, pictures::rings()));
        b.add(ResId::of(ResType::Bitmap), ResId::number(103), 0x409, makeDib(8, 8, 8, pictures::rings()));
        auto image = makeIconImage(32, 32, 8, pictures::disc({200, 20, 20, 255}));
        GroupEntry entry{32, 32, 8, static_cast<std::uint32_t>(image.size()), 1};
        b.add(ResId::of(ResType::Icon), ResId::number(1), 0x409, image);
        b.add(ResId::of(ResType::GroupIcon), ResId::number(1), 0x409, makeGroupIconDir({entry}));
        b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, makeHtml("About", "Hello"));
        ASSERT_TRUE(writeFile(path.string(), b.build()));
    }

    fs::path root;
    std::vector<std::string> env;
    bool asNobody = false;
};

TEST_F(ExtractCommandTest, BadUsageIsRefusedWithStatusTwoAndWritesNothing) {
    const std::string src = (root / "src").string();
    const std::string dest = (root / "out").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {src},                                            // no --dest
        {"--dest", dest},                                 // no folder
        {"--dest", dest, src, "--all-drives"},            // both
        {"--dest", dest, "--frobnicate", src},            // unknown option
        {"--dest", dest, "--kinds", "bitmap,sound", src}, // unknown kind
        {"--dest", dest, "--kinds", "", src},
        {"--dest", dest, "--priority", "6", src},
        {"--dest", dest, "--priority", "0", src},
        {"--dest", dest, "--bitmap-limits", "8-32;16-48", src},       // two limits
        {"--dest", dest, "--icon-limits", "8-32;16-x;16-32", src},    // not a number
        {"--dest", dest, "--bitmap-limits", "8;0-3000;16-48", src},   // one number
        {"--dest", dest, "--yes=1", src},
        {"--dest"},
        {"--dest", dest, (root / "missing").string()},                // folder not found
        {"--dest", (root / "no" / "parent").string(), src},           // invalid destination
        {"--dest", "", "--yes", src},                                 // empty destination
        {"--dest", "  ", "--yes", src},                               // blank destination
    };
    for (const auto& args : cases) {
        const CliResult r = extract(args);
        std::string shown;
        for (const auto& a : args)
            shown += "[" + a + "]";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: ")) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_FALSE(fs::exists(dest)) << shown;
    }
    EXPECT_THAT(extract({"--dest", dest, "--bitmap-limits", "8-32;x-1;16-48", src}).err,
                HasSubstr("'x-1'"));
    EXPECT_THAT(extract({"--dest", dest, (root / "missing").string()}).err,
                HasSubstr("'" + (root / "missing").string() +
                          "' could not be found: No such file or directory"));
    EXPECT_THAT(extract({"--dest", dest, src, (root / "missing.dll").string()}).err,
                HasSubstr("'" + (root / "missing.dll").string() + "' could not be found"));
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_EQ(extract({"--help"}).status, 0);

    // A refused destination is named with the system's reason; an empty one is invalid,
    // not the root folder.
    fs::create_directories(root / "taken");
    std::ofstream(root / "taken" / "file") << "x";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--dest", (root / "no" / "parent").string(), src},
         (root / "no" / "parent").string() + " cannot be made: its parent folder " +
             (root / "no").string() + " does not exist"},
        {{"--dest", (root / "taken" / "file").string(), src},
         (root / "taken" / "file").string() + "/: File exists (a file has that name)"},
        {{"--dest", "", "--yes", src}, "no destination folder given"},
    };
    for (const auto& [args, reason] : refused) {
        const std::string err = extract(args).err;
        EXPECT_THAT(err, HasSubstr("harvix-cli extract: the destination is invalid: "));
        EXPECT_THAT(err, HasSubstr(reason));
    }
}

TEST_F(ExtractCommandTest, ADestinationThatMayNotBeWrittenIsNamedWithPermissionDenied) {
    writeSampleModule(root / "src" / "sample.dll");
    asNobody = true;
    const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(root, readOnly | fs::perms::owner_write);
    fs::permissions(root / "src", readOnly);
    fs::create_directories(root / "locked" / "existing");
    fs::permissions(root / "locked" / "existing", readOnly);
    fs::permissions(root / "locked", readOnly);
    // The parent exists in both cases: a new folder that cannot be made in it (the
    // parent is the folder to change, and is named), and an existing folder that cannot
    // be written in.
    const std::pair<fs::path, std::string> cases[] = {
        {root / "locked" / "new",
         (root / "locked" / "new").string() + " cannot be made: its parent folder " +
             (root / "locked").string() + " may not be written in (Permission denied)"},
        {root / "locked" / "existing",
         (root / "locked" / "existing").string() + "/: Permission denied (no file can be written in it)"},
    };
    for (const auto& [dest, reason] : cases) {
        const CliResult r = extract({"--dest", dest.string(), "--yes", (root / "src").string()});
        EXPECT_EQ(r.status, 2) << dest;
        EXPECT_EQ(r.err, "harvix-cli extract: the destination is invalid: " + reason + "\n");
    }
    fs::permissions(root / "locked", fs::perms::owner_all);
}

TEST_F(ExtractCommandTest, SummaryCountsWhatWasNotWellFormedOrEmptyPerKind) {
    ModuleBuilder b;
    b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(32, 32, 8, pictures::gradient()));
    b.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x409, std::vector<std::uint8_t>{7, 0, 0, 0, 1});
    b.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x409, std::vector<std::uint8_t>{1, 2, 3});
    b.add(ResId::of(ResType::Bitmap), ResId::number(4), 0x409, makeDib(8, 8, 8, pictures::rings()));
    b.add(ResId::of(ResType::GroupIcon), ResId::number(1), 0x409, std::vector<std::uint8_t>{0, 0, 2, 0, 0, 0});
    b.add(ResId::of(ResType::Html), ResId::name("EMPTY.HTM"), 0x409, std::vector<std::uint8_t>{});
    ASSERT_TRUE(writeFile((root / "src" / "odd.dll").string(), b.build()));

    const std::string report = (root / "report.json").string();
    const CliResult r = extract({"--dest", (root / "out").string(), "--report", report,
                                 (root / "src").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Bitmap: 1\n"));
    // The report names each one: the resource, its kind, and why in words.
    const std::string text = ReadText(report);
    const auto entry = [](const std::string& name, const std::string& kind,
                          const std::string& reason, const std::string& detail) {
        return "\"name\": " + name + ",\n      \"language\": 1033,\n      \"kind\": \"" + kind +
               "\",\n      \"reason\": \"" + reason + "\",\n      \"detail\": \"" + detail + "\"\n";
    };
    EXPECT_THAT(text, HasSubstr("\"path\": \"" + (root / "src" / "odd.dll").string() +
                                "\",\n      \"type\": 2,\n      \"type_name\": \"RT_BITMAP\",\n"));
    EXPECT_THAT(text, HasSubstr(entry("2", "BITMAP", "not_well_formed",
                                      "bitmap of 5 bytes, shorter than its information header of 7")));
    EXPECT_THAT(text, HasSubstr(entry("3", "BITMAP", "not_well_formed",
                                      "bitmap of 3 bytes, too short for an information header")));
    EXPECT_THAT(text, HasSubstr(entry("4", "BITMAP", "limits", "bitmap height 8 outside the limit 16-48")));
    EXPECT_THAT(text, HasSubstr(entry("1", "ICON", "not_well_formed",
                                      "icon group marked as type 2 instead of 1")));
    EXPECT_THAT(text, HasSubstr(entry("\"EMPTY.HTM\"", "HTML", "empty_or_missing", "empty resource")));
    // One line per cause, each naming the kinds it met; the cursors, which met none, are
    // not named.
    EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: left out by the limits: Bitmap 1 (widen them with "
                                 "--bitmap-limits)\n"));
    EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: not well formed: Bitmap 2, Icon 1\n"));
    EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: empty or missing: Web page 1\n"));
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("Cursor")));

    // A run that met none of them prints none of these lines.
    fs::remove(root / "src" / "odd.dll");
    writeSampleModule(root / "src" / "sample.dll");
    const CliResult clean = extract({"--dest", (root / "clean").string(), "--kinds", "icon,html",
                                     (root / "src").string()});
    EXPECT_EQ(clean.err, "");
}

TEST_F(ExtractCommandTest, ExtractsAndPrintsOneCountPerChosenKind) {
    writeSampleModule(root / "src" / "sample.dll");
    writeSampleModule(root / "src" / "sub" / "deep.dll");
    const fs::path dest = root / "out";
    const CliResult r = extract({"--dest", dest.string(), "--kinds", "html,bitmap,icon", "--mask",
                                 "*.DLL", (root / "src").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Bitmap: 4\nIcon: 2\nWeb page: 2\n");
    EXPECT_TRUE(fs::exists(dest / "Bitmaps" / "sample.dll (2).bmp"));
    EXPECT_TRUE(fs::exists(dest / "Web pages" / "deep.dll - ABOUT.HTM"));
    EXPECT_FALSE(fs::exists(dest / "Cursors"));
    const std::string header = ReadText(dest / "__index.txt");
    EXPECT_THAT(header, HasSubstr("\r\nSearch in " + (root / "src").string() +
                                  " and subfolders\r\nFile mask: *.DLL\r\n"));
}

TEST_F(ExtractCommandTest, TakesFilesAsTheyAreAndFoldersSearchedInTheOrderGiven) {
    writeSampleModule(root / "src" / "sample.dll");
    writeSampleModule(root / "src" / "sub" / "deep.dll");
    writeSampleModule(root / "odd.name"); // a name no mask takes
    writeSampleModule(root / "b.exe");
    const std::string odd = (root / "odd.name").string();
    const std::string b = (root / "b.exe").string();
    const std::string src = (root / "src").string();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* out;
        std::string header; // the search and mask lines of the index header
        std::vector<std::string> sources; // of the web pages' records, in order
    };
    const Case cases[] = {
        {"one file", {odd}, "Web page: 1\n", "Search in " + odd + "\r\nFile mask: \r\n", {odd}},
        {"files", {b, odd}, "Web page: 2\n", "Search in " + b + "; " + odd + "\r\nFile mask: \r\n",
         {b, odd}},
        {"a file, then a folder with its subfolders",
         {odd, src},
         "Web page: 3\n",
         "Search in " + odd + "; " + src +
             " and subfolders\r\nFile mask: *.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\r\n",
         {odd, src + "/sample.dll", src + "/sub/deep.dll"}},
        {"a folder alone is searched as before",
         {"--no-subfolders", src},
         "Web page: 1\n",
         "Search in " + src + "\r\nFile mask: *.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\r\n",
         {src + "/sample.dll"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dest = root / ("out" + std::to_string(++n));
        std::vector<std::string> args{"--dest", dest.string(), "--kinds", "html"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult r = extract(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        const std::string index = ReadText(dest / "Web pages" / "__index.txt");
        EXPECT_THAT(index, HasSubstr(c.header));
        std::size_t at = 0;
        for (const std::string& source : c.sources) {
            at = index.find("SOURCE FILE = " + source + " ", at);
            EXPECT_NE(at, std::string::npos) << source;
        }
    }
}

TEST_F(ExtractCommandTest, LimitsAndSubfolderSwitchAreHonoured) {
    writeSampleModule(root / "src" / "sample.dll");
    writeSampleModule(root / "src" / "sub" / "deep.dll");
    const fs::path dest = root / "out";
    const CliResult r =
        extract({"--dest", dest.string(), "--no-subfolders", "--kinds", "bitmap",
                 "--bitmap-limits", "1-32;0-100;1-100", (root / "src").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Bitmap: 3\n"); // the 8x8 one too; the module below is not searched
    const std::string header = ReadText(dest / "Bitmaps" / "__index.txt");
    EXPECT_THAT(header, HasSubstr("Search in " + (root / "src").string() + "\r\n"));
}

TEST_F(ExtractCommandTest, ExistingDestinationNeedsYesWithoutATerminal) {
    writeSampleModule(root / "src" / "sample.dll");
    const fs::path dest = root / "out";
    fs::create_directory(dest);
    const std::vector<std::string> args = {"--dest", dest.string(), "--kinds", "icon",
                                           (root / "src").string()};

    CliResult r = extract(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "harvix-cli extract: the destination '" + dest.string() +
                         "' exists already (use --yes to add to it)\n");
    EXPECT_TRUE(fs::is_empty(dest));

    std::vector<std::string> withYes = args;
    withYes.push_back("--yes");
    r = extract(withYes);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Icon: 1\n");
    EXPECT_TRUE(fs::exists(dest / "Icons" / "__index.txt"));
}

// A run on a terminal of `columns` columns; each step waits until its text has appeared
// (after the previous step's) and then acts on the terminal.
struct TerminalStep {
    std::string waitFor;
    std::function<void(int master)> act;
};
struct TerminalRun {
    std::string seen;
    int status = -1; // exit status; -1 when it did not exit by itself
    std::size_t stepsDone = 0;
};

// The process of the run on a terminal under way, for steps that signal it.
pid_t g_terminalChild = -1;

TerminalRun runOnTerminal(std::vector<std::string> args, const std::vector<std::string>& env,
                          unsigned short columns, const std::vector<TerminalStep>& steps) {
    args.insert(args.begin(), {"harvix-cli", "extract"});
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        for (const std::string& var : env)
            putenv(const_cast<char*>(var.c_str()));
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli", argv.data());
        _exit(127);
    }
    g_terminalChild = pid;
    TerminalRun run;
    std::size_t from = 0;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 20000) <= 0) {
            kill(pid, SIGKILL); // stuck: what it waits for never came
            break;
        }
        char buffer[512];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break; // EIO once the child has closed the terminal
        run.seen.append(buffer, static_cast<std::size_t>(n));
        while (run.stepsDone < steps.size()) {
            const auto at = run.seen.find(steps[run.stepsDone].waitFor, from);
            if (at == std::string::npos)
                break;
            from = at + steps[run.stepsDone].waitFor.size();
            steps[run.stepsDone++].act(master);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    return run;
}

void type(int master, const std::string& keys) {
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

// On a terminal the existing destination brings the question; "y" goes on. The run
// shows its percentage on the same terminal.
TEST_F(ExtractCommandTest, TerminalIsAskedAndSeesProgress) {
    writeSampleModule(root / "src" / "sub" / "deep.dll");
    const fs::path dest = root / "out";
    fs::create_directory(dest);
    const TerminalRun run =
        runOnTerminal({"--dest", dest.string(), "--kinds", "icon", (root / "src").string()}, env,
                      200, {{"[y/N]", [](int master) { type(master, "y\n"); }}});
    EXPECT_EQ(run.stepsDone, 1u) << run.seen; // the question was asked and answered
    EXPECT_THAT(run.seen, HasSubstr("harvix-cli extract: the destination '" + dest.string() +
                                    "' exists already; add to what is in it? [y/N]"));
    EXPECT_THAT(run.seen, HasSubstr("100 % - 1 of 1 file - 1 resource written"));
    EXPECT_THAT(run.seen, HasSubstr("Icon: 1"));
    EXPECT_EQ(run.status, 0) << run.seen;
}

// A flat folder of tens of thousands of files, searched without its subfolders, on a
// terminal: the files are counted first, and the line moves from 0 % to 100 % with the
// files handled, never backwards, naming the files and the resources written so far.
TEST_F(ExtractCommandTest, TerminalProgressMovesThroughAFlatFolderOfThirtyThousandFiles) {
    // Files are made fastest in memory, where there is such a place.
    fs::path flat = root / "flat";
    std::optional<fs::path> inMemory;
    if (std::string shm = "/dev/shm/harvix-flat-XXXXXX"; ::mkdtemp(shm.data()) != nullptr)
        flat = *(inMemory = shm);
    fs::create_directories(flat);
    ModuleBuilder b;
    for (std::uint16_t id = 1; id <= 2; ++id)
        b.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, makeDib(16, 16, 8, pictures::rings()));
    ASSERT_TRUE(writeFile((flat / "m0.dll").string(), b.build()));
    // 30,000 files of which every thousandth is a module (the others, empty, are none).
    constexpr int kFiles = 30000;
    for (int i = 1; i < kFiles; ++i) {
        const fs::path file = flat / ("f" + std::to_string(i) + ".dll");
        if (i % 1000 == 0)
            fs::create_hard_link(flat / "m0.dll", file);
        else
            std::ofstream{file};
    }
    const TerminalRun run = runOnTerminal({"--dest", (root / "out").string(), "--kinds", "bitmap",
                                           "--no-subfolders", flat.string()},
                                          env, 100, {});
    if (inMemory)
        fs::remove_all(*inMemory);
    EXPECT_EQ(run.status, 0) << run.seen.substr(0, 2000);
    EXPECT_THAT(run.seen, HasSubstr("Initializing..."));
    EXPECT_THAT(run.seen, HasSubstr("\033[K0 % - 0 of 30,000 files - 0 resources written"));
    EXPECT_THAT(run.seen, HasSubstr("100 % - 30,000 of 30,000 files - 60 resources written"));
    EXPECT_THAT(run.seen, HasSubstr("Bitmap: 60"));
    // Every drawing of the line, in order: the percentage and the files never go back.
    int percent = -1, drawn = 0;
    long files = -1;
    for (std::size_t at = run.seen.find("\033[K"); at != std::string::npos;
         at = run.seen.find("\033[K", at + 1)) {
        int p = 0;
        char digits[16] = {};
        if (std::sscanf(run.seen.c_str() + at + 3, "%d %% - %15[0-9,] of 30,000 files", &p, digits) != 2)
            continue;
        std::string plain(digits);
        plain.erase(std::remove(plain.begin(), plain.end(), ','), plain.end());
        const long n = std::stol(plain);
        EXPECT_GE(p, percent);
        EXPECT_GE(n, files);
        EXPECT_EQ(p, static_cast<int>(n * 100 / kFiles));
        percent = p;
        files = n;
        ++drawn;
    }
    EXPECT_EQ(percent, 100);
    EXPECT_GE(drawn, 101); // every whole percentage, 0 to 100
}

// Ctrl-C during the run brings the cancel question, and Ctrl-C on the question answers
// it with Yes. The progress line is cut to the terminal's width, also after the
// terminal was made narrower while the tool ran.
TEST_F(ExtractCommandTest, TerminalCtrlCConfirmsTheCancelAndTheProgressLineFits) {
    ModuleBuilder b;
    for (std::uint16_t id = 1; id <= 30; ++id)
        b.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, makeDib(16, 16, 8, pictures::rings()));
    ASSERT_TRUE(writeFile((root / "src" / "m0.dll").string(), b.build()));
    // One module per folder, so that the percentage moves from file to file.
    for (int i = 1; i < 100; ++i) {
        const fs::path folder = root / "src" / ("d" + std::to_string(i));
        fs::create_directory(folder);
        fs::create_hard_link(root / "src" / "m0.dll", folder / "m.dll");
    }
    const fs::path dest = root / "out";
    fs::create_directory(dest);

    constexpr unsigned short kNarrow = 10; // narrower than "42 % - 42 of 100 files"
    const TerminalRun run = runOnTerminal(
        {"--dest", dest.string(), "--kinds", "bitmap", (root / "src").string()}, env, 100,
        {{"[y/N]",
          [](int master) {
              winsize narrow{};
              narrow.ws_row = 24;
              narrow.ws_col = kNarrow;
              ioctl(master, TIOCSWINSZ, &narrow);
              type(master, "y\n");
          }},
         {" % - ", [](int master) { type(master, "\x03"); }}, // the run is under way
         {"cancel the search? [y/N]", [](int master) { type(master, "\x03"); }}});
    EXPECT_EQ(run.stepsDone, 3u) << run.seen;
    EXPECT_EQ(run.status, 1) << run.seen;
    EXPECT_THAT(run.seen, HasSubstr("the search was cancelled"));

    // Every drawing of the progress line: after the clear-to-end, up to the next CR/LF.
    int drawn = 0;
    for (std::size_t at = run.seen.find("\033[K"); at != std::string::npos;
         at = run.seen.find("\033[K", at + 1)) {
        const std::size_t start = at + 3;
        std::string line = run.seen.substr(start, run.seen.find_first_of("\r\n", start) - start);
        if (const auto echo = line.find("^C"); echo != std::string::npos)
            line.erase(echo, 2); // the terminal's own echo of Ctrl-C
        if (line.find('%') == std::string::npos)
            continue; // not the progress line, which begins with the percentage
        ++drawn;
        EXPECT_LT(line.size(), std::size_t{kNarrow}) << line;
    }
    EXPECT_GT(drawn, 0) << run.seen;
}

std::size_t filesIn(const fs::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++n;
    return n;
}

// Ctrl-C while a module of thousands of bitmaps is written brings the question from
// inside the module; after "y" nothing more is written, from that module or any other.
TEST_F(ExtractCommandTest, TerminalCtrlCInsideAModuleStopsItsWritingAtOnce) {
    ModuleBuilder b;
    for (std::uint16_t id = 1; id <= 5000; ++id)
        b.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, makeDib(16, 16, 24, pictures::rings()));
    // The percentage is drawn once the files are counted, before the module is written.
    ASSERT_TRUE(writeFile((root / "src" / "sub" / "many.dll").string(), b.build()));
    fs::create_hard_link(root / "src" / "sub" / "many.dll", root / "src" / "sub" / "more.dll");
    const fs::path dest = root / "out";
    const fs::path bitmaps = dest / "Bitmaps";

    std::size_t atQuestion = 0;
    const TerminalRun run = runOnTerminal(
        {"--dest", dest.string(), "--kinds", "bitmap", (root / "src").string()}, env, 100,
        {{" % - ", [](int master) { type(master, "\x03"); }},
         {"cancel the search? [y/N]", [&](int master) {
              atQuestion = filesIn(bitmaps); // the run waits for the answer meanwhile
              type(master, "y\n");
          }}});
    ASSERT_EQ(run.stepsDone, 2u) << run.seen;
    EXPECT_EQ(run.status, 1) << run.seen;
    EXPECT_THAT(run.seen, HasSubstr("the search was cancelled"));
    EXPECT_LT(atQuestion, 5000u); // asked inside the first module
    EXPECT_EQ(filesIn(bitmaps), atQuestion);
}

// A walk through many folders without a matching file answers Ctrl-C at once (it used to
// wait for the tenth file, which never came). The Ctrl-C is pressed while the folders
// are counted, so that it is waiting when the walk begins.
TEST_F(ExtractCommandTest, TerminalCtrlCInAStretchWithoutModulesIsAnsweredAtOnce) {
    // Folders are made and walked fastest in memory, where there is such a place.
    fs::path tree = root / "src";
    std::optional<fs::path> inMemory;
    if (std::string shm = "/dev/shm/harvix-walk-XXXXXX"; ::mkdtemp(shm.data()) != nullptr)
        tree = *(inMemory = shm);
    const int folders = inMemory ? 60000 : 20000;
    for (int i = 0; i < folders; ++i)
        fs::create_directory(tree / ("d" + std::to_string(i)));
    const fs::path dest = root / "out";

    using Clock = std::chrono::steady_clock;
    Clock::time_point walkBegan, asked;
    const TerminalRun run = runOnTerminal(
        {"--dest", dest.string(), tree.string()}, env, 100,
        {{"Initializing...", [](int master) { type(master, "\x03"); }},
         {"\033[K", [&](int) { walkBegan = Clock::now(); }}, // the count is over
         {"cancel the search? [y/N]", [&](int master) {
              asked = Clock::now();
              type(master, "y\n");
          }}});
    if (inMemory)
        fs::remove_all(*inMemory);
    ASSERT_EQ(run.stepsDone, 3u) << run.seen;
    EXPECT_EQ(run.status, 1) << run.seen;
    EXPECT_THAT(run.seen, HasSubstr("the search was cancelled"));
    // Within moments; the bound leaves room for a loaded machine.
    EXPECT_LT(std::chrono::duration<double>(asked - walkBegan).count(), 1.0);
}

// A report that cannot be written is refused before the run starts, and nothing is
// written: a missing folder, a file where its folder should be, a folder at its path.
TEST_F(ExtractCommandTest, AReportThatCannotBeWrittenIsRefusedAtOnce) {
    writeSampleModule(root / "src" / "sample.dll");
    const fs::path dest = root / "out";
    const std::pair<fs::path, std::string> cases[] = {
        {root / "missing" / "r.json", "its folder '" + (root / "missing").string() + "' does not exist"},
        {root / "src" / "sample.dll" / "r.json", "'" + (root / "src" / "sample.dll").string() + "' is not a folder"},
        {root / "src", "it is a folder"},
    };
    for (const auto& [report, says] : cases) {
        const CliResult r = extract({"--dest", dest.string(), "--report", report.string(), (root / "src").string()});
        EXPECT_EQ(r.status, 2) << report;
        EXPECT_EQ(r.err, "harvix-cli extract: the report '" + report.string() + "' cannot be written: " + says + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dest));
    }
}

// A tree that takes a while to extract: three modules of 3,000 bitmaps each.
void writeLongRun(const fs::path& src) {
    ModuleBuilder b;
    for (std::uint16_t id = 1; id <= 3000; ++id)
        b.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x409, makeDib(16, 16, 24, pictures::rings()));
    fs::create_directories(src / "a");
    ASSERT_TRUE(writeFile((src / "a" / "many.dll").string(), b.build()));
    for (const char* other : {"b", "c"}) {
        fs::create_directories(src / other);
        fs::create_hard_link(src / "a" / "many.dll", src / other / "many.dll");
    }
}

// What a run that a signal ended left behind: every bitmap written has its record and
// every record its file; the counts on stdout are those files; the report says that the
// run was cancelled, by which signal, with a cancelled run's exit status.
void expectCancelledBy(const fs::path& dest, const fs::path& report, const std::string& out,
                       const std::string& signal) {
    std::size_t bitmaps = 0;
    for (const auto& entry : fs::directory_iterator(dest / "Bitmaps"))
        if (entry.path().extension() == ".bmp")
            ++bitmaps;
    std::size_t records = 0;
    std::istringstream index(ReadText(dest / "Bitmaps" / "__index.txt"));
    for (std::string line; std::getline(index, line);)
        if (line.find(".bmp") != std::string::npos) {
            ++records;
            const std::string name = line.substr(0, line.find(".bmp") + 4);
            EXPECT_TRUE(fs::exists(dest / "Bitmaps" / name)) << line;
        }
    EXPECT_EQ(records, bitmaps);
    EXPECT_GT(bitmaps, 0u);
    EXPECT_LT(bitmaps, 9000u);
    EXPECT_THAT(out, HasSubstr("Bitmap: " + std::to_string(bitmaps)));
    const std::string text = ReadText(report);
    EXPECT_THAT(text, HasSubstr("\"outcome\": \"cancelled\"")) << text.substr(0, 300);
    EXPECT_THAT(text, HasSubstr("\"signal\": \"" + signal + "\""));
    EXPECT_THAT(text, HasSubstr("\"exit_status\": 1"));
    EXPECT_THAT(text, HasSubstr("\"error\": \"the search was cancelled by " + signal + "\""));
}

// SIGINT, SIGTERM and SIGHUP without a terminal (a service stopped, timeout, a script's
// trap) end the run as a confirmed Cancel does: the files written stay whole with their
// records, the counts are printed, the report is written, the exit status is 1. A second
// signal ends the tool at once.
TEST_F(ExtractCommandTest, SignalsWithoutATerminalEndTheRunAsACancelDoes) {
    writeLongRun(root / "src");
    const std::pair<int, const char*> signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [number, name] : signals) {
        SCOPED_TRACE(name);
        const fs::path dest = root / (std::string("out-") + name), report = root / (std::string(name) + ".json");
        const fs::path pidFile = root / "pid";
        fs::remove(pidFile);
        std::thread signaller([&, number = number] {
            // Once the run is under way: some bitmaps are on the disk.
            for (int tries = 0; tries < 2000; ++tries) {
                std::error_code error;
                std::size_t n = 0;
                for (fs::directory_iterator it(dest / "Bitmaps", error), end; !error && it != end; it.increment(error))
                    ++n;
                if (n > 50 && fs::exists(pidFile)) {
                    kill(static_cast<pid_t>(std::stol(ReadText(pidFile))), number);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        const CliResult r = testing::RunProgram(
            HARVIX_TEST_BINARY_DIR "/cli/harvix-cli",
            {"extract", "--dest", dest.string(), "--kinds", "bitmap", "--report", report.string(), (root / "src").string()},
            root, env, [&pidFile] {
                std::ofstream(pidFile) << ::getpid();
                return true;
            });
        signaller.join();
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: the search was cancelled by " + std::string(name) + "\n"));
        expectCancelledBy(dest, report, r.out, name);
    }

    // Two signals at once (two different ones: a signal already pending is not counted
    // again): the second ends the tool there and then.
    const fs::path pidFile = root / "pid";
    fs::remove(pidFile);
    const fs::path dest = root / "out-twice";
    std::thread signaller([&] {
        for (int tries = 0; tries < 2000; ++tries) {
            std::error_code error;
            if (fs::exists(dest / "Bitmaps" / "__index.txt", error) && fs::exists(pidFile)) {
                const auto pid = static_cast<pid_t>(std::stol(ReadText(pidFile)));
                kill(pid, SIGTERM);
                kill(pid, SIGHUP);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const CliResult twice = testing::RunProgram(
        HARVIX_TEST_BINARY_DIR "/cli/harvix-cli",
        {"extract", "--dest", dest.string(), "--kinds", "bitmap", "--report", (root / "twice.json").string(),
         (root / "src").string()},
        root, env, [&pidFile] {
            std::ofstream(pidFile) << ::getpid();
            return true;
        });
    signaller.join();
    EXPECT_EQ(twice.status, -1) << twice.err; // ended by the signal itself
}

// list stops at a signal between two modules: every line printed is whole, the tool
// says why it stopped, and the exit status says the listing is not complete.
TEST_F(ExtractCommandTest, ListStopsAtASignalBetweenTwoModules) {
    writeLongRun(root / "src");
    for (int i = 0; i < 100; ++i)
        fs::create_hard_link(root / "src" / "a" / "many.dll", root / "src" / "a" / ("m" + std::to_string(i) + ".dll"));
    const fs::path pidFile = root / "pid";
    std::thread signaller([&] {
        for (int tries = 0; tries < 2000; ++tries) {
            std::error_code error;
            if (fs::exists(pidFile) && fs::file_size(root / ".stdout", error) > 200000 && !error) {
                kill(static_cast<pid_t>(std::stol(ReadText(pidFile))), SIGTERM);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const CliResult r = testing::RunProgram(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli", {"list", (root / "src").string()},
                                            root, env, [&pidFile] {
                                                std::ofstream(pidFile) << ::getpid();
                                                return true;
                                            });
    signaller.join();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "harvix-cli list: the listing was cancelled by SIGTERM\n");
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_LT(r.out.size(), std::size_t{103} * 3000 * 40); // not every module was listed
}

// On a terminal, SIGTERM and SIGHUP end the run without the cancel question that Ctrl-C
// brings, and the report is written all the same.
TEST_F(ExtractCommandTest, SignalsOnATerminalEndTheRunWithoutAsking) {
    writeLongRun(root / "src");
    const std::pair<int, const char*> signals[] = {{SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [number, name] : signals) {
        SCOPED_TRACE(name);
        const fs::path dest = root / (std::string("out-") + name), report = root / (std::string(name) + ".json");
        const TerminalRun run = runOnTerminal(
            {"--dest", dest.string(), "--kinds", "bitmap", "--report", report.string(), (root / "src").string()}, env,
            200, {{"1 of 3 files", [number = number](int) { kill(g_terminalChild, number); }}});
        ASSERT_EQ(run.stepsDone, 1u) << run.seen;
        EXPECT_EQ(run.status, 1) << run.seen;
        EXPECT_THAT(run.seen, Not(HasSubstr("[y/N]")));
        // What the tool says is seen on the terminal.
        EXPECT_THAT(run.seen, HasSubstr(std::string("the search was cancelled by ") + name));
        expectCancelledBy(dest, report, run.seen, name);
    }
}

TEST_F(ExtractCommandTest, WriteErrorStopsTheRunWithStatusOne) {
    writeSampleModule(root / "src" / "sample.dll");
    const fs::path dest = root / "out";
    // A folder where the bitmaps' index file should be: no record can be appended.
    fs::create_directories(dest / "Bitmaps" / "__index.txt");
    const CliResult r = extract({"--dest", dest.string(), "--yes", "--kinds", "bitmap,html",
                                 (root / "src").string()});
    EXPECT_EQ(r.status, 1);
    // The error, then what it means for the run; never the window's "will now close".
    EXPECT_EQ(r.err, "harvix-cli extract: " + (dest / "Bitmaps" / "__index.txt").string() +
                         ": Is a directory\n"
                         "harvix-cli extract: the run stopped at that error; what was written "
                         "before it stays\n");
    EXPECT_EQ(r.out, "Bitmap: 0\nWeb page: 0\n");
}

TEST_F(ExtractCommandTest, SavedSettingsAreUsedAndOptionsBesideThemWin) {
    writeSampleModule(root / "src" / "sample.dll");
    Settings saved = DefaultSettings();
    saved.SearchSystem = false;
    saved.Folder = (root / "src").string();
    saved.SubFolders = true;
    saved.Mask = "*.dll";
    saved.ResTypes = {false, true, false, false, false, true};
    saved.DestPath = (root / "saved-out").string();
    saved.Priority = 3;
    ASSERT_EQ(setenv("HARVIX_REGISTRY", (root / "registry.db").c_str(), 1), 0);
    ASSERT_TRUE(SaveSettings(saved).ok());
    unsetenv("HARVIX_REGISTRY");

    CliResult r = extract({"--saved"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Icon: 1\nWeb page: 1\n");
    EXPECT_TRUE(fs::exists(root / "saved-out" / "Icons"));

    r = extract({"--saved", "--kinds", "bitmap", "--dest", (root / "other").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Bitmap: 2\n");
    EXPECT_TRUE(fs::exists(root / "other" / "Bitmaps"));
}

} // namespace
} // namespace harvix
