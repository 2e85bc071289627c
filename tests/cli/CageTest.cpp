// The cage of the commands that read modules, proved from outside. harvix-cli-probe is
// harvix-cli with the walls' probe: once a command is confined, it tries to read a file
// it was not given, make a file outside its destination, open sockets, read from a new
// thread and start a program. Every attempt must fail while the command goes on to its
// usual end, and every one must succeed with --no-sandbox, which shows that the cage,
// not the test, stops them.
#include "sandbox/Cage.h"
#include "sandbox/Errand.h"
#include "sandbox/SyscallFilter.h"
#include "tests/support/RunProgram.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/WindowsTree.h"
#include "tools/picbuilder/PictureBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <seccomp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ProgramRun;
using testing::ReadText;

const std::string kCli = HARVIX_TEST_BINARY_DIR "/cli/harvix-cli";
const std::string kProbe = HARVIX_TEST_BINARY_DIR "/cli/harvix-cli-probe";

std::string FolderOfPath(const std::string& path) { return fs::path(path).parent_path().string(); }

// Whether this kernel gives both parts of the cage.
bool CageAvailable() {
    return LandlockAbi() > 0 && ReadText("/proc/self/status").find("Seccomp:") != std::string::npos;
}

class CliCage : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-cage");
        for (const char* dir : {"src/sub", "outside", "pngs", "thumbs", "reports"})
            fs::create_directories(root / dir);
        modbuilder::ModuleBuilder b;
        b.add(ResId::number(2), ResId::number(1), 0x409,
              modbuilder::makeDib(20, 20, 24, modbuilder::pictures::rings()));
        modbuilder::addIconGroup(b, ResId::number(1), 1, {{16, 16, 8}, {32, 32, 32}},
                                 modbuilder::pictures::disc({0, 0, 255, 255}));
        EXPECT_TRUE(modbuilder::writeFile((root / "src/app.dll").string(), b.build()).ok());
        EXPECT_TRUE(modbuilder::writeFile((root / "src/sub/other.exe").string(), b.build()).ok());
        const auto ico = picbuilder::allIconForms().front().bytes;
        std::ofstream(root / "src/pic.ico", std::ios::binary)
            .write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
        fs::create_directories(root / "cursors");
        EXPECT_TRUE(modbuilder::writeFile((root / "cursors/arrow.cur").string(),
                                          modbuilder::makeCursorFile(32, 32, 32, 1, 1, modbuilder::pictures::arrow()))
                        .ok());
        std::ofstream(root / "outside/secret") << "not for the cage\n";
        std::ofstream(root / "src/secret") << "not for the thumbnail\n";
    }
    void TearDown() override { fs::remove_all(root); }

    [[nodiscard]] std::string at(const std::string& relative) const { return (root / relative).string(); }

    ProgramRun run(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {},
                   const std::function<bool()>& inChild = {}) const {
        return testing::RunProgram(program, args, root, env, inChild);
    }
    // The probe, trying its walls from `folder`.
    ProgramRun probe(const std::vector<std::string>& args, const std::string& folder) const {
        return run(kProbe, args, {"HARVIX_CAGE_PROBE=" + folder});
    }

    fs::path root;
};

// One command of each kind, with the folder its probe tries: one it was not given.
struct CommandCase {
    const char* name;
    std::vector<std::string> args; // relative paths begin with "@"
    const char* probeFolder;
    const char* output; // a file the command writes, relative; empty: stdout only
};

std::vector<CommandCase> Commands() {
    return {
        {"list", {"list", "@src"}, "outside", ""},
        {"version", {"version", "@src/app.dll"}, "src", ""},
        {"extract", {"extract", "--yes", "--dest", "@dest", "@src"}, "outside", "dest/Icons/app.dll.ico"},
        {"png", {"png", "--dest", "@pngs", "@src/pic.ico"}, "src", ""},
        {"thumbnail", {"thumbnail", "@src/app.dll", "@thumbs/app.png"}, "src", "thumbs/app.png"},
        {"icon", {"icon", "@src/app.dll", "@thumbs/icon.png", "--theme", "@theme/hicolor", "--name", "app"},
         "src", "theme/hicolor/32x32/apps/app.png"},
        {"cursor_theme", {"cursor-theme", "--force", "--name", "Pack", "--dest", "@themes", "@cursors"}, "src",
         "themes/Pack/cursors/left_ptr"},
    };
}

