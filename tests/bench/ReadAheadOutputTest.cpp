// harvix-cli extract on the benchmark's generated corpus with every number of reader
// threads, and with its default (readers added while they wait for the disk): the same
// files with the same bytes, the same index records in the same order and the same
// counts as with none.
#include "bench/BenchSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

namespace fs = std::filesystem;
using harvix::bench::OutputTree;
using harvix::bench::ReadTree;

std::string run(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int status = pipe ? ::pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << command << "\n" << out;
    return out;
}

// A destination in name order, its indexes without their header blocks (which hold the
// time of the run).
OutputTree comparable(OutputTree tree) {
    for (auto& [path, lines] : tree.indexes)
        std::erase_if(lines, [](const std::string& line) { return line.find(" - SOURCE FILE = ") == std::string::npos; });
    std::sort(tree.folders.begin(), tree.folders.end());
    std::sort(tree.files.begin(), tree.files.end());
    std::sort(tree.indexes.begin(), tree.indexes.end());
    return tree;
}

TEST(ReadAheadOutput, EveryNumberOfReadersWritesWhatNoneWrites) {
    const fs::path work = fs::temp_directory_path() / ("harvix-read-ahead-test-" + std::to_string(::getpid()));
    fs::remove_all(work);
    run(std::string(HARVIX_EXTRACT_BENCH) + " --corpus-only --modules 40 --work " + work.string());
    const fs::path corpus = work / "corpus";
    std::string counts;
    OutputTree reference;
    for (const std::string jobs : {"0", "1", "2", "3", "8", "16", ""}) {
        const fs::path dest = work / ("out" + (jobs.empty() ? std::string("-default") : jobs));
        const std::string printed = run(std::string(HARVIX_CLI) + " extract --yes --mask '*'" +
                                        (jobs.empty() ? "" : " --jobs " + jobs) + " --dest " + dest.string() +
                                        " " + corpus.string() + " </dev/null");
        OutputTree tree = comparable(ReadTree(dest));
        if (counts.empty()) {
            counts = printed;
            reference = std::move(tree);
            ASSERT_GT(reference.files.size(), 1000u);
            continue;
        }
        EXPECT_EQ(printed, counts) << jobs;
        EXPECT_EQ(tree.folders, reference.folders) << jobs;
        EXPECT_TRUE(tree.files == reference.files) << jobs << ": the files differ";
        EXPECT_TRUE(tree.indexes == reference.indexes) << jobs << ": the records differ";
    }
    fs::remove_all(work);
}

} // namespace
