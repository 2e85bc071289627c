// Test builds only (harvix-cli-probe, never harvix-cli): once a command has entered its
// cage, it tries what a compromised reader would try, when HARVIX_CAGE_PROBE names a
// folder: read the file "secret" there, make the file "planted" there, open an Internet
// and a UNIX socket, read the secret from a new thread, and start a program. Each
// attempt says on stderr, in a line that begins with "cage-probe: ", whether it was
// refused; the lines "Seccomp" and "NoNewPrivs" of the process's status, and its thread
// count, come first. When the program starts, it replaces the command and says so.
#pragma once

namespace harvix {

struct ProbeBefore {
    int statusFd = -1; // /proc/self/status, opened before the cage closes
    int threads = 0;   // the threads of the process before the cage
};

ProbeBefore PrepareProbe();
void TryTheWalls(const ProbeBefore& before);

} // namespace harvix
