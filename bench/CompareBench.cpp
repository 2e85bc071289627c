// The comparison benchmark: how fast `harvix-cli extract` gets pictures out of modules
// next to the tools users already know, and next to the floor of plain file writes.
//
// On each corpus (a generated one, and the installed Wine modules when present) it runs,
// several rounds, each tool into a fresh folder, the way its users run it:
//   - harvix-cli extract with its default job (every kind, per-size icon files, index
//     records, the counting pass) over every file of the corpus, one process;
//   - the same with a fixed number of readers (--jobs N, as many as given), and with other
//     builds of harvix-cli (--baseline [LABEL=]PATH, as many as given; for example builds
//     of earlier versions), to compare with;
//   - the floor of the fewest calls, the base of every ratio: a process of its own that
//     creates the folders and files Harvix wrote, with the same sizes, and its index
//     records, with the fewest system calls (a mkdir per folder; an exclusive open, one
//     write and a close per file; each index file opened once for the run and one write
//     per record), from a plan made beforehand;
//   - the read-and-write floor: one thread that reads each module's headers and resource
//     section (no parsing: where the section lies is found beforehand), then creates the
//     files Harvix wrote, with the same bytes, and appends the same index lines, each with
//     its own open, write and close;
//   - wrestool -x for icons, cursors and bitmaps (--type=14, 12 and 2): one process per
//     kind, given every module of the corpus at once, all into one folder;
//   - 7-Zip extracting the picture folders of the resource section (.rsrc/*/ICON, BITMAP,
//     CURSOR, ANICURSOR, AVI, HTML) of every module: one process, the modules given in a
//     list file, each into a folder of its own.
// With --cold the whole comparison runs a second time with the page cache dropped before
// every run (as root: sync, then 3 into /proc/sys/vm/drop_caches); where that is refused,
// it says so and the figures stay warm.
// Outputs are deleted only at the very end: on ext4, creating many files right after
// deleting many is several times slower, which would favour whichever tool ran first.
// It prints the median times, files/s, resources/s, peak resident sizes and the ratios;
// warm, it also runs harvix-cli and the floor of the fewest calls once more each under
// `strace -c -f` and prints the system calls they made per file written (index files
// not counted as files). Then it times the walk alone (counting pass and search, masks
// applied) against `find -iname` over a large tree.
//
//     harvix-compare-bench [--runs N] [--modules N] [--work DIR] [--wine DIR | --no-wine]
//                          [--no-generated] [--walk-tree DIR | --no-walk] [--keep]
//                          [--cli PATH] [--baseline [LABEL=]PATH]... [--jobs N]... [--cold]
//                          [--wrestool PATH | --no-wrestool] [--7z PATH | --no-7z]
//                          [--strace PATH | --no-strace]
#include "bench/BenchSupport.h"
#include "module/PeModule.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace harvix::bench;

const char* const kDefaultWine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
const char* const kMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "harvix-compare-bench: " << message << '\n';
    std::exit(1);
}

// The first of the names found on PATH (or taken as a path when it holds a slash).
std::optional<std::string> findProgram(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (name.find('/') != std::string::npos) {
            if (::access(name.c_str(), X_OK) == 0)
                return name;
            continue;
        }
        const char* path = std::getenv("PATH");
        std::stringstream dirs(path ? path : "/usr/bin:/bin");
        std::string dir;
        while (std::getline(dirs, dir, ':')) {
            const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
    }
    return std::nullopt;
}

// Another harvix-cli to time beside this one, and the label of its row.
struct Baseline {
    std::string label;
    std::string path;
};

struct Options {
    std::string cli = HARVIX_CLI_PATH;
    std::vector<Baseline> baselines;
    std::vector<unsigned> jobs; // this harvix-cli again with --jobs N, one row each
    bool cold = false;
    std::string walker = HARVIX_WALK_PATH;
    std::string corpusMaker = HARVIX_CORPUS_MAKER_PATH;
    std::optional<std::string> wrestool;
    std::optional<std::string> sevenZip;
    std::optional<std::string> strace;
    fs::path work = fs::temp_directory_path() / "harvix-compare-bench";
    int runs = 5;
    int modules = 150;
    std::optional<fs::path> wine = fs::path(kDefaultWine);
    bool generated = true;
    std::optional<fs::path> walkTree = fs::path("/usr");
    bool keep = false;
};

