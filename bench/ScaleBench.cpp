// The scale benchmark: Harvix over a tree shaped like a whole Windows installation (see
// ScaleTree.h), at several sizes of the same shape, from a tenth of the tree to the
// whole. For each size it times, in alternating rounds, each run into a fresh folder:
//   - the default run: `harvix-cli extract --dest DEST TREE` (the default mask and kinds,
//     the counting pass, per-size icon files, index records);
//   - the counting pass alone (harvix-walk-bench --count-only: the walk that counts the
//     folders and matching files before the search, as a run makes it);
// and prints for each the median time, the files of the tree walked a second, the peak
// resident size, and how each grows against the tenth: time per file (1.00 when the time
// grows linearly with the tree) and the peak size (flat when it stays the same).
//
//     harvix-scale-bench [--work DIR] [--fractions 0.1,0.25,0.5,1] [--runs N]
//                        [--cli PATH] [--walker PATH] [--wine DIR | --no-wine] [--copy]
//                        [--jobs N] [--cold] [--keep]
//     harvix-scale-bench --make-tree DIR [--scale S] [--wine DIR | --no-wine] [--copy]
//
// The trees are kept in the work folder between calls (with --keep, or when made by an
// earlier call with the same fractions) and made again only when missing.
#include "bench/BenchSupport.h"
#include "bench/ScaleTree.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace harvix::bench;

const char* const kDefaultWine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "harvix-scale-bench: " << message << '\n';
    std::exit(1);
}

struct Options {
    fs::path work = fs::temp_directory_path() / "harvix-scale-bench";
    std::vector<double> fractions{0.1, 0.25, 0.5, 1.0};
    int runs = 3;
    std::string cli = HARVIX_CLI_PATH;
    std::string walker = HARVIX_WALK_PATH;
    std::optional<fs::path> wine = fs::path(kDefaultWine);
    bool copy = false;
    std::optional<unsigned> jobs;
    bool cold = false;
    bool keep = false;
    std::optional<fs::path> makeTree;
    double scale = 1.0;
};

std::string fractionText(double fraction) {
    std::ostringstream text;
    text << fraction;
    return text.str();
}

// The counts of a tree, kept beside it so that a later call need not make it again.
void saveCounts(const fs::path& file, const ScaleTreeCounts& c) {
    std::ofstream out(file);
    out << c.folders << ' ' << c.files << ' ' << c.modules << ' ' << c.realModules << ' '
        << c.otherModules << ' ' << c.bytes << '\n';
}

std::optional<ScaleTreeCounts> loadCounts(const fs::path& file) {
    std::ifstream in(file);
    ScaleTreeCounts c;
    if (!(in >> c.folders >> c.files >> c.modules >> c.realModules >> c.otherModules >> c.bytes))
        return std::nullopt;
    return c;
}

void printCounts(const std::string& what, const ScaleTreeCounts& c) {
    std::printf("%s: %llu files in %llu folders; %llu modules the default mask finds (%llu real, "
                "%llu generated), %llu other modules; %.1f MiB written\n",
                what.c_str(), static_cast<unsigned long long>(c.files),
                static_cast<unsigned long long>(c.folders), static_cast<unsigned long long>(c.modules),
                static_cast<unsigned long long>(c.realModules),
                static_cast<unsigned long long>(c.modules - c.realModules),
                static_cast<unsigned long long>(c.otherModules), static_cast<double>(c.bytes) / 1048576.0);
    std::fflush(stdout);
}

ScaleTreeCounts makeTree(const fs::path& root, double scale, const Options& options) {
    ScaleTreeOptions treeOptions;
    treeOptions.scale = scale;
    treeOptions.copy = options.copy;
    if (options.wine)
        treeOptions.realModules = *options.wine;
    const Clock::time_point start = Clock::now();
    const ScaleTreeCounts counts = MakeScaleTree(root, treeOptions);
    printCounts("Made " + root.string() + " in " + std::to_string(static_cast<long>(MillisecondsSince(start) / 1000)) + " s",
                counts);
    return counts;
}

struct Series {
    std::vector<double> ms;
    std::vector<double> cpu;
    long peakKiB = 0;
    void take(const JobsRun& run) {
        ms.push_back(run.ms);
        cpu.push_back(run.cpuMs);
        peakKiB = std::max(peakKiB, run.peakKiB);
    }
};

