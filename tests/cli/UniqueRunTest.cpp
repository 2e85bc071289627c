// harvix-cli extract --unique, with and without --png: each file content is written once,
// the copies' records name the files written, and the counts, the summary and the report
// say how many copies were folded.
#include "tests/cli/CliRunTest.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using ::testing::HasSubstr;

using testing::ReadText;

class UniqueRunTest : public testing::CliRunTest {
protected:
    UniqueRunTest() : CliRunTest("harvix-unique-test") {}
    void SetUp() override {
        CliRunTest::SetUp();
        // Two modules of the same pictures, and a third whose icon group holds only one
        // of their icon's images.
        for (const char* name : {"a.exe", "b.exe", "c.exe"}) {
            ModuleBuilder b;
            b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(32, 32, 8, pictures::gradient()));
            std::vector<GroupImage> images{{32, 32, 32}};
            if (std::string(name) != "c.exe")
                images.push_back({16, 16, 8});
            addIconGroup(b, ResId::number(1), 1, images, pictures::disc({0, 90, 200, 255}));
            ASSERT_TRUE(writeFile((root / "src" / name).string(), b.build()).ok());
        }
    }
    // Every record names a file in its folder; every file there has a record; no two
    // files of one folder, PNG folders included, hold the same bytes.
    void expectConsistent(const fs::path& out) {
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (!entry.is_directory())
                continue;
            std::map<std::string, fs::path> seen;
            for (const auto& file : fs::directory_iterator(entry.path())) {
                if (!file.is_regular_file() || file.path().filename() == "__index.txt")
                    continue;
                const auto [at, added] = seen.emplace(ReadText(file.path()), file.path());
                EXPECT_TRUE(added) << file.path() << " holds the bytes of " << at->second;
            }
            if (!fs::exists(entry.path() / "__index.txt"))
                continue;
            std::istringstream index(ReadText(entry.path() / "__index.txt"));
            std::map<std::string, int> named;
            for (std::string line; std::getline(index, line);)
                if (const auto cut = line.find(" - SOURCE FILE = "); cut != std::string::npos)
                    ++named[line.substr(0, cut)];
            for (const auto& [name, count] : named)
                EXPECT_TRUE(fs::is_regular_file(entry.path() / name)) << entry.path() / name;
            for (const auto& [bytes, file] : seen)
                EXPECT_TRUE(named.contains(file.filename().string())) << file;
        }
    }
};

TEST_F(UniqueRunTest, CopiesAreFoldedAndCountedWithPngFilesToo) {
    const fs::path out = root / "out";
    const fs::path report = root / "report.json";
    const testing::ProgramRun r = cli({"extract", "--unique", "--png", "--kinds", "bitmap,icon", "--dest",
                                       out.string(), "--report", report.string(), (root / "src").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    // Every resource is counted as found and recorded.
    EXPECT_THAT(r.out, HasSubstr("Bitmap: 3\n"));
    EXPECT_THAT(r.out, HasSubstr("Icon: 3\n"));
    // One bitmap file; a.exe's icon with its two per-size files, and c.exe's icon, whose
    // one per-size file is a.exe's; b.exe adds records only. Of the PNG files, that of
    // c.exe's icon image is the one of a.exe's.
    EXPECT_THAT(r.out, HasSubstr("PNG: 5 (1 copy folded)\n"));
    // Per kind the files written and the copies folded, the per-size icon files apart: of
    // the icons a.exe's and c.exe's files are written, b.exe's is folded; of the per-size
    // files a.exe's two are written, b.exe's two and c.exe's one folded.
    EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: Bitmap files: 1 written, 2 copies folded into files already "
                                 "written\n"
                                 "harvix-cli extract: Icon files: 2 written, 1 copy folded into files already "
                                 "written\n"
                                 "harvix-cli extract: Icon files per size: 2 written, 3 copies folded into files "
                                 "already written\n"));
    EXPECT_TRUE(fs::exists(out / "Icons" / "c.exe.ico"));
    EXPECT_FALSE(fs::exists(out / "Icons" / "32x32" / "32" / "c.exe.ico"));
    expectConsistent(out);

    std::ifstream in(report);
    const nlohmann::json doc = nlohmann::json::parse(in);
    EXPECT_EQ(doc["options"]["unique"], true);
    EXPECT_EQ(doc["kinds"]["BITMAP"]["written"], 3);
    EXPECT_EQ(doc["kinds"]["BITMAP"]["folded_copies"], 2);
    EXPECT_EQ(doc["kinds"]["ICON"]["folded_copies"], 4);
    validate("run-report.schema.json", report);
}

// The files, their bytes, the records and the counts are the same however many threads
// read the modules ahead: copies are decided in the order of the run.
TEST_F(UniqueRunTest, TheSameFilesForAnyNumberOfReaders) {
    // More modules than readers, and copies across them.
    for (int i = 0; i < 12; ++i)
        fs::copy_file(root / "src" / (i % 2 ? "a.exe" : "c.exe"), root / "src" / ("m" + std::to_string(i) + ".dll"));
    std::map<std::string, std::string> first;
    std::string firstOut;
    for (const char* jobs : {"1", "2", "8"}) {
        SCOPED_TRACE(jobs);
        const fs::path out = root / (std::string("jobs") + jobs);
        const testing::ProgramRun r = cli({"extract", "--unique", "--png", "--jobs", jobs, "--dest", out.string(),
                                           (root / "src").string()});
        ASSERT_EQ(r.status, 0) << r.err;
        expectConsistent(out);
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (!entry.is_regular_file())
                continue;
            std::string bytes = ReadText(entry.path());
            if (entry.path().filename() == "__index.txt")
                bytes.erase(0, bytes.find("Search in")); // the line of the date and time
            files[fs::relative(entry.path(), out).string()] = std::move(bytes);
        }
        if (first.empty()) {
            first = std::move(files);
            firstOut = r.out;
            EXPECT_THAT(r.out, HasSubstr("Icon: 15\n"));
            continue;
        }
        EXPECT_EQ(r.out, firstOut);
        EXPECT_EQ(files, first);
    }
}

TEST_F(UniqueRunTest, WithoutTheOptionNothingIsFoldedOrSaidOfIt) {
    const fs::path out = root / "plain";
    const testing::ProgramRun r =
        cli({"extract", "--png", "--kinds", "bitmap", "--dest", out.string(), (root / "src").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("PNG: 3\n"));
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("folded")));
    EXPECT_TRUE(fs::exists(out / "Bitmaps" / "b.exe.bmp"));
}

} // namespace
} // namespace harvix