// One tool's measurements on one corpus.
struct Measured {
    std::string name;
    std::vector<double> times;
    std::vector<double> cpu; // user and system time of each run
    long peakKiB = -1; // -1: not measured (the floor runs inside this program)
    FileTally output;
    long resources = 0;
    int failures = 0;
    int firstFailure = 0;
};

std::string spread(const std::vector<double>& times) {
    std::ostringstream text;
    for (std::size_t i = 0; i < times.size(); ++i)
        text << (i ? " " : "") << static_cast<long>(times[i] + 0.5);
    return text.str();
}

std::vector<fs::path> listModules(const fs::path& folder) {
    std::vector<fs::path> modules;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            modules.push_back(entry.path());
    std::sort(modules.begin(), modules.end());
    return modules;
}

// Where a module's resource section lies, found before the floor is timed.
struct ModuleParts {
    fs::path path;
    std::uint64_t sectionOffset = 0;
    std::uint64_t sectionSize = 0;
};

std::vector<ModuleParts> findParts(const std::vector<fs::path>& modules) {
    std::vector<ModuleParts> parts;
    for (const fs::path& path : modules) {
        ModuleParts p{path, 0, 0};
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > 0) {
            auto file = std::make_shared<const harvix::ModuleFile>(fd, static_cast<std::uint64_t>(info.st_size));
            if (auto m = harvix::PeModule::read(file, 0); m.ok())
                if (const auto range = (*m)->resourceSectionRange())
                    std::tie(p.sectionOffset, p.sectionSize) = *range;
        } else if (fd >= 0) {
            ::close(fd);
        }
        parts.push_back(p);
    }
    return parts;
}

// The read part of the floor: each module opened, its first 4 KiB and its resource
// section read with one read each, closed. Returns the milliseconds it took.
double ReadFloor(const std::vector<ModuleParts>& modules) {
    const Clock::time_point start = Clock::now();
    std::vector<char> buffer;
    for (const ModuleParts& m : modules) {
        const int fd = ::open(m.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        buffer.resize(std::max<std::size_t>(4096, static_cast<std::size_t>(m.sectionSize)));
        (void)!::pread(fd, buffer.data(), 4096, 0);
        if (m.sectionSize > 0)
            (void)!::pread(fd, buffer.data(), static_cast<std::size_t>(m.sectionSize),
                           static_cast<off_t>(m.sectionOffset));
        ::close(fd);
    }
    return MillisecondsSince(start);
}

void printRow(const Measured& m, double floorMs) {
    const double ms = Median(m.times);
    const double seconds = ms / 1000.0;
    char peak[32] = "-";
    if (m.peakKiB >= 0)
        std::snprintf(peak, sizeof peak, "%.1f", static_cast<double>(m.peakKiB) / 1024.0);
    std::printf("| %-27s | %9.1f | %8.1f | %7zu | %9.0f | %9ld | %9.0f | %8s | %6.2f | %s\n",
                m.name.c_str(), ms, Median(m.cpu), m.output.files,
                seconds > 0 ? static_cast<double>(m.output.files) / seconds : 0.0, m.resources,
                seconds > 0 ? static_cast<double>(m.resources) / seconds : 0.0, peak,
                floorMs > 0 ? ms / floorMs : 0.0, spread(m.times).c_str());
}

void verdict(const char* what, double value, const char* relation, double target, bool met) {
    std::printf("  %-44s %7.2f  (target %s %.1f: %s)\n", what, value, relation, target,
                met ? "met" : "MISSED");
}

// "pread64 4668, openat 2245 (1315 failed), ...": the `most` system calls made most often.
std::string mostMade(const SyscallCounts& counts, std::size_t most) {
    std::vector<SyscallCounts::Row> rows = counts.rows;
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.calls > b.calls; });
    std::string text;
    for (std::size_t i = 0; i < rows.size() && i < most; ++i) {
        text += (i ? ", " : "") + rows[i].name + " " + std::to_string(rows[i].calls);
        if (rows[i].errors > 0)
            text += " (" + std::to_string(rows[i].errors) + " failed)";
    }
    return text;
}

