#include "cli/Terminal.h"

#include "common/MessageSource.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>

namespace harvix {

namespace {

// Ctrl-C: counted; the handler also writes a byte into a pipe, so that a question
// waiting for its answer wakes up. A second one before the first was taken up ends the
// program at once.
volatile std::sig_atomic_t g_interrupts = 0;
int g_wakeRead = -1;
int g_wakeWrite = -1;

extern "C" void onInterrupt(int) {
    g_interrupts = g_interrupts + 1;
    if (g_wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
    }
    if (g_interrupts > 1) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

// The terminal changed its size: the progress line is drawn again for the new width.
volatile std::sig_atomic_t g_resized = 0;

extern "C" void onResize(int) {
    g_resized = 1;
}

void drainWakePipe() {
    char buffer[64];
    while (g_wakeRead >= 0 && ::read(g_wakeRead, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

std::string OneLine(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += ' ';
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

void Complain(std::string_view message) {
    std::cerr << MessagePrefix() << OneLine(message) << '\n';
}

std::string NotAModuleMessage(const std::string& path, const Error& error) {
    std::string_view reason = error.message;
    for (const std::string& lead : {path + ": ", std::string("not a Windows module: ")})
        if (reason.starts_with(lead))
            reason.remove_prefix(lead.size());
    std::string message = path + " is not a Windows module";
    if (!reason.empty())
        message.append(" (").append(reason).append(")");
    return message;
}

bool IsTerminal(int fd) {
    return isatty(fd) == 1;
}

TerminalSignals::TerminalSignals(bool interrupts, bool resizes)
    : m_interrupts(interrupts), m_resizes(resizes) {
    if (m_interrupts) {
        int wake[2] = {-1, -1};
        if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
            g_wakeRead = wake[0];
            g_wakeWrite = wake[1];
        }
        std::signal(SIGINT, onInterrupt);
    }
    if (m_resizes)
        std::signal(SIGWINCH, onResize);
}

TerminalSignals::~TerminalSignals() {
    if (m_resizes)
        std::signal(SIGWINCH, SIG_DFL);
    if (m_interrupts) {
        std::signal(SIGINT, SIG_DFL);
        for (int* fd : {&g_wakeRead, &g_wakeWrite}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
}

bool TakeInterrupt() {
    if (g_interrupts == 0)
        return false;
    g_interrupts = 0;
    return true;
}

void ForgetInterrupts() {
    g_interrupts = 0;
    drainWakePipe();
}

bool TakeResize() {
    if (g_resized == 0)
        return false;
    g_resized = 0;
    return true;
}

std::optional<std::string> ReadAnswerLine(bool& interrupted) {
    interrupted = false;
    std::string line;
    for (;;) {
        if (g_interrupts > 0) {
            interrupted = true;
            return std::nullopt;
        }
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wakeRead, POLLIN, 0}};
        if (::poll(fds, g_wakeRead >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue; // the loop looks at the interrupt count first
            return std::nullopt;
        }
        if (fds[1].revents != 0)
            drainWakePipe();
        if (fds[0].revents == 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            return line;
        line.push_back(c);
    }
}

} // namespace harvix
