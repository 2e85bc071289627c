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
constexpr const char* kFloorSwitch = "--write-floor";

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
    if (const int status = MaybeRunFloor(argc, argv); status >= 0)
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

bool IsIndexRecord(std::string_view line) {
    return line.find(" - SOURCE FILE = ") != std::string_view::npos;
}

FloorPlan PlanFloor(const OutputTree& tree) {
    FloorPlan plan;
    plan.folders = tree.folders;
    for (const auto& [rel, bytes] : tree.files)
        plan.files.emplace_back(rel, bytes.size());
    for (const auto& [rel, lines] : tree.indexes) {
        std::vector<std::string> writes;
        std::size_t first = 0;
        std::string head;
        while (first < lines.size() && !IsIndexRecord(lines[first]))
            head += lines[first++];
        if (!head.empty())
            writes.push_back(std::move(head));
        for (std::size_t i = first; i < lines.size(); ++i) {
            writes.push_back(lines[i]);
            plan.records += IsIndexRecord(lines[i]) ? 1u : 0u;
        }
        plan.indexes.emplace_back(rel, std::move(writes));
    }
    return plan;
}

namespace {

// The plan file: a signature, then counts and length-prefixed texts, little-endian.
constexpr std::string_view kPlanSignature = "HXFLOOR1";

void putNumber(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putText(std::string& out, std::string_view text) {
    putNumber(out, text.size());
    out.append(text);
}

class PlanReader {
public:
    PlanReader(const std::vector<std::uint8_t>& bytes, fs::path path) : m_bytes(bytes), m_path(std::move(path)) {}

    std::uint64_t number() {
        need(8);
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value |= std::uint64_t{m_bytes[m_at + static_cast<std::size_t>(i)]} << (8 * i);
        m_at += 8;
        return value;
    }
    std::string text() {
        const std::uint64_t size = number();
        need(size);
        std::string out(reinterpret_cast<const char*>(m_bytes.data()) + m_at, static_cast<std::size_t>(size));
        m_at += static_cast<std::size_t>(size);
        return out;
    }
    // A count of entries, each of at least 8 bytes.
    std::size_t count() {
        const std::uint64_t n = number();
        if (n > (m_bytes.size() - m_at) / 8)
            fail(m_path.string() + ": no floor plan (a count beyond its end)");
        return static_cast<std::size_t>(n);
    }
    [[nodiscard]] bool atEnd() const { return m_at == m_bytes.size(); }

private:
    void need(std::uint64_t size) const {
        if (size > m_bytes.size() - m_at)
            fail(m_path.string() + ": no floor plan (cut short)");
    }
    const std::vector<std::uint8_t>& m_bytes;
    fs::path m_path;
    std::size_t m_at = 0;
};

} // namespace

void WritePlanFile(const FloorPlan& plan, const fs::path& path) {
    std::string out(kPlanSignature);
    putNumber(out, plan.records);
    putNumber(out, plan.folders.size());
    for (const fs::path& folder : plan.folders)
        putText(out, folder.string());
    putNumber(out, plan.files.size());
    for (const auto& [rel, size] : plan.files) {
        putText(out, rel.string());
        putNumber(out, size);
    }
    putNumber(out, plan.indexes.size());
    for (const auto& [rel, writes] : plan.indexes) {
        putText(out, rel.string());
        putNumber(out, writes.size());
        for (const std::string& write : writes)
            putText(out, write);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(out.data(), static_cast<std::streamsize>(out.size())).flush())
        fail("cannot write " + path.string());
}

FloorPlan ReadPlanFile(const fs::path& path) {
    auto bytes = ReadWholeFile(path.string(), std::uint64_t{1} << 30);
    if (!bytes)
        fail(bytes.error().message);
    if (bytes->size() < kPlanSignature.size() ||
        std::string_view(reinterpret_cast<const char*>(bytes->data()), kPlanSignature.size()) != kPlanSignature)
        fail(path.string() + ": no floor plan");
    const std::vector<std::uint8_t> body(bytes->begin() + static_cast<std::ptrdiff_t>(kPlanSignature.size()),
                                         bytes->end());
    PlanReader in(body, path);
    FloorPlan plan;
    plan.records = static_cast<std::size_t>(in.number());
    for (std::size_t n = in.count(); n > 0; --n)
        plan.folders.emplace_back(in.text());
    for (std::size_t n = in.count(); n > 0; --n) {
        fs::path rel = in.text();
        plan.files.emplace_back(std::move(rel), in.number());
    }
    for (std::size_t n = in.count(); n > 0; --n) {
        fs::path rel = in.text();
        std::vector<std::string> writes(in.count());
        for (std::string& write : writes)
            write = in.text();
        plan.indexes.emplace_back(std::move(rel), std::move(writes));
    }
    if (!in.atEnd())
        fail(path.string() + ": no floor plan (bytes after its end)");
    return plan;
}

double WriteFewestCallsFloor(const FloorPlan& plan, const fs::path& root) {
    std::uint64_t largest = 0;
    for (const auto& file : plan.files)
        largest = std::max(largest, file.second);
    const std::vector<char> zeros(static_cast<std::size_t>(largest));

    const auto start = Clock::now();
    if (::mkdir(root.c_str(), 0777) != 0)
        fail("cannot create " + root.string() + ": " + std::strerror(errno));
    for (const fs::path& folder : plan.folders) {
        const fs::path path = root / folder;
        if (::mkdir(path.c_str(), 0777) != 0)
            fail("cannot create " + path.string() + ": " + std::strerror(errno));
    }
    std::vector<int> indexes;
    for (const auto& index : plan.indexes) {
        const fs::path path = root / index.first;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("cannot create " + path.string() + ": " + std::strerror(errno));
        indexes.push_back(fd);
    }
    for (const auto& [rel, size] : plan.files) {
        const fs::path path = root / rel;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("cannot create " + path.string() + ": " + std::strerror(errno));
        writeAll(fd, zeros.data(), static_cast<std::size_t>(size), path);
        ::close(fd);
    }
    for (std::size_t i = 0; i < plan.indexes.size(); ++i)
        for (const std::string& write : plan.indexes[i].second)
            writeAll(indexes[i], write.data(), write.size(), root / plan.indexes[i].first);
    for (const int fd : indexes)
        ::close(fd);
    return MillisecondsSince(start);
}

Command FloorCommand(const fs::path& planFile, const fs::path& root) {
    return {fs::read_symlink("/proc/self/exe").string(), kFloorSwitch, planFile.string(), root.string()};
}

int MaybeRunFloor(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], kFloorSwitch) != 0)
        return -1;
    try {
        WriteFewestCallsFloor(ReadPlanFile(argv[2]), argv[3]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "floor: %s\n", e.what());
        return 1;
    }
}

