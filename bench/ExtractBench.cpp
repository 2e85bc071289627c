// The extraction benchmark. It writes a corpus of modules that hold many resources of
// every kind, runs `harvix-cli extract` on it several times (each run into a fresh
// folder), and measures in the same run the floor: a plain loop that creates the same
// files with the same bytes and appends the same index lines, each with its own open,
// write and close. It prints the median times, their ratio and the peak resident size
// of the tool, then two stress cases: a 2 GiB sparse module whose resources lie at its
// end (the resident size must not follow the module size) and a module with 65,535
// bitmaps (the time per resource must not grow with the count).
//
//     harvix-extract-bench [--cli PATH] [--work DIR] [--runs N] [--modules N] [--quick]
//                          [--corpus-only] [--no-stress]
#include "bench/BenchSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace harvix;
using namespace harvix::modbuilder;
using harvix::bench::ArgReader;
using harvix::bench::Clock;
using harvix::bench::ExecOrExit;
using harvix::bench::MakeFreshFolder;
using harvix::bench::Median;
using harvix::bench::MillisecondsSince;
using harvix::bench::OutputTree;
using harvix::bench::ReadTree;
using harvix::bench::WriteFloor;
using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "harvix-extract-bench: " << message << '\n';
    std::exit(1);
}

// ---------------------------------------------------------------------------------
// The corpus

struct Payloads {
    std::vector<Bytes> bitmaps;
    Bytes icon16, icon32, iconGroup;
    Bytes cursor, cursorGroup;
    Bytes ani, avi;
    std::vector<Bytes> pages;
};

Payloads makePayloads() {
    Payloads p;
    const int sizes[] = {16, 24, 32, 48};
    const int depths[] = {8, 24, 32};
    int n = 0;
    for (int size : sizes) {
        for (int depth : depths) {
            p.bitmaps.push_back(makeDib(size + 4 * (n % 5), size, depth,
                                        n % 2 ? pictures::gradient() : pictures::rings()));
            ++n;
        }
    }
    p.icon16 = makeIconImage(16, 16, 32, pictures::disc({30, 120, 220, 255}));
    p.icon32 = makeIconImage(32, 32, 8, pictures::disc({220, 60, 30, 255}));
    p.cursor = makeCursorImage(32, 32, 8, 3, 3, pictures::arrow());
    std::vector<Bytes> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(makeCursorFile(32, 32, 8, 16, 16, pictures::frame(i, 4)));
    p.ani = makeAni(frames, 6);
    p.avi = makeAvi(32, 32, 6, 10, [](int frame) { return pictures::frame(frame, 6); });
    for (int i = 0; i < 4; ++i)
        p.pages.push_back(makeHtml("Page " + std::to_string(i),
                                   std::string(static_cast<std::size_t>(200 + 150 * i), 'x')));
    return p;
}

// One module: 24 bitmaps, 8 icon groups of two images, 4 cursors, 2 animated cursors,
// 1 clip and 4 web pages.
ModuleBuilder makeModule(const Payloads& p, int seed) {
    ModuleBuilder b(seed % 2 ? Machine::Pe32Plus : Machine::Pe32);
    const std::uint16_t lang = 0x409;
    for (std::size_t i = 0; i < 24; ++i)
        b.add(ResId::of(ResType::Bitmap), ResId::number(static_cast<std::uint16_t>(100 + i)), lang,
              p.bitmaps[(i + static_cast<std::size_t>(seed)) % p.bitmaps.size()]);
    for (std::uint16_t g = 0; g < 8; ++g) {
        const auto small = static_cast<std::uint16_t>(1 + 2 * g);
        const auto large = static_cast<std::uint16_t>(2 + 2 * g);
        b.add(ResId::of(ResType::Icon), ResId::number(small), lang, p.icon16);
        b.add(ResId::of(ResType::Icon), ResId::number(large), lang, p.icon32);
        b.add(ResId::of(ResType::GroupIcon), ResId::number(static_cast<std::uint16_t>(200 + g)), lang,
              makeGroupIconDir({{16, 16, 32, static_cast<std::uint32_t>(p.icon16.size()), small},
                                {32, 32, 8, static_cast<std::uint32_t>(p.icon32.size()), large}}));
    }
    for (std::uint16_t c = 0; c < 4; ++c) {
        const auto id = static_cast<std::uint16_t>(50 + c);
        b.add(ResId::of(ResType::Cursor), ResId::number(id), lang, p.cursor);
        b.add(ResId::of(ResType::GroupCursor), ResId::number(static_cast<std::uint16_t>(300 + c)), lang,
              makeGroupCursorDir({{32, 32, 8, static_cast<std::uint32_t>(p.cursor.size()), id}}));
    }
    for (std::uint16_t a = 0; a < 2; ++a)
        b.add(ResId::of(ResType::AniCursor), ResId::number(static_cast<std::uint16_t>(400 + a)), lang, p.ani);
    b.add(ResId::name("AVI"), ResId::name("SPIN"), lang, p.avi);
    for (std::size_t h = 0; h < p.pages.size(); ++h)
        b.add(ResId::of(ResType::Html), ResId::name("PAGE" + std::to_string(h) + ".HTM"), lang, p.pages[h]);
    return b;
}