class CliCageWalls : public CliCage, public ::testing::WithParamInterface<CommandCase> {
protected:
    [[nodiscard]] std::vector<std::string> args(std::vector<std::string> extra = {}) const {
        std::vector<std::string> out;
        for (const std::string& arg : GetParam().args)
            out.push_back(arg.starts_with("@") ? at(arg.substr(1)) : arg);
        out.insert(out.begin() + 1, extra.begin(), extra.end());
        return out;
    }
};

TEST_P(CliCageWalls, EveryAttemptFailsAndTheCommandGoesOn) {
    if (!CageAvailable())
        GTEST_SKIP() << "this kernel has no Landlock or no seccomp";
    const CommandCase& c = GetParam();
    const ProgramRun caged = probe(args(), at(c.probeFolder));
    EXPECT_EQ(caged.status, 0) << caged.err;
    // Confined before anything was started, by both parts.
    EXPECT_THAT(caged.err, HasSubstr("cage-probe: threads before: 1\n"));
    EXPECT_THAT(caged.err, HasSubstr("cage-probe: Seccomp: 2\n"));
    EXPECT_THAT(caged.err, HasSubstr("cage-probe: NoNewPrivs: 1\n"));
    for (const char* attempt : {"read", "create", "inet socket", "unix socket", "copy exec", "exec"})
        EXPECT_THAT(caged.err, HasSubstr(std::string("cage-probe: ") + attempt + ": refused ("))
            << attempt;
    // A new thread is held as well, or may not be started at all.
    if (c.name == std::string("extract"))
        EXPECT_THAT(caged.err, HasSubstr("cage-probe: thread read: refused ("));
    else
        EXPECT_THAT(caged.err, HasSubstr("cage-probe: thread: not started ("));
    EXPECT_THAT(caged.err, Not(HasSubstr("exec: ran")));
    EXPECT_THAT(caged.err, Not(HasSubstr("copy: not started")));
    EXPECT_FALSE(fs::exists(root / c.probeFolder / "planted"));

    // The command did what it does without the probe.
    const ProgramRun plain = run(kCli, args({"--no-sandbox"}));
    if (*c.output != '\0') {
        EXPECT_TRUE(fs::exists(root / c.output)) << c.output;
    }
    if (c.name == std::string("png")) {
        EXPECT_THAT(caged.out, HasSubstr(at("pngs/pic_")));
    } else if (c.name != std::string("thumbnail")) { // icon prints the same paths
        EXPECT_EQ(caged.out, plain.out);
    }
}

TEST_P(CliCageWalls, WithoutTheCageEveryAttemptSucceeds) {
    const CommandCase& c = GetParam();
    const ProgramRun open = probe(args({"--no-sandbox"}), at(c.probeFolder));
    EXPECT_THAT(open.err, HasSubstr("cage-probe: Seccomp: 0\n"));
    for (const char* attempt : {"read", "create", "inet socket", "unix socket", "thread read"})
        EXPECT_THAT(open.err, HasSubstr(std::string("cage-probe: ") + attempt + ": done")) << attempt;
    EXPECT_THAT(open.err, HasSubstr("cage-probe: copy exec: ran"));
    EXPECT_THAT(open.err, HasSubstr("cage-probe: exec: ran"));
    EXPECT_TRUE(fs::exists(root / c.probeFolder / "planted"));
}

INSTANTIATE_TEST_SUITE_P(Commands, CliCageWalls, ::testing::ValuesIn(Commands()),
                         [](const auto& param) { return std::string(param.param.name); });

