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
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