std::optional<SyscallCounts> ParseStraceSummary(std::string_view summary) {
    // Rows: "% time, seconds, usecs/call, calls, [errors], syscall"; errors are left
    // empty where there are none. The totals row names "total".
    SyscallCounts counts;
    bool totals = false;
    std::istringstream lines{std::string(summary)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        if (f.size() < 5 || f.size() > 6)
            continue;
        const auto whole = [](const std::string& text, long& value) {
            char* end = nullptr;
            value = std::strtol(text.c_str(), &end, 10);
            return !text.empty() && *end == '\0' && value >= 0;
        };
        const auto number = [](const std::string& text) {
            char* end = nullptr;
            std::strtod(text.c_str(), &end);
            return !text.empty() && *end == '\0';
        };
        long calls = 0;
        long errors = 0;
        if (!number(f[0]) || !number(f[1]) || !number(f[2]) || !whole(f[3], calls) ||
            (f.size() == 6 && !whole(f[4], errors)))
            continue;
        if (f.back() == "total") {
            counts.calls += calls;
            counts.errors += errors;
            totals = true;
        } else {
            counts.rows.push_back({f.back(), calls, errors});
        }
    }
    if (!totals)
        return std::nullopt;
    return counts;
}

std::optional<SyscallCounts> CountSystemCalls(const std::string& strace, const Command& command,
                                              const fs::path& summaryFile, std::string& why) {
    Command traced{strace, "-c", "-f", "-o", summaryFile.string(), "--"};
    traced.insert(traced.end(), command.begin(), command.end());
    fs::remove(summaryFile);
    const int status = Capture(traced).first;
    std::ifstream in(summaryFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (status != 0) {
        why = command.front() + " ended with status " + std::to_string(status) + " under strace";
        return std::nullopt;
    }
    auto counts = ParseStraceSummary(text.str());
    if (!counts)
        why = "strace wrote no summary into " + summaryFile.string();
    return counts;
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