// One run each of harvix-cli and the floor of the fewest calls under strace: the system
// calls per file written.
void countSystemCalls(const Options& options, const Command& harvix, const Command& floor, const fs::path& out,
                      std::size_t filesWritten) {
    std::printf("\nSystem calls, strace -c -f of one run each (%zu files written, index files not counted):\n\n",
                filesWritten);
    std::printf("| %-27s | %8s | %8s | %8s | %s\n", "run", "calls", "per file", "failed", "most made");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(29, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(10, '-').c_str());
    const double files = static_cast<double>(std::max<std::size_t>(filesWritten, 1));
    std::optional<double> harvixPerFile;
    for (const auto& [name, command, file] : {std::tuple{"harvix-cli extract", &harvix, "strace-harvix.txt"},
                                              std::tuple{"floor (fewest calls)", &floor, "strace-floor.txt"}}) {
        std::string why;
        const auto counts = CountSystemCalls(*options.strace, *command, out / file, why);
        if (!counts) {
            std::printf("| %-27s | not counted: %s\n", name, why.c_str());
            continue;
        }
        const double perFile = static_cast<double>(counts->calls) / files;
        if (!harvixPerFile)
            harvixPerFile = perFile;
        std::printf("| %-27s | %8ld | %8.2f | %8ld | %s\n", name, counts->calls, perFile, counts->errors,
                    mostMade(*counts, 8).c_str());
    }
    std::printf("\n");
    if (harvixPerFile)
        verdict("Harvix system calls per file written", *harvixPerFile, "<=", 5.0, *harvixPerFile <= 5.0);
}

