// A setup program whose payload Harvix does not unpack (NSIS here), as harvix-cli lists
// and extracts it: its own icon and version are read as from any module, and the
// listing, the summary and the report name the installer and the tool that unpacks it.
#include "tests/cli/CliRunTest.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>
#include <string_view>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using ::testing::HasSubstr;

constexpr const char* kNotice = "NSIS installer: the program's files are compressed inside; 7-Zip unpacks them";

class SetupProgramTest : public testing::CliRunTest {
protected:
    SetupProgramTest() : CliRunTest("harvix-setup-test") {}
    void SetUp() override {
        CliRunTest::SetUp();
        ModuleBuilder b;
        addIconGroup(b, ResId::number(1), 1, {{32, 32, 32}}, pictures::disc({0, 90, 200, 255}));
        b.add(ResId::of(ResType::Version), ResId::number(1), 0x409, makeVersionInfo({2, 0, 0, 1}, {2, 0, 0, 1}, "x"));
        std::vector<std::uint8_t> setup = b.build();
        // NSIS's first header at the first 512-byte boundary after the stub, then data.
        setup.resize((setup.size() + 511) / 512 * 512, 0);
        constexpr std::string_view header{"\0\0\0\0\xEF\xBE\xAD\xDENullsoftInst\x10\0\0\0compressed", 34};
        setup.insert(setup.end(), header.begin(), header.end());
        ASSERT_TRUE(writeFile((root / "src" / "setup.exe").string(), setup).ok());
    }
    [[nodiscard]] std::string setupPath() const { return (root / "src" / "setup.exe").string(); }
};

TEST_F(SetupProgramTest, ExtractionReadsItsIconAndTheSummaryAndReportNameTheInstaller) {
    const fs::path report = root / "report.json";
    const testing::ProgramRun r =
        cli({"extract", "--dest", (root / "out").string(), "--report", report.string(), (root / "src").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Icon: 1\n"));
    EXPECT_TRUE(fs::exists(root / "out" / "Icons" / "setup.exe.ico"));
    EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: 1 installer, container or member whose contents could not be read "
                                 "(first: " +
                                 setupPath() + ": " + kNotice + ")\n"));

    std::ifstream in(report);
    const nlohmann::json doc = nlohmann::json::parse(in);
    EXPECT_EQ(doc["modules_read"], 1);
    EXPECT_EQ(doc["containers_not_read"]["count"], 1);
    ASSERT_EQ(doc["containers_not_read"]["first"].size(), 1u);
    EXPECT_EQ(doc["containers_not_read"]["first"][0]["path"], setupPath());
    EXPECT_EQ(doc["containers_not_read"]["first"][0]["reason"], kNotice);
    validate("run-report.schema.json", report, false);
}

TEST_F(SetupProgramTest, ListingNamesTheInstallerOnItsRecordsAndOnStderr) {
    const testing::ProgramRun r = cli({"list", "--format", "json", "--explain", setupPath()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int records = 0;
    while (std::getline(lines, line)) {
        ++records;
        EXPECT_EQ(nlohmann::json::parse(line).value("installer", ""), kNotice);
    }
    EXPECT_EQ(records, 3); // the image, the group and the version
    EXPECT_EQ(r.err, "harvix-cli list: 1 installer, container or member whose contents could not be read (first: " +
                         setupPath() + ": " + kNotice + ")\n");
    std::ofstream(root / "list.jsonl") << r.out;
    validate("list-record.schema.json", root / "list.jsonl", true);
}

} // namespace
} // namespace harvix
