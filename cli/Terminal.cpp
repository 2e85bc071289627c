#include "cli/Terminal.h"

#include "common/MessageSource.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <iostream>

namespace harvix {

namespace {

// Ctrl-C on a terminal: counted; the handler also writes a byte into a pipe, so that a
// question waiting for its answer wakes up. A second one before the first was taken up
// ends the program at once. SIGTERM, SIGHUP, and SIGINT without a terminal to ask on,
// are noted as the signal that ends the run; any signal after it, or after the run's
// cancel was confirmed, ends the program at once.
volatile std::sig_atomic_t g_interrupts = 0;
volatile std::sig_atomic_t g_endingSignal = 0;
volatile std::sig_atomic_t g_ending = 0;
volatile std::sig_atomic_t g_asks = 0;
int g_wakeRead = -1;
int g_wakeWrite = -1;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

[[noreturn]] void endAtOnce(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
    ::_exit(128 + signal); // the signal was held back after all
}

extern "C" void onEndingSignal(int signal) {
    if (g_ending != 0 || g_endingSignal != 0)
        endAtOnce(signal);
    if (signal == SIGINT && g_asks != 0) {
        g_interrupts = g_interrupts + 1;
        if (g_interrupts > 1)
            endAtOnce(signal);
    } else {
        g_endingSignal = signal;
    }
    if (g_wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
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

TerminalSignals::TerminalSignals(bool asks, bool resizes) : m_resizes(resizes) {
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeRead = wake[0];
        g_wakeWrite = wake[1];
    }
    g_asks = asks ? 1 : 0;
    for (const int signal : kEndingSignals)
        std::signal(signal, onEndingSignal);
    if (m_resizes)
        std::signal(SIGWINCH, onResize);
}

TerminalSignals::~TerminalSignals() {
    if (m_resizes)
        std::signal(SIGWINCH, SIG_DFL);
    for (const int signal : kEndingSignals)
        std::signal(signal, SIG_DFL);
    for (int* fd : {&g_wakeRead, &g_wakeWrite}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
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

int EndingSignal() {
    return g_endingSignal;
}

void NoteRunEnding(int signal) {
    if (signal != 0 && g_endingSignal == 0)
        g_endingSignal = signal;
    g_ending = 1;
}

std::string SignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal);
    }
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
        if (g_interrupts > 0 || g_endingSignal != 0) {
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