// The system calls themselves, as strace sees them: an extraction over a tree and a
// thumbnail each enter a Landlock domain and load a filter.
TEST_F(CliCage, ExtractAndThumbnailEnterTheCageUnderStrace) {
    if (!CageAvailable())
        GTEST_SKIP() << "this kernel has no Landlock or no seccomp";
    if (std::system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    const std::vector<std::vector<std::string>> commands = {
        {"extract", "--dest", at("dest"), at("src")},
        {"thumbnail", at("src/app.dll"), at("thumbs/app.png")},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command.front());
        std::vector<std::string> args = {"-f", "-qq", "-o", at("trace"), "-e",
                                         "trace=landlock_restrict_self,seccomp", kCli};
        args.insert(args.end(), command.begin(), command.end());
        // The leak check of an address-sanitizer build cannot work under a tracer.
        const ProgramRun traced = run("/usr/bin/strace", args, {"ASAN_OPTIONS=detect_leaks=0"});
        ASSERT_EQ(traced.status, 0) << traced.err;
        const std::string trace = ReadText(root / "trace");
        EXPECT_THAT(trace, ::testing::ContainsRegex("landlock_restrict_self\\([0-9]+, 0\\) += 0"));
        EXPECT_THAT(trace, ::testing::ContainsRegex("seccomp\\(SECCOMP_SET_MODE_FILTER, [^)]*\\) += 0"));
    }
}

// The report goes where the user names it, outside the destination, through the helper
// started before the cage closed; the confined run itself can make nothing there.
TEST_F(CliCage, TheReportIsWrittenOutsideTheCage) {
    if (!CageAvailable())
        GTEST_SKIP() << "this kernel has no Landlock or no seccomp";
    const ProgramRun caged =
        probe({"extract", "--dest", at("dest"), "--report", at("reports/run.json"), at("src")},
              at("reports"));
    EXPECT_EQ(caged.status, 0) << caged.err;
    EXPECT_THAT(caged.err, HasSubstr("cage-probe: create: refused ("));
    const std::string report = ReadText(root / "reports/run.json");
    EXPECT_THAT(report, HasSubstr("\"outcome\": \"completed\""));
    EXPECT_THAT(report, HasSubstr("\"exit_status\": 0"));
    // Only the report is there: no temporary name left, nothing planted.
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "reports"), fs::directory_iterator()), 1);

    // A report whose folder is missing is refused before the run starts, caged or not.
    for (const char* cage : {"--verbose", "--no-sandbox"}) {
        SCOPED_TRACE(cage);
        fs::remove_all(root / "dest");
        const ProgramRun failed = run(kCli, {"extract", cage, "--dest", at("dest"), "--report",
                                             at("missing/run.json"), at("src")});
        EXPECT_EQ(failed.status, 2);
        EXPECT_EQ(failed.err, "harvix-cli extract: the report '" + at("missing/run.json") +
                                  "' cannot be written: its folder '" + at("missing") + "' does not exist\n");
        EXPECT_FALSE(fs::exists(root / "dest"));
    }
}

// Every file beneath `folder` with its bytes, by its path relative to it; the index's
// line that names the time of the run is left out.
std::map<std::string, std::string> TreeOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        std::string text = ReadText(entry.path());
        if (entry.path().filename() == "__index.txt")
            if (const auto at = text.find("Harvix index file of "); at != std::string::npos)
                text.erase(at, text.find('\n', at) - at);
        files[fs::relative(entry.path(), folder).string()] = std::move(text);
    }
    return files;
}

// A folder whose modules are links to files elsewhere (a Wine prefix, a game library):
// the opener follows the links as the search does and hands the files over, so the
// confined commands read what the targets hold, as they do without the cage.
TEST_F(CliCage, AFolderOfLinksGivesWhatItsTargetsGive) {
    if (!CageAvailable())
        GTEST_SKIP() << "this kernel has no Landlock or no seccomp";
    const auto tree = modbuilder::writeWindowsTree(at("outside/disk"));
    ASSERT_TRUE(tree.ok());
    fs::create_directories(root / "links/deeper");
    fs::create_symlink(root / "src/app.dll", root / "links/app.dll");
    fs::create_symlink(root / "src/sub/other.exe", root / "links/deeper/other.exe");
    fs::create_symlink(tree->notepad, root / "links/notepad.exe");
    // A Windows tree whose folders are there and whose files are links to another's
    // (as a Wine prefix links its system modules): the satellites are found beside the
    // links and read through them.
    for (const auto& entry : fs::recursive_directory_iterator(root / "outside/disk")) {
        const fs::path mirror = root / "links/disk" / fs::relative(entry.path(), root / "outside/disk");
        if (entry.is_directory())
            fs::create_directories(mirror);
        else
            fs::create_symlink(entry.path(), mirror);
    }

    const ProgramRun confined = run(kCli, {"extract", "--verbose", "--dest", at("caged"), at("links")});
    const ProgramRun plain = run(kCli, {"extract", "--no-sandbox", "--dest", at("plain"), at("links")});
    ASSERT_EQ(confined.status, 0) << confined.err;
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_THAT(confined.err, HasSubstr("sandbox: confined by"));
    EXPECT_EQ(confined.out, plain.out);
    const auto caged = TreeOf(root / "caged");
    EXPECT_EQ(caged, TreeOf(root / "plain"));
    EXPECT_TRUE(caged.count("Icons/app.dll.ico") != 0);
    EXPECT_TRUE(caged.count("Icons/other.exe.ico") != 0);
    // The stub's resources with those of its satellites beside it, behind the link.
    EXPECT_TRUE(std::any_of(caged.begin(), caged.end(),
                            [](const auto& file) { return file.second.find(".dll.mun") != std::string::npos; }));

    for (const char* mode : {"tsv", "json"}) {
        SCOPED_TRACE(mode);
        const ProgramRun listed = run(kCli, {"list", "--format", mode, at("links")});
        const ProgramRun open = run(kCli, {"list", "--no-sandbox", "--format", mode, at("links")});
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(listed.err, "");
        EXPECT_EQ(listed.out, open.out);
        EXPECT_THAT(listed.out, HasSubstr(at("links/deeper/other.exe")));
    }
}

