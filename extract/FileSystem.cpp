#include "extract/FileSystem.h"

#include "common/Paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace harvix {

Error IoError(int code, const std::string& path) {
    const ErrorKind kind = code == ENOSPC || code == EDQUOT ? ErrorKind::DiskFull : ErrorKind::Io;
    return makeError(kind, path + ": " + std::strerror(code), code);
}

namespace {

// Writes every byte of the pieces, resuming after short writes and interruptions.
// `written`, when given, receives how many bytes reached the file, also on a failure.
Status WriteFully(int fd, std::span<const Bytes> pieces, const std::string& path,
                  std::uint64_t* written = nullptr) {
    std::vector<iovec> vec;
    vec.reserve(pieces.size());
    for (Bytes piece : pieces)
        if (!piece.empty())
            vec.push_back(iovec{const_cast<std::uint8_t*>(piece.data()), piece.size()});
    std::size_t first = 0;
    std::uint64_t total = 0;
    if (written != nullptr)
        *written = 0;
    while (first < vec.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(vec.size() - first, IOV_MAX));
        const ssize_t done = ::writev(fd, vec.data() + first, count);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return IoError(errno, path);
        }
        if (done == 0) // nothing taken and no reason given: the device is full
            return IoError(ENOSPC, path);
        total += static_cast<std::uint64_t>(done);
        if (written != nullptr)
            *written = total;
        auto left = static_cast<std::size_t>(done);
        while (first < vec.size() && left >= vec[first].iov_len) {
            left -= vec[first].iov_len;
            ++first;
        }
        if (left > 0) {
            vec[first].iov_base = static_cast<std::uint8_t*>(vec[first].iov_base) + left;
            vec[first].iov_len -= left;
        }
    }
    return success();
}

// Closes a descriptor when it goes out of scope.
class FdCloser {
public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    [[nodiscard]] int get() const { return m_fd; }
    // Closes now; false (errno set) when close reports an error. EINTR leaves nothing to
    // retry on Linux: the descriptor is released either way.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0 || errno == EINTR;
    }

private:
    int m_fd;
};

// Linking an unnamed file to a name takes one of two ways. linkat with AT_EMPTY_PATH
// links the descriptor itself, without a path lookup; the system permits it to a
// process with the privilege to read any file and, since Linux 6.10, for a file the
// process opened itself, and refuses it otherwise as if the file were missing. The
// other way links the file's entry in /proc/self/fd. The first is tried until it is
// refused once; without /proc the hidden temporary names are used instead.
bool ProcFdUsable() {
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

std::atomic<bool> g_emptyPathRefused{false};

// Links the unnamed file `fd` to `path`; false with errno set on a failure.
bool LinkDescriptor(int fd, const char* path) {
    if (!g_emptyPathRefused.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0)
            return true;
        // A refusal looks like a missing folder: the other way tells them apart.
        if (errno != ENOENT)
            return false;
    }
    char fdPath[40];
    std::snprintf(fdPath, sizeof fdPath, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, fdPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW) != 0)
        return false;
    g_emptyPathRefused.store(true, std::memory_order_relaxed);
    return true;
}

// A temporary name no other file of this or another process has: the process id, then
// a number that is random at the start of the process and counts up.
std::string UnfinishedName() {
    static std::atomic<std::uint64_t> next{[] {
        std::random_device random;
        return (std::uint64_t{random()} << 32) ^ random();
    }()};
    const std::uint64_t number = next.fetch_add(1, std::memory_order_relaxed);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(number));
    std::string name(kUnfinishedPrefix);
    name += std::to_string(::getpid());
    name += '-';
    name += hex;
    name += kUnfinishedSuffix;
    return name;
}

// A new file: written under no name (an O_TMPFILE file) or a hidden temporary name, and
// given its final name by Close, never replacing what is there.
class NewOutputFile final : public IOutputFile {
public:
    // `tempPath` empty: the file is unnamed.
    NewOutputFile(int fd, std::string path, std::string tempPath)
        : m_fd(fd), m_path(std::move(path)), m_tempPath(std::move(tempPath)) {}
    ~NewOutputFile() override {
        // Never completed: an unnamed file vanishes with its descriptor; a temporary
        // name is removed.
        if (m_fd.get() >= 0 && !m_tempPath.empty())
            ::unlink(m_tempPath.c_str());
    }
    NewOutputFile(const NewOutputFile&) = delete;
    NewOutputFile& operator=(const NewOutputFile&) = delete;

