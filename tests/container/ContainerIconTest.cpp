// The icon of an installer or an archive, as harvix-cli icon and the thumbnailer give
// it: a package's ARPPRODUCTICON, else its Icon table's largest, else its first
// program's; an archive's program nearest its top. The images are the very images of
// the icon file or the module the package was made from.
#include "convert/ContainerIcon.h"
#include "tests/container/MsiTestPackage.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"

#include "module/ModuleAccess.h"
#include "image/IconFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

using namespace harvix;
using harvix::testing::MsiTestPackage;

namespace {

namespace fs = std::filesystem;

class ContainerIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("harvix-container-icon-" + std::to_string(::getpid()));
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }

    static std::vector<std::vector<std::uint8_t>> iconFileImages(const std::vector<std::uint8_t>& file) {
        auto images = IconImagesOfIconFile(file);
        EXPECT_TRUE(images.ok());
        return images ? images->images : std::vector<std::vector<std::uint8_t>>{};
    }
    static std::vector<std::vector<std::uint8_t>> moduleImages(const std::vector<std::uint8_t>& image) {
        auto module = OpenModuleFromBuffer(image);
        EXPECT_TRUE(module.ok());
        auto group = LoadIconGroup(**module, std::nullopt);
        EXPECT_TRUE(group.ok());
        return group ? group->images : std::vector<std::vector<std::uint8_t>>{};
    }
    static std::vector<std::vector<std::uint8_t>> iconOf(const fs::path& path) {
        auto icon = LoadAnyFileIcon(path.string(), std::nullopt, 64 << 20);
        EXPECT_TRUE(icon.ok()) << path << ": " << (icon ? "" : icon.error().message);
        return icon ? icon->images : std::vector<std::vector<std::uint8_t>>{};
    }

    fs::path root;
};

TEST_F(ContainerIconTest, APackageGivesTheIconItsProductNames) {
    const MsiTestPackage named = MsiTestPackage::Make(root / "named", "viewer.exe");
    EXPECT_EQ(iconOf(named.msi), moduleImages(named.program));
    // Without ARPPRODUCTICON: the Icon table's largest, the 48-pixel icon file.
    const MsiTestPackage unnamed = MsiTestPackage::Make(root / "unnamed", "");
    EXPECT_EQ(iconOf(unnamed.msi), iconFileImages(unnamed.icon));
    // A reference beyond the one icon is refused.
    auto second = LoadAnyFileIcon(named.msi.string(), IconRef{IconRef::By::Position, 1}, 64 << 20);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error().kind, ErrorKind::NotFound);
}

TEST_F(ContainerIconTest, AnArchiveGivesTheIconOfTheProgramNearestItsTop) {
    const MsiTestPackage p = MsiTestPackage::Make(root);
    fs::create_directories(root / "zip" / "bin");
    fs::copy_file(root / "viewer.exe", root / "zip" / "app.exe");
    // A deeper program, listed first, with other icons: not the one shown.
    modbuilder::ModuleBuilder helper;
    modbuilder::addIconGroup(helper, ResId::number(1), 1, {{16, 16, 8}}, modbuilder::pictures::checker(2));
    ASSERT_TRUE(modbuilder::writeFile((root / "zip" / "bin" / "helper.exe").string(), helper.build()).ok());
    const std::string zip = "cd '" + (root / "zip").string() + "' && zip -q -r ../app.zip bin app.exe";
    ASSERT_EQ(std::system(zip.c_str()), 0);
    EXPECT_EQ(iconOf(root / "app.zip"), moduleImages(p.program));
}

// harvix-cli icon reads the package inside its sandbox and writes the icon file.
TEST_F(ContainerIconTest, HarvixCliWritesThePackagesIcon) {
    const MsiTestPackage p = MsiTestPackage::Make(root);
    const auto r = harvix::testing::RunProgram(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli",
                                               {"icon", p.msi.string(), "--ico", (root / "out.ico").string()}, root);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(iconFileImages(harvix::testing::ReadBytes(root / "out.ico")), iconFileImages(p.icon));
}

} // namespace
