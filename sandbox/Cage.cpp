#include "sandbox/Cage.h"

#include "sandbox/Landlock.h"
#include "sandbox/SanitizerBuild.h"
#include "sandbox/SyscallFilter.h"

#ifdef HARVIX_CAGE_PROBE
#include "sandbox/CageProbe.h"
#endif

#include <sys/prctl.h>

#include <cerrno>
#include <cstring>

namespace harvix {

CageState EnterCage(const CagePlan& plan, bool wanted) {
#ifdef HARVIX_CAGE_PROBE
    const ProbeBefore probe = PrepareProbe();
#endif
    CageState state;
    state.wanted = wanted;
    if (wanted) {
        // Neither part can be entered without it, and nothing the process could start
        // would gain a privilege from it.
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) {
            state.noNewPrivs = true;
            // Landlock first: the filter does not allow its calls. A sanitizer's runtime
            // reads the process's threads and memory map in /proc at the end.
            CagePlan domain = plan;
            if (kSanitizerBuild)
                domain.readable.emplace_back("/proc");
            state.landlockAbi = EnterLandlock(domain, state.landlockMissing);
            state.allowedCalls = LoadSyscallFilter(plan.calls, state.filterMissing);
            state.filtered = state.allowedCalls > 0;
        } else {
            const std::string why = std::string("no new privileges could not be set (") +
                                    std::strerror(errno) + ")";
            state.landlockMissing = why;
            state.filterMissing = why;
        }
    }
#ifdef HARVIX_CAGE_PROBE
    TryTheWalls(probe);
#endif
    return state;
}

std::string DescribeCage(const CageState& state) {
    if (!state.wanted)
        return "sandbox: off (--no-sandbox)";
    const std::string landlock = "Landlock ABI " + std::to_string(state.landlockAbi);
    const std::string filter =
        "a filter of " + std::to_string(state.allowedCalls) + " system calls";
    if (state.whole())
        return "sandbox: confined by " + landlock + " and " + filter;
    if (state.filtered)
        return "sandbox: confined by " + filter + " only, not by Landlock: " +
               state.landlockMissing;
    if (state.landlockAbi > 0)
        return "sandbox: confined by " + landlock + " only, without the filter: " +
               state.filterMissing;
    if (state.landlockMissing == state.filterMissing)
        return "sandbox: not confined: " + state.landlockMissing;
    return "sandbox: not confined: " + state.landlockMissing + "; " + state.filterMissing;
}

std::vector<std::string> AllowedCalls(CallSet set) {
    std::vector<std::string> names;
    for (const AllowedCall& call : CallsOf(set)) {
        std::string name = call.name;
        switch (call.rule) {
        case CallRule::NotExecutable: name += " (never PROT_EXEC)"; break;
        case CallRule::ProcessCopy: name += " (a copy of the process: no CLONE_THREAD, no new namespace)"; break;
        case CallRule::ThreadOrCopy:
            name += " (threads, CLONE_THREAD, or a copy of the process: no new namespace)";
            break;
        case CallRule::OpenForReading: name += " (for reading only)"; break;
        case CallRule::TerminalQuery: name += " (TCGETS, TIOCGWINSZ)"; break;
        case CallRule::OwnProcess: name += " (this process only)"; break;
        case CallRule::QueryLimits: name += " (reading this process's limits)"; break;
        case CallRule::ProcessPriority: name += " (PRIO_PROCESS)"; break;
        case CallRule::NotImplemented: name += " (fails with ENOSYS)"; break;
        case CallRule::Always: break;
        }
        names.push_back(std::move(name));
    }
    return names;
}

} // namespace harvix
