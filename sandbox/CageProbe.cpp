#include "sandbox/CageProbe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

namespace harvix {

namespace {

const char* probeFolder() {
    const char* folder = std::getenv("HARVIX_CAGE_PROBE");
    return folder != nullptr && *folder != '\0' ? folder : nullptr;
}

void say(const std::string& line) {
    const std::string text = "cage-probe: " + line + "\n";
    (void)!::write(STDERR_FILENO, text.data(), text.size());
}

std::string outcome(bool done, int code) {
    return done ? std::string("done") : std::string("refused (") + std::strerror(code) + ")";
}

// The value of one line of the status text ("Seccomp:\t2" gives "2").
std::string statusField(const std::string& status, const std::string& name) {
    const std::size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos)
        return "?";
    std::size_t start = at + name.size() + 2;
    while (start < status.size() && (status[start] == '\t' || status[start] == ' '))
        ++start;
    return status.substr(start, status.find('\n', start) - start);
}

std::string readStatus(int fd) {
    std::string text = "\n";
    char buffer[4096];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

bool readSecret(const std::string& folder, int& code) {
    const int fd = ::open((folder + "/secret").c_str(), O_RDONLY | O_CLOEXEC);
    code = errno;
    if (fd < 0)
        return false;
    char c = 0;
    const bool read = ::read(fd, &c, 1) >= 0;
    code = errno;
    ::close(fd);
    return read;
}

} // namespace

ProbeBefore PrepareProbe() {
    ProbeBefore before;
    if (probeFolder() == nullptr)
        return before;
    before.statusFd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (before.statusFd >= 0) {
        const std::string threads = statusField(readStatus(before.statusFd), "Threads");
        before.threads = std::atoi(threads.c_str());
    }
    return before;
}

void TryTheWalls(const ProbeBefore& before) {
    const char* folderText = probeFolder();
    if (folderText == nullptr)
        return;
    const std::string folder = folderText;
    if (before.statusFd >= 0) {
        const std::string status = readStatus(before.statusFd);
        say("threads before: " + std::to_string(before.threads));
        say("Seccomp: " + statusField(status, "Seccomp"));
        say("NoNewPrivs: " + statusField(status, "NoNewPrivs"));
        ::close(before.statusFd);
    }

    int code = 0;
    bool done = readSecret(folder, code);
    say("read: " + outcome(done, code));

    const int planted =
        ::open((folder + "/planted").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    code = errno;
    if (planted >= 0)
        ::close(planted);
    say("create: " + outcome(planted >= 0, code));

    for (const int family : {AF_INET, AF_UNIX}) {
        const int sock = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        code = errno;
        if (sock >= 0)
            ::close(sock);
        say(std::string(family == AF_INET ? "inet" : "unix") + " socket: " + outcome(sock >= 0, code));
    }

    // A thread started after the cage closed is held by it as well.
    try {
        std::thread reader([&folder] {
            int threadCode = 0;
            const bool threadDone = readSecret(folder, threadCode);
            say("thread read: " + outcome(threadDone, threadCode));
        });
        reader.join();
    } catch (const std::system_error& e) {
        say(std::string("thread: not started (") + std::strerror(e.code().value()) + ")");
    }

    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    // A copy of the process (an installer package is read in one first) is held as
    // well: it starts no program either.
    if (const pid_t copy = ::fork(); copy == 0) {
        char copyScript[] = "echo 'cage-probe: copy exec: ran' >&2";
        char* const copyArgv[] = {shell, dashC, copyScript, nullptr};
        ::execv(shell, copyArgv);
        say("copy exec: " + outcome(false, errno));
        ::_exit(0);
    } else if (copy > 0) {
        int status = 0;
        (void)::waitpid(copy, &status, 0);
    } else {
        say(std::string("copy: not started (") + std::strerror(errno) + ")");
    }

    // Last, as it replaces the command when it is not refused.
    char script[] = "echo 'cage-probe: exec: ran' >&2";
    char* const argv[] = {shell, dashC, script, nullptr};
    ::execv(shell, argv);
    say("exec: " + outcome(false, errno));
}

} // namespace harvix
