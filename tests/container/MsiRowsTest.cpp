// The Icon and Binary rows of an installer package through harvix-cli: an icon file of
// the Icon table comes out as the same icon does from a module (the same file, the same
// per-size files, records of the same shape), a module of either table as that module,
// and a picture of the Binary table whole; list --explain names the product's icon. A
// package the Windows Installer library dies on is named with the reason while the run
// goes on.
#include "tests/container/MsiTestPackage.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

using namespace harvix;
using harvix::testing::MsiTestPackage;
using harvix::testing::ProgramRun;
using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

constexpr const char* kCli = HARVIX_TEST_BINARY_DIR "/cli/harvix-cli";

class MsiRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("harvix-msi-rows-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    [[nodiscard]] ProgramRun cli(const std::vector<std::string>& args) const {
        return harvix::testing::RunProgram(kCli, args, root);
    }

    // Every file below `folder` but the index files, by its path inside it.
    static std::map<std::string, std::vector<std::uint8_t>> filesBelow(const fs::path& folder) {
        std::map<std::string, std::vector<std::uint8_t>> out;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().filename() != "__index.txt")
                out[fs::relative(entry.path(), folder).string()] = harvix::testing::ReadBytes(entry.path());
        return out;
    }

    // The record lines of an index file.
    static std::vector<std::string> records(const fs::path& index) {
        std::vector<std::string> out;
        std::istringstream text(harvix::testing::ReadText(index));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.find(" - SOURCE FILE = ") != std::string::npos)
                out.push_back(line);
        }
        return out;
    }

    static void write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(modbuilder::writeFile(path.string(), bytes).ok()) << path;
    }

    fs::path root;
};

TEST_F(MsiRowsTest, EachRowComesOutAsTheSamePictureFromAModuleOrWhole) {
    const MsiTestPackage p = MsiTestPackage::Make(root / "pkg", "app.ico", true, true);
    // The same pictures in modules named as the rows are: the icon file's images as a
    // program's icon group, the program, and the custom action's library.
    fs::create_directories(root / "ref");
    modbuilder::ModuleBuilder holder;
    modbuilder::addIconGroup(holder, ResId::number(1), 1, {{48, 48, 32}, {32, 32, 32}, {16, 16, 4}},
                             modbuilder::pictures::disc({200, 40, 40, 255}));
    write(root / "ref" / "app.ico", holder.build());
    write(root / "ref" / "viewer.exe", p.program);
    write(root / "ref" / "Helper", p.library);

    const std::vector<std::string> kinds = {"extract", "--yes", "--kinds", "icon,bitmap,image",
                                            "--icon-limits", "1-32;1-256;1-256", "--dest"};
    auto args = kinds;
    args.insert(args.end(), {(root / "from-modules").string(), (root / "ref" / "app.ico").string(),
                             (root / "ref" / "viewer.exe").string(), (root / "ref" / "Helper").string()});
    const ProgramRun modules = cli(args);
    ASSERT_EQ(modules.status, 0) << modules.err;
    args = kinds;
    args.insert(args.end(), {(root / "from-package").string(), p.msi.string()});
    const ProgramRun package = cli(args);
    ASSERT_EQ(package.status, 0) << package.err;

    // Every file the modules gave, the per-size icon files among them, the package gives
    // byte for byte under the same name.
    const auto fromModules = filesBelow(root / "from-modules");
    const auto fromPackage = filesBelow(root / "from-package");
    ASSERT_TRUE(fromModules.contains("Icons/app.ico.ico"));
    ASSERT_TRUE(fromModules.contains("Icons/48x48/32/app.ico.ico"));
    ASSERT_TRUE(fromModules.contains("Bitmaps/Helper.bmp"));
    for (const auto& [path, bytes] : fromModules) {
        ASSERT_TRUE(fromPackage.contains(path)) << path;
        EXPECT_EQ(fromPackage.at(path), bytes) << path;
    }
    // The banners are kept whole.
    EXPECT_EQ(fromPackage.at("Images/Banner.bmp"), p.banner);
    EXPECT_EQ(fromPackage.at("Images/Logo.png"), p.png);

    // The records are the modules', each naming its row of the package.
    const std::map<std::string, std::string> rowOf = {
        {(root / "ref" / "app.ico").string(), p.msi.string() + "!/Icon/app.ico"},
        {(root / "ref" / "viewer.exe").string(), p.msi.string() + "!/Icon/viewer.exe"},
        {(root / "ref" / "Helper").string(), p.msi.string() + "!/Binary/Helper"},
    };
    for (const char* folder : {"Icons", "Bitmaps"}) {
        const auto packageRecords = records(root / "from-package" / folder / "__index.txt");
        for (std::string record : records(root / "from-modules" / folder / "__index.txt")) {
            for (const auto& [file, row] : rowOf)
                if (const auto at = record.find(" = " + file + " "); at != std::string::npos)
                    record.replace(at + 3, file.size(), row);
            EXPECT_THAT(packageRecords, ::testing::Contains(record));
        }
    }
    EXPECT_THAT(records(root / "from-package" / "Images" / "__index.txt"),
                ::testing::ElementsAre("Banner.bmp - SOURCE FILE = " + p.msi.string() +
                                           "!/Binary/Banner RESOURCE TYPE = 10 RESOURCE NAME = 1",
                                       "Logo.png - SOURCE FILE = " + p.msi.string() +
                                           "!/Binary/Logo RESOURCE TYPE = 10 RESOURCE NAME = 1"));
}

