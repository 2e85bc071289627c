// Setup programs whose payload Harvix does not unpack: Inno Setup and NSIS told by their
// markers after the setup program's image, InstallShield cabinets by their first bytes;
// the setup program's own resources are read as before.
#include "tools/modbuilder/ModuleBuilder.h"
#include "module/Installer.h"
#include "module/ModuleAccess.h"
#include "tests/support/ModuleIds.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

using namespace harvix;
using namespace harvix::modbuilder;
using namespace harvix::testing;

namespace {

std::vector<std::uint8_t> setupProgram() {
    ModuleBuilder b(Machine::Pe32);
    b.add(num(16), num(1), 0x409, bytesOf("version"));
    return b.build();
}

void append(std::vector<std::uint8_t>& file, std::string_view bytes) {
    file.insert(file.end(), bytes.begin(), bytes.end());
}

// Pads the file with zeros up to a multiple of `alignment`, plus `extra` bytes.
void padTo(std::vector<std::uint8_t>& file, std::size_t alignment, std::size_t extra = 0) {
    file.resize((file.size() + alignment - 1) / alignment * alignment + extra, 0);
}

// Appends a linker's symbol table of two symbols and a string table holding `strings`,
// and points the file header at them, as MinGW leaves them after the image.
void appendSymbols(std::vector<std::uint8_t>& file, std::string_view strings) {
    const std::size_t coff = file[0x3C] + (std::size_t{file[0x3D]} << 8) + 4;
    const auto put32 = [&file](std::size_t at, std::size_t value) {
        for (int i = 0; i < 4; ++i)
            file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put32(coff + 8, file.size());
    put32(coff + 12, 2);
    file.resize(file.size() + 2 * 18, 0);
    const std::size_t sizeAt = file.size();
    file.resize(file.size() + 4, 0);
    put32(sizeAt, 4 + strings.size());
    append(file, strings);
}

constexpr std::string_view kNsisHeader{"\0\0\0\0\xEF\xBE\xAD\xDENullsoftInst", 20};

} // namespace

TEST(Installer, IsToldByItsMarkersAfterTheImage) {
    const std::vector<std::uint8_t> plain = setupProgram();
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        Installer installer;
    };
    std::vector<Case> cases;
    cases.push_back({"a module alone", plain, Installer::None});
    {
        auto f = plain;
        append(f, std::string_view("payload \x01\x02 rDlPtS02\x87" "eduF tail", 27));
        cases.push_back({"Inno Setup's offset table", f, Installer::InnoSetup});
    }
    {
        auto f = plain;
        append(f, "zlb\x1a Inno Setup Setup Data (5.5.7) more");
        cases.push_back({"Inno Setup's setup data", f, Installer::InnoSetup});
    }
    {
        auto f = plain;
        append(f, "Inno Setup Setup Dat");
        cases.push_back({"an identifier cut short", f, Installer::None});
    }
    {
        auto f = plain;
        padTo(f, 512);
        append(f, kNsisHeader);
        append(f, "header and data");
        cases.push_back({"NSIS's first header at a boundary", f, Installer::Nsis});
    }
    {
        auto f = plain;
        padTo(f, 512, 512 * 3);
        append(f, kNsisHeader);
        cases.push_back({"NSIS's first header at a later boundary", f, Installer::Nsis});
    }
    {
        auto f = plain;
        padTo(f, 512, 4);
        append(f, kNsisHeader);
        cases.push_back({"NSIS's signature off a boundary", f, Installer::None});
    }
    {
        auto f = plain;
        padTo(f, 512);
        append(f, std::string_view("\0\1\0\0\xEF\xBE\xAD\xDENullsoftInst", 20));
        cases.push_back({"flags no first header has", f, Installer::None});
    }
    {
        auto f = plain;
        padTo(f, 64 * 1024, 64 * 1024 - 3);
        append(f, "Inno Setup Setup Data (6.2.0)");
        cases.push_back({"a marker across two blocks of the scan", f, Installer::InnoSetup});
    }
    {
        // The words in a symbol's name are the linker's, not a payload's.
        auto f = plain;
        appendSymbols(f, std::string_view("CreateSetup\0rDlPtS02_check\0", 27));
        cases.push_back({"the linker's symbols after the image", f, Installer::None});
        append(f, "zlb\x1a Inno Setup Setup Data (5.5.7) more");
        cases.push_back({"a payload after the linker's symbols", f, Installer::InnoSetup});
    }
    for (const Case& c : cases) {
        auto module = OpenModuleFromBuffer(c.file);
        ASSERT_TRUE(module.ok()) << c.what;
        EXPECT_EQ((*module)->installer(), c.installer) << c.what;
        EXPECT_EQ((*module)->load(num(16), num(1)), bytesOf("version")) << c.what;
    }
}

