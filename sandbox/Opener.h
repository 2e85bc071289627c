// The opener: a process forked before the cage closes, which keeps the rights the
// command had before it was confined. It finds the files the command reads (the walk,
// a file list, the satellites beside a module, the files named) and opens them, parsing
// nothing; the confined process reads and writes, taking every file it reads as an open
// descriptor handed over a socket. The confined process may then read no file by its
// path at all, and a file found through a link to a place outside the paths searched is
// read as the search found it.
//
// The two talk in messages (a UNIX socket of sequenced packets): bytes, and up to
// kMostDescriptors open descriptors with them. The opener ends when the confined process
// closes its end, whatever it was doing; it ignores the signals of a terminal and of a
// service stopped, which the confined process answers, and it writes nothing to the
// command's output.
#pragma once

#include "common/Result.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

// An open descriptor, closed when it goes.
class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : m_fd(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept;
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd();

    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd = -1;
};

// The most descriptors one message carries (the kernel takes up to 253).
inline constexpr std::size_t kMostDescriptors = 240;
// The most bytes one message carries.
inline constexpr std::size_t kMostMessageBytes = 96 * 1024;

struct HandOverMessage {
    std::vector<std::uint8_t> bytes;
    std::vector<OwnedFd> fds;
};

// Sends one message; 0, or the error number (EPIPE once the other end is closed).
[[nodiscard]] int SendHandOver(int socket, const std::vector<std::uint8_t>& bytes, const std::vector<int>& fds = {});

// Receives one message; nothing at the end (the other side closed its end or ended),
// with the error number in `error` (0 for a plain end).
[[nodiscard]] std::optional<HandOverMessage> ReceiveHandOver(int socket, int& error);

class OpenerProcess {
public:
    // What the opener does with its end of the socket; it ends when the task returns.
    using Task = std::function<void(int socket)>;

    // Forks the opener, while the process has one thread (before the cage and before the
    // run's readers); nothing when the system refuses a socket or a process. `keep`: the
    // descriptors the opener goes on using besides the socket (a file list, standard
    // input); every other one is closed in it.
    static std::unique_ptr<OpenerProcess> Start(Task task, std::vector<int> keep);

    OpenerProcess(const OpenerProcess&) = delete;
    OpenerProcess& operator=(const OpenerProcess&) = delete;
    // Closes the socket, which ends the opener, and waits for it.
    ~OpenerProcess();

    [[nodiscard]] int Socket() const { return m_socket; }

    // Closes the socket and waits for the opener: why it ended early, if it did (a
    // signal, or a status other than 0); nothing for a plain end.
    std::optional<std::string> Finish();

private:
    OpenerProcess(pid_t pid, int socket) : m_pid(pid), m_socket(socket) {}

    pid_t m_pid;
    int m_socket;
};

} // namespace harvix