// Runs every tool on one corpus and prints the table.
void compareOn(const std::string& title, const fs::path& corpus, const fs::path& out,
               const Options& options, bool cold) {
    const std::vector<fs::path> modules = listModules(corpus);
    if (modules.empty()) {
        std::printf("\n%s: no files in %s, skipped\n", title.c_str(), corpus.c_str());
        return;
    }
    fs::create_directories(out);
    const double loadBefore = LoadAverage();

    // A first run reads the modules into the page cache and gives the files and index
    // lines the floor writes.
    const fs::path reference = out / "reference";
    const JobsRun first = RunJobs(
        {{options.cli, "extract", "--mask", "*", "--dest", reference.string(), corpus.string()}},
        out / "reference.out");
    if (first.failures != 0)
        fail("harvix-cli extract ended with status " + std::to_string(first.firstFailure) +
             " on " + corpus.string() + " (see " + (out / "reference.out.err").string() + ")");
    const long resources = SummedCounts(out / "reference.out");
    const OutputTree tree = ReadTree(reference);
    const fs::path planFile = out / "floor.plan";
    WritePlanFile(PlanFloor(tree), planFile);
    const std::vector<ModuleParts> parts = findParts(modules);
    const fs::path moduleList = out / "modules.txt";
    {
        std::ofstream list(moduleList);
        for (const fs::path& module : modules)
            list << module.string() << '\n';
    }

    // harvix-cli as its users run it first, then with fixed numbers of readers, then the
    // other builds.
    struct Variant {
        Measured measured;
        std::string program;
        Command options; // after "extract"
        std::string folder;
        std::string shortName; // in the ratios
    };
    std::vector<Variant> variants;
    variants.push_back({{"harvix-cli extract", {}, {}, 0, {}, resources, 0, 0}, options.cli, {}, "harvix", "Harvix"});
    for (const unsigned jobs : options.jobs)
        variants.push_back({{"harvix-cli --jobs " + std::to_string(jobs), {}, {}, 0, {}, resources, 0, 0},
                            options.cli,
                            {"--jobs", std::to_string(jobs)},
                            "jobs" + std::to_string(jobs),
                            "--jobs " + std::to_string(jobs)});
    for (std::size_t i = 0; i < options.baselines.size(); ++i) {
        const Baseline& b = options.baselines[i];
        const std::string label = b.label.empty() ? std::string("baseline") : b.label;
        variants.push_back({{"harvix-cli (" + label + ")", {}, {}, 0, {}, resources, 0, 0},
                            b.path,
                            {},
                            "baseline" + std::to_string(i),
                            label});
    }
    Measured& harvix = variants.front().measured;
    Measured fewest{"floor (fewest calls)", {}, {}, 0, {}, resources, 0, 0};
    Measured floor{"read+write floor", {}, {}, -1, {}, resources, 0, 0};
    Measured wrestool{"wrestool -x (types 14,12,2)", {}, {}, 0, {}, 0, 0, 0};
    Measured sevenZip{"7-Zip x .rsrc pictures", {}, {}, 0, {}, 0, 0, 0};
    std::string refused;
    auto beforeRun = [&] {
        if (cold && refused.empty() && !DropCaches(refused))
            std::printf("  dropping the page cache was refused (%s): these runs are warm\n",
                        refused.c_str());
    };

    auto take = [](Measured& m, const JobsRun& run, const fs::path& dest) {
        m.times.push_back(run.ms);
        m.cpu.push_back(run.cpuMs);
        m.peakKiB = std::max(m.peakKiB, run.peakKiB);
        m.failures = run.failures;
        m.firstFailure = run.firstFailure;
        m.output = TallyFiles(dest);
    };

    // The tools take turns, starting with a different one each round, so that a busy
    // moment of the machine does not fall on one tool alone. Numbers from kVariant on
    // are the harvix-cli variants.
    constexpr int kVariant = 100;
    std::vector<int> order{kVariant, 4, 1};
    for (std::size_t i = 1; i < variants.size(); ++i)
        order.push_back(kVariant + static_cast<int>(i));
    if (options.wrestool)
        order.push_back(2);
    if (options.sevenZip)
        order.push_back(3);
    const int tools = static_cast<int>(order.size());
    for (int round = 0; round < options.runs; ++round) {
        const std::string suffix = "-" + std::to_string(round);
        for (int turn = 0; turn < tools; ++turn) {
            const int tool = order[static_cast<std::size_t>((turn + round) % tools)];
            beforeRun();
            if (tool >= kVariant) {
                Variant& v = variants[static_cast<std::size_t>(tool - kVariant)];
                const fs::path dest = out / (v.folder + suffix);
                const fs::path log = out / (v.folder + suffix + ".out");
                Command command{v.program, "extract"};
                command.insert(command.end(), v.options.begin(), v.options.end());
                command.insert(command.end(), {"--mask", "*", "--dest", dest.string(), corpus.string()});
                take(v.measured, RunJobs({command}, log), dest);
                v.measured.resources = SummedCounts(log);
                continue;
            }
            switch (tool) {
            case 4: {
                const fs::path dest = out / ("fewest" + suffix);
                take(fewest, RunJobs({FloorCommand(planFile, dest)}, out / ("fewest" + suffix + ".out")), dest);
                break;
            }
            case 1: {
                const fs::path dest = out / ("floor" + suffix);
                const double cpuBefore = CpuMillisecondsOfThisProcess();
                const double readMs = ReadFloor(parts);
                floor.times.push_back(readMs + WriteFloor(tree, dest));
                floor.cpu.push_back(CpuMillisecondsOfThisProcess() - cpuBefore);
                floor.output = TallyFiles(dest);
                break;
            }
            case 2: {
                const fs::path dest = out / ("wrestool" + suffix);
                fs::create_directories(dest);
                std::vector<Command> jobs;
                for (const char* type : {"--type=14", "--type=12", "--type=2"}) {
                    Command command{*options.wrestool, "-x", type, "-o", dest.string()};
                    for (const fs::path& module : modules)
                        command.push_back(module.string());
                    jobs.push_back(std::move(command));
                }
                // wrestool ends with 1 when some module of the call holds no such resource.
                take(wrestool, RunJobs(jobs, out / ("wrestool" + suffix + ".out"), 1), dest);
                wrestool.resources = static_cast<long>(wrestool.output.files);
                break;
            }
            default: {
                const fs::path dest = out / ("7z" + suffix);
                fs::create_directories(dest);
                Command command{*options.sevenZip, "x", "-y", "-bso0", "-bsp0", "-an",
                                "-ai@" + moduleList.string(), "-o" + (dest / "*").string(), "-r"};
                // 7-Zip puts a language folder between .rsrc and the kind only when a
                // module holds more than one language.
                for (const char* kind : {"ICON", "BITMAP", "CURSOR", "ANICURSOR", "AVI", "HTML"}) {
                    command.push_back(std::string(".rsrc/") + kind + "/*");
                    command.push_back(std::string(".rsrc/*/") + kind + "/*");
                }
                // 7-Zip ends with 1 on a warning, such as a wrong module checksum, and
                // with 2 when one of the files is no archive it can open.
                take(sevenZip, RunJobs({command}, out / ("7z" + suffix + ".out"), 2), dest);
                sevenZip.resources = static_cast<long>(sevenZip.output.files);
                break;
            }
            }
        }
    }
    const double loadAfter = LoadAverage();

    const bool wasCold = cold && refused.empty();
    std::printf("\n%s, %s: %zu modules in %s; Harvix writes %zu files and %zu index lines\n",
                title.c_str(), wasCold ? "COLD (page cache dropped before every run)" : "WARM (page cache filled)",
                modules.size(), corpus.c_str(), tree.files.size(), tree.indexLines);
    std::printf("%d alternating rounds, load average %.2f before, %.2f after\n\n", options.runs, loadBefore,
                loadAfter);
    std::printf("| %-27s | %9s | %8s | %7s | %9s | %9s | %9s | %8s | %6s | %s\n", "tool",
                "median ms", "cpu ms", "files", "files/s", "resources", "res/s", "peak MiB",
                "xfloor", "runs (ms)");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(29, '-').c_str(),
                std::string(11, '-').c_str(), std::string(10, '-').c_str(),
                std::string(9, '-').c_str(),
                std::string(11, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(10, '-').c_str(),
                std::string(8, '-').c_str());
    const double floorMs = Median(fewest.times);
    const double harvixMs = Median(harvix.times);
    for (const Variant& v : variants)
        printRow(v.measured, floorMs);
    printRow(fewest, floorMs);
    printRow(floor, floorMs);
    if (options.wrestool)
        printRow(wrestool, floorMs);
    if (options.sevenZip)
        printRow(sevenZip, floorMs);
    std::vector<const Measured*> all{&fewest, &wrestool, &sevenZip};
    for (const Variant& v : variants)
        all.push_back(&v.measured);
    for (const Measured* m : all)
        if (m->failures > 0)
            std::printf("  note: %d commands of %s ended with an error (first status %d)\n",
                        m->failures, m->name.c_str(), m->firstFailure);
    std::printf("\nHow each ran (one process each unless said):\n"
                "  harvix-cli extract --mask '*' --dest DEST CORPUS (readers: its default)\n");
    for (const unsigned jobs : options.jobs)
        std::printf("  harvix-cli --jobs %u: the same with --jobs %u after extract\n", jobs, jobs);
    for (std::size_t i = 0; i < options.baselines.size(); ++i)
        std::printf("  %s: %s, the same arguments\n",
                    variants[1 + options.jobs.size() + i].measured.name.c_str(),
                    options.baselines[i].path.c_str());
    std::printf("  floor (fewest calls), the base of xfloor: a process of its own (this program) that reads\n"
                "    a plan made beforehand, then makes Harvix's folders (a mkdir each), its files with\n"
                "    their sizes (an exclusive open, one write and a close each) and its index records\n"
                "    (each index file opened once for the run, one write per record)\n"
                "  read+write floor: in this process, one thread, every module's first 4 KiB and resource\n"
                "    section read (one open, two reads, one close each), then Harvix's files and index\n"
                "    lines written (one open, write and close each)\n");
    if (options.wrestool)
        std::printf("  wrestool -x --type=T -o DEST MODULE...: one process per type (14, 12, 2), every module\n");
    if (options.sevenZip)
        std::printf("  7zz x -an -ai@LIST -oDEST/* -r '.rsrc/KIND/*' '.rsrc/*/KIND/*' (ICON BITMAP CURSOR ANICURSOR\n"
                    "    AVI HTML): one process\n");

    std::printf("\n");
    // Against the first baseline, the build before the speed work: the goals; against
    // the others and the fixed numbers of readers, the ratios.
    for (std::size_t i = 1; i < variants.size(); ++i) {
        const Measured& other = variants[i].measured;
        const double otherMs = Median(other.times);
        const std::string what = "Harvix time / " + variants[i].shortName + " time";
        if (i == 1 + options.jobs.size() && wasCold)
            verdict((what + " (cold)").c_str(), harvixMs / otherMs, "<=", 0.5, harvixMs <= 0.5 * otherMs);
        else if (i == 1 + options.jobs.size())
            verdict((what + " (warm)").c_str(), harvixMs / otherMs, "<=", 0.9, harvixMs <= 0.9 * otherMs);
        else if (i <= options.jobs.size() && wasCold)
            verdict((what + " (cold)").c_str(), harvixMs / otherMs, "<=", 1.0, harvixMs <= otherMs);
        else
            std::printf("  %-44s %7.2f\n", what.c_str(), harvixMs / otherMs);
    }
    if (!wasCold) {
        verdict("Harvix time / floor of the fewest calls", harvixMs / floorMs, "<=", 1.6, harvixMs <= 1.6 * floorMs);
        std::printf("  %-44s %7.2f\n", "Harvix time / read+write floor", harvixMs / Median(floor.times));
    }
    std::printf("  %-44s %7.2f\n", "Harvix CPU time / the floor's CPU time",
                Median(harvix.cpu) / Median(fewest.cpu));
    verdict("Harvix peak MiB", static_cast<double>(harvix.peakKiB) / 1024.0, "<", 16.0,
            harvix.peakKiB < 16 * 1024);
    if (options.wrestool) {
        const double ms = Median(wrestool.times);
        verdict("wrestool time / Harvix time", ms / harvixMs, ">=", 28.0, ms >= 28.0 * harvixMs);
        std::printf("  %-44s %7.2f\n", "wrestool time / the floor", ms / floorMs);
    }
    if (options.sevenZip) {
        const double ms = Median(sevenZip.times);
        verdict("7-Zip time / Harvix time", ms / harvixMs, ">=", 6.5, ms >= 6.5 * harvixMs);
        std::printf("  %-44s %7.2f\n", "7-Zip time / the floor", ms / floorMs);
    }
    if (options.strace && !cold)
        countSystemCalls(options,
                         {options.cli, "extract", "--mask", "*", "--dest", (out / "strace-harvix").string(),
                          corpus.string()},
                         FloorCommand(planFile, out / "strace-floor"), out, tree.files.size());
    std::fflush(stdout);
}

