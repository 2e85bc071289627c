#include "sandbox/Opener.h"

#include "sandbox/Errand.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace harvix {

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

OwnedFd::~OwnedFd() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int SendHandOver(int socket, const std::vector<std::uint8_t>& bytes, const std::vector<int>& fds) {
    if (fds.size() > kMostDescriptors || bytes.size() > kMostMessageBytes)
        return EMSGSIZE;
    // A message of no bytes cannot be told from the end of the stream.
    std::uint8_t none = 0;
    iovec part{bytes.empty() ? static_cast<void*>(&none) : const_cast<std::uint8_t*>(bytes.data()),
               bytes.empty() ? 1 : bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    union {
        cmsghdr header;
        char bytes[CMSG_SPACE(sizeof(int) * kMostDescriptors)];
    } control{};
    if (!fds.empty()) {
        message.msg_control = control.bytes;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* header = &control.header;
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(header), fds.data(), sizeof(int) * fds.size());
    }
    for (;;) {
        if (::sendmsg(socket, &message, MSG_NOSIGNAL) >= 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

std::optional<HandOverMessage> ReceiveHandOver(int socket, int& error) {
    error = 0;
    HandOverMessage received;
    received.bytes.resize(kMostMessageBytes);
    std::vector<char> control(CMSG_SPACE(sizeof(int) * kMostDescriptors));
    iovec part{received.bytes.data(), received.bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    ssize_t got = 0;
    do
        got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        error = errno;
    // Descriptors that came with the message are taken over even when it is cut short.
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            received.fds.emplace_back(fd);
        }
    }
    if (got <= 0)
        return std::nullopt;
    if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        error = EMSGSIZE;
        return std::nullopt;
    }
    received.bytes.resize(static_cast<std::size_t>(got));
    return received;
}

std::unique_ptr<OpenerProcess> OpenerProcess::Start(Task task, std::vector<int> keep) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ends[0]);
        // The confined process answers these; the opener ends when it closes its end.
        for (const int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP})
            std::signal(signal, SIG_IGN);
        keep.push_back(ends[1]);
        CloseAllBut(keep);
        task(ends[1]);
        ::_exit(0);
    }
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return nullptr;
    }
    return std::unique_ptr<OpenerProcess>(new OpenerProcess(pid, ends[0]));
}

OpenerProcess::~OpenerProcess() {
    (void)Finish();
}

std::optional<std::string> OpenerProcess::Finish() {
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (m_pid <= 0)
        return std::nullopt;
    int status = 0;
    pid_t waited = 0;
    do
        waited = ::waitpid(m_pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    m_pid = -1;
    if (waited < 0)
        return std::nullopt;
    if (WIFSIGNALED(status))
        return std::string("it was ended by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               ::strsignal(WTERMSIG(status)) + ")";
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "it ended with status " + std::to_string(WEXITSTATUS(status));
    return std::nullopt;
}

} // namespace harvix
