#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace harvix::bench {

namespace {

constexpr const char* kHelperSwitch = "--run-jobs";

[[noreturn]] void fail(const std::string& message) {
    throw std::runtime_error(message);
}

struct Child {
    long maxRssKiB = 0;
    double cpuMs = 0;
    int status = -1; // exit status, -1 for a signal
};

// Forks and execs one command with stdin from /dev/null, stdout and stderr appended to
// the given descriptors, and waits for it.
Child forkAndWait(const Command& argv, int outFd, int errFd) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail(std::string("fork failed: ") + std::strerror(errno));
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) != pid) {
        if (errno != EINTR)
            fail(std::string("wait4 failed: ") + std::strerror(errno));
    }
    Child child;
    child.maxRssKiB = usage.ru_maxrss;
    child.cpuMs = CpuMilliseconds(usage);
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

int openAppend(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot open " + path + ": " + std::strerror(errno));
    return fd;
}

void writeAll(int fd, const void* data, std::size_t size, const fs::path& path) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("cannot write " + path.string() + ": " + std::strerror(errno));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

} // namespace

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMilliseconds(const rusage& usage) {
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double CpuMillisecondsOfThisProcess() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuMilliseconds(usage);
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

bool WriteJobFile(const fs::path& path, const std::vector<Command>& jobs) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const Command& job : jobs) {
        if (job.empty())
            return false;
        for (std::size_t i = 0; i < job.size(); ++i) {
            if (job[i].find_first_of("\t\n") != std::string::npos)
                return false;
            out << (i ? "\t" : "") << job[i];
        }
        out << '\n';
    }
    return static_cast<bool>(out.flush());
}

std::vector<Command> ReadJobFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<Command> jobs;
    std::string line;
    while (std::getline(in, line)) {
        Command job;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            job.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

// The helper: --run-jobs JOBFILE OUTFILE OKSTATUS; prints
// "ms cpuMs peakKiB commands failures firstFailure" on its stdout.
int MaybeRunJobsHelper(int argc, char** argv) {
    if (argc != 5 || std::strcmp(argv[1], kHelperSwitch) != 0)
        return -1;
    try {
        const std::vector<Command> jobs = ReadJobFile(argv[2]);
        const int okStatus = std::atoi(argv[4]);
        const int outFd = openAppend(argv[3]);
        const int errFd = openAppend(std::string(argv[3]) + ".err");
        JobsRun run;
        const auto start = Clock::now();
        for (const Command& job : jobs) {
            const Child child = forkAndWait(job, outFd, errFd);
            run.peakKiB = std::max(run.peakKiB, child.maxRssKiB);
            run.cpuMs += child.cpuMs;
            ++run.commands;
            if (child.status < 0 || child.status > okStatus) {
                if (run.failures++ == 0)
                    run.firstFailure = child.status;
            }
        }
        run.ms = MillisecondsSince(start);
        std::printf("%.3f %.3f %ld %d %d %d\n", run.ms, run.cpuMs, run.peakKiB, run.commands, run.failures,
                    run.firstFailure);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "measuring helper: %s\n", e.what());
        return 1;
    }
}

JobsRun RunJobs(const std::vector<Command>& jobs, const fs::path& outFile, int okStatus) {
    const fs::path jobFile = outFile.string() + ".jobs";
    const fs::path report = outFile.string() + ".measure";
    if (!WriteJobFile(jobFile, jobs))
        fail("cannot write the job file " + jobFile.string());
    fs::remove(report);
    const int reportFd = openAppend(report.string());
    const int nullFd = openAppend("/dev/null");
    const Child helper = forkAndWait({fs::read_symlink("/proc/self/exe").string(), kHelperSwitch,
                                      jobFile.string(), outFile.string(), std::to_string(okStatus)},
                                     reportFd, nullFd);
    ::close(reportFd);
    ::close(nullFd);
    JobsRun run;
    std::ifstream measured(report);
    if (helper.status != 0 ||
        !(measured >> run.ms >> run.cpuMs >> run.peakKiB >> run.commands >> run.failures >> run.firstFailure))
        fail("the measuring helper failed for " + jobs.front().front());
    fs::remove(jobFile);
    fs::remove(report);
    return run;
}

OutputTree ReadTree(const fs::path& root, const std::string& indexName) {
    OutputTree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path rel = fs::relative(it->path(), root);
        if (it->is_directory()) {
            tree.folders.push_back(rel);
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (it->path().filename() != indexName) {
            tree.files.emplace_back(rel, std::move(bytes));
            continue;
        }
        std::vector<std::string> lines;
        std::string line;
        for (std::uint8_t byte : bytes) {
            line.push_back(static_cast<char>(byte));
            if (byte == '\n') {
                lines.push_back(std::move(line));
                line.clear();
            }
        }
        if (!line.empty())
            lines.push_back(std::move(line));
        tree.indexLines += lines.size();
        tree.indexes.emplace_back(rel, std::move(lines));
    }
    return tree;
}

double WriteFloor(const OutputTree& tree, const fs::path& root) {
    const auto start = Clock::now();
    if (::mkdir(root.c_str(), 0777) != 0)
        fail("cannot create " + root.string() + ": " + std::strerror(errno));
    for (const fs::path& folder : tree.folders) {
        const fs::path path = root / folder;
        if (::mkdir(path.c_str(), 0777) != 0)
            fail("cannot create " + path.string() + ": " + std::strerror(errno));
    }
    for (const auto& [rel, bytes] : tree.files) {
        const fs::path path = root / rel;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("cannot create " + path.string() + ": " + std::strerror(errno));
        writeAll(fd, bytes.data(), bytes.size(), path);
        ::close(fd);
    }
    for (const auto& [rel, lines] : tree.indexes) {
        const fs::path path = root / rel;
        for (const std::string& line : lines) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd < 0)
                fail("cannot open " + path.string() + ": " + std::strerror(errno));
            writeAll(fd, line.data(), line.size(), path);
            ::close(fd);
        }
    }
    return MillisecondsSince(start);
}

FileTally TallyFiles(const fs::path& root) {
    FileTally tally;
    std::error_code ec;
    if (!fs::exists(root, ec))
        return tally;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            ++tally.files;
            tally.bytes += entry.file_size();
        }
    }
    return tally;
}

bool DropCaches(std::string& why) {
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::write(fd, "3\n", 2) != 2) {
        why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

double LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

} // namespace harvix::bench
