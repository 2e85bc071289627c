#include "container/MemberSink.h"

#include "common/Files.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace harvix {

MemberSink::~MemberSink() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Status MemberSink::write(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > m_limit - m_size)
        return makeError(ErrorKind::TooLarge, "member larger than " + std::to_string(m_limit) + " bytes");
    if (m_fd < 0 && m_size + bytes.size() > kMemberInMemory) {
        // Past the memory bound the member goes on in an anonymous file: it lives in
        // memory the system may page out, touches no folder, and goes with its last user.
        m_fd = ::memfd_create("harvix-member", MFD_CLOEXEC);
        if (m_fd < 0)
            return makeError(ErrorKind::Io, std::string("cannot make an in-memory file: ") + std::strerror(errno),
                             errno);
        if (const int error = WriteAll(m_fd, m_memory); error != 0)
            return makeError(ErrorKind::Io, std::strerror(error), error);
        m_memory = {};
    }
    if (m_fd >= 0) {
        if (const int error = WriteAll(m_fd, bytes); error != 0)
            return makeError(ErrorKind::Io, std::strerror(error), error);
    } else {
        m_memory.insert(m_memory.end(), bytes.begin(), bytes.end());
    }
    m_size += bytes.size();
    return success();
}

ByteSource MemberSink::finish() {
    if (m_fd >= 0) {
        auto descriptor = std::make_shared<const SharedDescriptor>(m_fd);
        m_fd = -1;
        const std::uint64_t size = m_size;
        m_size = 0;
        return ByteSource::OnDescriptor(std::move(descriptor), 0, size);
    }
    m_size = 0;
    return ByteSource::InMemory(std::make_shared<const std::vector<std::uint8_t>>(std::move(m_memory)));
}

} // namespace harvix