long countLines(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    long n = 0;
    while (std::getline(in, line))
        ++n;
    return n;
}

// The walk alone against find: both print every matching path into a file.
void compareWalk(const fs::path& tree, const fs::path& out, const Options& options) {
    fs::create_directories(out);
    const Command walk = {options.walker, tree.string(), kMask, "--print"};
    Command find = {"find", tree.string(), "("};
    {
        std::stringstream masks(kMask);
        std::string mask;
        while (std::getline(masks, mask, ';')) {
            if (find.size() > 3)
                find.push_back("-o");
            find.insert(find.end(), {"-iname", mask});
        }
    }
    find.push_back(")");

    const double loadBefore = LoadAverage();
    // One untimed run each fills the kernel's caches of the tree.
    RunJobs({walk}, out / "warm-walk.out");
    RunJobs({find}, out / "warm-find.out", 1);
    Measured walker{"Harvix walk (count+search)", {}, {}, 0, {}, 0, 0, 0};
    Measured finder{"find -iname", {}, {}, 0, {}, 0, 0, 0};
    for (int round = 0; round < options.runs; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool walkTurn = (turn + round) % 2 == 0;
            const fs::path log = out / ((walkTurn ? "walk-" : "find-") + std::to_string(round));
            const JobsRun run = RunJobs({walkTurn ? walk : find}, log, walkTurn ? 0 : 1);
            Measured& m = walkTurn ? walker : finder;
            m.times.push_back(run.ms);
            m.cpu.push_back(run.cpuMs);
            m.peakKiB = std::max(m.peakKiB, run.peakKiB);
            // the walker's last line is its summary
            m.resources = countLines(log) - (walkTurn ? 1 : 0);
        }
    }
    const double walkMs = Median(walker.times);
    const double findMs = Median(finder.times);
    std::printf("\nWalk of %s (mask %s), %d rounds, load average %.2f before, %.2f after\n\n",
                tree.c_str(), kMask, options.runs, loadBefore, LoadAverage());
    std::printf("| %-27s | %9s | %8s | %9s | %8s | %s\n", "walk", "median ms", "cpu ms",
                "matches", "peak MiB", "runs (ms)");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(29, '-').c_str(), std::string(11, '-').c_str(),
                std::string(10, '-').c_str(), std::string(11, '-').c_str(),
                std::string(10, '-').c_str());
    for (const Measured* m : {&walker, &finder})
        std::printf("| %-27s | %9.1f | %8.1f | %9ld | %8.1f | %s\n", m->name.c_str(),
                    Median(m->times), Median(m->cpu), m->resources, static_cast<double>(m->peakKiB) / 1024.0,
                    spread(m->times).c_str());
    std::printf("\n");
    verdict("Harvix walk time / find time", walkMs / findMs, "<=", 2.0, walkMs <= 2.0 * findMs);
    std::fflush(stdout);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    std::optional<std::string> wrestool;
    std::optional<std::string> sevenZip;
    std::optional<std::string> strace;
    bool noWrestool = false;
    bool noSevenZip = false;
    bool noStrace = false;
    ArgReader args("harvix-compare-bench", "", argc, argv);
    while (args.next()) {
        if (args.take("--runs", o.runs) || args.take("--modules", o.modules) || args.take("--work", o.work) ||
            args.take("--wine", o.wine) || args.flag("--no-wine", o.wine, std::optional<fs::path>()) ||
            args.flag("--no-generated", o.generated, false) || args.take("--walk-tree", o.walkTree) ||
            args.flag("--no-walk", o.walkTree, std::optional<fs::path>()) || args.flag("--keep", o.keep) ||
            args.take("--cli", o.cli) || args.flag("--cold", o.cold) || args.take("--wrestool", wrestool) ||
            args.take("--7z", sevenZip) || args.flag("--no-wrestool", noWrestool) ||
            args.flag("--no-7z", noSevenZip) || args.take("--strace", strace) || args.flag("--no-strace", noStrace))
            continue;
        if (args.option() == "--baseline") {
            // LABEL=PATH, or a path alone; a path may hold '=' after a slash.
            const std::string value = args.value();
            const auto eq = value.find('=');
            if (eq != std::string::npos && value.find('/') > eq)
                o.baselines.push_back({value.substr(0, eq), value.substr(eq + 1)});
            else
                o.baselines.push_back({"", value});
        } else if (args.option() == "--jobs")
            o.jobs.push_back(args.jobsValue());
        else
            args.unknown();
    }
    if (!noWrestool)
        o.wrestool = findProgram({wrestool.value_or("wrestool")});
    if (!noSevenZip)
        o.sevenZip = sevenZip ? findProgram({*sevenZip}) : findProgram({"7z", "7zz"});
    if (!noStrace)
        o.strace = findProgram({strace.value_or("strace")});
    return o;
}

