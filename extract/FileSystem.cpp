#include "extract/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace harvix {

namespace {

Error IoError(int code, const std::string& path) {
    return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
}

// Writes every byte of the pieces, resuming after short writes and interruptions.
Status WriteFully(int fd, std::span<const Bytes> pieces, const std::string& path) {
    std::vector<iovec> vec;
    vec.reserve(pieces.size());
    for (Bytes piece : pieces)
        if (!piece.empty())
            vec.push_back(iovec{const_cast<std::uint8_t*>(piece.data()), piece.size()});
    std::size_t first = 0;
    while (first < vec.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(vec.size() - first, IOV_MAX));
        const ssize_t written = ::writev(fd, vec.data() + first, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return IoError(errno, path);
        }
        if (written == 0) // nothing taken and no reason given: the device is full
            return IoError(ENOSPC, path);
        auto left = static_cast<std::size_t>(written);
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

class PosixOutputFile final : public IOutputFile {
public:
    PosixOutputFile(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    ~PosixOutputFile() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PosixOutputFile(const PosixOutputFile&) = delete;
    PosixOutputFile& operator=(const PosixOutputFile&) = delete;

    Status WritePieces(std::span<const Bytes> pieces) override {
        if (m_fd < 0)
            return IoError(EBADF, m_path);
        return WriteFully(m_fd, pieces, m_path);
    }

    Status Close() override {
        if (m_fd < 0)
            return success();
        const int fd = m_fd;
        m_fd = -1;
        // The descriptor is released even when close reports an error; EINTR leaves
        // nothing to retry on Linux.
        if (::close(fd) != 0 && errno != EINTR)
            return IoError(errno, m_path);
        return success();
    }

private:
    int m_fd;
    std::string m_path;
};

class PosixFileSystem final : public IFileSystem {
public:
    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            return IoError(errno, path);
        return std::unique_ptr<IOutputFile>(std::make_unique<PosixOutputFile>(fd, path));
    }

    Status Append(const std::string& path, std::string_view text) override {
        // No link is followed, so a link planted at an index path can't redirect records.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            return IoError(errno, path);
        PosixOutputFile file(fd, path);
        const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
        if (auto written = file.Write({Bytes(data, text.size())}); !written)
            return written;
        return file.Close();
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
};

} // namespace

IFileSystem& RealFileSystem() {
    static PosixFileSystem fs;
    return fs;
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
    if (error.kind == ErrorKind::Io && error.code != 0)
        return RuntimeErrorNumber(error.code);
    return 1000; // a failure without an errno: still an error, of no known class
}

} // namespace harvix
