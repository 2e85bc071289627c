// A module is read through a file mapping. When the file is truncated by someone else
// while it is mapped, touching a page beyond the new end raises SIGBUS, which would end
// the whole run. Resource bytes are copied under a guard: a SIGBUS handler that, while a
// guarded copy runs on this thread, jumps back to it so that the copy fails and the
// resource counts as unreadable. Only the plain memcpy runs between the jump point and
// the fault, so no C++ object is skipped by the jump.
#include "GuardedCopy.h"

#include <csetjmp>
#include <csignal>
#include <cstring>
#include <atomic>
#include <mutex>

namespace harvix {

namespace {

// volatile, and fenced below: the compiler knows memcpy never reads this pointer and
// would otherwise drop the store before the copy as dead.
thread_local sigjmp_buf* volatile t_guard = nullptr;
struct sigaction g_previous {};

void onBusError(int signal, siginfo_t* info, void* context) {
    if (sigjmp_buf* guard = t_guard) {
        t_guard = nullptr;
        siglongjmp(*guard, 1);
    }
    // Not ours: hand the signal on to whoever handled it before, or die as usual.
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) {
            g_previous.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN &&
               g_previous.sa_handler != nullptr) {
        g_previous.sa_handler(signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void installHandler() {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    sigemptyset(&action.sa_mask);
    // SA_NODEFER: the jump leaves the handler without restoring the signal mask, so
    // SIGBUS must not be blocked while the handler runs.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    ::sigaction(SIGBUS, &action, &g_previous);
}

// The copy itself, kept out of line so that nothing of the caller lives between the
// jump point and the access.
[[gnu::noinline]] bool copyWithGuard(void* destination, const void* source, std::size_t size) {
    sigjmp_buf guard;
    if (sigsetjmp(guard, 0) != 0)
        return false;
    t_guard = &guard;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(destination, source, size);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_guard = nullptr;
    return true;
}

} // namespace

bool GuardedCopy(void* destination, const void* source, std::size_t size) {
    static std::once_flag installed;
    std::call_once(installed, installHandler);
    return copyWithGuard(destination, source, size);
}

} // namespace harvix
