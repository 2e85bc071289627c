// Opening a module file: only regular files, never blocking. A small file is read whole;
// of a larger one only the headers and the resource section are read, and a file whose
// resource section is large (or whose resources lie elsewhere too) is mapped read-only,
// so that only the pages the reader touches are ever read into memory.
#include "PeModule.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace harvix {

namespace {

// A read-only mapping of a whole file, unmapped when the last module using it goes.
class Mapping {
public:
    Mapping(void* address, std::size_t size) : m_address(address), m_size(size) {}
    ~Mapping() { ::munmap(m_address, m_size); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    [[nodiscard]] std::span<const std::uint8_t> bytes() const {
        return {static_cast<const std::uint8_t*>(m_address), m_size};
    }

private:
    void* m_address;
    std::size_t m_size;
};

// Up to this size a file is read whole. Mapping costs page faults and, on unmapping, a
// flush of the processor's address translations, which is dear on virtual machines;
// reading a small file costs less than that (an extraction over many small modules ran
// about a sixth faster), and the copy stays small.
constexpr std::size_t kReadWholeLimit = 256 * 1024;

// A larger file is read in two parts when its resource section is at most this large:
// the first bytes, which hold the headers, and the section.
constexpr std::size_t kHeaderBytes = 4096;
constexpr std::uint64_t kReadSectionLimit = 256 * 1024;

// Reads up to `size` bytes from `offset` on. A file that shrank meanwhile gives fewer
// bytes; one that grew gives the first `size`.
Result<std::vector<std::uint8_t>> readAt(int fd, std::uint64_t offset, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n =
            ::pread(fd, bytes.data() + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return makeError(ErrorKind::NotLoadable, std::strerror(errno), errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

// The headers and the resource section of a file read in parts.
struct FileParts {
    std::vector<std::uint8_t> headers;
    std::vector<std::uint8_t> section;
};

// Reads a larger file in parts. Nothing when it has to be mapped instead: the headers
// reach past the first part, the resource section is large, the file changed size while
// read, or some resource's data lies outside the section. A file that is no module is
// left to the mapping too, which gives the reason.
std::unique_ptr<PeModule> readInParts(int fd, std::size_t size) {
    auto headers = readAt(fd, 0, std::min(size, kHeaderBytes));
    if (!headers)
        return nullptr;
    auto probe = PeModule::parseParts(*headers, {}, 0, size, nullptr);
    if (!probe)
        return nullptr;
    const auto range = (*probe)->resourceSectionRange();
    if (!range)
        return std::move(probe).value(); // a module without resources
    if (range->second > kReadSectionLimit)
        return nullptr;
    auto section = readAt(fd, range->first, static_cast<std::size_t>(range->second));
    if (!section || section->size() != range->second)
        return nullptr;
    auto parts = std::make_shared<FileParts>(
        FileParts{std::move(headers).value(), std::move(section).value()});
    auto module = PeModule::parseParts(parts->headers, parts->section, range->first, size, parts);
    if (!module || !(*module)->allDataReadable())
        return nullptr;
    return std::move(module).value();
}

// Opens a path too long for the system's path calls (the search reaches such files by
// going down folder by folder) the same way: one folder at a time, each relative to the
// one before. Returns -1 with errno set when a step fails.
int openBeyondPathMax(const std::string& path, int flags) {
    const bool absolute = !path.empty() && path.front() == '/';
    int dir = ::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t pos = absolute ? 1 : 0;
    while (dir >= 0) {
        const std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) {
            const int fd = ::openat(dir, path.c_str() + pos, flags);
            const int code = errno;
            ::close(dir);
            errno = code;
            return fd;
        }
        if (slash > pos) {
            const std::string folder = path.substr(pos, slash - pos);
            const int next = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const int code = errno;
            ::close(dir);
            errno = code;
            dir = next;
        }
        pos = slash + 1;
    }
    return -1;
}

Error cannotOpen(const std::string& path, const std::string& why, int code = 0) {
    return makeError(ErrorKind::NotLoadable, path + ": " + why, code);
}

} // namespace

Result<std::unique_ptr<IResourceModule>> OpenModule(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENAMETOOLONG)
        fd = openBeyondPathMax(path, kFlags);
    if (fd < 0)
        return cannotOpen(path, std::strerror(errno), errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return cannotOpen(path, std::strerror(code), code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return cannotOpen(path, "not a regular file");
    }
    if (info.st_size <= 0) {
        ::close(fd);
        return cannotOpen(path, "empty file");
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size <= kReadWholeLimit) {
        auto read = readAt(fd, 0, size);
        ::close(fd);
        if (!read)
            return cannotOpen(path, read.error().message, read.error().code);
        auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(read).value());
        auto module = PeModule::parse(std::span<const std::uint8_t>(*bytes), bytes);
        if (!module)
            return cannotOpen(path, module.error().message);
        return std::unique_ptr<IResourceModule>(std::move(module).value());
    }
    if (auto module = readInParts(fd, size)) {
        ::close(fd);
        return std::unique_ptr<IResourceModule>(std::move(module));
    }
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int code = errno;
    ::close(fd); // the mapping stays valid without the descriptor
    if (address == MAP_FAILED)
        return cannotOpen(path, std::strerror(code), code);
    auto mapping = std::make_shared<const Mapping>(address, size);
    auto module = PeModule::parse(mapping->bytes(), mapping);
    if (!module)
        return cannotOpen(path, module.error().message);
    return std::unique_ptr<IResourceModule>(std::move(module).value());
}

} // namespace harvix
