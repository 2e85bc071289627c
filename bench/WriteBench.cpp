// The writer benchmark: the same output files written the way harvix-cli's writer thread
// writes them, one system call after the other, and in batches submitted through io_uring
// (liburing), to see whether batched submission would write an extraction's files faster.
//
// It runs `harvix-cli extract --mask "*"` once over the Wine modules and reads what it
// wrote: the files with their bytes and the index files line by line. Each index line
// that names a file follows that file (a resource's record is appended once its files are
// complete); the lines of an index's header come first. Then, several rounds, each into a
// fresh folder (the folders made before the clock starts), taking turns which goes first:
//   - "calls": for each file an unnamed file opened in its folder (O_TMPFILE), written,
//     linked to its name (linkat with AT_EMPTY_PATH) and closed; for each record the
//     index opened for appending, written and closed: the writer thread's calls;
//   - "opener": the same, but the unnamed files are opened on a second thread, up to 32
//     ahead of the one being written (creating a file is most of its cost);
//   - "io_uring": the same operations in batches of about --batch resources: the unnamed
//     files of a batch opened in one submission, then the writes, links, closes and the
//     records' opens (into a registered file slot), writes and closes as one chain of
//     linked requests, so that they happen in the order of the run and the first that
//     fails cancels every one after it, as the writer stops at the first error.
// Every written tree is compared with the extraction's, byte for byte. With --cold the
// page cache is dropped before every round. It prints the medians of wall and processor
// time (the processor time includes the kernel's io_uring workers, threads of this
// process) and their ratios.
//
//     harvix-write-bench [--runs N] [--batch N] [--wine DIR] [--work DIR] [--cli PATH]
//                        [--cold] [--keep]
#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#ifdef HARVIX_HAVE_LIBURING
#include <liburing.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace harvix::bench;

const char* const kUsage =
    "usage: harvix-write-bench [--runs N] [--batch N] [--wine DIR] [--work DIR] [--cli PATH]\n"
    "                          [--cold] [--keep]\n";

struct Options : WineBenchOptions {
    Options() : WineBenchOptions(0, "/tmp/harvix-write-bench", HARVIX_CLI_PATH) { runs = 11; }
    std::size_t batch = 16;
    bool cold = false;
};

// One step of the replay: a file, or a record appended to an index.
struct Step {
    std::size_t file = 0;    // into Replay::files, when not a record
    bool record = false;
    std::size_t index = 0;   // into Replay::indexes
    std::string text;        // the record's lines
};

struct Replay {
    std::vector<fs::path> folders;
    std::vector<std::pair<fs::path, std::vector<std::uint8_t>>> files;
    std::vector<fs::path> indexes;
    // Resources in the order of the run: each ends with its record.
    std::vector<std::vector<Step>> resources;
};

// The paths of one round, made before the clock starts (the engine hands them over made).
struct RoundPaths {
    std::vector<std::string> folderOf; // by file
    std::vector<std::string> file;     // by file
    std::vector<std::string> index;    // by index
};