int run(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (!options.wrestool)
        std::printf("wrestool (icoutils) left out\n");
    if (!options.sevenZip)
        std::printf("7-Zip (7z or 7zz) left out\n");
    if (!options.strace)
        std::printf("strace left out: system calls not counted\n");

    // ext4 passes over the inodes of files deleted in the last half minute when it
    // creates new ones; after clearing an earlier run, wait for them to age.
    if (fs::remove_all(options.work) > 1000) {
        std::printf("Waiting 40 s after deleting the outputs of an earlier run...\n");
        std::fflush(stdout);
        ::sleep(40);
    }
    fs::create_directories(options.work);
    if (options.generated) {
        const fs::path made = options.work / "generated";
        std::printf("Writing %d generated modules...\n", options.modules);
        std::fflush(stdout);
        const JobsRun run = RunJobs({{options.corpusMaker, "--corpus-only", "--work",
                                      made.string(), "--modules",
                                      std::to_string(options.modules)}},
                                    options.work / "corpus-maker.out");
        if (run.failures != 0)
            fail("the corpus could not be written");
        compareOn("Generated corpus", made / "corpus", options.work / "out-generated", options, false);
        if (options.cold)
            compareOn("Generated corpus", made / "corpus", options.work / "out-generated-cold", options, true);
    }
    if (options.wine) {
        if (fs::is_directory(*options.wine)) {
            compareOn("Wine modules", *options.wine, options.work / "out-wine", options, false);
            if (options.cold)
                compareOn("Wine modules", *options.wine, options.work / "out-wine-cold", options, true);
        } else {
            std::printf("\n%s not found (apt-get install libwine): left out\n",
                        options.wine->c_str());
        }
    }
    if (options.walkTree)
        compareWalk(*options.walkTree, options.work / "out-walk", options);

    if (!options.keep)
        fs::remove_all(options.work);
    else
        std::printf("\nOutputs kept in %s\n", options.work.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return BenchMain("harvix-compare-bench", argc, argv, run);
}
