// What the benchmarks need around the tools they time: reading their own command line,
// running a series of commands from a small measuring process (wall time, peak resident
// size, exit statuses), the floor of plain file writes that reproduces an extraction's
// output, and counting what a tool left in its folder.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace harvix::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Command = std::vector<std::string>;

// Reads a benchmark's command line one option at a time:
//     ArgReader args("harvix-icon-bench", kUsage, argc, argv);
//     while (args.next())
//         if (!args.take("--runs", o.runs) && !args.flag("--keep", o.keep))
//             args.unknown();
// An option without its value, a count that is not one, or an unknown option ends the
// program with status 2 and a message naming it (and the usage, where one is given).
class ArgReader {
public:
    ArgReader(std::string program, std::string usage, int argc, char** argv);

    // Moves to the next option; false after the last.
    bool next();
    [[nodiscard]] const std::string& option() const { return m_option; }
    // The value of the current option (the next argument).
    std::string value();

    // When the current option is `name`, reads its value into the target and says so.
    // A count is a whole number of at least 1.
    bool take(std::string_view name, int& count);
    bool take(std::string_view name, std::size_t& count);
    bool take(std::string_view name, std::string& text);
    bool take(std::string_view name, fs::path& path);
    bool take(std::string_view name, std::optional<fs::path>& path);
    bool take(std::string_view name, std::optional<std::string>& text);
    // The value of the current option as harvix-cli's --jobs: a whole number from 0 to 64.
    unsigned jobsValue();
    // When the current option is `name`, sets `target` to `to`.
    template <typename T>
    bool flag(std::string_view name, T& target, T to) {
        if (m_option != name)
            return false;
        target = std::move(to);
        return true;
    }
    bool flag(std::string_view name, bool& on) { return flag(name, on, true); }

    [[noreturn]] void fail(const std::string& message) const;
    [[noreturn]] void unknown() const;

private:
    std::string m_program;
    std::string m_usage;
    std::vector<std::string> m_args;
    std::size_t m_at = 0;
    std::string m_option;
};

// What every benchmark of harvix-cli against other tools on the Wine modules takes:
// --runs N, --modules N, --wine DIR, --work DIR, --cli PATH, --keep.
struct WineBenchOptions {
    WineBenchOptions(std::size_t modules_, fs::path work_, std::string cli_)
        : modules(modules_), work(std::move(work_)), cli(std::move(cli_)) {}

    int runs = 5;
    std::size_t modules;
    fs::path wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    fs::path work;
    std::string cli;
    bool keep = false;

    // Reads the current option when it is one of these.
    bool take(ArgReader& args);
};

// The regular files directly in `folder`, in name order (the modules a benchmark draws
// from); none when it is not a folder.
std::vector<fs::path> FilesIn(const fs::path& folder);

// The Wine modules a benchmark draws from: FilesIn(folder); ends the program with a
// message when there are none.
std::vector<fs::path> WineModules(const fs::path& folder);

// Removes `folder` with everything in it and makes it again, empty.
void MakeFreshFolder(const fs::path& folder);

// Runs a command with stdin and stderr on /dev/null; its exit status (-1 for a signal or
// a command that could not start: 127) and what it wrote to stdout.
std::pair<int, std::string> Capture(const Command& command);

// In a child process: replaces it with `command`, found on the PATH unless it names a
// path; ends the child with status 127 when it cannot.
[[noreturn]] void ExecOrExit(const Command& command);

double MillisecondsSince(Clock::time_point start);
double Median(std::vector<double> values);

// User plus system time, in milliseconds. On a machine shared with other work it strays
// less than the wall time, which includes the time spent waiting for a processor.
double CpuMilliseconds(const struct rusage& usage);
double CpuMillisecondsOfThisProcess();

// A series of commands run one after the other.
struct JobsRun {
    double ms = 0;          // from the first start to the last end
    double cpuMs = 0;       // user and system time of all the commands
    long peakKiB = 0;       // the largest peak resident size of any one command
    int commands = 0;
    int failures = 0;       // commands that ended with a status above `okStatus` or a signal
    int firstFailure = 0;   // the status of the first of them (-1: a signal)
};

// Runs `jobs` in order, each with stdin from /dev/null, stdout appended to `outFile`
// and stderr to `outFile` + ".err". They are started from a fresh copy of this program
// (see MaybeRunJobsHelper), because the peak size the kernel reports for a child
// includes the memory of the process it was forked from until the exec.
// A status up to `okStatus` counts as success (some tools end with 1 on a warning).
JobsRun RunJobs(const std::vector<Command>& jobs, const fs::path& outFile, int okStatus = 0);

// The main of a benchmark that runs commands through RunJobs: the measuring helper when
// argv asks for it, else `body`; what `body` throws is printed as "PROGRAM: what" and
// ends the program with status 1.
int BenchMain(const char* program, int argc, char** argv, int (*body)(int argc, char** argv));