void writeCorpus(const fs::path& folder, int modules) {
    const Payloads payloads = makePayloads();
    for (int i = 0; i < modules; ++i) {
        const fs::path sub = folder / ("dir" + std::to_string(i % 10));
        fs::create_directories(sub);
        const auto name = sub / ("module" + std::to_string(i) + (i % 3 ? ".dll" : ".exe"));
        if (!writeFile(name.string(), makeModule(payloads, i).build()))
            fail("cannot write " + name.string());
    }
}

// ---------------------------------------------------------------------------------
// Running the tool

struct ChildRun {
    double ms = 0;
    long maxRssKiB = 0;
    int status = -1;
    std::string out;
};

// Forks, runs argv with stdin from /dev/null and stdout into `outFile`, and waits.
ChildRun forkAndWait(const std::vector<std::string>& argv, const fs::path& outFile) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        ExecOrExit(argv);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        fail("wait4 failed");
    ChildRun run;
    run.ms = MillisecondsSince(start);
    run.maxRssKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The peak resident size the kernel reports for a child counts the memory of the
// process it was forked from until the exec. So the tool is started from a fresh, small
// copy of this program (`--spawn`), which forks it and reports its time, peak size and
// status.
ChildRun runChild(const std::vector<std::string>& argv, const fs::path& outFile) {
    const fs::path report = outFile.string() + ".measure";
    std::vector<std::string> spawn = {fs::read_symlink("/proc/self/exe").string(), "--spawn",
                                      outFile.string()};
    spawn.insert(spawn.end(), argv.begin(), argv.end());
    const ChildRun helper = forkAndWait(spawn, report);
    std::ifstream measured(report);
    ChildRun run;
    if (helper.status != 0 || !(measured >> run.ms >> run.maxRssKiB >> run.status))
        fail("the measuring helper failed");
    std::ifstream in(outFile);
    std::ostringstream text;
    text << in.rdbuf();
    run.out = text.str();
    return run;
}