struct Tree {
    double fraction = 1;
    fs::path root;
    ScaleTreeCounts counts;
    Series run;
    Series count;
    long resources = 0;
    std::size_t written = 0;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    ArgReader args("harvix-scale-bench", "", argc, argv);
    while (args.next()) {
        if (args.take("--work", o.work) || args.take("--runs", o.runs) || args.take("--cli", o.cli) ||
            args.take("--walker", o.walker) || args.take("--wine", o.wine) ||
            args.flag("--no-wine", o.wine, std::optional<fs::path>()) || args.flag("--copy", o.copy) ||
            args.flag("--cold", o.cold) || args.flag("--keep", o.keep) || args.take("--make-tree", o.makeTree))
            continue;
        if (args.option() == "--fractions") {
            o.fractions.clear();
            std::stringstream list(args.value());
            std::string item;
            while (std::getline(list, item, ',')) {
                const double f = std::atof(item.c_str());
                if (f <= 0 || f > 4)
                    fail("--fractions takes numbers above 0 and at most 4, not '" + item + "'");
                o.fractions.push_back(f);
            }
            std::sort(o.fractions.begin(), o.fractions.end());
        } else if (args.option() == "--jobs")
            o.jobs = args.jobsValue();
        else if (args.option() == "--scale")
            o.scale = std::atof(args.value().c_str());
        else
            args.unknown();
    }
    if (o.fractions.empty())
        fail("--fractions names no fraction");
    return o;
}