    Status WritePieces(std::span<const Bytes> pieces) override {
        if (m_fd.get() < 0)
            return IoError(EBADF, m_path);
        return WriteFully(m_fd.get(), pieces, m_path);
    }

    Status Close() override {
        if (m_fd.get() < 0)
            return success();
        return m_tempPath.empty() ? LinkUnnamed() : RenameTemporary();
    }

private:
    Status LinkUnnamed() {
        if (!LinkDescriptor(m_fd.get(), m_path.c_str())) {
            const int code = errno;
            m_fd.close();
            return IoError(code, m_path);
        }
        if (!m_fd.close()) {
            // The system could not confirm the bytes (a network file system, say): the
            // name must not hold a file that may be cut.
            const int code = errno;
            ::unlink(m_path.c_str());
            return IoError(code, m_path);
        }
        return success();
    }

    Status RenameTemporary() {
        if (!m_fd.close())
            return Abandon(errno);
        if (::renameat2(AT_FDCWD, m_tempPath.c_str(), AT_FDCWD, m_path.c_str(),
                        RENAME_NOREPLACE) == 0)
            return success();
        const int code = errno;
        if (code != EINVAL && code != ENOSYS)
            return Abandon(code);
        // A file system or kernel without that flag: a second link to the file does not
        // replace anything either, and the temporary name goes afterwards.
        if (::link(m_tempPath.c_str(), m_path.c_str()) != 0)
            return Abandon(errno);
        ::unlink(m_tempPath.c_str());
        return success();
    }

    Status Abandon(int code) {
        ::unlink(m_tempPath.c_str());
        return IoError(code, m_path);
    }

    FdCloser m_fd;
    std::string m_path;
    std::string m_tempPath;
};

// Whether the process that left an unfinished file is still running (then the file is
// in flight). A process of another user counts as running.
bool ProcessRunning(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// Removes the unfinished files of processes that ended in the open folder `fd` and, down
// to `levels` more levels, in the folders below it (links are not followed); closes `fd`.
void RemoveUnfinishedAt(int fd, int levels) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> folders;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (const auto owner = UnfinishedFileOwner(name)) {
            if (!ProcessRunning(*owner))
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
            continue;
        }
        if (levels > 0 && (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN))
            folders.emplace_back(name);
    }
    for (const std::string& name : folders) {
        const int sub =
            ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0)
            RemoveUnfinishedAt(sub, levels - 1);
    }
    ::closedir(dir);
}

