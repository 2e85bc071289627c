// harvix-cli extract killed (SIGKILL) at random moments, as a power cut or an impatient
// user would stop it: every file it leaves holds exactly what a full run writes under
// that name, at most the one resource in flight lacks its record, every record names a
// file, and nothing else (no temporary file) is left behind.
#include "tests/hostile/HostileSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace harvix::hostile {
namespace {

namespace mb = harvix::modbuilder;
using Clock = std::chrono::steady_clock;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs harvix-cli with `args`, output thrown away; killed after `killAfter` unless it
// ended before. Returns how long it ran.
Clock::duration RunKilled(const std::vector<std::string>& args, std::optional<Clock::duration> killAfter) {
    std::vector<std::string> text{"harvix-cli"};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : text)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto started = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(HARVIX_CLI, argv.data());
        ::_exit(127);
    }
    if (killAfter) {
        std::this_thread::sleep_until(started + *killAfter);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return Clock::now() - started;
}

// The record lines of an index file, in order (header blocks left out).
std::vector<std::string> Records(const std::string& index) {
    std::vector<std::string> records;
    std::istringstream lines(ReadBytes(index));
    std::string line;
    while (std::getline(lines, line))
        if (line.find(" - SOURCE FILE = ") != std::string::npos)
            records.push_back(line);
    return records;
}

// Every file below `root` but the index files, by its path relative to `root`.
std::vector<std::string> OutputFiles(const std::string& root) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (!it->is_directory() && it->path().filename() != "__index.txt")
            files.push_back(fs::relative(it->path(), root).string());
    return files;
}

// Large clips, so that a kill often lands inside a write, and many small pictures and
// icon groups with per-size files, so that it often lands between a file and its record.
void WriteCorpus(const std::string& folder) {
    mb::ModuleBuilder clips;
    for (std::size_t i = 1; i <= 6; ++i) {
        std::vector<std::uint8_t> clip(3u << 20);
        for (std::size_t k = 0; k < clip.size(); ++k)
            clip[k] = static_cast<std::uint8_t>(i * 37 + k % 251);
        clips.add(ResId::name("AVI"), ResId::number(static_cast<std::uint16_t>(i)), 0x409, std::move(clip));
    }
    WriteModule(folder + "/clips.dll", clips);
    mb::ModuleBuilder pictures = BitmapModule(120);
    std::uint16_t next = 1;
    for (std::uint16_t g = 1; g <= 40; ++g)
        next = mb::addIconGroup(pictures, ResId::number(g), next,
                                {{16, 16, 8}, {32, 32, 8}, {32, 32, 32}, {48, 48, 32}},
                                mb::pictures::disc({static_cast<std::uint8_t>(g * 5), 20, 200, 255}));
    for (std::uint16_t g = 1; g <= 20; ++g)
        mb::addCursorGroup(pictures, ResId::number(g), static_cast<std::uint16_t>(1000 + g), {{32, 32, 1}},
                           mb::pictures::arrow(), 3, 5);
    WriteModule(folder + "/pictures.dll", pictures);
}

TEST(KilledRun, LeavesWholeFilesAndAtMostOneWithoutItsRecord) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own bookkeeping makes a killed run of this build unlike a real one";
#endif
    Scratch scratch;
    const std::string src = scratch / "src";
    fs::create_directories(src);
    WriteCorpus(src);
    auto args = [&](const std::string& dest) {
        return std::vector<std::string>{"extract", "--dest", dest, "--mask", "*.dll", src};
    };
    const std::string reference = scratch / "reference";
    const Clock::duration full = RunKilled(args(reference), std::nullopt);
    const std::vector<std::string> referenceFiles = OutputFiles(reference);
    ASSERT_GT(referenceFiles.size(), 300u);

    // The moments are drawn from the length of a full run; on a busy machine that one may
    // have been slow, so the span shrinks whenever a run finished before its kill.
    std::mt19937 random(20261209);
    auto span = std::chrono::duration_cast<std::chrono::microseconds>(full).count() * 11 / 10;
    constexpr int kRuns = 50;
    int midway = 0;
    for (int run = 0; run < kRuns; ++run) {
        const std::string dest = scratch / ("killed" + std::to_string(run));
        const auto after = std::chrono::microseconds(std::uniform_int_distribution<std::int64_t>(0, span)(random));
        RunKilled(args(dest), after);
        SCOPED_TRACE("run " + std::to_string(run) + ", killed after " + std::to_string(after.count()) + " us");
        if (!fs::exists(dest))
            continue; // killed before the destination was made

        // Each file there holds what the full run wrote under that name, byte for byte.
        const std::vector<std::string> files = OutputFiles(dest);
        for (const std::string& file : files) {
            const std::string ref = reference + "/" + file;
            ASSERT_TRUE(fs::is_regular_file(ref)) << file << ": no such file in a full run";
            const std::string left = ReadBytes(dest + "/" + file);
            const std::string whole = ReadBytes(ref);
            ASSERT_TRUE(left == whole) << file << " is not whole: " << left.size() << " bytes of " << whole.size();
        }
        // The indexes hold whole lines; records name files one to one, but for at most
        // one file whose record was still to come.
        const DestinationCheck check = CheckDestination(dest);
        int withoutRecord = 0;
        for (const std::string& problem : check.problems) {
            if (problem.find(": 1 file(s), 0 record(s)") != std::string::npos)
                ++withoutRecord;
            else if (files.empty() && problem.find("empty or missing index file") != std::string::npos)
                continue; // killed while the destination was being prepared, before any output
            else
                ADD_FAILURE() << problem;
        }
        EXPECT_LE(withoutRecord, 1);
        // The records are those of the full run, in its order, as far as the run came.
        for (const char* kind : {"Bitmaps", "Icons", "Cursors", "Videos"}) {
            const auto records = Records(dest + "/" + kind + "/__index.txt");
            const auto all = Records(reference + "/" + kind + "/__index.txt");
            ASSERT_LE(records.size(), all.size()) << kind;
            EXPECT_TRUE(std::equal(records.begin(), records.end(), all.begin())) << kind;
        }
        midway += !files.empty() && files.size() < referenceFiles.size() ? 1 : 0;
        if (files.size() == referenceFiles.size())
            span = span * 3 / 4;
        RemoveTreeAt(AT_FDCWD, dest);
    }
    // Most kills land in the middle of the run, where the faults would show.
    EXPECT_GE(midway, kRuns / 5);
    std::printf("%d of %d runs killed in the middle (full run: %lld ms)\n", midway, kRuns,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(full).count()));
}

} // namespace
} // namespace harvix::hostile