ChildRun extract(const std::string& cli, const fs::path& source, const fs::path& dest,
                 const std::vector<std::string>& extra, const fs::path& work) {
    std::vector<std::string> argv = {cli, "extract", "--dest", dest.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(source.string());
    ChildRun run = runChild(argv, work / "cli-stdout.txt");
    if (run.status != 0)
        fail("harvix-cli extract ended with status " + std::to_string(run.status) + " on " +
             source.string());
    return run;
}

// ---------------------------------------------------------------------------------
// The floor (BenchSupport.h): the same files and index lines, written by a plain loop

double writeFloor(const OutputTree& tree, const fs::path& root) {
    try {
        return WriteFloor(tree, root);
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

// ---------------------------------------------------------------------------------
// Stress modules

void writeSparseModule(const fs::path& path) {
    const Payloads p = makePayloads();
    ModuleBuilder b = makeModule(p, 1);
    constexpr std::uint64_t kTwoGiB = 2ull * 1024 * 1024 * 1024;
    if (!writeSparseFile(path.string(), b.buildSplit(kTwoGiB)))
        fail("cannot write " + path.string());
}

void writeManyBitmaps(const fs::path& path, int count) {
    // 16x16 at one bit per pixel: 112 bytes each.
    const Bytes dib = makeDib(16, 16, 1, pictures::checker(4));
    ModuleBuilder b;
    for (int i = 1; i <= count; ++i)
        b.add(ResId::of(ResType::Bitmap), ResId::number(static_cast<std::uint16_t>(i)), 0x409, dib);
    if (!writeFile(path.string(), b.build()))
        fail("cannot write " + path.string());
}

std::size_t countFiles(const fs::path& root) {
    std::size_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        n += entry.is_regular_file() && entry.path().filename() != "__index.txt";
    return n;
}

} // namespace

int main(int argc, char** argv) {
    // The measuring helper: --spawn OUTFILE PROGRAM ARGS...; prints "ms maxrss status".
    if (argc >= 4 && std::string(argv[1]) == "--spawn") {
        const ChildRun run = forkAndWait(std::vector<std::string>(argv + 3, argv + argc), argv[2]);
        std::printf("%.3f %ld %d\n", run.ms, run.maxRssKiB, run.status);
        return 0;
    }

    std::string cli = HARVIX_CLI_PATH;
    fs::path work = fs::temp_directory_path() / "harvix-extract-bench";
    int runs = 5;
    int modules = 150;
    bool quick = false;
    bool corpusOnly = false;
    bool stress = true;
    ArgReader args("harvix-extract-bench", "", argc, argv);
    while (args.next())
        if (!args.take("--cli", cli) && !args.take("--work", work) && !args.take("--runs", runs) &&
            !args.take("--modules", modules) && !args.flag("--quick", quick) &&
            !args.flag("--corpus-only", corpusOnly) && !args.flag("--no-stress", stress, false))
            args.unknown();

    MakeFreshFolder(work);
    const fs::path corpus = work / "corpus";
    std::cout << "Writing " << modules << " modules..." << std::flush;
    writeCorpus(corpus, modules);
    std::cout << " done\n";
    if (corpusOnly) {
        std::cout << "Corpus in " << corpus.string() << '\n';
        return 0;
    }

    // A first extraction gives the files and index lines the floor writes; then the
    // timed runs alternate between the tool and the floor, each into a fresh folder, so
    // that both meet the same state of the machine.
    const fs::path reference = work / "reference";
    ChildRun first = extract(cli, corpus, reference, {"--mask", "*.dll;*.exe"}, work);
    const std::string counts = first.out;
    long peakRss = first.maxRssKiB;
    const OutputTree tree = ReadTree(reference);
    fs::remove_all(reference);

    std::vector<double> cliTimes;
    std::vector<double> floorTimes;
    for (int r = 0; r < runs; ++r) {
        const fs::path dest = work / ("extract-" + std::to_string(r));
        const ChildRun run = extract(cli, corpus, dest, {"--mask", "*.dll;*.exe"}, work);
        cliTimes.push_back(run.ms);
        peakRss = std::max(peakRss, run.maxRssKiB);
        fs::remove_all(dest);

        const fs::path floorDest = work / ("floor-" + std::to_string(r));
        floorTimes.push_back(writeFloor(tree, floorDest));
        fs::remove_all(floorDest);
    }

    const double cliMedian = Median(cliTimes);
    const double floorMedian = Median(floorTimes);
    std::cout << "\nCorpus: " << modules << " modules; output " << tree.files.size() << " files, "
              << tree.indexLines << " index lines in " << tree.indexes.size() << " index files\n"
              << counts;
    auto spread = [](const std::vector<double>& times) {
        std::string text;
        for (double t : times)
            text.append(1, ' ').append(std::to_string(static_cast<long>(t)));
        return text;
    };
    std::printf("extract (median of %d): %9.1f ms   (runs:%s)\n", runs, cliMedian,
                spread(cliTimes).c_str());
    std::printf("floor   (median of %d): %9.1f ms   (runs:%s)\n", runs, floorMedian,
                spread(floorTimes).c_str());
    std::printf("ratio extract/floor:    %9.2f   (target <= 1.5)\n", cliMedian / floorMedian);
    // On a busy machine single runs stray far; the best runs of each show the cost of the
    // work itself.
    std::printf("ratio of the best runs: %9.2f\n",
                *std::min_element(cliTimes.begin(), cliTimes.end()) /
                    *std::min_element(floorTimes.begin(), floorTimes.end()));
    std::printf("peak RSS of extract:    %9.1f MiB (target < 32)\n",
                static_cast<double>(peakRss) / 1024.0);

    if (!stress) {
        fs::remove_all(work);
        return 0;
    }

    // A 2 GiB sparse module with its resources at the end.
    {
        const fs::path folder = work / "sparse";
        fs::create_directories(folder);
        writeSparseModule(folder / "huge.dll");
        const fs::path dest = work / "sparse-out";
        const ChildRun run = extract(cli, folder, dest, {}, work);
        std::printf("\n2 GiB sparse module: %zu files in %.1f ms, peak RSS %.1f MiB (target < 32)\n",
                    countFiles(dest), run.ms, static_cast<double>(run.maxRssKiB) / 1024.0);
        fs::remove_all(folder);
        fs::remove_all(dest);
    }

    // Many bitmaps in one module: the time per resource must stay flat.
    {
        const int small = quick ? 2048 : 8192;
        const int large = quick ? 16384 : 65535;
        double perResource[2] = {0, 0};
        const int countsToTry[2] = {small, large};
        for (int k = 0; k < 2; ++k) {
            const fs::path folder = work / ("many-" + std::to_string(countsToTry[k]));
            fs::create_directories(folder);
            writeManyBitmaps(folder / "many.dll", countsToTry[k]);
            const fs::path dest = work / "many-out";
            const ChildRun run =
                extract(cli, folder, dest, {"--kinds", "bitmap", "--bitmap-limits", "1-32;0-3000;1-48"},
                        work);
            const std::size_t written = countFiles(dest);
            perResource[k] = run.ms * 1000.0 / static_cast<double>(countsToTry[k]);
            std::printf("%5d bitmaps in one module: %zu files in %.1f ms (%.1f us each), peak RSS "
                        "%.1f MiB\n",
                        countsToTry[k], written, run.ms, perResource[k],
                        static_cast<double>(run.maxRssKiB) / 1024.0);
            fs::remove_all(folder);
            fs::remove_all(dest);
        }
        std::printf("time per bitmap, %d vs %d: %.2fx (flat is about 1)\n", large, small,
                    perResource[1] / perResource[0]);
    }

    fs::remove_all(work);
    return 0;
}
