// harvix-cli list and version, run as a program on modules written by the module builder.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/WindowsTree.h"
#include "tests/support/RunProgram.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using harvix::ResId;
using harvix::ResType;
using harvix::modbuilder::ModuleBuilder;
using ::testing::HasSubstr;

namespace {

using Outcome = harvix::testing::ProgramRun;

class CliList : public ::testing::Test {
protected:
    void SetUp() override {
        root = harvix::testing::MakeScratchFolder("harvix-list").string();
    }
    void TearDown() override { fs::remove_all(root); }

    Outcome Run(const std::vector<std::string>& args) const {
        // A settings store of the test's own: list's defaults come from it.
        return harvix::testing::RunProgram(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli", args, root,
                                           {"HARVIX_REGISTRY=" + root + "/registry.db"});
    }

    std::string Module(const std::string& relative, const ModuleBuilder& builder) const {
        const fs::path path = fs::path(root) / relative;
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(harvix::modbuilder::writeFile(path.string(), builder.build()).ok());
        return path.string();
    }

    // The output lines that belong to one file, in output order.
    static std::vector<std::string> LinesOf(const std::string& out, const std::string& path) {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(path + "\t"))
                lines.push_back(line);
        return lines;
    }

    std::string root;
};

ModuleBuilder Pictures() {
    ModuleBuilder b;
    const auto dib =
        harvix::modbuilder::makeDib(16, 16, 8, harvix::modbuilder::pictures::checker(4));
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x0409, dib);
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x0407, dib);
    b.add(ResId::of(ResType::Bitmap), ResId::name("LOGO"), 0x0409, {1, 2, 3});
    b.add(ResId::name("AVI"), ResId::name("CLIP"), 0x0409, {9, 9, 9, 9});
    return b;
}

TEST_F(CliList, PrintsEveryResourceOfEveryMatchingModule) {
    const std::string dll = Module("a.dll", Pictures());
    ModuleBuilder other(harvix::modbuilder::Machine::Pe32Plus);
    other.add(ResId::of(ResType::Html), ResId::number(1), 0, {'<', 'p', '>'});
    const std::string exe = Module("sub/B.EXE", other);
    Module("skipped.txt", other);
    std::ofstream(root + "/broken.dll") << "not a module";

    const auto size = std::to_string(
        harvix::modbuilder::makeDib(16, 16, 8, harvix::modbuilder::pictures::checker(4)).size());
    const Outcome all = Run({"list", root});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.err, "");
    // Named types and names first, then numbers ascending; one line per language.
    EXPECT_EQ(LinesOf(all.out, dll),
              (std::vector<std::string>{dll + "\tAVI\tCLIP\t1033\t4", dll + "\t2\tLOGO\t1033\t3",
                                        dll + "\t2\t101\t1031\t" + size,
                                        dll + "\t2\t101\t1033\t" + size}));
    EXPECT_EQ(LinesOf(all.out, exe), (std::vector<std::string>{exe + "\t23\t1\t0\t3"}));
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 5);

    const Outcome flat = Run({"list", "--no-subfolders", root});
    EXPECT_EQ(flat.status, 0);
    EXPECT_TRUE(LinesOf(flat.out, exe).empty());
    EXPECT_EQ(LinesOf(flat.out, dll).size(), 4u);

    const Outcome masked = Run({"list", "--mask", "*.TXT", root});
    EXPECT_EQ(masked.status, 0);
    EXPECT_EQ(masked.out, root + "/skipped.txt\t23\t1\t0\t3\n");
}

TEST_F(CliList, EscapesTabsAndLineBreaksInPathsAndNames) {
    ModuleBuilder b;
    b.add(ResId::of(ResType::RcData), ResId::name("A\tB"), 0, {1});
    Module("odd\nname.dll", b);
    const Outcome r = Run({"list", root});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, root + "/odd\\nname.dll\t10\tA\\tB\t0\t1\n");
}

