// Runs a program of the project (harvix-cli, mostly) as its own process, as a script
// would: no terminal, stdin from /dev/null, stdout and stderr caught whole.
#pragma once

#include "tests/support/TestFiles.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace harvix::testing {

struct ProgramRun {
    int status = -1; // the exit status; -1 when the program did not end by itself
    std::string out;
    std::string err;
};

// Runs PROGRAM with ARGS (PROGRAM's own name goes first), with ENV's NAME=VALUE entries
// added to the environment. stdout and stderr go through two files in SCRATCH. INCHILD,
// when given, runs in the new process just before the program starts (to give up root,
// for instance); when it returns false the program is not started (status 126).
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& scratch,
                             const std::vector<std::string>& env = {},
                             const std::function<bool()>& inChild = {}) {
    const std::filesystem::path outPath = scratch / ".stdout", errPath = scratch / ".stderr";
    std::vector<std::string> argv{std::filesystem::path(program).filename().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> vars = env;
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0)
            ::_exit(127);
        for (std::string& var : vars)
            ::putenv(var.data());
        if (inChild && !inChild())
            ::_exit(126);
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        ::execv(program.c_str(), pointers.data());
        ::_exit(127);
    }
    ProgramRun run;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = ReadText(outPath);
    run.err = ReadText(errPath);
    std::error_code ignored;
    std::filesystem::remove(outPath, ignored);
    std::filesystem::remove(errPath, ignored);
    return run;
}

// Runs a shell command line the same way (its own redirections come first).
inline ProgramRun RunShell(const std::string& command, const std::filesystem::path& scratch) {
    return RunProgram("/bin/sh", {"-c", command}, scratch);
}

} // namespace harvix::testing
