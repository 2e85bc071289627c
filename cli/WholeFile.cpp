#include "cli/WholeFile.h"

#include "common/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace harvix {

Status ReplaceFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "." + name + ".harvix-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
    }
    // mkstemp makes the file for its owner alone; the icon is for everyone the umask
    // lets read it, as any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int error = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
    if (error == 0)
        error = WriteAll(fd, bytes);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return makeError(ErrorKind::Io, path + ": " + std::strerror(error), error);
    }
    return success();
}

} // namespace harvix