TEST_F(CliList, RefusesBadUsageAndMissingFolders) {
    const std::vector<std::vector<std::string>> refused = {
        {"list"},           {"list", root, "--all-drives"}, {"list", root, root + "/missing"},
        {"list", "--mask"}, {"list", "--bogus", root},      {"list", root + "/missing"},
        {"list", "--files-from", "-", root},                {"version"}};
    for (const auto& args : refused) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CliList, TakesFilesAsTheyAreAndFoldersSearchedInTheOrderGiven) {
    const std::string dll = Module("tree/a.dll", Pictures());
    ModuleBuilder page;
    page.add(ResId::of(ResType::Html), ResId::number(1), 0, {'<', 'p', '>'});
    const std::string odd = Module("odd.name", page); // no mask would take it
    const std::string deep = Module("tree/sub/b.exe", page);
    const std::string other = Module("other/c.dll", page);
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> files; // in order of their first line
    };
    const Case cases[] = {
        {{odd}, {odd}},
        {{odd, root + "/tree", other}, {odd, dll, deep, other}},
        {{"--no-subfolders", root + "/other", root + "/tree", odd}, {other, dll, odd}},
        {{"--mask", "*.exe", root + "/tree", dll}, {deep, dll}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"list"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::vector<std::string> order;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            const std::string file = line.substr(0, line.find('\t'));
            if (order.empty() || order.back() != file)
                order.push_back(file);
        }
        EXPECT_EQ(order, c.files) << ::testing::PrintToString(c.args);
    }

    // A named file that cannot be read fails the listing; what could be read is listed.
    fs::create_directories(root + "/fifo");
    ASSERT_EQ(::mkfifo((root + "/fifo/pipe.dll").c_str(), 0600), 0);
    const Outcome pipe = Run({"list", root + "/fifo/pipe.dll", dll});
    EXPECT_EQ(pipe.status, 1);
    EXPECT_EQ(pipe.err, "harvix-cli list: 1 file could not be read (first: " + root +
                            "/fifo/pipe.dll: not a regular file)\n");
    EXPECT_EQ(LinesOf(pipe.out, dll).size(), 4u);
}

TEST_F(CliList, FilesFromNamesThatCannotBeReadAreCountedAndFail) {
    const std::string dll = Module("a.dll", Pictures());
    std::ofstream(root + "/text.dll") << "not a module"; // read, and no module: no problem
    fs::create_directories(root + "/folder.dll");
    struct Case {
        std::vector<std::string> names;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{dll, root + "/text.dll"}, 0, ""},
        {{root + "/gone.dll", dll, root + "/folder.dll"},
         1,
         "harvix-cli list: 2 files could not be read (first: " + root +
             "/gone.dll: No such file or directory)\n"},
        {{dll, root + "/folder.dll"},
         1,
         "harvix-cli list: 1 file could not be read (first: " + root +
             "/folder.dll: not a regular file)\n"},
    };
    for (const Case& c : cases) {
        std::ofstream list(root + "/list.txt", std::ios::trunc);
        for (const auto& name : c.names)
            list << name << '\n';
        list.close();
        const Outcome r = Run({"list", "--files-from", root + "/list.txt"});
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err, c.err);
        // What could be read is listed all the same.
        EXPECT_EQ(LinesOf(r.out, dll).size(), 4u);
    }
}

