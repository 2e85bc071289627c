// Opening a module file: only regular files, never blocking. A small file is read whole;
// a larger one is mapped read-only, so that only the pages the reader touches are ever
// read into memory.
#include "PeModule.h"

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

// Reads up to `size` bytes from the start of the file. A file that shrank meanwhile
// gives fewer bytes; one that grew gives the first `size`.
Result<std::vector<std::uint8_t>> readWhole(int fd, std::size_t size) {
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

Error cannotOpen(const std::string& path, const std::string& why, int code = 0) {
    return makeError(ErrorKind::NotLoadable, path + ": " + why, code);
}

} // namespace

Result<std::unique_ptr<IResourceModule>> OpenModule(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
        auto read = readWhole(fd, size);
        ::close(fd);
        if (!read)
            return cannotOpen(path, read.error().message, read.error().code);
        auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(read).value());
        auto module = PeModule::parse(std::span<const std::uint8_t>(*bytes), bytes);
        if (!module)
            return cannotOpen(path, module.error().message);
        return std::unique_ptr<IResourceModule>(std::move(module).value());
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
