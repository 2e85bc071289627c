// A Windows Installer package made by wixl (msitools) from modules the module builder
// writes: a program and a library in an embedded cabinet, an Icon table with a module
// and an icon file, a Binary table with a banner bitmap and a PNG, and ARPPRODUCTICON.
#pragma once

#include "tools/modbuilder/CompoundFileDamage.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace harvix::testing {

struct MsiTestPackage {
    std::filesystem::path folder;
    std::filesystem::path msi;
    std::vector<std::uint8_t> program; // viewer.exe: two icon groups
    std::vector<std::uint8_t> library; // pictures.dll: a bitmap
    std::vector<std::uint8_t> icon;    // app.ico, the product's icon
    std::vector<std::uint8_t> banner;  // a BMP file
    std::vector<std::uint8_t> png;     // a PNG file

    // Writes the inputs and the package into `where`; `productIcon` names the Icon row
    // ARPPRODUCTICON names (none: no such property); `embed` puts the cabinet inside;
    // `customAction` adds the library as the Binary row "Helper", as a custom action's.
    static MsiTestPackage Make(const std::filesystem::path& where, const std::string& productIcon = "app.ico",
                               bool embed = true, bool customAction = false) {
        using namespace modbuilder;
        MsiTestPackage p;
        p.folder = where;
        std::filesystem::create_directories(where);
        ModuleBuilder program;
        addIconGroup(program, ResId::number(1), 1, {{32, 32, 32}, {16, 16, 8}}, pictures::disc({0, 90, 200, 255}));
        addIconGroup(program, ResId::number(2), 3, {{48, 48, 32}}, pictures::rings());
        p.program = program.build();
        ModuleBuilder library;
        library.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x409,
                    makeDib(24, 24, 24, pictures::gradient()));
        p.library = library.build();
        p.icon = makeIcoFile({{48, 48, 32}, {32, 32, 32}, {16, 16, 4}}, pictures::disc({200, 40, 40, 255}));
        p.banner = makeBmpFile(60, 20, 24, pictures::checker(4));
        p.png = makePngFile(32, 32, pictures::rings());
        const auto write = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
            std::ofstream(where / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        };
        write("viewer.exe", p.program);
        write("pictures.dll", p.library);
        write("app.ico", p.icon);
        write("banner.bmp", p.banner);
        write("logo.png", p.png);
        const std::string property =
            productIcon.empty() ? "" : "<Property Id=\"ARPPRODUCTICON\" Value=\"" + productIcon + "\" />";
        std::ofstream(where / "setup.wxs") << R"(<?xml version="1.0"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Viewer" Language="1033" Version="1.2.3.4" Manufacturer="Harvix"
           UpgradeCode="12345678-1234-1234-1234-123456789012">
    <Package InstallerVersion="200" Compressed="yes" />
    <Media Id="1" Cabinet="app.cab" EmbedCab=")" << (embed ? "yes" : "no") << R"(" />
    <Icon Id="viewer.exe" SourceFile="viewer.exe" />
    <Icon Id="app.ico" SourceFile="app.ico" />
    <Binary Id="Banner" SourceFile="banner.bmp" />
    <Binary Id="Logo" SourceFile="logo.png" />
    )" << (customAction ? R"(<Binary Id="Helper" SourceFile="pictures.dll" />)" : "") << property << R"(
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Viewer App">
          <Component Id="Main" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ViewerExe" Name="viewer.exe" Source="viewer.exe" KeyPath="yes" />
          </Component>
          <Directory Id="LIBDIR" Name="Library Files">
            <Component Id="Lib" Guid="11111111-2222-3333-4444-666666666666">
              <File Id="PicturesDll" Name="pictures.dll" Source="pictures.dll" KeyPath="yes" />
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main" /><ComponentRef Id="Lib" /></Feature>
  </Product>
</Wix>
)";
        p.msi = where / "setup.msi";
        const std::string command = "cd '" + where.string() + "' && wixl -o setup.msi setup.wxs >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << "wixl (msitools) could not build the package";
        if (!embed) {
            // wixl names a cabinet beside the package but writes none: gcab makes it, its
            // files named by their keys in the File table, as a cabinet names them.
            std::filesystem::create_directories(where / "keys");
            std::filesystem::copy_file(where / "viewer.exe", where / "keys" / "ViewerExe");
            std::filesystem::copy_file(where / "pictures.dll", where / "keys" / "PicturesDll");
            const std::string cab = "cd '" + (where / "keys").string() +
                                    "' && gcab -c -z -n ../app.cab ViewerExe PicturesDll >/dev/null 2>&1";
            EXPECT_EQ(std::system(cab.c_str()), 0) << "gcab could not make the cabinet";
        }
        return p;
    }

    // The package at `msi` with the one byte changed that the Windows Installer library
    // reads until it dies (LoopFirstShortChain); empty when the package has no chain for it.
    static std::vector<std::uint8_t> Damaged(const std::filesystem::path& msi) {
        std::ifstream in(msi, std::ios::binary);
        return modbuilder::LoopFirstShortChain(
            std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    }
};

} // namespace harvix::testing