// --explain: every line says what extract does with it under the kinds and limits
// given, found by extract's own writers, so the two never disagree.
TEST_F(CliList, ExplainSaysWhatExtractDoesWithEachResourceAndWhy) {
    using namespace harvix::modbuilder;
    ModuleBuilder b;
    const auto dib = makeDib(16, 16, 8, pictures::checker(4));
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x0409, dib);
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x0407, dib);
    b.add(ResId::of(ResType::Bitmap), ResId::number(102), 0x0409, makeDib(8, 8, 8, pictures::rings()));
    b.add(ResId::of(ResType::Bitmap), ResId::name("LOGO"), 0x0409, {1, 2, 3});
    const auto image = makeIconImage(32, 32, 8, pictures::disc({200, 20, 20, 255}));
    b.add(ResId::of(ResType::Icon), ResId::number(1), 0x0409, image);
    b.add(ResId::of(ResType::GroupIcon), ResId::number(1), 0x0409,
          makeGroupIconDir({GroupEntry{32, 32, 8, static_cast<std::uint32_t>(image.size()), 1}}));
    b.add(ResId::of(ResType::GroupIcon), ResId::number(2), 0x0409,
          makeGroupIconDir({GroupEntry{32, 32, 8, static_cast<std::uint32_t>(image.size()), 7}}));
    b.add(ResId::name("AVI"), ResId::name("CLIP"), 0x0409, {9, 9, 9, 9});
    b.add(ResId::of(ResType::RcData), ResId::number(5), 0x0409, {1});
    const std::string dll = Module("a.dll", b);

    const Outcome r = Run({"list", "--explain", dll});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> verdicts;
    for (const std::string& line : LinesOf(r.out, dll))
        verdicts.push_back(line.substr(line.rfind('\t') + 1));
    EXPECT_EQ(verdicts,
              (std::vector<std::string>{
                  "written as video",
                  "not well formed: bitmap of 3 bytes, too short for an information header",
                  "written as bitmap",
                  "not extracted: extract reads the first language version of a resource only",
                  "left out by the limits: bitmap height 8 outside the limit 16-48 (--bitmap-limits widens them)",
                  "not extracted: an image of the icon groups, written inside the groups that name it",
                  "not extracted: not a picture",
                  "written as icon",
                  "empty or missing: group entry 1 names image 7, which the module does not hold",
              }));
    const Outcome json = Run({"list", "--format", "json", "--explain", dll});
    EXPECT_THAT(json.out, HasSubstr("\"widen_with\":\"--bitmap-limits\""));

    // The kinds and limits given are extract's: a kind not chosen is said so, a limit
    // that takes the small bitmap in lets it be written.
    const Outcome chosen =
        Run({"list", "--explain", "--kinds", "bitmap", "--bitmap-limits", "8-8;0-100;0-100", dll});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    const auto lines = LinesOf(chosen.out, dll);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_THAT(lines[0], ::testing::EndsWith("\tnot extracted: the kind video is not chosen"));
    EXPECT_THAT(lines[4], ::testing::EndsWith("\t102\t1033\t" + std::to_string(makeDib(8, 8, 8, pictures::rings()).size()) +
                                              "\t\twritten as bitmap"));

    // What list says would be written is what extract writes.
    const Outcome extracted = harvix::testing::RunProgram(
        HARVIX_TEST_BINARY_DIR "/cli/harvix-cli",
        {"extract", "--dest", root + "/out", dll}, root, {"HARVIX_REGISTRY=" + root + "/registry.db"});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(extracted.out, "Bitmap: 1\nIcon: 1\nCursor: 0\nAnimated cursor: 0\nVideo (AVI): 1\nWeb page: 0\n");

    // The kinds and limits belong to --explain; a wrong one is named.
    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"list", "--kinds", "bitmap", dll}, "--kinds goes with --explain"},
        {{"list", "--explain", "--kinds", "pictures", dll}, "unknown resource kind 'pictures'"},
        {{"list", "--explain", "--icon-limits", "8-32", dll}, "--icon-limits: "}};
    for (const auto& [args, message] : refusals) {
        const Outcome refused = Run(args);
        EXPECT_EQ(refused.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(refused.out, "");
        EXPECT_THAT(refused.err, HasSubstr(message));
    }
}

// Pictures kept whole: list --explain finds them under RCDATA and named types with
// every kind (the image kind included) when none are given, tells the data beside them
// from them, and extract --kinds image writes exactly those it said.
TEST_F(CliList, ExplainAndExtractAgreeOnPicturesKeptWhole) {
    using namespace harvix::modbuilder;
    ModuleBuilder b;
    const auto png = makePngFile(40, 20, pictures::gradient());
    const auto gif = makeGifFile(300, 30, pictures::rings());
    b.add(ResId::of(ResType::RcData), ResId::number(1), 0x0409, png);
    b.add(ResId::of(ResType::RcData), ResId::number(2), 0x0409, {'{', '}'});
    b.add(ResId::name("IMAGE"), ResId::name("WIDE"), 0x0409, gif);
    b.add(ResId::name("PNG"), ResId::number(3), 0x0409, std::vector<std::uint8_t>(png.begin(), png.begin() + 30));
    const std::string dll = Module("a.dll", b);

    const Outcome r = Run({"list", "--explain", "--image-limits", "1-256;1-256", dll});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> verdicts;
    for (const std::string& line : LinesOf(r.out, dll))
        verdicts.push_back(line.substr(line.rfind('\t') + 1));
    EXPECT_EQ(verdicts, (std::vector<std::string>{
                            "left out by the limits: GIF width 300 outside the limit 1-256 (--image-limits widens them)",
                            "not well formed: PNG chunks cut short",
                            "written as image",
                            "not extracted: not a picture",
                        }));
    const Outcome json = Run({"list", "--format", "json", "--explain", "--kinds", "icon", dll});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_THAT(json.out, HasSubstr("\"kind\":\"IMAGE\""));
    EXPECT_THAT(json.out, HasSubstr("\"detail\":\"the kind image is not chosen\""));
    EXPECT_THAT(json.out, HasSubstr("\"detail\":\"not a picture\""));

    const Outcome extracted = harvix::testing::RunProgram(
        HARVIX_TEST_BINARY_DIR "/cli/harvix-cli",
        {"extract", "--kinds", "image", "--image-limits", "1-256;1-256", "--dest", root + "/out", dll}, root,
        {"HARVIX_REGISTRY=" + root + "/registry.db"});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(extracted.out, "Image: 1\n");
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(root + "/out/Images"))
        images.push_back(entry.path().filename().string());
    std::sort(images.begin(), images.end());
    EXPECT_EQ(images, (std::vector<std::string>{"__index.txt", "a.dll.png"}));
    EXPECT_THAT(extracted.err, HasSubstr("left out by the limits: Image 1 (widen them with --image-limits)\n"));
    EXPECT_THAT(extracted.err, HasSubstr("not well formed: Image 1"));

    const Outcome refused = Run({"list", "--explain", "--image-limits", "1-2", dll});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("--image-limits: the limits '1-2' are not two ranges"));
    // A range upside down would leave out everything: refused, as extract refuses it,
    // with the option and the range named.
    for (const char* command : {"list", "extract"}) {
        const Outcome upsideDown =
            command == std::string("list")
                ? Run({"list", "--explain", "--bitmap-limits", "32-8;0-3000;16-48", dll})
                : Run({"extract", "--bitmap-limits", "32-8;0-3000;16-48", "--dest", root + "/out2", dll});
        EXPECT_EQ(upsideDown.status, 2) << command;
        EXPECT_THAT(upsideDown.err, HasSubstr("--bitmap-limits: the minimum 32 of the colour depth limit "
                                              "'32-8' is above its maximum 8"))
            << command;
    }
    EXPECT_FALSE(fs::exists(root + "/out2"));
}

