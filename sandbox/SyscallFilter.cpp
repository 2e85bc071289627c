#include "sandbox/SyscallFilter.h"

#include "sandbox/SanitizerBuild.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace harvix {

namespace {

using enum CallRule;

// Every confined command: reading files and folders through what it has opened or
// may open, writing to what it has open (standard output and error among them), its
// memory, its clocks, its own signals, whether stdin and stderr are terminals, and its
// end.
constexpr AllowedCall kEveryCommand[] = {
    {"read", Always},         {"readv", Always},          {"pread64", Always},
    {"write", Always},        {"writev", Always},         {"close", Always},
    {"lseek", Always},        {"fstat", Always},          {"newfstatat", Always},
    {"stat", Always},         {"lstat", Always},          {"statx", Always},
    {"getdents64", Always},   {"fcntl", Always},          {"dup", Always},
    {"statfs", Always},       {"fstatfs", Always},
    {"access", Always},       {"faccessat", Always},      {"faccessat2", Always},
    {"brk", Always},          {"mmap", NotExecutable},    {"munmap", Always},
    {"mremap", Always},       {"mprotect", NotExecutable}, {"madvise", Always},
    {"futex", Always},        {"sched_yield", Always},    {"sched_getaffinity", Always},
    {"nanosleep", Always},    {"clock_nanosleep", Always}, {"clock_gettime", Always},
    {"gettimeofday", Always}, {"getrusage", Always},      {"getrandom", Always},
    {"getpid", Always},       {"gettid", Always},         {"getuid", Always},
    {"geteuid", Always},      {"getgid", Always},         {"getegid", Always},
    {"rt_sigaction", Always}, {"rt_sigprocmask", Always}, {"rt_sigreturn", Always},
    {"sigaltstack", Always},  {"restart_syscall", Always}, {"tgkill", OwnProcess},
    {"ioctl", TerminalQuery}, {"prlimit64", QueryLimits}, {"exit", Always},
    {"exit_group", Always},
    // A member of a container unpacked beyond what is kept in memory goes into an
    // anonymous in-memory file: memory, not a place in the file system.
    {"memfd_create", Always},
};

// Opening files for reading only: list and version write no file.
constexpr AllowedCall kOpenForReading[] = {{"open", OpenForReading}, {"openat", OpenForReading}};
constexpr AllowedCall kOpen[] = {{"open", Always}, {"openat", Always}};

// The thumbnail: a temporary file made beside the picture, renamed to it (or an empty
// picture file filled in place, and emptied again when that fails).
constexpr AllowedCall kPictureFile[] = {
    {"rename", Always}, {"renameat", Always}, {"renameat2", Always}, {"unlink", Always},
    {"unlinkat", Always}, {"truncate", Always}, {"ftruncate", Always},
};

// The icon: pictures written under a temporary name, given the mode of any new file
// and renamed to theirs; a theme's folders made, and those made ahead taken back when
// nothing went into them.
constexpr AllowedCall kIconFiles[] = {
    {"rename", Always}, {"renameat", Always}, {"renameat2", Always}, {"unlink", Always},
    {"unlinkat", Always}, {"fchmod", Always}, {"umask", Always}, {"mkdir", Always},
    {"mkdirat", Always}, {"rmdir", Always},
};

// The cursor theme besides: the names of its cursors as symbolic links, its new folder
// opened to everyone as a theme is, its files flushed to the disk before it is put in
// place.
constexpr AllowedCall kThemeLinks[] = {
    {"symlink", Always}, {"symlinkat", Always}, {"chmod", Always},     {"fchmodat", Always},
    {"fsync", Always},   {"fdatasync", Always},
};

// New files written unnamed and linked to their names (or under a temporary name and
// renamed), existing ones removed.
constexpr AllowedCall kNewFiles[] = {
    {"link", Always},     {"linkat", Always},   {"rename", Always},   {"renameat", Always},
    {"renameat2", Always}, {"unlink", Always},  {"unlinkat", Always}, {"ftruncate", Always},
    {"fsync", Always},    {"fdatasync", Always}, {"pwrite64", Always},
};

// An installer package is read first in a copy of the process, which dies in its place
// when the Windows Installer library dies on a damaged one; the copy is waited for, and
// sets its own alarm, which ends it when the library goes round in a damaged package.
// Every command may meet a package.
constexpr AllowedCall kPackageTrial[] = {{"clone", ProcessCopy}, {"wait4", Always}, {"alarm", Always}};

// The extraction besides: folders made, the threads that read modules ahead at the run's
// priority (and the copies that read installer packages first), the terminal's
// questions and Ctrl-C, and the report's helper process and the copies reaped (each
// copy with its own alarm).
constexpr AllowedCall kExtraction[] = {
    {"mkdir", Always},          {"mkdirat", Always},          {"clone", ThreadOrCopy},
    {"clone3", NotImplemented}, {"set_robust_list", Always},  {"rseq", Always},
    {"getpriority", Always},    {"setpriority", ProcessPriority}, {"poll", Always},
    {"ppoll", Always},          {"pipe", Always},             {"pipe2", Always},
    {"wait4", Always},          {"alarm", Always},
};

// The files handed over by the opener (Opener.h): messages received with their
// descriptors, and requests sent. The socket was made before the cage: none can be made
// or connected in it.
constexpr AllowedCall kHandedFiles[] = {{"recvmsg", Always}, {"sendmsg", Always}};

// The sanitizers' own runtime, in their builds only (never in a build that is shipped):
// the leak check at the end stops the threads from a helper it starts as a process
// sharing the memory, which attaches to them and lists them with the older getdents
// (EnterCage lets it read the threads' list and the memory map in /proc); a report
// names the program, and the check of a dynamic type tries memory through a pipe.
constexpr AllowedCall kSanitizerRuntime[] = {
    {"clone", Always},   {"ptrace", Always},   {"prctl", Always},    {"wait4", Always},
    {"waitid", Always},  {"getppid", Always},  {"kill", Always},     {"tgkill", Always},
    {"getdents", Always}, {"readlink", Always}, {"readlinkat", Always}, {"pipe", Always},
    {"pipe2", Always},
};

template <std::size_t N>
void append(std::vector<AllowedCall>& calls, const AllowedCall (&more)[N]) {
    for (const AllowedCall& call : more)
        calls.push_back(call);
}

// The flags of clone that put the new process into a namespace of its own.
constexpr scmp_datum_t kNamespaceFlags = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS | CLONE_NEWIPC |
                                         CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET;

// One condition on a call's argument: argument number, comparison and its data. (The
// library's SCMP_An macros build these as C compound literals, which C++ does not have.)
scmp_arg_cmp argument(unsigned int arg, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
    return scmp_arg_cmp{arg, op, a, b};
}

// The argument conditions of one rule; each vector is one rule of the filter (a call
// allowed when any of its rules holds).
std::vector<std::vector<scmp_arg_cmp>> conditionsOf(CallRule rule) {
    switch (rule) {
    case NotExecutable:
        return {{argument(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)}};
    case ProcessCopy:
        return {{argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD | kNamespaceFlags, 0)}};
    case ThreadOrCopy:
        return {{argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)},
                {argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD | kNamespaceFlags, 0)}};
    case OpenForReading:
        break; // the flags are the second argument of open, the third of openat
    case TerminalQuery:
        return {{argument(1, SCMP_CMP_EQ, TCGETS)}, {argument(1, SCMP_CMP_EQ, TIOCGWINSZ)}};
    case OwnProcess:
        return {{argument(0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid()))}};
    case QueryLimits:
        return {{argument(0, SCMP_CMP_EQ, 0), argument(2, SCMP_CMP_EQ, 0)}};
    case ProcessPriority:
        return {{argument(0, SCMP_CMP_EQ, PRIO_PROCESS)}};
    case Always:
    case NotImplemented:
        break;
    }
    return {{}};
}