class PosixFileSystem final : public IFileSystem {
public:
    explicit PosixFileSystem(NewFileMethod method) : m_method(method) {}

    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override {
        const std::string folder = FolderPart(path);
        if (m_method == NewFileMethod::Unnamed && ProcFdUsable()) {
            const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            if (fd >= 0)
                return std::unique_ptr<IOutputFile>(std::make_unique<NewOutputFile>(fd, path, ""));
            // Only a file system (or kernel) that can't make unnamed files is worked
            // around; every other refusal is the folder's and is reported.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return IoError(errno, path);
        }
        for (int attempt = 0; attempt < 64; ++attempt) {
            std::string temp = folder + "/" + UnfinishedName();
            const int fd =
                ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0)
                return std::unique_ptr<IOutputFile>(
                    std::make_unique<NewOutputFile>(fd, path, std::move(temp)));
            if (errno != EEXIST)
                return IoError(errno, path);
        }
        return IoError(EEXIST, path);
    }

    Status Append(const std::string& path, std::string_view text) override {
        // No link is followed, so a link planted at an index path can't redirect records.
        FdCloser fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0)
            return IoError(errno, path);
        const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
        const Bytes piece(data, text.size());
        std::uint64_t reached = 0;
        if (auto written = WriteFully(fd.get(), std::span<const Bytes>(&piece, 1), path, &reached);
            !written) {
            // A full disk in the middle of the text: what reached the file is cut off
            // again, so that the file holds whole lines only and a retry starts clean.
            // Appended text ends the file, so it began that many bytes before its end
            // (the size is looked up only here, not for every record). Should the cut
            // fail as well, the write's error is still the one to report (the result is
            // looked at: fortified builds refuse to ignore it).
            struct stat after {};
            if (reached > 0 && ::fstat(fd.get(), &after) == 0 &&
                static_cast<std::uint64_t>(after.st_size) >= reached)
                if (::ftruncate(fd.get(), static_cast<off_t>(static_cast<std::uint64_t>(after.st_size) - reached)) != 0) {
                }
            return written;
        }
        if (!fd.close())
            return IoError(errno, path);
        return success();
    }

    Status RemoveUnfinishedFiles(const std::string& folder, int levels) override {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? success() : Status(IoError(errno, folder));
        RemoveUnfinishedAt(fd, levels);
        return success();
    }

    Status Remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0)
            return IoError(errno, path);
        return success();
    }

    bool Exists(const std::string& path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    bool IsDirectory(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    Status MakeDirectory(const std::string& path) override {
        if (::mkdir(path.c_str(), 0777) != 0)
            return IoError(errno, path);
        return success();
    }

    Status MakeDirectories(const std::string& path) override {
        if (IsDirectory(path))
            return success();
        // Every prefix that ends before a "/", then the whole path.
        for (std::size_t end = 1; end <= path.size(); ++end) {
            if (end < path.size() && path[end] != '/')
                continue;
            const std::string prefix = path.substr(0, end);
            if (prefix.empty() || prefix.back() == '/')
                continue;
            if (::mkdir(prefix.c_str(), 0777) == 0)
                continue;
            const int code = errno;
            if (code == EEXIST && IsDirectory(prefix))
                continue;
            return IoError(code, prefix);
        }
        return success();
    }

private:
    NewFileMethod m_method;
};

} // namespace

std::string FailedPathOf(const Error& error, const std::string& fallback) {
    if ((error.kind != ErrorKind::Io && error.kind != ErrorKind::DiskFull) || error.code == 0)
        return fallback;
    const std::string tail = std::string(": ") + std::strerror(error.code);
    if (error.message.size() <= tail.size() || !error.message.ends_with(tail))
        return fallback;
    return error.message.substr(0, error.message.size() - tail.size());
}

IFileSystem& RealFileSystem() {
    static PosixFileSystem fs(NewFileMethod::Unnamed);
    return fs;
}

std::unique_ptr<IFileSystem> NewPosixFileSystem(NewFileMethod method) {
    return std::make_unique<PosixFileSystem>(method);
}

std::optional<long> UnfinishedFileOwner(std::string_view fileName) {
    if (!fileName.starts_with(kUnfinishedPrefix) || !fileName.ends_with(kUnfinishedSuffix))
        return std::nullopt;
    fileName.remove_prefix(kUnfinishedPrefix.size());
    fileName.remove_suffix(kUnfinishedSuffix.size());
    // The process id, "-", 16 hexadecimal digits.
    const auto dash = fileName.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 10 ||
        fileName.size() - dash - 1 != 16)
        return std::nullopt;
    long pid = 0;
    for (char c : fileName.substr(0, dash)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    for (char c : fileName.substr(dash + 1))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
    if (pid <= 0)
        return std::nullopt;
    return pid;
}

int RuntimeErrorNumber(int errnoValue) {
    switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
        return kErrDiskFull;
    case ENOENT:
    case ENOTDIR:
        return kErrPathNotFound;
    case EEXIST:
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return kErrPathFileAccess;
    default:
        return 1000 + errnoValue;
    }
}

int RuntimeErrorNumber(const Error& error) {
    if ((error.kind == ErrorKind::Io || error.kind == ErrorKind::DiskFull) && error.code != 0)
        return RuntimeErrorNumber(error.code);
    return 1000; // a failure without an errno: still an error, of no known class
}

} // namespace harvix
