// The launcher benchmark: `harvix-cli icon` against icoextract and against wrestool with
// icotool, each run as the launchers that run Windows programs run them: one command
// (or one pipeline of commands) per program, on the Wine modules whose first icon group
// that harvix-cli and icoextract both read an icon of (the first group in the module's
// order, which wrestool names). Two tasks:
//   png  a 48-pixel PNG of the program's icon:
//        harvix-cli icon M OUT.png --size 48
//        exe-thumbnailer -s 48 M OUT.png                 (icoextract's PNG tool)
//        wrestool -x -t 14 -n NAME -o TMP.ico M; icotool -x -w 48 -b 32 -o OUT.png TMP.ico
//   ico  the first icon group as an .ico file:
//        harvix-cli icon M --ico OUT.ico
//        icoextract M OUT.ico
//        wrestool -x -t 14 -n NAME -o OUT.ico M
// Before them, the work of `harvix-cli icon M OUT.png --size 48` without the start of a
// process: reading the group, choosing, scaling and encoding the image, per module, the
// median of many repetitions (the disk warm), and `harvix-cli --version` as the floor of
// starting the program at all.
// Rounds alternate which tool goes first; every round writes into fresh folders. Prints
// every round, the medians per task and tool (wall and CPU time, per program), the
// ratios to harvix-cli, the peak resident size of the largest single command, and how
// many programs each tool gave a file for (icotool refuses many of Wine's groups).
#include "bench/BenchSupport.h"
#include "convert/ModuleIcons.h"
#include "image/Png.h"
#include "image/Thumbnail.h"


#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace harvix::bench;

struct Options : WineBenchOptions {
    Options() : WineBenchOptions(100, "/tmp/harvix-icon-bench", HARVIX_CLI_PATH) {}
};

constexpr const char* kUsage =
    "usage: harvix-icon-bench [--runs N] [--modules N] [--wine DIR] [--work DIR] [--cli PATH] [--keep]";

// The name wrestool gives the first icon group of a module ("--name=..." of its
// listing, in the module's order), or "" when it lists none.
std::string firstGroupName(const fs::path& module) {
    const auto [status, out] = Capture({"wrestool", "-l", "-t", "14", module.string()});
    if (status != 0)
        return {};
    const auto at = out.find("--name=");
    if (at == std::string::npos)
        return {};
    std::string name = out.substr(at + 7, out.find(' ', at) - at - 7);
    if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'')
        name = name.substr(1, name.size() - 2);
    return name;
}

// The commands for one module (more than one for a pipeline), writing into `folder`.
using Commands = std::function<std::vector<Command>(const fs::path& module, const std::string& group,
                                                    const fs::path& folder)>;

struct Tool : ToolRuns {
    Tool(std::string task_, std::string name_, Commands commands_, std::string extension_)
        : task(std::move(task_)), name(std::move(name_)), commands(std::move(commands_)),
          extension(std::move(extension_)) {}

    std::string task; // "png" or "ico"
    std::string name;
    Commands commands;
    std::string extension;
};

