#include "bench/BenchSupport.h"

#include "common/Files.h"

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
    const pid_t pid = fork();
    if (pid < 0)
        fail(std::string("fork failed: ") + std::strerror(errno));
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
            _exit(126);
        ExecOrExit(argv);
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
    if (const int code = WriteAll(fd, data, size); code != 0)
        fail("cannot write " + path.string() + ": " + std::strerror(code));
}

} // namespace

ArgReader::ArgReader(std::string program, std::string usage, int argc, char** argv)
    : m_program(std::move(program)), m_usage(std::move(usage)), m_args(argv + std::min(argc, 1), argv + argc) {}

bool ArgReader::next() {
    if (m_at >= m_args.size())
        return false;
    m_option = m_args[m_at++];
    return true;
}

std::string ArgReader::value() {
    if (m_at >= m_args.size())
        fail(m_option + " needs a value");
    return m_args[m_at++];
}

bool ArgReader::take(std::string_view name, int& count) {
    if (m_option != name)
        return false;
    const std::string text = value();
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > 1'000'000)
        fail(m_option + " takes a whole number from 1 to 1000000, not '" + text + "'");
    count = static_cast<int>(n);
    return true;
}

bool ArgReader::take(std::string_view name, std::size_t& count) {
    int n = 0;
    if (!take(name, n))
        return false;
    count = static_cast<std::size_t>(n);
    return true;
}

bool ArgReader::take(std::string_view name, std::string& text) {
    if (m_option != name)
        return false;
    text = value();
    return true;
}

bool ArgReader::take(std::string_view name, fs::path& path) {
    if (m_option != name)
        return false;
    path = value();
    return true;
}

bool ArgReader::take(std::string_view name, std::optional<fs::path>& path) {
    if (m_option != name)
        return false;
    path = fs::path(value());
    return true;
}

bool ArgReader::take(std::string_view name, std::optional<std::string>& text) {
    if (m_option != name)
        return false;
    text = value();
    return true;
}

unsigned ArgReader::jobsValue() {
    const std::string text = value();
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(text.c_str()) > 64)
        fail(m_option + " takes a whole number from 0 to 64, not '" + text + "'");
    return static_cast<unsigned>(std::atoi(text.c_str()));
}

void ArgReader::fail(const std::string& message) const {
    std::cerr << m_program << ": " << message << '\n';
    if (!m_usage.empty())
        std::cerr << m_usage << '\n';
    std::exit(2);
}

void ArgReader::unknown() const {
    fail("unknown argument " + m_option);
}

bool WineBenchOptions::take(ArgReader& args) {
    return args.take("--runs", runs) || args.take("--modules", modules) || args.take("--wine", wine) ||
           args.take("--work", work) || args.take("--cli", cli) || args.flag("--keep", keep);
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& e : fs::directory_iterator(folder, error))
        if (e.is_regular_file(error))
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> WineModules(const fs::path& folder) {
    std::vector<fs::path> modules = FilesIn(folder);
    if (modules.empty()) {
        std::cerr << "no modules in " << folder.string() << " (install libwine)\n";
        std::exit(1);
    }
    return modules;
}

void MakeFreshFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

void ExecOrExit(const Command& command) {
    std::vector<char*> args;
    for (const std::string& a : command)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (!command.empty())
        execvp(args[0], args.data());
    _exit(127);
}

std::pair<int, std::string> Capture(const Command& command) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {-1, {}};
    const pid_t pid = fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return {-1, {}};
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(pipeFds[1], 1) < 0 || ::dup2(null, 2) < 0)
            _exit(126);
        ExecOrExit(command);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

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
int BenchMain(const char* program, int argc, char** argv, int (*body)(int argc, char** argv)) {
    if (const int status = MaybeRunJobsHelper(argc, argv); status >= 0)
        return status;
    try {
        return body(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << program << ": " << e.what() << '\n';
        return 1;
    }
}

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

void ToolRuns::add(const JobsRun& run, const fs::path& folder, const std::string& extension) {
    ms.push_back(run.ms);
    cpuMs.push_back(run.cpuMs);
    peakKiB = std::max(peakKiB, run.peakKiB);
    failures += run.failures;
    written = 0;
    for (const auto& e : fs::directory_iterator(folder))
        written += e.path().extension() == extension ? 1u : 0u;
}

long SummedCounts(const fs::path& stdoutFile) {
    std::ifstream in(stdoutFile);
    std::string line;
    long total = 0;
    while (std::getline(in, line)) {
        const auto colon = line.rfind(": ");
        if (colon != std::string::npos)
            total += std::atol(line.c_str() + colon + 2);
    }
    return total;
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
