// Opening a module file: only regular files, never blocking, never mapped (a mapped file
// that another program cuts short faults on the next access). A very small file is
// read whole; of a larger one only the headers and the resource section are read, with
// positioned reads bounded by the file's size.
#include "module/NeModule.h"
#include "module/PeModule.h"

#include "common/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace harvix {

ModuleFile::~ModuleFile() {
    if (!m_owner)
        ::close(m_fd);
}

bool ModuleFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > m_size || out.size() > m_size - offset)
        return false;
    return ReadExactlyAt(m_fd, out.data(), out.size(), m_base + offset) == 0;
}

namespace {

// Up to this size a file is read whole: one read costs less than finding its parts.
// Beyond it only the first page and the resource section are read: in most modules the
// section is a small part of the file, and copying (and first touching) the rest of
// every file cost more than all the other work of opening it.
constexpr std::size_t kReadWholeLimit = 8 * 1024;

// What is read of a larger file before its headers are looked at: one page.
constexpr std::size_t kFirstPage = 4096;

// Of a larger file the resource section is read whole when it is at most this large;
// a larger one is read in blocks for its directory and per resource for its data, so
// that the memory of reading any module stays a few hundred KiB plus one resource.
constexpr std::uint64_t kReadSectionLimit = 256 * 1024;

// Reads up to `size` bytes from the start. A file that shrank meanwhile gives fewer
// bytes; one that grew gives the first `size`.
Result<std::vector<std::uint8_t>> readStart(int fd, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, bytes.data() + got, size - got, static_cast<off_t>(got));
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

// Opens a path too long for the system's path calls (the search reaches such files by
// going down folder by folder) the same way: one folder at a time, each relative to the
// one before. Returns -1 with errno set when a step fails. The folders are only passed
// through (O_PATH), as the system's path calls pass through them: they need not be
// readable, and the sandbox that lets the run read only beneath the folders searched
// does not count them as read.
int openBeyondPathMax(const std::string& path, int flags) {
    const bool absolute = !path.empty() && path.front() == '/';
    int dir = ::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
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
            const int next = ::openat(dir, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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

// A module larger than what is read whole: the reader starts from its first page and
// reads the rest from the file.
Result<std::unique_ptr<IResourceModule>> openLarge(std::vector<std::uint8_t> page,
                                                   std::shared_ptr<const ModuleFile> file) {
    auto first = std::make_shared<const std::vector<std::uint8_t>>(std::move(page));
    ModuleImage image;
    image.held = *first;
    image.keepAlive = std::move(first);
    image.fileSize = file->size();
    image.file = std::move(file);
    if (isNeImage(image)) {
        auto module = NeModule::read(std::move(image));
        if (!module)
            return module.error();
        return std::unique_ptr<IResourceModule>(std::move(module).value());
    }
    auto module = PeModule::read(std::move(image), kReadSectionLimit);
    if (!module)
        return module.error();
    return std::unique_ptr<IResourceModule>(std::move(module).value());
}

} // namespace

int OpenModuleFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENAMETOOLONG)
        fd = openBeyondPathMax(path, kFlags);
    return fd;
}

Result<std::unique_ptr<IResourceModule>> OpenModule(const std::string& path) {
    const int fd = OpenModuleFile(path);
    if (fd < 0)
        return cannotOpen(path, std::strerror(errno), errno);
    return OpenModuleFromDescriptor(fd, path);
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromDescriptor(int fd, const std::string& path) {
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
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size <= kReadWholeLimit) {
        auto read = readStart(fd, static_cast<std::size_t>(size));
        ::close(fd);
        if (!read)
            return cannotOpen(path, read.error().message, read.error().code);
        auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(read).value());
        auto module = OpenModuleFromBytesKept(std::span<const std::uint8_t>(*bytes), bytes);
        if (!module)
            return cannotOpen(path, module.error().message);
        return std::move(module).value();
    }
    // The first page holds the DOS header and, in nearly every module, the signature that
    // tells a 16-bit module from a 32- or 64-bit one and the headers after it: it is read
    // once here, and the reader starts from it instead of reading those headers again.
    auto page = readStart(fd, kFirstPage);
    if (!page) {
        ::close(fd);
        return cannotOpen(path, page.error().message, page.error().code);
    }
    auto module = openLarge(std::move(page).value(), std::make_shared<const ModuleFile>(fd, size));
    if (!module)
        return cannotOpen(path, module.error().message);
    return std::move(module).value();
}

Result<std::unique_ptr<IResourceModule>> OpenModuleAt(int fd, std::uint64_t base, std::uint64_t size,
                                                      std::shared_ptr<const void> owner) {
    if (size == 0)
        return makeError(ErrorKind::NotLoadable, "empty file");
    auto file = std::make_shared<const ModuleFile>(fd, base, size, std::move(owner));
    const auto first = static_cast<std::size_t>(std::min<std::uint64_t>(
        size, size <= kReadWholeLimit ? kReadWholeLimit : kFirstPage));
    std::vector<std::uint8_t> start(first);
    if (!file->readAt(0, start))
        return makeError(ErrorKind::NotLoadable, "cannot be read");
    if (size <= kReadWholeLimit) {
        auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(start));
        return OpenModuleFromBytesKept(std::span<const std::uint8_t>(*bytes), bytes);
    }
    return openLarge(std::move(start), std::move(file));
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromBytesKept(std::span<const std::uint8_t> bytes,
                                                                 std::shared_ptr<const void> keepAlive) {
    ModuleImage image;
    image.held = bytes;
    image.fileSize = bytes.size();
    image.keepAlive = keepAlive;
    // The signature at the offset the DOS header names tells a 16-bit module ("NE")
    // from a 32- or 64-bit one ("PE\0\0").
    if (isNeImage(image)) {
        auto module = NeModule::read(std::move(image));
        if (!module)
            return module.error();
        return std::unique_ptr<IResourceModule>(std::move(module).value());
    }
    auto module = PeModule::parse(bytes, std::move(keepAlive));
    if (!module)
        return module.error();
    return std::unique_ptr<IResourceModule>(std::move(module).value());
}

std::string_view PackerName(Packer packer) {
    return packer == Packer::Upx ? "UPX" : "";
}

std::string_view PackedResourcesNote(Packer packer) {
    // UPX leaves uncompressed what Windows reads before the program runs: the icon the
    // shell shows and the version; the rest unpacks in memory when the program starts.
    return packer == Packer::Upx ? "the resources beyond the first icon group and the version are compressed; "
                                   "unpack it with `upx -d` to read them"
                                 : "";
}

std::string PackedNotice(Packer packer) {
    if (packer == Packer::None)
        return {};
    return "packed by " + std::string(PackerName(packer)) + ": " + std::string(PackedResourcesNote(packer));
}

} // namespace harvix