// A file the opener could not open is named with the system's reason for it (not the
// cage's refusal); a run in which no file found could be read says so and fails.
TEST_F(CliCage, AFileThatCannotBeOpenedIsNamedWithItsOwnReason) {
    fs::create_symlink(root / "nowhere/gone.dll", root / "src/dangling.dll");
    ASSERT_EQ(::mkfifo(at("src/fifo.dll").c_str(), 0600), 0);
    std::ofstream(root / "bad.txt") << at("src/dangling.dll") << "\n" << at("src/fifo.dll") << "\n";
    std::ofstream(root / "mixed.txt") << at("src/dangling.dll") << "\n" << at("src/app.dll") << "\n";
    for (const char* cage : {"--verbose", "--no-sandbox"}) {
        SCOPED_TRACE(cage);
        const ProgramRun none =
            run(kCli, {"extract", cage, "--dest", at(std::string("none") + cage), "--files-from", at("bad.txt")});
        EXPECT_EQ(none.status, 1);
        EXPECT_THAT(none.err, HasSubstr("harvix-cli extract: 2 files could not be read (first: " +
                                        at("src/dangling.dll") + ": No such file or directory)\n"));
        EXPECT_THAT(none.err, HasSubstr("harvix-cli extract: none of the 2 files found could be read: "
                                        "nothing was extracted\n"));
        EXPECT_THAT(none.out, HasSubstr("Icon: 0\n"));

        const ProgramRun listed = run(kCli, {"list", cage, "--files-from", at("bad.txt")});
        EXPECT_EQ(listed.status, 1);
        EXPECT_EQ(listed.out, "");
        EXPECT_THAT(listed.err, HasSubstr("harvix-cli list: none of the 2 files found could be read: "
                                          "nothing was listed\n"));

        // One file read: the run did something, and names what it could not read.
        const ProgramRun mixed =
            run(kCli, {"extract", cage, "--dest", at(std::string("mixed") + cage), "--files-from", at("mixed.txt")});
        EXPECT_EQ(mixed.status, 1);
        EXPECT_THAT(mixed.err, HasSubstr("1 file could not be read (first: " + at("src/dangling.dll") +
                                         ": No such file or directory)"));
        EXPECT_THAT(mixed.err, Not(HasSubstr("none of")));
        EXPECT_THAT(mixed.out, HasSubstr("Icon: 1\n"));
    }
    // The walk reports regular files only: neither is found, and the modules beside them are read.
    const ProgramRun walked = run(kCli, {"extract", "--dest", at("walked"), at("src")});
    EXPECT_EQ(walked.status, 0) << walked.err;
    EXPECT_THAT(walked.out, HasSubstr("Icon: 2\n"));
}

