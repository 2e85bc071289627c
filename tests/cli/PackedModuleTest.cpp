// A module packed by UPX, as harvix-cli lists and extracts it: what UPX left readable is
// read as from any module, and the listing, the summary and the report say why the rest
// is missing. Their JSON is checked against the schemas.
#include "module/ModuleAccess.h"
#include "tests/cli/CliRunTest.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using ::testing::HasSubstr;

constexpr const char* kNotice = "packed by UPX: the resources beyond the first icon group and the version are "
                                "compressed; unpack it with `upx -d` to read them";

class PackedModuleTest : public testing::CliRunTest {
protected:
    PackedModuleTest() : CliRunTest("harvix-packed-test") {}
    void SetUp() override {
        CliRunTest::SetUp();
        // Two modules alike but for UPX's marks: the packed one keeps its icon and version.
        for (const bool packed : {true, false}) {
            ModuleBuilder b;
            addIconGroup(b, ResId::number(1), 1, {{32, 32, 32}, {16, 16, 8}}, pictures::disc({0, 90, 200, 255}));
            b.add(ResId::of(ResType::Version), ResId::number(1), 0x409, makeVersionInfo({1, 2, 3, 4}, {1, 2, 3, 4}, "x"));
            b.setPackedByUpx(packed);
            ASSERT_TRUE(writeFile((root / "src" / (packed ? "packed.exe" : "plain.exe")).string(), b.build()).ok());
        }
    }
};

TEST_F(PackedModuleTest, ListingNamesThePackerOnEveryRecordOfThePackedModule) {
    const testing::ProgramRun r = cli({"list", "--format", "json", (root / "src").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int packed = 0, plain = 0;
    while (std::getline(lines, line)) {
        const nlohmann::json record = nlohmann::json::parse(line);
        if (record["path"].get<std::string>().ends_with("packed.exe")) {
            ++packed;
            EXPECT_EQ(record.value("packed", ""), kNotice);
        } else {
            ++plain;
            EXPECT_FALSE(record.contains("packed"));
        }
    }
    EXPECT_EQ(packed, 4); // two images, the group and the version: read as from any module
    EXPECT_EQ(plain, 4);
    EXPECT_EQ(r.err, "harvix-cli list: 1 module " + std::string(kNotice) + " (first: " +
                         (root / "src" / "packed.exe").string() + ")\n");
    std::ofstream(root / "list.jsonl") << r.out;
    validate("list-record.schema.json", root / "list.jsonl", true);

    // The TAB listing stays five fields a line.
    const testing::ProgramRun tsv = cli({"list", (root / "src" / "packed.exe").string()});
    EXPECT_EQ(tsv.status, 0);
    EXPECT_THAT(tsv.out, ::testing::Not(HasSubstr("UPX")));
}

TEST_F(PackedModuleTest, ExtractionReadsWhatIsThereAndTheSummaryAndReportSayWhy) {
    const fs::path report = root / "report.json";
    const testing::ProgramRun r =
        cli({"extract", "--dest", (root / "out").string(), "--report", report.string(), (root / "src").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Bitmap: 0");
    EXPECT_THAT(r.out, HasSubstr("Icon: 2\n")); // both modules' icons
    EXPECT_THAT(r.err, HasSubstr("harvix-cli extract: 1 module " + std::string(kNotice) + " (first: " +
                                 (root / "src" / "packed.exe").string() + ")\n"));
    EXPECT_TRUE(fs::exists(root / "out" / "Icons" / "packed.exe.ico"));

    std::ifstream in(report);
    const nlohmann::json doc = nlohmann::json::parse(in);
    EXPECT_EQ(doc["modules_read"], 2);
    EXPECT_EQ(doc["packed_modules"]["count"], 1);
    ASSERT_EQ(doc["packed_modules"]["first"].size(), 1u);
    EXPECT_EQ(doc["packed_modules"]["first"][0]["path"], (root / "src" / "packed.exe").string());
    EXPECT_EQ(doc["packed_modules"]["first"][0]["reason"], kNotice);
    validate("run-report.schema.json", report, false);

    // A run without packed modules says nothing of them, and reports none.
    fs::remove(root / "src" / "packed.exe");
    const testing::ProgramRun clean =
        cli({"extract", "--dest", (root / "clean").string(), "--report", report.string(), (root / "src").string()});
    EXPECT_THAT(clean.err, ::testing::Not(HasSubstr("UPX")));
    std::ifstream again(report);
    EXPECT_EQ(nlohmann::json::parse(again)["packed_modules"]["count"], 0);
}

} // namespace
} // namespace harvix