int run(int argc, char** argv) {
    Options o;
    ArgReader args("harvix-icon-bench", kUsage, argc, argv);
    while (args.next())
        if (!o.take(args))
            args.unknown();
    const std::vector<fs::path> all = WineModules(o.wine);
    MakeFreshFolder(o.work);

    // The modules with an icon group that harvix-cli and icoextract read, in name order,
    // found before anything is timed, with the name wrestool gives their first group.
    std::vector<fs::path> modules;
    std::map<fs::path, std::string> groups;
    std::uintmax_t bytes = 0;
    const fs::path probe = o.work / "probe";
    for (const fs::path& m : all) {
        if (modules.size() >= o.modules)
            break;
        const std::string group = firstGroupName(m);
        if (group.empty())
            continue;
        fs::remove_all(probe);
        fs::create_directories(probe);
        const bool ok =
            Capture({o.cli, "icon", m.string(), (probe / "h.png").string(), "--size", "48"}).first == 0 &&
            Capture({"exe-thumbnailer", "-s", "48", m.string(), (probe / "e.png").string()}).first == 0 &&
            Capture({"icoextract", m.string(), (probe / "e.ico").string()}).first == 0;
        if (ok) {
            modules.push_back(m);
            groups[m] = group;
            bytes += fs::file_size(m);
        }
    }
    if (modules.empty()) {
        std::fprintf(stderr, "no module with an icon group that harvix-cli and icoextract read\n");
        return 1;
    }
    std::printf("%zu modules with an icon group, from %s (%.1f MB), %d rounds, "
                "load average %.1f\n",
                modules.size(), o.wine.c_str(), static_cast<double>(bytes) / 1e6, o.runs, LoadAverage());

    // The icon's own work, in this process: the median over repetitions, per module.
    {
        std::vector<double> perModule;
        for (const fs::path& m : modules) {
            std::vector<double> times;
            for (int rep = 0; rep < 21; ++rep) {
                const Clock::time_point start = Clock::now();
                auto icon = harvix::LoadFileIcon(m.string(), std::nullopt, 64ull << 20);
                if (!icon)
                    break;
                const std::vector<harvix::ByteView> views(icon->images.begin(), icon->images.end());
                auto picture = harvix::MakeIconPicture(views, 48, 2);
                if (!picture || !harvix::EncodePng(*picture))
                    break;
                times.push_back(MillisecondsSince(start));
            }
            if (!times.empty())
                perModule.push_back(Median(times));
        }
        std::sort(perModule.begin(), perModule.end());
        if (!perModule.empty())
            std::printf("in-process icon work (read the group, choose, scale, encode a 48-pixel PNG), per module: "
                        "median %.2f ms, fastest %.2f ms, slowest %.2f ms\n",
                        Median(perModule), perModule.front(), perModule.back());
    }

    const std::string cli = o.cli;
    std::vector<Tool> tools{
        {"png", "harvix-cli --version (start)",
         [cli](const fs::path&, const std::string&, const fs::path&) {
             return std::vector<Command>{{cli, "--version"}};
         },
         ".none"},
        {"png", "harvix-cli icon --size 48",
         [cli](const fs::path& m, const std::string&, const fs::path& f) {
             return std::vector<Command>{{cli, "icon", m.string(), (f / (m.filename().string() + ".png")).string(),
                                          "--size", "48"}};
         },
         ".png"},
        {"png", "exe-thumbnailer -s 48",
         [](const fs::path& m, const std::string&, const fs::path& f) {
             return std::vector<Command>{
                 {"exe-thumbnailer", "-s", "48", m.string(), (f / (m.filename().string() + ".png")).string()}};
         },
         ".png"},
        {"png", "wrestool + icotool -w 48 -b 32",
         [](const fs::path& m, const std::string& group, const fs::path& f) {
             const std::string ico = (f / (m.filename().string() + ".ico")).string();
             return std::vector<Command>{
                 {"wrestool", "-x", "-t", "14", "-n", group, "-o", ico, m.string()},
                 {"icotool", "-x", "-w", "48", "-b", "32", "-o", (f / (m.filename().string() + ".png")).string(), ico}};
         },
         ".png"},
        {"ico", "harvix-cli icon --ico",
         [cli](const fs::path& m, const std::string&, const fs::path& f) {
             return std::vector<Command>{{cli, "icon", m.string(), "--ico", (f / (m.filename().string() + ".ico")).string()}};
         },
         ".ico"},
        {"ico", "icoextract",
         [](const fs::path& m, const std::string&, const fs::path& f) {
             return std::vector<Command>{{"icoextract", m.string(), (f / (m.filename().string() + ".ico")).string()}};
         },
         ".ico"},
        {"ico", "wrestool -x -t 14 -n",
         [](const fs::path& m, const std::string& group, const fs::path& f) {
             return std::vector<Command>{{"wrestool", "-x", "-t", "14", "-n", group, "-o",
                                          (f / (m.filename().string() + ".ico")).string(), m.string()}};
         },
         ".ico"},
    };

    for (int round = 0; round < o.runs; ++round) {
        for (std::size_t k = 0; k < tools.size(); ++k) {
            Tool& tool = tools[(k + static_cast<std::size_t>(round)) % tools.size()];
            const fs::path folder = o.work / ("round" + std::to_string(round)) / ("tool" + std::to_string(&tool - tools.data()));
            fs::create_directories(folder);
            std::vector<Command> jobs;
            for (const fs::path& m : modules)
                for (Command& c : tool.commands(m, groups[m], folder))
                    jobs.push_back(std::move(c));
            const JobsRun run = RunJobs(jobs, folder / "log.txt");
            tool.add(run, folder, tool.extension);
            std::printf("round %d  %-3s %-28s %8.0f ms wall %8.0f ms CPU  %6.2f ms per program  peak %.1f MiB\n",
                        round + 1, tool.task.c_str(), tool.name.c_str(), run.ms, run.cpuMs,
                        run.ms / static_cast<double>(modules.size()), static_cast<double>(run.peakKiB) / 1024.0);
        }
    }

    const double n = static_cast<double>(modules.size());
    for (const char* task : {"png", "ico"}) {
        std::printf("\n%s: %-28s %10s %10s %12s %12s %9s %7s %8s %9s\n", task, "tool (per program)", "median ms",
                    "CPU ms", "ms/program", "CPU/program", "x harvix", "peak MiB", "files", "failures");
        const Tool* ours = nullptr;
        for (const Tool& t : tools)
            if (t.task == task && ours == nullptr && t.name.find("icon") != std::string::npos)
                ours = &t;
        for (const Tool& t : tools) {
            if (t.task != task)
                continue;
            std::printf("     %-28s %10.0f %10.0f %12.2f %12.2f %9.1f %7.1f %8zu %9d\n", t.name.c_str(), Median(t.ms),
                        Median(t.cpuMs), Median(t.ms) / n, Median(t.cpuMs) / n, Median(t.ms) / Median(ours->ms),
                        static_cast<double>(t.peakKiB) / 1024.0, t.written, t.failures);
        }
    }
    if (!o.keep)
        fs::remove_all(o.work);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return BenchMain("harvix-icon-bench", argc, argv, run);
}
