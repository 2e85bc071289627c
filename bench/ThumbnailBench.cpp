// The thumbnailer benchmark: `harvix-cli thumbnail` against the Python thumbnailer of
// Debian's icoextract package (`exe-thumbnailer`) on the same modules, each run as a
// file manager runs it: one command per file, at 128 pixels, with the arguments of its
// installed thumbnailer entry. Rounds alternate which tool goes first; every round
// writes into fresh folders. Prints every round, the medians, the ratio of the medians
// and the peak resident size of the largest single command.
#include "bench/BenchSupport.h"


#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace harvix::bench;

struct Options : WineBenchOptions {
    Options() : WineBenchOptions(60, "/tmp/harvix-thumbnail-bench", HARVIX_CLI_PATH) {}
    std::string python = "exe-thumbnailer";
};

constexpr const char* kUsage =
    "usage: harvix-thumbnail-bench [--runs N] [--modules N] [--wine DIR] [--work DIR]\n"
    "                              [--cli PATH] [--python-thumbnailer PATH] [--keep]";

// Exit status of a command run quietly.
int quietly(const Command& command) {
    return Capture(command).first;
}

struct Tool : ToolRuns {
    std::string name;
    std::function<Command(const fs::path& in, const fs::path& out)> command;
};

int run(int argc, char** argv) {
    Options o;
    ArgReader args("harvix-thumbnail-bench", kUsage, argc, argv);
    while (args.next())
        if (!o.take(args) && !args.take("--python-thumbnailer", o.python))
            args.unknown();
    const std::vector<fs::path> all = WineModules(o.wine);
    MakeFreshFolder(o.work);

    // The modules: those both thumbnailers can show (an icon group), in name order.
    std::vector<fs::path> modules;
    std::uintmax_t bytes = 0;
    for (const fs::path& m : all) {
        if (modules.size() >= o.modules)
            break;
        const fs::path probe = o.work / "probe.png";
        if (quietly({o.cli, "thumbnail", "--size", "128", m.string(), probe.string()}) == 0 &&
            quietly({o.python, "-s", "128", m.string(), probe.string()}) == 0) {
            modules.push_back(m);
            bytes += fs::file_size(m);
        }
    }
    if (modules.empty()) {
        std::fprintf(stderr, "no module with an icon that both thumbnailers show\n");
        return 1;
    }
    std::printf("%zu modules with icons from %s (%.1f MB), %d rounds, load average %.1f\n", modules.size(),
                o.wine.c_str(), static_cast<double>(bytes) / 1e6, o.runs, LoadAverage());

    std::vector<Tool> tools;
    tools.resize(2);
    tools[0].name = "harvix-cli thumbnail";
    tools[0].command = [&o](const fs::path& in, const fs::path& out) {
        return Command{o.cli, "thumbnail", "--size", "128", in.string(), out.string()};
    };
    // As its thumbnailer entry runs it: exe-thumbnailer -v -s %s %i %o.
    tools[1].name = "exe-thumbnailer (icoextract)";
    tools[1].command = [&o](const fs::path& in, const fs::path& out) {
        return Command{o.python, "-v", "-s", "128", in.string(), out.string()};
    };

    for (int round = 0; round < o.runs; ++round) {
        for (std::size_t k = 0; k < tools.size(); ++k) {
            Tool& tool = tools[(k + static_cast<std::size_t>(round)) % tools.size()];
            const fs::path folder = o.work / ("round" + std::to_string(round)) /
                                    (tool.name.substr(0, tool.name.find(' ')));
            fs::create_directories(folder);
            std::vector<Command> jobs;
            for (const fs::path& m : modules)
                jobs.push_back(tool.command(m, folder / (m.filename().string() + ".png")));
            const JobsRun run = RunJobs(jobs, folder / "log.txt");
            tool.add(run, folder, ".png");
            std::printf("round %d  %-30s %9.0f ms wall %9.0f ms CPU  %6.1f ms per file  peak %.1f MiB\n",
                        round + 1, tool.name.c_str(), run.ms, run.cpuMs, run.ms / static_cast<double>(modules.size()),
                        static_cast<double>(run.peakKiB) / 1024.0);
        }
    }

    std::printf("\n%-30s %12s %12s %12s %10s %8s %9s\n", "tool (one command per file)", "median ms", "CPU ms",
                "ms per file", "peak MiB", "files", "failures");
    for (const Tool& t : tools)
        std::printf("%-30s %12.0f %12.0f %12.1f %10.1f %8zu %9d\n", t.name.c_str(), Median(t.ms), Median(t.cpuMs),
                    Median(t.ms) / static_cast<double>(modules.size()), static_cast<double>(t.peakKiB) / 1024.0,
                    t.written, t.failures);
    const double ratio = Median(tools[1].ms) / Median(tools[0].ms);
    const double cpuRatio = Median(tools[1].cpuMs) / Median(tools[0].cpuMs);
    std::printf("\nharvix-cli thumbnail is %.1f times faster (wall, medians; goal 10), %.1f times in CPU time;\n"
                "its peak resident size is %.1f MiB (goal: under 8 MiB).\n",
                ratio, cpuRatio, static_cast<double>(tools[0].peakKiB) / 1024.0);
    if (!o.keep)
        fs::remove_all(o.work);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return BenchMain("harvix-thumbnail-bench", argc, argv, run);
}
