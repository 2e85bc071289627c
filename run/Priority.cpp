#include "run/Priority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdlib>

namespace harvix {

bool IsWin2000OrLater() {
    return true;
}

std::int32_t PriorityClassFor(std::int16_t position) {
    std::int32_t requested = 0;
    switch (position) {
    case 1: requested = IDLE_PRIORITY_CLASS; break;
    case 2: requested = BELOW_NORMAL_PRIORITY_CLASS; break;
    case 3: requested = NORMAL_PRIORITY_CLASS; break;
    case 4: requested = ABOVE_NORMAL_PRIORITY_CLASS; break;
    case 5: requested = HIGH_PRIORITY_CLASS; break;
    default: return 0;
    }
    if (!IsWin2000OrLater() &&
        (requested == BELOW_NORMAL_PRIORITY_CLASS || requested == ABOVE_NORMAL_PRIORITY_CLASS))
        requested /= 256;
    return requested;
}

std::optional<int> NiceValueFor(std::int32_t priorityClass) {
    switch (priorityClass) {
    case IDLE_PRIORITY_CLASS: return 19;
    case BELOW_NORMAL_PRIORITY_CLASS: return 10;
    case ABOVE_NORMAL_PRIORITY_CLASS: return -5;
    case HIGH_PRIORITY_CLASS: return -10;
    default: return std::nullopt;
    }
}

void ApplyPriority(std::int16_t position) {
    const auto nice = NiceValueFor(PriorityClassFor(position));
    if (!nice)
        return;
    // On Linux a nice value belongs to a thread, so every thread of the process gets
    // it. A failure (EACCES or EPERM without the privilege to raise the priority) is
    // deliberately ignored: the run goes on at the priority it has.
    bool anyThread = false;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            char* end = nullptr;
            const long tid = std::strtol(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0' || tid <= 0)
                continue;
            anyThread = true;
            (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), *nice);
        }
        closedir(tasks);
    }
    if (!anyThread)
        (void)setpriority(PRIO_PROCESS, 0, *nice);
}

} // namespace harvix