// Satellite resource files lie beside the paths searched (the SystemResources folder
// beside System32, the language folders beside a module named): the confined listing
// reads them with their modules, and passes a satellite named with its module over, as
// the listing without the cage does.
TEST_F(CliCage, SatellitesBesideTheSearchedPathsAreReadAsWithoutTheCage) {
    if (!CageAvailable())
        GTEST_SKIP() << "this kernel has no Landlock or no seccomp";
    const auto tree = modbuilder::writeWindowsTree(at("disk"));
    ASSERT_TRUE(tree.ok());
    const std::string system32 = FolderOfPath(tree->stub);
    const std::string resources = FolderOfPath(tree->systemResources);
    const std::vector<std::vector<std::string>> searches = {
        {system32},
        {tree->stub},
        {system32, resources},
        {tree->viewer, tree->viewerFrench},
        {tree->stub, tree->systemResources, tree->english},
    };
    for (const auto& paths : searches) {
        SCOPED_TRACE(paths.back());
        std::vector<std::string> caged = {"list"};
        caged.insert(caged.end(), paths.begin(), paths.end());
        std::vector<std::string> open = caged;
        open.insert(open.begin() + 1, "--no-sandbox");
        const ProgramRun confined = run(kCli, caged);
        const ProgramRun plain = run(kCli, open);
        EXPECT_EQ(confined.status, plain.status);
        EXPECT_EQ(confined.out, plain.out);
        EXPECT_EQ(confined.err, plain.err);
        EXPECT_THAT(plain.out, HasSubstr(".mu")); // a satellite's resources are there
    }
}

// Where the kernel or an outer sandbox refuses a part of the cage, the command runs as
// it does without it, and says so only with --verbose.
struct Refusal {
    const char* name;
    std::vector<const char*> calls; // refused by the outer sandbox ("prctl" only for PR_SET_SECCOMP)
    int error;
    const char* said; // what --verbose says
    bool seccompOnly = false;
};

class CliCageRefused : public CliCage, public ::testing::WithParamInterface<Refusal> {};

TEST_P(CliCageRefused, TheCommandRunsAsWithoutIt) {
    const Refusal& refusal = GetParam();
    // The outer sandbox: a filter of its own, loaded in the child before harvix-cli starts.
    const auto outer = [&refusal] {
        scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
        bool loaded = ctx != nullptr;
        const auto action = SCMP_ACT_ERRNO(static_cast<std::uint32_t>(refusal.error));
        for (const char* call : refusal.calls) {
            const int number = seccomp_syscall_resolve_name(call);
            loaded = loaded && (refusal.seccompOnly && number == SCMP_SYS(prctl)
                                    ? seccomp_rule_add(ctx, action, number, 1,
                                                       SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP))
                                    : seccomp_rule_add(ctx, action, number, 0)) == 0;
        }
        loaded = loaded && seccomp_load(ctx) == 0;
        seccomp_release(ctx);
        return loaded;
    };
    const std::vector<std::string> list = {"list", at("src")};
    const ProgramRun plain = run(kCli, {"list", "--no-sandbox", at("src")});
    const ProgramRun quiet = run(kCli, list, {}, outer);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, plain.out);
    EXPECT_EQ(quiet.err, "");
    const ProgramRun verbose = run(kCli, {"list", "--verbose", at("src")}, {}, outer);
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, plain.out);
    EXPECT_THAT(verbose.err, ::testing::StartsWith("harvix-cli list: sandbox: "));
    EXPECT_THAT(verbose.err, HasSubstr(refusal.said));

    const ProgramRun extracted =
        run(kCli, {"extract", "--dest", at("dest"), at("src")}, {}, outer);
    EXPECT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_TRUE(fs::exists(root / "dest/Icons/app.dll.ico"));
}

INSTANTIATE_TEST_SUITE_P(
    Outer, CliCageRefused,
    ::testing::Values(
        Refusal{"NoLandlock", {"landlock_create_ruleset"}, ENOSYS,
                "only, not by Landlock: the kernel has no Landlock"},
        Refusal{"OnlyTheOlderFilterCall", {"seccomp"}, ENOSYS, "confined by Landlock ABI"},
        Refusal{"NoFilter", {"seccomp", "prctl"}, EPERM,
                "only, without the filter: the system-call filter was refused (",
                true},
        Refusal{"NoPrivilegeChange", {"prctl"}, EPERM,
                "not confined: no new privileges could not be set (Operation not permitted)"}),
    [](const auto& param) { return std::string(param.param.name); });

