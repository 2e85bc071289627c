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

namespace {

// Repeats `step` (a read or a write of at most the bytes left) until `size` bytes have
// moved, going on after a signal. Returns 0, the error number, or `atEnd` when a step
// moves nothing.
template <typename Byte, typename Step>
int MoveAll(Byte* bytes, std::size_t size, int atEnd, Step step) {
    while (size > 0) {
        const ssize_t n = step(bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : atEnd;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

int WriteAll(int fd, const void* data, std::size_t size) {
    return MoveAll(static_cast<const char*>(data), size, ENOSPC,
                   [fd](const char* from, std::size_t n) { return ::write(fd, from, n); });
}

int ReadExactly(int fd, void* data, std::size_t size) {
    return MoveAll(static_cast<char*>(data), size, ENODATA,
                   [fd](char* into, std::size_t n) { return ::read(fd, into, n); });
}

int ReadExactlyAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
    char* const start = static_cast<char*>(data);
    return MoveAll(start, size, ENODATA, [fd, start, offset](char* into, std::size_t n) {
        return ::pread(fd, into, n, static_cast<off_t>(offset + static_cast<std::uint64_t>(into - start)));
    });
}

} // namespace harvix
