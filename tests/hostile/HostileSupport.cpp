#include "tests/hostile/HostileSupport.h"

#include "extract/Destination.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "run/RunBindings.h"
#include "search/SearchCore.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace harvix::hostile {

namespace {

namespace mb = harvix::modbuilder;

constexpr const char* kKindFolders[] = {"Bitmaps", "Icons", "Cursors", "Animated Cursors", "Videos",
                                        "Web pages"};
constexpr std::string_view kRecordCut = " - SOURCE FILE = ";

using harvix::testing::ReadText;

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// Reads one index file: header blocks and records; anything else is a problem. The
// output names of the records are counted into `recorded`.
void ReadIndex(const std::string& indexPath, const std::string& label, DestinationCheck& check,
               std::multiset<std::string>* recorded) {
    const std::string text = ReadText(indexPath);
    if (text.empty()) {
        check.problems.push_back(label + ": empty or missing index file");
        return;
    }
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        check.problems.push_back(label + ": the index does not end with CR LF");
    std::size_t start = 0;
    int lineNo = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        ++lineNo;
        if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) {
            check.problems.push_back(label + ": line " + std::to_string(lineNo) + " holds a bare CR or LF");
            continue;
        }
        if (line.empty() || line.rfind("Search in ", 0) == 0 || line.rfind("File mask: ", 0) == 0)
            continue;
        if (line.rfind("Harvix index file of ", 0) == 0) {
            ++check.headers[label];
            continue;
        }
        const std::size_t cut = line.find(kRecordCut);
        const bool record = cut != std::string::npos && cut > 0 &&
                            line.find(" RESOURCE TYPE = ", cut) != std::string::npos &&
                            line.find(" RESOURCE NAME = ", cut) != std::string::npos;
        if (!record || recorded == nullptr) {
            check.problems.push_back(label + ": line " + std::to_string(lineNo) + " is no header or record: " +
                                     line.substr(0, 120));
            continue;
        }
        recorded->insert(line.substr(0, cut));
    }
}

// Per-size icon folders hold images but never an index.
void CheckIconSizeFolders(const std::string& folder, DestinationCheck& check) {
    for (const std::string& name : Entries(folder)) {
        const std::string path = folder + "/" + name;
        if (name == "__index.txt")
            check.problems.push_back(path + ": an index in a per-size folder");
        else if (IsFolder(path))
            CheckIconSizeFolders(path, check);
    }
}

} // namespace

Scratch::Scratch() {
    char pattern[] = "/tmp/harvix-hostile-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    ::chmod(m_path.c_str(), 0755); // another user may have to pass through
}

Scratch::~Scratch() { RemoveTreeAt(AT_FDCWD, m_path); }

void RemoveTreeAt(int parentFd, const std::string& name) {
    ::fchmodat(parentFd, name.c_str(), 0700, AT_SYMLINK_NOFOLLOW);
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parentFd, name.c_str(), 0);
        return;
    }
    std::vector<std::pair<std::string, bool>> children;
    if (DIR* dir = ::fdopendir(::dup(fd))) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string child = entry->d_name;
            if (child != "." && child != "..")
                children.emplace_back(child, entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN);
        }
        ::closedir(dir);
    }
    for (const auto& [child, maybeFolder] : children) {
        if (maybeFolder)
            RemoveTreeAt(fd, child);
        else
            ::unlinkat(fd, child.c_str(), 0);
    }
    ::close(fd);
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

int DestinationCheck::totalFiles() const {
    int total = 0;
    for (const auto& [folder, n] : files)
        total += n;
    return total;
}

std::string DestinationCheck::describe() const {
    std::string text;
    for (const auto& p : problems)
        text += "  " + p + "\n";
    return text;
}

DestinationCheck CheckDestination(const std::string& destination) {
    DestinationCheck check;
    const std::set<std::string> kindFolders(std::begin(kKindFolders), std::end(kKindFolders));
    ReadIndex(destination + "/__index.txt", "", check, nullptr);
    for (const std::string& name : Entries(destination)) {
        if (name != "__index.txt" && !kindFolders.count(name))
            check.problems.push_back(destination + "/" + name + ": not a kind folder");
    }
    for (const char* kindFolder : kKindFolders) {
        const std::string folder = destination + "/" + kindFolder;
        if (!IsFolder(folder))
            continue;
        std::multiset<std::string> recorded;
        ReadIndex(folder + "/__index.txt", kindFolder, check, &recorded);
        std::multiset<std::string> present;
        for (const std::string& name : Entries(folder)) {
            const std::string path = folder + "/" + name;
            if (name == "__index.txt")
                continue;
            if (IsRegularFile(path))
                present.insert(name); // byte for byte
            else if (IsFolder(path) && std::string(kindFolder) == "Icons")
                CheckIconSizeFolders(path, check);
        }
        check.files[kindFolder] = static_cast<int>(present.size());
        check.records[kindFolder] = static_cast<int>(recorded.size());
        for (const std::string& name : present) {
            const auto times = recorded.count(name);
            const auto files = present.count(name);
            if (times != files)
                check.problems.push_back(std::string(kindFolder) + "/" + name + ": " + std::to_string(files) +
                                         " file(s), " + std::to_string(times) + " record(s)");
        }
        for (const std::string& name : recorded)
            if (!present.count(name))
                check.problems.push_back(std::string(kindFolder) + "/" + name + ": recorded, but no such file");
    }
    // A name found several times is reported several times; once is enough.
    std::vector<std::string> unique;
    std::set<std::string> seen;
    for (auto& p : check.problems)
        if (seen.insert(p).second)
            unique.push_back(std::move(p));
    check.problems = std::move(unique);
    return check;
}

