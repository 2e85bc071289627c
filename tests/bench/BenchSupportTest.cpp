#include "bench/BenchSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using namespace harvix::bench;

class BenchSupport : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("harvix-bench-support-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    static void write(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Every file and folder below root, by relative path; folders map to "/".
    static std::map<std::string, std::string> snapshot(const fs::path& root) {
        std::map<std::string, std::string> all;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            all[fs::relative(entry.path(), root).string()] =
                entry.is_directory() ? "/" : read(entry.path());
        return all;
    }

    fs::path m_root;
};

TEST_F(BenchSupport, FloorWritesTheSameTreeByteForByte) {
    const fs::path source = m_root / "source";
    write(source / "Icons" / "16x16" / "a.ico", std::string("\0\0\1\0bytes", 9));
    write(source / "Icons" / "b (2).ico", "");
    write(source / "Bitmaps" / "c.bmp", std::string(70000, '\xAB'));
    fs::create_directories(source / "Empty" / "Deeper");
    // Index lines keep their CR LF; the last one may lack its line end.
    write(source / "__index.txt", "\r\nfirst\r\nsecond\r\nlast");
    write(source / "Icons" / "__index.txt", "one\r\n");

    const OutputTree tree = ReadTree(source);
    EXPECT_EQ(tree.files.size(), 3u);
    EXPECT_EQ(tree.indexes.size(), 2u);
    EXPECT_EQ(tree.indexLines, 5u);

    const fs::path copy = m_root / "copy";
    EXPECT_GE(WriteFloor(tree, copy), 0.0);
    EXPECT_EQ(snapshot(copy), snapshot(source));
    const FileTally tally = TallyFiles(copy);
    EXPECT_EQ(tally.files, 5u);
    EXPECT_EQ(tally.bytes, 9u + 70000u + 21u + 5u);

    // A folder that exists already is refused, as the tools are given fresh ones.
    EXPECT_THROW(WriteFloor(tree, copy), std::runtime_error);
}

// Every folder and file below root by relative path: folders as "/", index files with
// their bytes, other files with their size.
std::map<std::string, std::string> Shape(const fs::path& root) {
    std::map<std::string, std::string> all;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(entry.path(), root).string();
        if (entry.is_directory())
            all[rel] = "/";
        else if (entry.path().filename() == "__index.txt")
            all[rel] = (std::ostringstream() << std::ifstream(entry.path(), std::ios::binary).rdbuf()).str();
        else
            all[rel] = std::to_string(entry.file_size());
    }
    return all;
}

TEST_F(BenchSupport, FloorOfTheFewestCallsMakesTheSameFoldersFilesAndRecords) {
    const fs::path source = m_root / "source";
    const std::string header = "\r\nHarvix index file of today\r\nSearch in /w\r\nFile mask: *\r\n\r\n";
    write(source / "__index.txt", header);
    write(source / "Icons" / "__index.txt",
          header + "a.dll.ico - SOURCE FILE = /w/a.dll RESOURCE TYPE = 14 RESOURCE NAME = 1\r\n" +
              "a.dll (2).ico - SOURCE FILE = /w/a.dll RESOURCE TYPE = 14 RESOURCE NAME = 2\r\n");
    write(source / "Icons" / "a.dll.ico", "icon");
    write(source / "Icons" / "a.dll (2).ico", "");
    write(source / "Icons" / "16x16" / "8" / "a.dll.ico", std::string(70000, '\x5A'));
    write(source / "Bitmaps" / "__index.txt", header + "b.dll.bmp - SOURCE FILE = /w/b.dll RESOURCE TYPE = 2 "
                                                        "RESOURCE NAME = 7\r\n");
    write(source / "Bitmaps" / "b.dll.bmp", "BM....");
    fs::create_directories(source / "Videos");

    const FloorPlan plan = PlanFloor(ReadTree(source));
    EXPECT_EQ(plan.files.size(), 4u);
    EXPECT_EQ(plan.records, 3u);
    std::map<std::string, std::vector<std::string>> writes(plan.indexes.begin(), plan.indexes.end());
    // The header block is one write, and each record one more.
    EXPECT_EQ(writes["__index.txt"], std::vector<std::string>{header});
    ASSERT_EQ(writes["Icons/__index.txt"].size(), 3u);
    EXPECT_EQ(writes["Icons/__index.txt"][0], header);
    EXPECT_EQ(writes["Bitmaps/__index.txt"].size(), 2u);

    // Through its plan file, as the floor's own process reads it.
    WritePlanFile(plan, m_root / "plan");
    const FloorPlan read = ReadPlanFile(m_root / "plan");
    EXPECT_EQ(read.folders, plan.folders);
    EXPECT_EQ(read.files, plan.files);
    EXPECT_EQ(read.indexes, plan.indexes);
    EXPECT_EQ(read.records, plan.records);

    EXPECT_GE(WriteFewestCallsFloor(read, m_root / "here"), 0.0);
    EXPECT_EQ(Shape(m_root / "here"), Shape(source));
    const auto [status, out] = Capture(FloorCommand(m_root / "plan", m_root / "process"));
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(Shape(m_root / "process"), Shape(source));

    // A folder that exists already is refused, and so is a file that is no plan.
    EXPECT_THROW(WriteFewestCallsFloor(plan, m_root / "here"), std::runtime_error);
    write(m_root / "cut", "HXFLOOR1\x03");
    EXPECT_THROW(ReadPlanFile(m_root / "cut"), std::runtime_error);
    EXPECT_THROW(ReadPlanFile(source / "Bitmaps" / "b.dll.bmp"), std::runtime_error);
    EXPECT_NE(Capture(FloorCommand(m_root / "cut", m_root / "never")).first, 0);
    EXPECT_FALSE(fs::exists(m_root / "never"));
}

