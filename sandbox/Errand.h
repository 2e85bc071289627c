// One task done outside the cage: a small process forked before the cage closes, which
// waits for the task's text and then does with it the one thing it was made for, with
// the rights the command had before it was confined. The extraction's report is written
// so: the report may go anywhere the user names, while the confined run may write only
// beneath its destination.
//
// The helper does nothing but its task, and nothing at all when the command ends
// without handing it the text; it ignores Ctrl-C, which the run answers and then still
// hands over its report.
#pragma once

#include "common/Result.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace harvix {

// Closes every descriptor of the process but those of `keep` (a helper holds no file of
// the command, nor its standard output, which a reader waits to see closed).
void CloseAllBut(std::vector<int> keep);

class Errand {
public:
    using Task = std::function<Status(const std::string& text)>;

    // Forks the helper, while the process has one thread (before the cage and before the
    // run's readers); nothing when the system refuses a process (the caller then does
    // the task itself).
    static std::unique_ptr<Errand> Start(Task task);

    Errand(const Errand&) = delete;
    Errand& operator=(const Errand&) = delete;
    // Lets the helper go without its task, when it was never run, and waits for it.
    ~Errand();

    // Hands the text over and waits for the task's outcome. Once only.
    Status Run(const std::string& text);

private:
    Errand(pid_t pid, int toHelper, int fromHelper)
        : m_pid(pid), m_toHelper(toHelper), m_fromHelper(fromHelper) {}
    void finish();

    pid_t m_pid;
    int m_toHelper;
    int m_fromHelper;
};

} // namespace harvix