TEST_F(CliList, VersionPrintsEachFilesVersion) {
    ModuleBuilder b;
    b.add(ResId::of(ResType::Version), ResId::number(1), 0x0409,
          harvix::modbuilder::makeVersionInfo({1, 2, 3, 4}, {5, 6, 7, 8}, "tool"));
    const std::string versioned = Module("v.dll", b);
    const std::string plain = Module("p.dll", Pictures());
    const Outcome r = Run({"version", versioned, plain});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, versioned + "\t1.2.3.4\n" + plain + ": no version information\n");

    const Outcome missing = Run({"version", root + "/missing.dll", versioned});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, versioned + "\t1.2.3.4\n");
    EXPECT_THAT(missing.err, HasSubstr("missing.dll"));
}

// A Windows 11-style tree: a module is listed with its satellites, each resource read
// from one of them names it in a sixth field (JSON: source), and a satellite found on
// its own is not listed again; --no-satellites lists every file as it is.
TEST_F(CliList, SatellitesAreListedWithTheirModuleOnce) {
    auto tree = harvix::modbuilder::writeWindowsTree(root);
    ASSERT_TRUE(tree.ok()) << tree.error().message;
    const std::string system32 = fs::path(tree->stub).parent_path().string();
    auto endingWith = [](const std::vector<std::string>& lines, const std::string& tail) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.ends_with(tail); });
    };
    const Outcome r = Run({"list", "--mask", "*", "--language", "de-DE", system32});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto stub = LinesOf(r.out, tree->stub);
    EXPECT_GT(endingWith(stub, "\t" + tree->systemResources), 2) << r.out;
    EXPECT_GT(endingWith(stub, "\t" + tree->german), 1) << r.out;
    EXPECT_TRUE(LinesOf(r.out, tree->german).empty()) << r.out;
    EXPECT_FALSE(LinesOf(r.out, tree->english).empty()) << r.out; // not this run's language
    const Outcome json = Run({"list", "--format", "json", "--mask", "*", system32});
    EXPECT_THAT(json.out, HasSubstr("\"source\":\"" + tree->systemResources + "\""));

    const Outcome off = Run({"list", "--no-satellites", "--mask", "*", system32});
    EXPECT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(endingWith(LinesOf(off.out, tree->stub), "\t" + tree->systemResources), 0);
    EXPECT_FALSE(LinesOf(off.out, tree->german).empty());
    EXPECT_EQ(Run({"list", "--language", "../x", system32}).status, 2);
    EXPECT_EQ(Run({"list", "--satellites", "--no-satellites", system32}).status, 2);

    // The stored choice is the default: modules read as they are, unless --satellites,
    // and then in the stored language.
    ASSERT_EQ(Run({"settings", "Satellites=0", "Language=de-DE"}).status, 0);
    EXPECT_EQ(Run({"list", "--mask", "*", system32}).out, off.out);
    EXPECT_EQ(Run({"list", "--satellites", "--mask", "*", system32}).out, r.out);
    const Outcome refused = Run({"settings", "Language=../x"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("a language tag such as de-DE"));
}

} // namespace