int run(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.makeTree) {
        if (options.scale <= 0 || options.scale > 4)
            fail("--scale takes a number above 0 and at most 4");
        makeTree(*options.makeTree, options.scale, options);
        return 0;
    }

    fs::create_directories(options.work);
    // Outputs of an earlier call go first; its trees stay when they fit.
    for (const auto& entry : fs::directory_iterator(options.work))
        if (entry.path().filename().string().rfind("out-", 0) == 0)
            fs::remove_all(entry.path());
    std::vector<Tree> trees;
    for (const double fraction : options.fractions) {
        Tree tree;
        tree.fraction = fraction;
        tree.root = options.work / ("tree-" + fractionText(fraction));
        const fs::path countsFile = options.work / ("tree-" + fractionText(fraction) + ".counts");
        const auto known = loadCounts(countsFile);
        if (known && fs::is_directory(tree.root)) {
            tree.counts = *known;
            printCounts("Kept " + tree.root.string(), tree.counts);
        } else {
            fs::remove_all(tree.root);
            tree.counts = makeTree(tree.root, fraction, options);
            saveCounts(countsFile, tree.counts);
        }
        trees.push_back(std::move(tree));
    }

    Command jobs;
    if (options.jobs)
        jobs = {"--jobs", std::to_string(*options.jobs)};
    auto extractCommand = [&](const Tree& tree, const fs::path& dest) {
        Command command{options.cli, "extract"};
        command.insert(command.end(), jobs.begin(), jobs.end());
        command.insert(command.end(), {"--dest", dest.string(), tree.root.string()});
        return command;
    };

    // One untimed run of each fills the page cache and gives the output's size.
    const fs::path out = options.work / "out-runs";
    fs::create_directories(out);
    for (Tree& tree : trees) {
        const std::string name = "first-" + fractionText(tree.fraction);
        const JobsRun first = RunJobs({extractCommand(tree, out / name)}, out / (name + ".out"));
        if (first.failures != 0)
            fail("harvix-cli extract ended with status " + std::to_string(first.firstFailure) +
                 " on " + tree.root.string() + " (see " + (out / (name + ".out.err")).string() + ")");
        tree.resources = SummedCounts(out / (name + ".out"));
        tree.written = TallyFiles(out / name).files;
        RunJobs({{options.walker, tree.root.string(), "--count-only"}}, out / (name + ".count"));
    }

    std::string refused;
    auto beforeRun = [&] {
        if (options.cold && refused.empty() && !DropCaches(refused))
            std::printf("dropping the page cache was refused (%s): these runs are warm\n", refused.c_str());
    };
    const double loadBefore = LoadAverage();
    const std::size_t n = trees.size();
    for (int round = 0; round < options.runs; ++round) {
        for (std::size_t turn = 0; turn < n; ++turn) {
            Tree& tree = trees[(turn + static_cast<std::size_t>(round)) % n];
            const std::string name = fractionText(tree.fraction) + "-" + std::to_string(round);
            const bool countFirst = (round + static_cast<int>(turn)) % 2 == 1;
            for (int step = 0; step < 2; ++step) {
                beforeRun();
                if ((step == 0) != countFirst) {
                    const JobsRun run = RunJobs({extractCommand(tree, out / ("run-" + name))},
                                                out / ("run-" + name + ".out"));
                    if (run.failures != 0)
                        fail("harvix-cli extract failed on " + tree.root.string());
                    tree.run.take(run);
                } else {
                    tree.count.take(RunJobs({{options.walker, tree.root.string(), "--count-only"}},
                                            out / ("count-" + name + ".out")));
                }
            }
            std::printf("round %d, %s: run %.0f ms, count %.0f ms\n", round + 1,
                        fractionText(tree.fraction).c_str(), tree.run.ms.back(), tree.count.ms.back());
            std::fflush(stdout);
        }
    }
    const double loadAfter = LoadAverage();

    const bool cold = options.cold && refused.empty();
    std::printf("\n%s, %d alternating rounds, load average %.2f before, %.2f after; %s\n\n",
                cold ? "COLD (page cache dropped before every run)" : "WARM (page cache filled)",
                options.runs, loadBefore, loadAfter,
                options.jobs ? ("--jobs " + std::to_string(*options.jobs)).c_str() : "default readers");
    std::printf("| tree | files | folders | modules | files written | run ms | CPU ms | files/s | "
                "peak MiB | count ms | files/s | peak MiB |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Tree& t : trees) {
        const double runMs = Median(t.run.ms);
        const double countMs = Median(t.count.ms);
        std::printf("| %s | %llu | %llu | %llu | %zu | %.0f | %.0f | %.0f | %.1f | %.0f | %.0f | %.1f |\n",
                    fractionText(t.fraction).c_str(), static_cast<unsigned long long>(t.counts.files),
                    static_cast<unsigned long long>(t.counts.folders),
                    static_cast<unsigned long long>(t.counts.modules), t.written, runMs,
                    Median(t.run.cpu), static_cast<double>(t.counts.files) / (runMs / 1000.0),
                    static_cast<double>(t.run.peakKiB) / 1024.0, countMs,
                    static_cast<double>(t.counts.files) / (countMs / 1000.0),
                    static_cast<double>(t.count.peakKiB) / 1024.0);
    }
    // Growth against the smallest tree: time per file of the tree (1.00: linear) and
    // the peak size (1.00: flat).
    const Tree& base = trees.front();
    std::printf("\nGrowth against the %s tree (time per file: 1.00 is linear; peak: 1.00 is flat)\n\n",
                fractionText(base.fraction).c_str());
    std::printf("| tree | files x | run time x | run time per file x | run peak x | count time x | "
                "count time per file x | count peak x |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Tree& t : trees) {
        const double size = static_cast<double>(t.counts.files) / static_cast<double>(base.counts.files);
        const double run = Median(t.run.ms) / Median(base.run.ms);
        const double count = Median(t.count.ms) / Median(base.count.ms);
        std::printf("| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n",
                    fractionText(t.fraction).c_str(), size, run, run / size,
                    static_cast<double>(t.run.peakKiB) / static_cast<double>(base.run.peakKiB), count,
                    count / size,
                    static_cast<double>(t.count.peakKiB) / static_cast<double>(base.count.peakKiB));
    }
    std::printf("\nResources written: ");
    for (const Tree& t : trees)
        std::printf("%s%s: %ld", &t == &trees.front() ? "" : ", ", fractionText(t.fraction).c_str(),
                    t.resources);
    std::printf("\nCommands: %s extract [--jobs N] --dest DEST TREE; %s TREE --count-only\n",
                options.cli.c_str(), options.walker.c_str());
    std::fflush(stdout);

    fs::remove_all(out);
    if (!options.keep) {
        for (const Tree& t : trees) {
            fs::remove_all(t.root);
            fs::remove(options.work / ("tree-" + fractionText(t.fraction) + ".counts"));
        }
    } else {
        std::printf("Trees kept in %s\n", options.work.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return BenchMain("harvix-scale-bench", argc, argv, run);
}