// The flags that open a file for writing or make one (O_TMPFILE without the
// O_DIRECTORY it includes, which a folder is opened with for reading).
constexpr scmp_datum_t kWritingFlags =
    O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | (O_TMPFILE & ~O_DIRECTORY);

// A filter being built, released when it goes.
class Filter {
public:
    Filter() : m_ctx(seccomp_init(SCMP_ACT_ERRNO(EPERM))) {}
    ~Filter() {
        if (m_ctx != nullptr)
            seccomp_release(m_ctx);
    }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;
    [[nodiscard]] scmp_filter_ctx get() const { return m_ctx; }

private:
    scmp_filter_ctx m_ctx;
};

std::string failure(const char* what, int code) {
    return std::string(what) + " (" + std::strerror(code) + ")";
}

} // namespace

std::vector<AllowedCall> CallsOf(CallSet set) {
    // Room for every set at once: GCC 12 at -O3 takes the growth of an empty vector for
    // a write past its end (a false -Wstringop-overflow).
    std::vector<AllowedCall> calls;
    calls.reserve(128);
    append(calls, kEveryCommand);
    switch (set) {
    case CallSet::Reading:
        append(calls, kOpenForReading);
        append(calls, kHandedFiles);
        // The package trial's wait4 also reaps the opener at the end.
        append(calls, kPackageTrial);
        break;
    case CallSet::Thumbnail:
        append(calls, kOpen);
        append(calls, kPictureFile);
        append(calls, kPackageTrial);
        break;
    case CallSet::Converting:
        append(calls, kOpen);
        append(calls, kNewFiles);
        append(calls, kPackageTrial);
        break;
    case CallSet::Icon:
        append(calls, kOpen);
        append(calls, kIconFiles);
        append(calls, kPackageTrial);
        break;
    case CallSet::CursorTheme:
        append(calls, kOpen);
        append(calls, kIconFiles);
        append(calls, kThemeLinks);
        append(calls, kPackageTrial);
        break;
    case CallSet::Extracting:
        append(calls, kOpen);
        append(calls, kNewFiles);
        append(calls, kExtraction);
        append(calls, kHandedFiles);
        break;
    }
    if (kSanitizerBuild)
        append(calls, kSanitizerRuntime);
    return calls;
}

