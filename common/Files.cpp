#include "common/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix {

Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
    auto fail = [&path](int code) {
        return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return makeError(ErrorKind::NotLoadable, path + ": not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return makeError(ErrorKind::TooLarge, path + ": larger than " +
                                                  std::to_string(maxBytes >> 20) + " MiB");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            return fail(code);
        }
        if (n == 0)
            break; // the file became shorter: what was there is what we have
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int ReadExactly(int fd, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENODATA;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace harvix
