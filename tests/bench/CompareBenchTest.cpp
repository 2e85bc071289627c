// harvix-compare-bench run as a program on a tiny generated corpus, with stand-ins for
// wrestool and 7-Zip that write one file per command (or fail), so that the counts,
// rounds and failure notes it prints can be checked.
#include "sandbox/SanitizerBuild.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

class CompareBench : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("harvix-compare-bench-test-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        // wrestool -x --type=T -o DEST MODULE...
        script("wrestool", "#!/bin/sh\nt=${2#--type=}; d=$4; shift 4\n"
                           "for m in \"$@\"; do printf x > \"$d/$(basename \"$m\")_$t\"; done\n");
        // 7z x -y -bso0 -bsp0 -an -ai@LIST -oDEST/* -r FILTER...
        script("7z", "#!/bin/sh\nlist=${6#-ai@}; d=${7#-o}; d=${d%/*}\n"
                     "while read -r m; do n=$(basename \"$m\"); mkdir -p \"$d/$n\" && printf x > \"$d/$n/one\"; "
                     "done < \"$list\"\n");
        script("broken", "#!/bin/sh\nexit 2\n");
    }
    void TearDown() override { fs::remove_all(m_root); }

    void script(const std::string& name, const std::string& text) {
        const fs::path path = m_root / name;
        std::ofstream(path) << text;
        fs::permissions(path, fs::perms::owner_all);
    }

    // Runs the benchmark with `args`; returns its stdout and sets `status`.
    std::string run(const std::string& args, int& status) {
        const std::string command = std::string(HARVIX_COMPARE_BENCH) + " --work " +
                                    (m_root / "work").string() +
                                    " --no-wine --no-walk --modules 3 " + args + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        size_t n = 0;
        while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        status = pipe ? ::pclose(pipe) : -1;
        return out;
    }

    // The files column of a tool's row.
    static long files(const std::string& out, const std::string& tool) {
        std::smatch m;
        const std::regex row("\\| " + tool + " *\\| *[0-9.]+ \\| *[0-9.]+ \\| *([0-9]+) \\|");
        return std::regex_search(out, m, row) ? std::stol(m[1]) : -1;
    }

    fs::path m_root;
};

TEST_F(CompareBench, CountsWhatEveryToolWroteInEveryRound) {
    int status = 0;
    // The sanitizers' runtimes cannot run under strace (the leak check traces the process
    // itself): their builds count no system calls.
    const std::string out = run("--runs 2 --wrestool " + (m_root / "wrestool").string() +
                                    " --7z " + (m_root / "7z").string() +
                                    (harvix::kSanitizerBuild ? " --no-strace" : ""),
                                status);
    ASSERT_EQ(status, 0) << out;
    // Three modules: three kinds each for wrestool (three calls), one folder each for
    // 7-Zip (one call).
    EXPECT_EQ(files(out, "wrestool -x \\(types 14,12,2\\)"), 9) << out;
    EXPECT_EQ(files(out, "7-Zip x \\.rsrc pictures"), 3) << out;
    // The floors write exactly what Harvix wrote.
    const long harvix = files(out, "harvix-cli extract");
    EXPECT_GT(harvix, 3) << out;
    EXPECT_EQ(files(out, "read\\+write floor"), harvix) << out;
    EXPECT_EQ(files(out, "floor \\(fewest calls\\)"), harvix) << out;
    EXPECT_NE(out.find("Harvix time / floor of the fewest calls"), std::string::npos) << out;
    // One traced run each, their calls per file written (where strace is installed).
    if (out.find("strace left out") == std::string::npos) {
        const std::regex traced("\\| (harvix-cli extract|floor \\(fewest calls\\)) *\\| *[0-9]+ \\| *[0-9.]+ \\|");
        EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), traced), std::sregex_iterator()), 2)
            << out;
        EXPECT_NE(out.find("Harvix system calls per file written"), std::string::npos) << out;
    }
    // Two rounds: two times per row.
    EXPECT_TRUE(std::regex_search(out, std::regex("\\| harvix-cli extract .*\\| [0-9]+ [0-9]+\n")))
        << out;
    EXPECT_EQ(out.find("ended with an error"), std::string::npos) << out;
    EXPECT_NE(out.find("7-Zip time / Harvix time"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(m_root / "work")) << "outputs are removed unless --keep";
}

TEST_F(CompareBench, NotesFailingCommandsAndLeavesOutToolsOnRequest) {
    int status = 0;
    const std::string out =
        run("--runs 1 --no-7z --no-strace --keep --wrestool " + (m_root / "broken").string(), status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("note: 3 commands of wrestool"), std::string::npos) << out;
    EXPECT_NE(out.find("(first status 2)"), std::string::npos) << out;
    EXPECT_EQ(out.find("| 7-Zip"), std::string::npos) << out;
    EXPECT_NE(out.find("7-Zip (7z or 7zz) left out"), std::string::npos) << out;
    EXPECT_NE(out.find("strace left out"), std::string::npos) << out;
    EXPECT_EQ(out.find("System calls"), std::string::npos) << out;
    EXPECT_TRUE(fs::is_directory(m_root / "work" / "out-generated" / "harvix-0"));
}

TEST_F(CompareBench, TimesFixedNumbersOfReadersAndOtherBuildsBesideTheDefault) {
    int status = 0;
    const std::string out = run("--runs 1 --no-7z --no-wrestool --jobs 0 --jobs 2 --baseline old=" +
                                    (m_root / "broken").string(),
                                status);
    ASSERT_EQ(status, 0) << out;
    // The same harvix-cli with --jobs writes the same files.
    const long harvix = files(out, "harvix-cli extract");
    EXPECT_GT(harvix, 3) << out;
    EXPECT_EQ(files(out, "harvix-cli --jobs 0"), harvix) << out;
    EXPECT_EQ(files(out, "harvix-cli --jobs 2"), harvix) << out;
    // The other build, under its label, and its failure.
    EXPECT_NE(out.find("| harvix-cli (old) "), std::string::npos) << out;
    EXPECT_NE(out.find("note: 1 commands of harvix-cli (old) ended with an error"), std::string::npos) << out;
    EXPECT_NE(out.find("Harvix time / --jobs 2 time"), std::string::npos) << out;
    EXPECT_NE(out.find("Harvix time / old time (warm)"), std::string::npos) << out;
    int refused = 0;
    run("--jobs 65", refused);
    EXPECT_NE(refused, 0);
}

} // namespace