std::size_t LoadSyscallFilter(CallSet set, std::string& missing) {
    Filter filter;
    if (filter.get() == nullptr) {
        missing = "the system-call filter could not be built";
        return 0;
    }
    // A call made in another architecture's numbering fails too rather than ending the
    // program.
    if (const int rc = seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(EPERM));
        rc != 0) {
        missing = failure("the system-call filter could not be built", -rc);
        return 0;
    }
    // The filter goes to every thread there is. Where only the older way of loading a
    // filter is left (an outer sandbox refusing seccomp(2)), it holds the calling thread
    // and the threads it starts, which is all of them at this point.
    (void)seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1);
    // The kernel's own reason when it refuses the filter.
    (void)seccomp_attr_set(filter.get(), SCMP_FLTATR_API_SYSRAWRC, 1);
    std::size_t allowed = 0;
    for (const AllowedCall& call : CallsOf(set)) {
        const int number = seccomp_syscall_resolve_name(call.name);
        if (number == __NR_SCMP_ERROR)
            continue; // a call this architecture does not have
        if (call.rule == NotImplemented) {
            (void)seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), number, 0);
            continue;
        }
        std::vector<std::vector<scmp_arg_cmp>> rules = conditionsOf(call.rule);
        if (call.rule == OpenForReading) {
            const bool openat = std::strcmp(call.name, "openat") == 0;
            rules = {{openat ? argument(2, SCMP_CMP_MASKED_EQ, kWritingFlags, 0)
                             : argument(1, SCMP_CMP_MASKED_EQ, kWritingFlags, 0)}};
        }
        bool added = false;
        for (const std::vector<scmp_arg_cmp>& conditions : rules) {
            const int rc = seccomp_rule_add_array(filter.get(), SCMP_ACT_ALLOW, number,
                                                  static_cast<unsigned>(conditions.size()),
                                                  conditions.empty() ? nullptr : conditions.data());
            // A call allowed twice (a sanitizer's build widens some) keeps its first rule.
            added = added || rc == 0;
        }
        if (added)
            ++allowed;
    }
    if (const int rc = seccomp_load(filter.get()); rc != 0) {
        missing = failure("the system-call filter was refused", -rc);
        return 0;
    }
    return allowed;
}

} // namespace harvix