Replay MakeReplay(OutputTree tree) {
    Replay replay;
    replay.folders = std::move(tree.folders);
    std::sort(tree.files.begin(), tree.files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::map<fs::path, std::size_t> byPath;
    for (std::size_t i = 0; i < tree.files.size(); ++i)
        byPath.emplace(tree.files[i].first, i);
    replay.files = std::move(tree.files);

    // Index by index: its header, then each record after the file it names; a line that
    // names no file goes with the text before it, so every index gets its bytes in order.
    // The headers come first, as one resource.
    replay.resources.emplace_back();
    std::vector<bool> named(replay.files.size(), false);
    for (auto& [indexPath, lines] : tree.indexes) {
        const std::size_t index = replay.indexes.size();
        replay.indexes.push_back(indexPath);
        Step header{0, true, index, {}};
        std::optional<std::size_t> last; // the resource of this index's last record
        for (std::string& line : lines) {
            const std::size_t dash = line.find(" - ");
            const auto file = dash == std::string::npos
                                  ? byPath.end()
                                  : byPath.find(indexPath.parent_path() / line.substr(0, dash));
            if (file == byPath.end() || named[file->second]) {
                (last ? replay.resources[*last].back() : header).text += line;
                continue;
            }
            named[file->second] = true;
            replay.resources.push_back({Step{file->second, false, 0, {}}, Step{0, true, index, std::move(line)}});
            last = replay.resources.size() - 1;
        }
        if (!header.text.empty())
            replay.resources.front().push_back(std::move(header));
    }
    // The files no record names (an icon group's per-size files) go with the resources,
    // spread evenly, each before its resource's record.
    const std::size_t resources = replay.resources.size() - 1;
    std::size_t looseCount = 0;
    for (std::size_t file = 0; file < replay.files.size(); ++file)
        looseCount += named[file] ? 0U : 1U;
    std::size_t loose = 0;
    for (std::size_t file = 0; file < replay.files.size(); ++file) {
        if (named[file])
            continue;
        auto& resource = resources == 0 ? replay.resources.front()
                                        : replay.resources[1 + loose * resources / looseCount];
        resource.insert(resource.end() - (resources == 0 ? 0 : 1), Step{file, false, 0, {}});
        ++loose;
    }
    return replay;
}

RoundPaths MakeRound(const Replay& replay, const fs::path& root) {
    if (::mkdir(root.c_str(), 0777) != 0)
        throw std::runtime_error("cannot create " + root.string() + ": " + std::strerror(errno));
    for (const fs::path& folder : replay.folders)
        if (::mkdir((root / folder).c_str(), 0777) != 0)
            throw std::runtime_error("cannot create " + (root / folder).string() + ": " +
                                     std::strerror(errno));
    RoundPaths paths;
    for (const auto& [rel, bytes] : replay.files) {
        paths.file.push_back((root / rel).string());
        paths.folderOf.push_back((root / rel).parent_path().string());
    }
    for (const fs::path& rel : replay.indexes)
        paths.index.push_back((root / rel).string());
    return paths;
}

[[noreturn]] void Failed(const char* what, const std::string& path, int code) {
    throw std::runtime_error(std::string(what) + " " + path + ": " + std::strerror(code));
}

// Opens the unnamed files of a round, in the order of the run, on a thread of its own, at
// most `ahead` before the one being written: no name is taken before the link, so only
// the time of the opens changes.
class OpenAhead {
public:
    OpenAhead(const Replay& replay, const RoundPaths& paths, std::size_t ahead) {
        for (const auto& resource : replay.resources)
            for (const Step& step : resource)
                if (!step.record)
                    m_folders.push_back(&paths.folderOf[step.file]);
        m_thread = std::thread([this, ahead] {
            for (const std::string* folder : m_folders) {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [&] { return m_opened.size() < ahead || m_ending; });
                if (m_ending)
                    return;
                lock.unlock();
                const int fd = ::open(folder->c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
                const int code = fd < 0 ? errno : 0;
                lock.lock();
                m_opened.emplace_back(fd, code);
                m_ready.notify_one();
            }
        });
    }
    ~OpenAhead() {
        {
            std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_room.notify_one();
        m_thread.join();
        for (const auto& [fd, code] : m_opened)
            if (fd >= 0)
                ::close(fd);
    }
    OpenAhead(const OpenAhead&) = delete;
    OpenAhead& operator=(const OpenAhead&) = delete;

    // The next file's descriptor, or -1 with errno set.
    int Next() {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [&] { return !m_opened.empty(); });
        const auto [fd, code] = m_opened.front();
        m_opened.pop_front();
        m_room.notify_one();
        errno = code;
        return fd;
    }

private:
    std::vector<const std::string*> m_folders;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::deque<std::pair<int, int>> m_opened; // descriptor, errno
    bool m_ending = false;
    std::thread m_thread;
};

// The writer thread's calls, one after the other; with `ahead`, the unnamed files are
// opened by a second thread.
void WriteWithCalls(const Replay& replay, const RoundPaths& paths, OpenAhead* ahead = nullptr) {
    for (const auto& resource : replay.resources) {
        for (const Step& step : resource) {
            if (step.record) {
                const std::string& path = paths.index[step.index];
                const int fd = ::open(path.c_str(),
                                      O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0666);
                if (fd < 0)
                    Failed("open", path, errno);
                if (::write(fd, step.text.data(), step.text.size()) !=
                    static_cast<ssize_t>(step.text.size()))
                    Failed("write", path, errno);
                ::close(fd);
                continue;
            }
            const auto& bytes = replay.files[step.file].second;
            const int fd = ahead != nullptr
                               ? ahead->Next()
                               : ::open(paths.folderOf[step.file].c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            if (fd < 0)
                Failed("open", paths.folderOf[step.file], errno);
            iovec piece{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
            if (::writev(fd, &piece, 1) != static_cast<ssize_t>(bytes.size()))
                Failed("write", paths.file[step.file], errno);
            if (::linkat(fd, "", AT_FDCWD, paths.file[step.file].c_str(), AT_EMPTY_PATH) != 0)
                Failed("link", paths.file[step.file], errno);
            ::close(fd);
        }
    }
}

#ifdef HARVIX_HAVE_LIBURING

constexpr unsigned kRingEntries = 512;

class Ring {
public:
    Ring() {
        if (const int rc = io_uring_queue_init(kRingEntries, &m_ring, 0); rc < 0)
            m_error = -rc;
        else if (const int reg = io_uring_register_files_sparse(&m_ring, 1); reg < 0)
            m_error = -reg;
    }
    ~Ring() {
        if (m_error == 0 || m_ring.ring_fd > 0)
            io_uring_queue_exit(&m_ring);
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;
    [[nodiscard]] int error() const { return m_error; }
    io_uring* get() { return &m_ring; }

private:
    io_uring m_ring{};
    int m_error = 0;
};

io_uring_sqe* NextSqe(io_uring* ring) {
    io_uring_sqe* sqe = io_uring_get_sqe(ring);
    if (sqe == nullptr)
        throw std::runtime_error("io_uring: submission queue full");
    return sqe;
}

// Submits what is queued and takes `count` completions; the first failure is thrown
// (a request cancelled because one before it in its chain failed says nothing more).
void SubmitAndReap(io_uring* ring, unsigned count, const std::vector<std::string>& what,
                   std::vector<int>* results = nullptr) {
    if (const int rc = io_uring_submit_and_wait(ring, count); rc < 0)
        Failed("io_uring_submit", "", -rc);
    int firstError = 0;
    std::string firstWhat;
    for (unsigned done = 0; done < count; ++done) {
        io_uring_cqe* cqe = nullptr;
        if (const int rc = io_uring_wait_cqe(ring, &cqe); rc < 0)
            Failed("io_uring_wait_cqe", "", -rc);
        const auto slot = static_cast<std::size_t>(cqe->user_data);
        if (cqe->res < 0 && cqe->res != -ECANCELED && firstError == 0) {
            firstError = -cqe->res;
            firstWhat = what[slot];
        }
        if (results != nullptr)
            (*results)[slot] = cqe->res;
        io_uring_cqe_seen(ring, cqe);
    }
    if (firstError != 0)
        Failed("io_uring:", firstWhat, firstError);
}

// The same operations, submitted in batches through io_uring.
void WriteWithRing(io_uring* ring, const Replay& replay, const RoundPaths& paths, std::size_t batch) {
    std::vector<std::string> what;
    std::vector<int> fds;
    std::vector<std::size_t> files; // of the batch
    std::size_t first = 0;
    while (first < replay.resources.size()) {
        // A batch: up to `batch` resources, within the ring (three requests a step).
        std::size_t end = first;
        std::size_t requests = 0;
        while (end < replay.resources.size() && end - first < batch &&
               requests + 3 * replay.resources[end].size() <= kRingEntries) {
            requests += 3 * replay.resources[end].size();
            ++end;
        }
        if (end == first)
            throw std::runtime_error("a resource with more steps than the ring holds");
        // The unnamed files, opened at once: no name is taken yet, so their order does not
        // matter.
        files.clear();
        what.clear();
        for (std::size_t r = first; r < end; ++r)
            for (const Step& step : replay.resources[r])
                if (!step.record) {
                    io_uring_sqe* open = NextSqe(ring);
                    io_uring_prep_openat(open, AT_FDCWD, paths.folderOf[step.file].c_str(),
                                         O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
                    io_uring_sqe_set_data64(open, files.size());
                    what.push_back(paths.folderOf[step.file]);
                    files.push_back(step.file);
                }
        fds.assign(files.size(), -1);
        if (!files.empty())
            SubmitAndReap(ring, static_cast<unsigned>(files.size()), what, &fds);
        // Then one chain in the order of the run.
        what.clear();
        unsigned chained = 0;
        io_uring_sqe* last = nullptr;
        auto add = [&](io_uring_sqe* sqe, const std::string& path) {
            io_uring_sqe_set_data64(sqe, what.size());
            what.push_back(path);
            sqe->flags |= IOSQE_IO_LINK;
            last = sqe;
            ++chained;
        };
        std::size_t nextFile = 0;
        for (std::size_t r = first; r < end; ++r)
            for (const Step& step : replay.resources[r]) {
                if (step.record) {
                    const std::string& path = paths.index[step.index];
                    io_uring_sqe* open = NextSqe(ring);
                    io_uring_prep_openat_direct(open, AT_FDCWD, path.c_str(),
                                                O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW,
                                                0666, 0);
                    add(open, path);
                    io_uring_sqe* write = NextSqe(ring);
                    io_uring_prep_write(write, 0, step.text.data(), static_cast<unsigned>(step.text.size()), 0);
                    write->flags |= IOSQE_FIXED_FILE;
                    add(write, path);
                    io_uring_sqe* close = NextSqe(ring);
                    io_uring_prep_close_direct(close, 0);
                    add(close, path);
                    continue;
                }
                const int fd = fds[nextFile++];
                const auto& bytes = replay.files[step.file].second;
                const std::string& path = paths.file[step.file];
                io_uring_sqe* write = NextSqe(ring);
                io_uring_prep_write(write, fd, bytes.data(), static_cast<unsigned>(bytes.size()), 0);
                add(write, path);
                io_uring_sqe* link = NextSqe(ring);
                io_uring_prep_linkat(link, fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
                add(link, path);
                io_uring_sqe* close = NextSqe(ring);
                io_uring_prep_close(close, fd);
                add(close, path);
            }
        if (last != nullptr)
            last->flags &= static_cast<unsigned char>(~IOSQE_IO_LINK);
        SubmitAndReap(ring, chained, what);
        first = end;
    }
}

#endif // HARVIX_HAVE_LIBURING

// Whether two trees hold the same folders and files with the same bytes.
bool SameTree(const fs::path& a, const fs::path& b) {
    OutputTree x = ReadTree(a, "");
    OutputTree y = ReadTree(b, "");
    auto byName = [](const auto& p, const auto& q) { return p.first < q.first; };
    std::sort(x.files.begin(), x.files.end(), byName);
    std::sort(y.files.begin(), y.files.end(), byName);
    std::sort(x.folders.begin(), x.folders.end());
    std::sort(y.folders.begin(), y.folders.end());
    return x.folders == y.folders && x.files == y.files;
}

struct Method {
    const char* name;
    std::vector<double> ms, cpuMs;
};

} // namespace

static int run(int argc, char** argv) {
    Options o;
    ArgReader args("harvix-write-bench", kUsage, argc, argv);
    while (args.next())
        if (!o.take(args) && !args.take("--batch", o.batch) && !args.flag("--cold", o.cold))
            args.unknown();

    // ext4 without a journal passes over the inodes of files deleted in the last half
    // minute when it makes new ones: after clearing an earlier run, wait for them to age.
    if (fs::remove_all(o.work) > 1000) {
        std::printf("Waiting 40 s after deleting the outputs of an earlier run...\n");
        std::fflush(stdout);
        ::sleep(40);
    }
    fs::create_directories(o.work);
    const fs::path reference = o.work / "reference";
    const auto [status, out] =
        Capture({o.cli, "extract", "--mask", "*", "--dest", reference.string(), o.wine.string()});
    if (status != 0)
        throw std::runtime_error(o.cli + " extract ended with status " + std::to_string(status));
    const Replay replay = MakeReplay(ReadTree(reference));
    std::size_t records = 0;
    for (const auto& resource : replay.resources)
        records += static_cast<std::size_t>(
            std::count_if(resource.begin(), resource.end(), [](const Step& s) { return s.record; }));

    std::vector<Method> methods{{"calls", {}, {}}, {"opener", {}, {}}};
#ifdef HARVIX_HAVE_LIBURING
    Ring ring;
    if (ring.error() == 0)
        methods.push_back({"io_uring", {}, {}});
    else
        std::printf("io_uring: not available here (%s); io_uring is left out\n",
                    std::strerror(ring.error()));
#else
    std::printf("io_uring: built without liburing; io_uring is left out\n");
#endif

    std::printf("%zu files, %zu records in %zu resources, %zu folders; %d rounds, %s, batches of %zu resources\n",
                replay.files.size(), records, replay.resources.size(), replay.folders.size(), o.runs,
                o.cold ? "cold (page cache dropped before each round)" : "warm", o.batch);
    for (int round = 0; round < o.runs; ++round) {
        for (std::size_t turn = 0; turn < methods.size(); ++turn) {
            Method& method = methods[(turn + static_cast<std::size_t>(round)) % methods.size()];
            const fs::path dest = o.work / (std::string(method.name) + "-" + std::to_string(round));
            const RoundPaths paths = MakeRound(replay, dest);
            std::string why;
            if (o.cold && !DropCaches(why))
                throw std::runtime_error("cannot drop the page cache: " + why);
            const double cpuBefore = CpuMillisecondsOfThisProcess();
            const auto start = Clock::now();
            if (std::string(method.name) == "calls") {
                WriteWithCalls(replay, paths);
            } else if (std::string(method.name) == "opener") {
                OpenAhead ahead(replay, paths, 32);
                WriteWithCalls(replay, paths, &ahead);
            }
#ifdef HARVIX_HAVE_LIBURING
            else
                WriteWithRing(ring.get(), replay, paths, o.batch);
#endif
            method.ms.push_back(MillisecondsSince(start));
            method.cpuMs.push_back(CpuMillisecondsOfThisProcess() - cpuBefore);
            if (round == 0 && !SameTree(reference, dest))
                throw std::runtime_error(std::string(method.name) + " wrote a tree that differs from " +
                                         reference.string());
        }
    }
    std::printf("%-10s %10s %10s %10s %10s\n", "method", "median ms", "CPU ms", "us/file", "x calls");
    const double callsMs = Median(methods[0].ms);
    for (const Method& method : methods) {
        const double ms = Median(method.ms);
        std::printf("%-10s %10.1f %10.1f %10.2f %10.2f\n", method.name, ms, Median(method.cpuMs),
                    1000.0 * ms / static_cast<double>(replay.files.size()), ms / callsMs);
    }
    std::printf("load average %.1f\n", LoadAverage());
    if (!o.keep)
        fs::remove_all(o.work);
    return 0;
}

int main(int argc, char** argv) {
    return BenchMain("harvix-write-bench", argc, argv, run);
}
