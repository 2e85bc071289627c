#include "sandbox/Errand.h"

#include "common/Files.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace harvix {

void CloseAllBut(std::vector<int> keep) {
    std::sort(keep.begin(), keep.end());
    const auto closeRange = [](int first, int last) {
        if (first > last)
            return;
        if (::syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0) != 0)
            for (int fd = first; fd <= last && fd < 65536; ++fd)
                ::close(fd);
    };
    int next = 0;
    for (const int fd : keep) {
        if (fd < next)
            continue;
        closeRange(next, fd - 1);
        next = fd + 1;
    }
    closeRange(next, static_cast<int>(~0U >> 1));
}

namespace {

// The helper's life: the text, the task, the outcome; then it ends without running any
// of the command's exit handlers.
[[noreturn]] void serve(const Errand::Task& task, int in, int out) {
    // The command takes up the signals that end its run and then asks for its report; the
    // helper ends when the command closes its end of the pipe, whatever ended the command.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    CloseAllBut({in, out});
    std::uint64_t size = 0;
    if (ReadExactly(in, &size, sizeof size) != 0 || size > (std::uint64_t{1} << 32))
        ::_exit(0);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (ReadExactly(in, text.data(), text.size()) != 0)
        ::_exit(0);
    const Status done = task(text);
    const std::int32_t code = done ? 0 : (done.error().code != 0 ? done.error().code : -1);
    const std::string message = done ? std::string() : done.error().message;
    const auto length = static_cast<std::uint32_t>(message.size());
    (void)(WriteAll(out, &code, sizeof code) == 0 && WriteAll(out, &length, sizeof length) == 0 &&
           WriteAll(out, message.data(), message.size()) == 0);
    ::_exit(0);
}

} // namespace

std::unique_ptr<Errand> Errand::Start(Task task) {
    int toHelper[2], fromHelper[2];
    if (::pipe2(toHelper, O_CLOEXEC) != 0)
        return nullptr;
    if (::pipe2(fromHelper, O_CLOEXEC) != 0) {
        ::close(toHelper[0]);
        ::close(toHelper[1]);
        return nullptr;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(toHelper[1]);
        ::close(fromHelper[0]);
        serve(task, toHelper[0], fromHelper[1]);
    }
    ::close(toHelper[0]);
    ::close(fromHelper[1]);
    if (pid < 0) {
        ::close(toHelper[1]);
        ::close(fromHelper[0]);
        return nullptr;
    }
    return std::unique_ptr<Errand>(new Errand(pid, toHelper[1], fromHelper[0]));
}

Errand::~Errand() {
    finish();
}

void Errand::finish() {
    if (m_toHelper >= 0)
        ::close(m_toHelper);
    if (m_fromHelper >= 0)
        ::close(m_fromHelper);
    m_toHelper = m_fromHelper = -1;
    if (m_pid > 0) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
}

Status Errand::Run(const std::string& text) {
    const auto gone = [] {
        return makeError(ErrorKind::Io, "the helper that writes it has ended", EPIPE);
    };
    if (m_toHelper < 0)
        return gone();
    // A helper that ended must not end the command with SIGPIPE: the write fails instead.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &before);
    const std::uint64_t size = text.size();
    const bool sent = WriteAll(m_toHelper, &size, sizeof size) == 0 &&
                      WriteAll(m_toHelper, text.data(), text.size()) == 0;
    ::sigaction(SIGPIPE, &before, nullptr);
    ::close(m_toHelper);
    m_toHelper = -1;
    std::int32_t code = 0;
    std::uint32_t length = 0;
    std::string message;
    bool answered = sent && ReadExactly(m_fromHelper, &code, sizeof code) == 0 &&
                    ReadExactly(m_fromHelper, &length, sizeof length) == 0;
    if (answered) {
        message.resize(length);
        answered = ReadExactly(m_fromHelper, message.data(), message.size()) == 0;
    }
    finish();
    if (!answered)
        return gone();
    if (code == 0)
        return success();
    return makeError(ErrorKind::Io, message, code < 0 ? 0 : code);
}

} // namespace harvix