TEST(StraceSummary, TotalsAndRowsWithAndWithoutFailures) {
    const std::string summary =
        "% time     seconds  usecs/call     calls    errors syscall\n"
        "------ ----------- ----------- --------- --------- ----------------\n"
        " 41.07    0.004013           1      2245      1315 openat\n"
        " 30.00    0.002931           0      4668           pread64\n"
        "  0.00    0.000000           0         1           execve\n"
        "------ ----------- ----------- --------- --------- ----------------\n"
        "100.00    0.009770           1      6914      1315 total\n";
    const auto counts = ParseStraceSummary(summary);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->calls, 6914);
    EXPECT_EQ(counts->errors, 1315);
    ASSERT_EQ(counts->rows.size(), 3u);
    EXPECT_EQ(counts->rows[0].name, "openat");
    EXPECT_EQ(counts->rows[0].errors, 1315);
    EXPECT_EQ(counts->rows[1].calls, 4668);
    EXPECT_EQ(counts->rows[1].errors, 0);

    // A process that changed its personality gets a table of each: the totals add up.
    const std::string both = summary + "System call usage summary for 32 bit mode:\n" +
                             "100.00    0.000010           1        10           total\n";
    EXPECT_EQ(ParseStraceSummary(both)->calls, 6924);
    EXPECT_FALSE(ParseStraceSummary("strace: attach: ptrace(PTRACE_SEIZE, 1): Operation not permitted\n"));
    EXPECT_FALSE(ParseStraceSummary(""));
}

TEST_F(BenchSupport, SystemCallsOfACommandAreCountedUnderStrace) {
    const auto strace = Capture({"sh", "-c", "command -v strace"});
    if (strace.first != 0)
        GTEST_SKIP() << "strace is not installed";
    const std::string program = strace.second.substr(0, strace.second.find('\n'));
    std::string why;
    const auto counts = CountSystemCalls(program, {"sh", "-c", "exec true"}, m_root / "summary", why);
    ASSERT_TRUE(counts) << why;
    EXPECT_GT(counts->calls, 2);
    EXPECT_FALSE(CountSystemCalls(program, {"sh", "-c", "exit 3"}, m_root / "failed", why));
    EXPECT_NE(why.find("status 3"), std::string::npos) << why;
}

TEST_F(BenchSupport, JobFilesKeepEveryArgumentAndRefuseSeparators) {
    const std::vector<Command> jobs = {{"tool", "-x", "", "a b", "-o/dest dir"}, {"other"}};
    ASSERT_TRUE(WriteJobFile(m_root / "jobs", jobs));
    EXPECT_EQ(ReadJobFile(m_root / "jobs"), jobs);

    EXPECT_FALSE(WriteJobFile(m_root / "tab", {{"tool", "a\tb"}}));
    EXPECT_FALSE(WriteJobFile(m_root / "newline", {{"tool", "a\nb"}}));
    EXPECT_FALSE(WriteJobFile(m_root / "empty", {{}}));
}

TEST_F(BenchSupport, RunJobsTimesEveryCommandAndCountsFailures) {
    const fs::path out = m_root / "out";
    const JobsRun run = RunJobs({{"sh", "-c", "echo one"},
                                 {"sh", "-c", "echo two; echo oops >&2; exit 1"},
                                 {"sh", "-c", "exit 3"},
                                 {"sh", "-c", "kill -9 $$"},
                                 {"sh", "-c", "echo three"}},
                                out);
    EXPECT_EQ(run.commands, 5);
    EXPECT_EQ(run.failures, 3);
    EXPECT_EQ(run.firstFailure, 1);
    EXPECT_GT(run.ms, 0.0);
    EXPECT_GT(run.peakKiB, 0);
    EXPECT_EQ(read(out), "one\ntwo\nthree\n");
    EXPECT_EQ(read(out.string() + ".err"), "oops\n");

    // A status up to the one allowed counts as success; a signal never does.
    const JobsRun tolerant = RunJobs({{"sh", "-c", "exit 1"}, {"sh", "-c", "kill -9 $$"}},
                                     m_root / "tolerant", 1);
    EXPECT_EQ(tolerant.failures, 1);
    EXPECT_EQ(tolerant.firstFailure, -1);
}

TEST(BenchMedian, OddEvenAndEmpty) {
    EXPECT_EQ(Median({5, 1, 3}), 3);
    EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
    EXPECT_EQ(Median({}), 0);
}

} // namespace

int main(int argc, char** argv) {
    // RunJobs starts this program again as its measuring helper.
    if (const int status = MaybeRunJobsHelper(argc, argv); status >= 0)
        return status;
    // FloorCommand starts it again as the floor of the fewest calls.
    if (const int status = MaybeRunFloor(argc, argv); status >= 0)
        return status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