ChildRun RunExtract(const std::vector<std::string>& args, const ChildOptions& options) {
    char outName[] = "/tmp/harvix-hostile-out-XXXXXX";
    char errName[] = "/tmp/harvix-hostile-err-XXXXXX";
    const int outFd = ::mkstemp(outName);
    const int errFd = ::mkstemp(errName);
    std::vector<std::string> argvText{"harvix-cli", "extract"};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = options.environment;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in a quarantine (256 MiB by default), which
    // counts in the child's peak resident size; a small one keeps the peak about the
    // run's own memory, which is what the bound is for.
    const char* asan = std::getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
                          "quarantine_size_mb=16");
#endif

    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        for (std::string& var : environment)
            ::putenv(var.data());
        if (options.runAs) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(*options.runAs) != 0 || ::setuid(*options.runAs) != 0)
                ::_exit(126);
        }
        ::execv(HARVIX_CLI, argv.data());
        ::_exit(127);
    }
    ChildRun run;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() - started > options.limit) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    run.peakRssKiB = usage.ru_maxrss;
    run.out = ReadText(outName);
    run.err = ReadText(errName);
    ::close(outFd);
    ::close(errFd);
    ::unlink(outName);
    ::unlink(errName);
    return run;
}

std::map<std::string, long> PrintedCounts(const std::string& out) {
    std::map<std::string, long> counts;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.rfind(": ");
        if (colon != std::string::npos)
            counts[line.substr(0, colon)] = std::strtol(line.c_str() + colon + 2, nullptr, 10);
    }
    return counts;
}

mb::ModuleBuilder BitmapModule(int bitmaps, std::uint16_t firstId) {
    mb::ModuleBuilder b;
    const auto dib = mb::makeDib(16, 16, 8, mb::pictures::checker(2));
    for (int i = 0; i < bitmaps; ++i)
        b.add(ResId::of(ResType::Bitmap), ResId::number(static_cast<std::uint16_t>(firstId + i)), 0x409, dib);
    return b;
}

void WriteModule(const std::string& path, const mb::ModuleBuilder& builder) {
    if (!mb::writeFile(path, builder.build()))
        throw std::runtime_error("cannot write " + path);
}

long PeakRssBoundKiB() {
#if defined(__SANITIZE_ADDRESS__)
    return 256 * 1024;
#else
    return 64 * 1024;
#endif
}

uid_t UnprivilegedUser() {
    const passwd* nobody = ::getpwnam("nobody");
    return nobody != nullptr ? nobody->pw_uid : 65534;
}

// ---- InProcessRun ---------------------------------------------------------------------

namespace {

// The engine as the run calls it, with a step before each file.
class HookedEngine final : public IExtractEngine {
public:
    HookedEngine(IExtractEngine& inner, InProcessRun& owner) : m_inner(inner), m_owner(owner) {}
    ModuleOutcome ExtractFromFile(const std::string& FileName, IResFoundTarget& target) override {
        m_owner.filesSeen.push_back(FileName);
        if (m_owner.beforeFile)
            m_owner.beforeFile(FileName);
        return m_inner.ExtractFromFile(FileName, target);
    }
    ModuleOutcome Finish() override { return m_inner.Finish(); }
    void Settle() override { m_inner.Settle(); }

private:
    IExtractEngine& m_inner;
    InProcessRun& m_owner;
};

class ZeroClock final : public IRunClock {
public:
    std::uint32_t GetTickCount() override { return 0; }
    void Sleep(std::uint32_t) override {}
};

} // namespace

bool InProcessRun::Run() {
    IFileSystem& fsys = fileSystem != nullptr ? *fileSystem : RealFileSystem();
    if (PrepareDestination(destination, kinds, IndexHeaderInfo{folder, true, mask}, prompt, fsys))
        return false;
    ExtractionOptions options;
    options.kindEnabled = kinds;
    options.destinationFolder = destination + "/";
    // Written directly, not behind the engine: the faults here strike before a given file
    // is extracted, which supposes that what came before is on disk by then (how a write
    // error meets the same question behind the engine is the engine tests' part).
    mResCore engine(options, prompt, fsys, opener);
    HookedEngine hooked(engine, *this);
    cSearchCore core;
    SearchCoreBinding search(core);
    ZeroClock clock;
    SearchRun searchRun(view, prompt, search, hooked, clock);
    searchRun.setPriorityApplier([](std::int16_t) {});
    searchRun.setCloseDelay(0);
    searchRun.Stats().FillStatsList(kinds);
    SearchSettings settings;
    settings.SearchSystem = false;
    settings.Folder = folder;
    settings.SubFolders = true;
    settings.Mask = mask;
    searchRun.StartSearch(settings);
    for (int kind = 0; kind < 6; ++kind)
        counts[kind] = searchRun.Stats().countOf(kind);
    outcome = searchRun.End();
    return true;
}

} // namespace harvix::hostile