// The markers inside the image are no payload: a module may well hold the words.
TEST(Installer, MarkersInsideTheImageAreNoPayload) {
    ModuleBuilder b(Machine::Pe32Plus);
    b.add(num(10), num(1), 0x409, bytesOf("Inno Setup Setup Data (5.5.7) rDlPtS02"));
    auto module = OpenModuleFromBuffer(b.build());
    ASSERT_TRUE(module.ok());
    EXPECT_EQ((*module)->installer(), Installer::None);
}

TEST(Installer, InstallShieldCabinetsAreToldByTheirFirstBytes) {
    const std::vector<std::uint8_t> cabinet = {'I', 'S', 'c', '(', 4, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(DetectInstaller(cabinet, 0), Installer::InstallShield);
    const std::vector<std::uint8_t> other = {'I', 'S', 'c', '[', 4, 0, 0, 1};
    EXPECT_EQ(DetectInstaller(other, 0), Installer::None);
    EXPECT_EQ(DetectInstaller(std::span<const std::uint8_t>(cabinet).first(3), 0), Installer::None);
}

// However large the file says it is, no more than the first 8 MiB are read, in blocks.
TEST(Installer, ReadsABoundedStretchInBlocks) {
    std::uint64_t most = 0;
    std::uint64_t largestRead = 0;
    const ReadBytesAt readAt = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        most = std::max(most, offset + out.size());
        largestRead = std::max<std::uint64_t>(largestRead, out.size());
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return true;
    };
    EXPECT_EQ(DetectInstaller(readAt, 1ull << 40, 4096), Installer::None);
    EXPECT_EQ(most, kInstallerScanBytes);
    EXPECT_LE(largestRead, 65 * 1024u);

    most = 0;
    EXPECT_EQ(DetectInstaller(readAt, 1ull << 40, 1ull << 40), Installer::None);
    EXPECT_LE(most, 4u) << "a file that ends with its image is not scanned";
}

// A setup program too large to be read whole is told from its file as well.
TEST(Installer, IsToldInAModuleReadFromItsFile) {
    auto file = setupProgram();
    file.resize(file.size() + 3 * 1024 * 1024, 0x5A);
    padTo(file, 512);
    append(file, kNsisHeader);
    const auto path =
        std::filesystem::temp_directory_path() / ("harvix-nsis-" + std::to_string(::getpid()) + ".exe");
    ASSERT_TRUE(writeFile(path.string(), file).ok());
    auto module = OpenModule(path.string());
    std::filesystem::remove(path);
    ASSERT_TRUE(module.ok());
    EXPECT_EQ((*module)->installer(), Installer::Nsis);
    EXPECT_EQ((*module)->load(num(16), num(1)), bytesOf("version"));
}

TEST(Installer, NoticesNameTheToolThatUnpacksThePayload) {
    EXPECT_EQ(InstallerNotice(Installer::InnoSetup),
              "Inno Setup installer: the program's files are compressed inside; innoextract unpacks them");
    EXPECT_EQ(InstallerNotice(Installer::Nsis),
              "NSIS installer: the program's files are compressed inside; 7-Zip unpacks them");
    EXPECT_EQ(InstallerNotice(Installer::InstallShield),
              "InstallShield installer: the program's files are compressed inside; unshield unpacks them");
    EXPECT_EQ(InstallerNotice(Installer::None), "");
}
