#include "app/wizard/TempFile.h"

#include "common/Files.h"
#include "common/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace harvix {

namespace {

Error ioError(const std::string& what, const std::string& path, int code) {
    return makeError(ErrorKind::Io, what + " " + path + ": " + std::strerror(code), code);
}

std::string hexDigits(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out(8, '0');
    for (auto it = out.rbegin(); it != out.rend(); ++it) {
        *it = kDigits[value & 0xFu];
        value >>= 4;
    }
    return out;
}

} // namespace

Result<std::string> MakeTempFile(const std::string& folder, const std::string& prefix) {
    std::random_device entropy;
    std::mt19937 numbers(entropy());
    const std::string base = AddBackslash(folder) + prefix;
    // Another program may hold a name; a few fresh tries find a free one.
    constexpr int kTries = 64;
    int lastError = EEXIST;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        std::string path = base + hexDigits(static_cast<std::uint32_t>(numbers())) + ".tmp";
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        lastError = errno;
        if (lastError != EEXIST)
            break;
    }
    return ioError("cannot create a temporary file in", folder, lastError);
}

Status WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return ioError("cannot open", path, errno);
    if (const int code = WriteAll(fd, bytes); code != 0) {
        ::close(fd);
        return ioError("cannot write", path, code);
    }
    if (::close(fd) != 0)
        return ioError("cannot write", path, errno);
    return success();
}

} // namespace harvix
