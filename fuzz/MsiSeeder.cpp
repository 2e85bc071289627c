// Writes the seed corpus of the Windows Installer reader: a small package made by wixl
// (msitools) from a module the module builder writes, with Icon, Binary, Property and
// File tables and an embedded cabinet. Without wixl the corpus stays empty.
#include "tools/modbuilder/CompoundFileDamage.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>
#include <string>

namespace fs = std::filesystem;
using namespace harvix;
using namespace harvix::modbuilder;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: msi_seeder CORPUS\n";
        return 2;
    }
    const fs::path corpus = argv[1];
    const fs::path work = corpus / ".work";
    fs::create_directories(work);
    ModuleBuilder program;
    addIconGroup(program, ResId::number(1), 1, {{16, 16, 4}}, pictures::disc({0, 90, 200, 255}));
    if (!writeFile((work / "app.exe").string(), program.build()).ok() ||
        !writeFile((work / "app.ico").string(), makeIcoFile({{16, 16, 4}}, pictures::rings())).ok() ||
        !writeFile((work / "banner.bmp").string(), makeBmpFile(8, 4, 24, pictures::checker(2))).ok())
        return 1;
    std::ofstream(work / "seed.wxs") << R"(<?xml version="1.0"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Seed" Language="1033" Version="1.0.0.0" Manufacturer="Harvix"
           UpgradeCode="12345678-1234-1234-1234-123456789012">
    <Package InstallerVersion="200" Compressed="yes" />
    <Media Id="1" Cabinet="seed.cab" EmbedCab="yes" />
    <Icon Id="app.ico" SourceFile="app.ico" />
    <Binary Id="Banner" SourceFile="banner.bmp" />
    <Property Id="ARPPRODUCTICON" Value="app.ico" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="APPDIR" Name="App">
        <Component Id="Main" Guid="11111111-2222-3333-4444-555555555555">
          <File Id="AppExe" Name="app.exe" Source="app.exe" KeyPath="yes" />
        </Component>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main" /></Feature>
  </Product>
</Wix>
)";
    const std::string command = "cd '" + work.string() + "' && wixl -o ../seed.msi seed.wxs >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::cerr << "msi_seeder: wixl could not make the seed; the corpus holds none\n";
    } else {
        // The same package with the one byte changed that the Windows Installer library
        // reads until it dies: the reader must refuse it and go on.
        std::ifstream in(corpus / "seed.msi", std::ios::binary);
        const auto damaged = LoopFirstShortChain(
            std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
        if (!damaged.empty() && !writeFile((corpus / "seed-damaged.msi").string(), damaged).ok())
            return 1;
    }
    fs::remove_all(work);
    return 0;
}
