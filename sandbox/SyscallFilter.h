// The system-call part of the cage: a seccomp filter, built with libseccomp, that allows
// the calls a command needs once it is confined and makes every other one fail with
// EPERM. None of the sets holds execve, socket or ptrace; none lets a process start a
// program or enter a new namespace, map memory executable, or push characters into the
// terminal. A copy of the process may be made (an installer package is read in one
// first): it holds the same cage.
#pragma once

#include "sandbox/Cage.h"

#include <string>
#include <vector>

namespace harvix {

// How a call is allowed: always, or only with some arguments.
enum class CallRule {
    Always,
    NotExecutable,  // mmap, mprotect: never PROT_EXEC
    ProcessCopy,    // clone: a copy of this process (no CLONE_THREAD, no new namespace)
    ThreadOrCopy,   // clone: a thread (CLONE_THREAD), or a copy of this process
    OpenForReading, // open, openat: neither for writing nor creating
    TerminalQuery,  // ioctl: only TCGETS (isatty) and TIOCGWINSZ (the terminal's size)
    OwnProcess,     // tgkill: only threads of this process (raise, abort)
    QueryLimits,    // prlimit64: only reading this process's limits
    ProcessPriority, // setpriority: only PRIO_PROCESS, the priority of a thread
    NotImplemented, // clone3: fails with ENOSYS, so that the C library uses clone
};

struct AllowedCall {
    const char* name;
    CallRule rule;
};

// The calls of a set, in the order of the filter.
[[nodiscard]] std::vector<AllowedCall> CallsOf(CallSet set);

// Loads the filter for `set` into every thread of the process. The number of calls
// allowed (those failing with ENOSYS not counted), or 0 with the reason in `missing`.
std::size_t LoadSyscallFilter(CallSet set, std::string& missing);

} // namespace harvix
