// Opening a module file: only regular files, never blocking, through a read-only
// mapping, so that only the pages the reader touches are ever read into memory.
#include "PeModule.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