// If argv asks for the measuring helper, runs it and returns its exit status; call this
// first in main(). Returns -1 otherwise.
int MaybeRunJobsHelper(int argc, char** argv);

// The job file the helper reads: one command a line, arguments separated by a tab.
// Arguments that hold a tab or a line break cannot be written and are refused.
bool WriteJobFile(const fs::path& path, const std::vector<Command>& jobs);
std::vector<Command> ReadJobFile(const fs::path& path);

// One tool's runs over the rounds of a benchmark.
struct ToolRuns {
    std::vector<double> ms, cpuMs;
    long peakKiB = 0;
    int failures = 0;
    std::size_t written = 0; // files it left in its folder in the last round

    // Adds a round's run, and counts the files ending in `extension` it left in `folder`.
    void add(const JobsRun& run, const fs::path& folder, const std::string& extension);
};

// The resource counts harvix-cli prints at the end of a run ("Kind: N", a line each), added up.
long SummedCounts(const fs::path& stdoutFile);

// An extraction's output as the floor writes it again.
struct OutputTree {
    std::vector<fs::path> folders;                                      // relative, parents first
    std::vector<std::pair<fs::path, std::vector<std::uint8_t>>> files;  // relative path, bytes
    std::vector<std::pair<fs::path, std::vector<std::string>>> indexes; // lines with their ends
    std::size_t indexLines = 0;
};

// Reads a finished extraction below `root`; files named `indexName` become index lines.
OutputTree ReadTree(const fs::path& root, const std::string& indexName = "__index.txt");

// The floor: creates `root` and the same folders and files with the same bytes, each
// file with its own open (exclusive), write and close, then appends every index line
// with its own open, write and close. Returns the milliseconds it took.
double WriteFloor(const OutputTree& tree, const fs::path& root);

// The floor of the fewest calls: what creating a run's output takes at the least, as a
// plan made beforehand from the finished run's tree: its folders, its files' names and
// sizes, and for each index file its writes: the lines before its first record (the
// header block the destination was prepared with) as one, then one per record.
struct FloorPlan {
    std::vector<fs::path> folders;                                      // relative, parents first
    std::vector<std::pair<fs::path, std::uint64_t>> files;              // relative path, size
    std::vector<std::pair<fs::path, std::vector<std::string>>> indexes; // relative path, writes
    std::size_t records = 0;
};

// A record line of an index file ("NAME - SOURCE FILE = ...").
bool IsIndexRecord(std::string_view line);

FloorPlan PlanFloor(const OutputTree& tree);

// A plan as one file, so that the floor runs as a process of its own (timed and traced
// as a tool is) that reads it with a few calls.
void WritePlanFile(const FloorPlan& plan, const fs::path& path);
FloorPlan ReadPlanFile(const fs::path& path);

// Carries out a plan below `root`, which must not exist: one mkdir per folder; per file
// an exclusive open, one write of its size (zeros) and a close; each index file opened
// once and kept open until the end, one write per entry of its writes. Returns the
// milliseconds it took.
double WriteFewestCallsFloor(const FloorPlan& plan, const fs::path& root);

// The command that runs the floor of `planFile` into `root` as a process of its own:
// this program started again (BenchMain and MaybeRunFloor take the switch).
Command FloorCommand(const fs::path& planFile, const fs::path& root);

// If argv asks for the floor of the fewest calls, runs it and returns its exit status;
// -1 otherwise.
int MaybeRunFloor(int argc, char** argv);

// The summary `strace -c` writes (with -o): the calls and failed calls of every system
// call, and their totals (of every table, when a process changed its personality).
struct SyscallCounts {
    struct Row {
        std::string name;
        long calls = 0;
        long errors = 0;
    };
    std::vector<Row> rows; // in the summary's order (most time first)
    long calls = 0;
    long errors = 0;
};

// Reads such a summary; nothing when it holds no totals line.
std::optional<SyscallCounts> ParseStraceSummary(std::string_view summary);

// Runs `command` once under `strace -c -f` (the strace program given) with its summary in
// `summaryFile`; the counts, or nothing (and why) when it could not be traced.
std::optional<SyscallCounts> CountSystemCalls(const std::string& strace, const Command& command,
                                              const fs::path& summaryFile, std::string& why);

// Regular files below `root` and their bytes.
struct FileTally {
    std::size_t files = 0;
    std::uintmax_t bytes = 0;
};
FileTally TallyFiles(const fs::path& root);

// Drops the page cache (clean pages, dentries and inodes). False, with the reason, when
// the system refuses (not root, or a container that keeps /proc/sys read-only).
bool DropCaches(std::string& why);

// The 1-minute load average of the machine (0 when unknown).
double LoadAverage();

} // namespace harvix::bench
