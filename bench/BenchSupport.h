// What the comparison benchmark needs around the tools it times: running a series of
// commands from a small measuring process (wall time, peak resident size, exit
// statuses), the floor of plain file writes that reproduces an extraction's output, and
// counting what a tool left in its folder.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace harvix::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Command = std::vector<std::string>;

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

// If argv asks for the measuring helper, runs it and returns its exit status; call this
// first in main(). Returns -1 otherwise.
int MaybeRunJobsHelper(int argc, char** argv);

// The job file the helper reads: one command a line, arguments separated by a tab.
// Arguments that hold a tab or a line break cannot be written and are refused.
bool WriteJobFile(const fs::path& path, const std::vector<Command>& jobs);
std::vector<Command> ReadJobFile(const fs::path& path);

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