TEST_F(MsiRowsTest, ListExplainNamesTheProductsIcon) {
    const MsiTestPackage p = MsiTestPackage::Make(root, "viewer.exe");
    const ProgramRun listed = cli({"list", "--explain", p.msi.string()});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::string icon = p.msi.string() + "!/Icon/viewer.exe\t14\t1\t";
    const auto line = listed.out.find(icon);
    ASSERT_NE(line, std::string::npos) << listed.out;
    EXPECT_THAT(listed.out.substr(line, listed.out.find('\n', line) - line),
                ::testing::EndsWith("\twritten as icon; the product's icon (ARPPRODUCTICON)"));
    // Said of that row only: not of the icon file, nor of the same program installed.
    std::istringstream lines(listed.out);
    int said = 0;
    for (std::string text; std::getline(lines, text);) {
        if (text.find("ARPPRODUCTICON") == std::string::npos)
            continue;
        ++said;
        EXPECT_THAT(text, ::testing::StartsWith(p.msi.string() + "!/Icon/viewer.exe\t"));
    }
    EXPECT_GT(said, 0);
    // The JSON lines carry it as "note".
    const ProgramRun json = cli({"list", "--explain", "--format", "json", p.msi.string()});
    EXPECT_THAT(json.out, HasSubstr("\"path\":\"" + p.msi.string() +
                                    "!/Icon/viewer.exe\",\"note\":\"the product's icon (ARPPRODUCTICON)\""));
    // Without --explain nothing is added.
    EXPECT_THAT(cli({"list", p.msi.string()}).out, ::testing::Not(HasSubstr("ARPPRODUCTICON")));
}

// The damaged package kills the library in the copy that reads it first: the package is
// named with the reason as other damaged containers are, with the same exit status, and
// the packages after it are read.
TEST_F(MsiRowsTest, APackageTheLibraryDiesOnIsNamedAndTheRunGoesOn) {
    const MsiTestPackage p = MsiTestPackage::Make(root / "pkg");
    const auto damaged = MsiTestPackage::Damaged(p.msi);
    ASSERT_FALSE(damaged.empty());
    write(root / "damaged.msi", damaged);
    // A ZIP archive cut short, for the status of another damaged container.
    const std::string zip = "cd '" + (root / "pkg").string() + "' && zip -q ../whole.zip viewer.exe pictures.dll";
    ASSERT_EQ(std::system(zip.c_str()), 0);
    auto whole = harvix::testing::ReadBytes(root / "whole.zip");
    whole.resize(whole.size() / 2);
    write(root / "cut.zip", whole);

    const ProgramRun run = cli({"extract", "--yes", "--dest", (root / "out").string(), "--report",
                                (root / "report.json").string(), (root / "damaged.msi").string(), p.msi.string()});
    EXPECT_THAT(run.err, HasSubstr((root / "damaged.msi").string() +
                                   ": damaged: the Windows Installer library could not read it"));
    EXPECT_TRUE(fs::exists(root / "out" / "Icons" / "app.ico.ico"));
    EXPECT_TRUE(fs::exists(root / "out" / "Bitmaps" / "pictures.dll.bmp"));
    const std::string report = harvix::testing::ReadText(root / "report.json");
    EXPECT_THAT(report, HasSubstr("the Windows Installer library could not read it"));

    const ProgramRun cut = cli({"extract", "--yes", "--dest", (root / "out-zip").string(),
                                (root / "cut.zip").string(), p.msi.string()});
    EXPECT_THAT(cut.err, HasSubstr("cut.zip"));
    EXPECT_EQ(run.status, cut.status);

    const ProgramRun listed = cli({"list", (root / "damaged.msi").string(), p.msi.string()});
    EXPECT_THAT(listed.out, HasSubstr(p.msi.string() + "!/Icon/app.ico\t14\t1\t"));
    EXPECT_THAT(listed.err, HasSubstr("the Windows Installer library could not read it"));
}

// Confined, the files found are handed over open and nothing is read by its name: a
// package named, one inside a named ZIP, and one a search with --containers meets through
// a link list the same rows as without the cage.
TEST_F(MsiRowsTest, PackagesAreReadInTheCageNamedNestedAndThroughLinks) {
    const MsiTestPackage p = MsiTestPackage::Make(root / "pkg");
    const std::string zip = "cd '" + (root / "pkg").string() + "' && zip -q ../pack.zip setup.msi";
    ASSERT_EQ(std::system(zip.c_str()), 0) << zip;
    fs::create_directories(root / "library");
    fs::create_symlink(p.msi, root / "library" / "setup.msi");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", p.msi.string()},
          std::vector<std::string>{"list", (root / "pack.zip").string()},
          std::vector<std::string>{"list", "--containers", (root / "library").string()}}) {
        std::vector<std::string> open = args;
        open.insert(open.begin() + 1, "--no-sandbox");
        const ProgramRun caged = cli(args);
        const ProgramRun uncaged = cli(open);
        EXPECT_THAT(caged.out, HasSubstr("!/Icon/app.ico\t14\t1\t")) << args.back() << ": " << caged.err;
        EXPECT_EQ(caged.out, uncaged.out) << args.back();
        EXPECT_EQ(caged.status, 0) << caged.err;
    }
}

} // namespace
