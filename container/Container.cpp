#include "container/Container.h"

#include "common/Files.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix {

SharedDescriptor::~SharedDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

ByteSource ByteSource::OnDescriptor(std::shared_ptr<const SharedDescriptor> descriptor, std::uint64_t offset,
                                    std::uint64_t size) {
    ByteSource source;
    source.m_descriptor = std::move(descriptor);
    source.m_offset = offset;
    source.m_size = size;
    return source;
}

ByteSource ByteSource::InMemory(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    ByteSource source;
    source.m_size = bytes ? bytes->size() : 0;
    source.m_bytes = std::move(bytes);
    return source;
}

bool ByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > m_size || out.size() > m_size - offset)
        return false;
    if (m_bytes) {
        std::copy_n(m_bytes->begin() + static_cast<std::ptrdiff_t>(m_offset + offset), out.size(), out.begin());
        return true;
    }
    if (!m_descriptor)
        return out.empty();
    return ReadExactlyAt(m_descriptor->fd(), out.data(), out.size(), m_offset + offset) == 0;
}

std::vector<std::uint8_t> ByteSource::head(std::size_t count, std::uint64_t offset) const {
    if (offset >= m_size)
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(count, m_size - offset)));
    if (!readAt(offset, bytes))
        return {};
    return bytes;
}

std::span<const std::uint8_t> ByteSource::memory() const {
    if (!m_bytes)
        return {};
    return std::span<const std::uint8_t>(*m_bytes).subspan(static_cast<std::size_t>(m_offset),
                                                          static_cast<std::size_t>(m_size));
}

ByteSource ByteSource::slice(std::uint64_t offset, std::uint64_t size) const {
    ByteSource part = *this;
    offset = std::min(offset, m_size);
    part.m_offset = m_offset + offset;
    part.m_size = std::min(size, m_size - offset);
    return part;
}

Result<ByteSource> ByteSourceFromDescriptor(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return makeError(ErrorKind::Io, std::strerror(code), code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return makeError(ErrorKind::NotLoadable, "not a regular file");
    }
    return ByteSource::OnDescriptor(std::make_shared<const SharedDescriptor>(fd), 0,
                                    static_cast<std::uint64_t>(info.st_size));
}

Result<ByteSource> OpenByteSource(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
    }
    return ByteSourceFromDescriptor(fd);
}

namespace {
thread_local CompanionOpener companionOpener;
} // namespace

CompanionOpening::CompanionOpening(CompanionOpener opener) : m_previous(std::move(companionOpener)) {
    companionOpener = std::move(opener);
}

CompanionOpening::~CompanionOpening() {
    companionOpener = std::move(m_previous);
}

Result<ByteSource> OpenCompanion(const std::string& path) {
    return companionOpener ? companionOpener(path) : OpenByteSource(path);
}

std::string FolderOfSource(const ByteSource& source) {
    // Only a whole file: a member read in place lies in its container's file, which is
    // not where the member's own companions are.
    struct stat info {};
    if (!source.descriptor() || source.offset() != 0 || ::fstat(source.descriptor()->fd(), &info) != 0 ||
        !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) != source.size())
        return {};
    std::array<char, PATH_MAX> target{};
    const std::string link = "/proc/self/fd/" + std::to_string(source.descriptor()->fd());
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size() - 1);
    if (n <= 0 || target[0] != '/')
        return {};
    std::string path(target.data(), static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

std::string UnreadableText(Unreadable why, const std::string& detail) {
    std::string text;
    switch (why) {
    case Unreadable::None: break;
    case Unreadable::Encrypted: text = "protected by a password"; break;
    case Unreadable::MissingVolume: text = "a volume of the cabinet set is missing"; break;
    case Unreadable::Damaged: text = "damaged"; break;
    case Unreadable::Unsupported: text = "compressed in a way that cannot be unpacked"; break;
    case Unreadable::TooLarge: text = "larger than the largest module read"; break;
    case Unreadable::Bomb: text = "unpacks to far more than its own size"; break;
    case Unreadable::TooDeep: text = "nested deeper than the containers opened"; break;
    case Unreadable::NotOpened: text = "could not be opened"; break;
    }
    if (!detail.empty())
        text += (text.empty() ? "" : ": ") + detail;
    return text;
}

const ContainerFormat* ContainerRegistry::identify(const ByteSource& source, std::string_view fileName) const {
    const std::vector<std::uint8_t> head = source.head(64 * 1024);
    if (head.empty())
        return nullptr;
    for (const ContainerFormat& format : m_formats)
        if (format.recognise(source, head, fileName))
            return &format;
    return nullptr;
}

Result<std::unique_ptr<IContainer>> ContainerRegistry::open(const ByteSource& source,
                                                            std::string_view fileName) const {
    const ContainerFormat* format = identify(source, fileName);
    if (format == nullptr)
        return makeError(ErrorKind::NotLoadable, "not a container");
    return format->open(source, fileName);
}

std::string MemberSourceName(const std::string& container, const std::string& member) {
    return container + std::string(kMemberSeparator) + member;
}

} // namespace harvix