// Nothing a command may do once confined starts a program, opens a socket, traces a
// process, signals another one or enters a new namespace; a copy of the process (which
// reads an installer package first) may be made.
TEST(CageCalls, NoSetHoldsACallThatLeavesTheCage) {
    const std::vector<std::string> forbidden = {"execve", "execveat", "fork", "vfork", "socket",
                                                "socketpair", "connect", "ptrace", "kill",
                                                "prctl", "unshare", "setns", "mount", "bpf"};
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's build widens the sets for its runtime";
#endif
    for (const auto set : {CallSet::Reading, CallSet::Thumbnail, CallSet::Converting,
                           CallSet::Icon, CallSet::CursorTheme, CallSet::Extracting}) {
        const std::vector<std::string> calls = AllowedCalls(set);
        for (const std::string& call : calls) {
            const std::string name = call.substr(0, call.find(' '));
            EXPECT_EQ(std::count(forbidden.begin(), forbidden.end(), name), 0) << call;
            if (name == "clone") {
                EXPECT_EQ(call, set == CallSet::Extracting
                                    ? "clone (threads, CLONE_THREAD, or a copy of the process: no new namespace)"
                                    : "clone (a copy of the process: no CLONE_THREAD, no new namespace)");
            }
            if (name == "ioctl") {
                EXPECT_EQ(call, "ioctl (TCGETS, TIOCGWINSZ)");
            }
        }
    }
}

// Under the filter a command may make a copy of itself (an installer package is read in
// one first) and wait for it, never a process in a namespace of its own. Tried in a
// process of its own, which the filter then holds.
TEST(CageCalls, ACopyOfTheProcessMayBeMadeButNoNewNamespace) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's build allows clone of any flags for its runtime";
#endif
    for (const auto set : {CallSet::Reading, CallSet::Extracting}) {
        const pid_t tester = ::fork();
        ASSERT_GE(tester, 0);
        if (tester == 0) {
            std::string missing;
            if (LoadSyscallFilter(set, missing) == 0)
                ::_exit(10);
            const pid_t copy = ::fork();
            if (copy == 0)
                ::_exit(0);
            int status = 0;
            if (copy < 0 || ::waitpid(copy, &status, 0) != copy || !WIFEXITED(status))
                ::_exit(11);
            const long inNamespace = ::syscall(SYS_clone, CLONE_NEWUSER | SIGCHLD, 0, 0, 0, 0);
            if (inNamespace == 0)
                ::_exit(0); // the process in the namespace
            ::_exit(inNamespace > 0 ? 12 : errno == EPERM ? 0 : 13);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(tester, &status, 0), tester);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "set " << static_cast<int>(set);
    }
}

// The helper outside the cage: it does its task with the text it is given, or nothing.
TEST(CageErrand, DoesItsTaskOnceWithTheText) {
    const fs::path folder = testing::MakeScratchFolder("harvix-errand");
    const auto task = [&folder](const std::string& text) -> Status {
        if (text == "refuse")
            return makeError(ErrorKind::Io, "refused: Permission denied", EACCES);
        std::ofstream(folder / "done") << text;
        return success();
    };
    auto errand = Errand::Start(task);
    ASSERT_NE(errand, nullptr);
    EXPECT_TRUE(errand->Run("the text").ok());
    EXPECT_EQ(ReadText(folder / "done"), "the text");

    errand = Errand::Start(task);
    const Status refused = errand->Run("refuse");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, EACCES);
    EXPECT_EQ(refused.error().message, "refused: Permission denied");

    // Let go without the text: the task is never done.
    fs::remove(folder / "done");
    errand = Errand::Start(task);
    errand.reset();
    EXPECT_FALSE(fs::exists(folder / "done"));
    fs::remove_all(folder);
}

TEST(CageErrand, HoldsNoDescriptorOfTheCommand) {
    // A pipe the command holds (its standard output, say): once the command closes its
    // end, the reader must see the end at once, not when the helper ends.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    auto errand = Errand::Start([](const std::string&) { return success(); });
    ASSERT_NE(errand, nullptr);
    ::close(pipeFds[1]);
    pollfd end{pipeFds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&end, 1, 5000), 1);
    char c = 0;
    EXPECT_EQ(::read(pipeFds[0], &c, 1), 0);
    ::close(pipeFds[0]);
}

} // namespace
} // namespace harvix
