// harvix-cli extract reading modules inside containers with the satellite resource files
// the container holds for them (language files, SystemResources files): the pictures
// come out byte for byte as from the same folder on disk, whichever comes first in the
// container, the module or its satellite; the records name the satellite inside its
// container; a satellite read with its module is not read again on its own.
#include "tests/cli/CliRunTest.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/WindowsTree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ReadText;

using testing::ExpectSamePictures;
using testing::PicturesIn;

class ContainerSatelliteTest : public testing::CliRunTest {
protected:
    ContainerSatelliteTest() : CliRunTest("harvix-container-satellites") {}

    void shell(const std::string& command) {
        const testing::ProgramRun r = testing::RunShell("cd '" + root.string() + "' && " + command, root);
        ASSERT_EQ(r.status, 0) << command << ": " << r.err;
    }

    // harvix-cli extract of `path` into a fresh folder `name`, the satellites of `language`.
    std::map<std::string, std::string> extract(const fs::path& path, const std::string& name,
                                               const std::string& language, std::vector<std::string> options = {}) {
        std::vector<std::string> args{"extract", "--dest", (root / name).string(), "--language", language};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(path.string());
        last = cli(args);
        EXPECT_EQ(last.status, 0) << last.err;
        return PicturesIn(root / name);
    }

    std::string records(const std::string& name, const char* kind = "Bitmaps") {
        return ReadText(root / name / kind / "__index.txt");
    }

    // A program with a bitmap of its own and one its language file replaces, and its
    // French language file holding the replacement, a bitmap and a web page.
    void writeProgram(const fs::path& folder) {
        fs::create_directories(folder / "fr-FR");
        ModuleBuilder program;
        program.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(16, 16, 24, pictures::gradient()));
        program.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x409, makeDib(16, 16, 8, pictures::checker(2)));
        ASSERT_TRUE(writeFile((folder / "app.exe").string(), program.build()).ok());
        ModuleBuilder french;
        french.add(ResId::name("MUI"), ResId::number(1), 0x40C, makeMuiResource(MuiFileRole::LanguageSpecific, "fr-FR"));
        french.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x40C, makeDib(20, 20, 24, pictures::rings()));
        french.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x40C, makeDib(16, 16, 24, pictures::checker(1)));
        ASSERT_TRUE(writeFile((folder / "fr-FR" / "app.exe.mui").string(), french.build()).ok());
    }

    testing::ProgramRun last;
};

TEST_F(ContainerSatelliteTest, AWindowsFolderInAnArchiveGivesThePicturesOfTheFolderOnDisk) {
    fs::create_directories(root / "tree");
    const auto written = writeWindowsTree((root / "tree").string());
    ASSERT_TRUE(written.ok()) << written.error().message;
    shell("cd tree && zip -qr ../tree.zip .");
    shell("tar -czf tree.tar.gz -C tree .");
    for (const char* language : {"de-DE", "fr-FR"}) {
        SCOPED_TRACE(language);
        const auto expected = extract(root / "tree", std::string("disk-") + language, language);
        ASSERT_FALSE(expected.empty());
        for (const char* container : {"tree.zip", "tree.tar.gz"}) {
            SCOPED_TRACE(container);
            const std::string name = std::string(container) + "-" + language;
            ExpectSamePictures(extract(root / container, name, language), expected);
            // Each picture's record names the file inside the container it came from.
            const std::string index = records(name);
            const std::string inside = (root / container).string() + "!/";
            EXPECT_THAT(index, HasSubstr("SOURCE FILE = " + inside + "WINDOWS/SYSTEMRESOURCES/shell32.dll.mun "));
            if (std::string(language) == "de-DE")
                EXPECT_THAT(index, HasSubstr("SOURCE FILE = " + inside + "WINDOWS/system32/DE-de/shell32.dll.mui "));
            else
                EXPECT_THAT(index,
                            HasSubstr("SOURCE FILE = " + inside + "Program Files/Viewer/fr-FR/viewer.exe.mui "));
        }
    }
    // Without satellites, every module as it is, in the archive as on disk.
    ExpectSamePictures(extract(root / "tree.zip", "zip-plain", "de-DE", {"--no-satellites"}),
               extract(root / "tree", "disk-plain", "de-DE", {"--no-satellites"}));
}

TEST_F(ContainerSatelliteTest, TheSatelliteIsFoundBeforeAndAfterItsModuleInTheContainer) {
    writeProgram(root / "pack");
    const auto expected = extract(root / "pack", "disk", "fr-FR");
    // The language file's bitmap replaces the program's own, and adds its third.
    ASSERT_EQ(expected.size(), 3U);
    // zip keeps the order it is given; -0 stores the members, which are then read in place.
    shell("cd pack && zip -q ../after.zip app.exe fr-FR/app.exe.mui");
    shell("cd pack && zip -q ../before.zip fr-FR/app.exe.mui app.exe");
    shell("cd pack && zip -q0 ../stored.zip app.exe fr-FR/app.exe.mui");
    shell("tar -cf after.tar -C pack app.exe fr-FR/app.exe.mui");
    for (const char* container : {"after.zip", "before.zip", "stored.zip", "after.tar"}) {
        SCOPED_TRACE(container);
        ExpectSamePictures(extract(root / container, std::string("out-") + container, "fr-FR"), expected);
    }
    // With a mask that takes every file the language file is still read once, with its
    // module, as on disk.
    const auto everything = extract(root / "pack", "disk-all", "fr-FR", {"--mask", "*"});
    ExpectSamePictures(extract(root / "before.zip", "zip-all", "fr-FR", {"--mask", "*"}), everything);
    EXPECT_THAT(records("zip-all"), Not(HasSubstr("app.exe.mui.bmp")));
}

TEST_F(ContainerSatelliteTest, AnInstallerPackageGivesItsProgramsTheirLanguageFiles) {
    writeProgram(root / "pack");
    const auto expected = extract(root / "pack", "disk", "fr-FR");
    std::ofstream(root / "pack" / "setup.wxs") << R"(<?xml version="1.0"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="App" Language="1033" Version="1.0.0.0" Manufacturer="Harvix"
           UpgradeCode="12345678-1234-1234-1234-123456789013">
    <Package InstallerVersion="200" Compressed="yes" />
    <Media Id="1" Cabinet="app.cab" EmbedCab="yes" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="App">
          <Component Id="Main" Guid="11111111-2222-3333-4444-555555555557">
            <File Id="AppExe" Name="app.exe" Source="app.exe" KeyPath="yes" />
          </Component>
          <Directory Id="FRENCH" Name="fr-FR">
            <Component Id="French" Guid="11111111-2222-3333-4444-555555555558">
              <File Id="AppMui" Name="app.exe.mui" Source="fr-FR/app.exe.mui" KeyPath="yes" />
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main" /><ComponentRef Id="French" /></Feature>
  </Product>
</Wix>
)";
    shell("cd pack && wixl -o ../setup.msi setup.wxs >/dev/null 2>&1");
    ExpectSamePictures(extract(root / "setup.msi", "msi", "fr-FR"), expected);
    EXPECT_THAT(records("msi"), HasSubstr("SOURCE FILE = " + (root / "setup.msi").string() + "!/"));
    EXPECT_THAT(records("msi"), HasSubstr("/App/fr-FR/app.exe.mui RESOURCE TYPE = 2 RESOURCE NAME = 3"));
}

} // namespace
} // namespace harvix
