// Writes the seed corpus of the shortcut readers: shell links with every part, Unicode
// and 8-bit, advertised ones, an Internet shortcut and a version resource with strings.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/ShellLinkBuilder.h"

#include <filesystem>
#include <iostream>

using namespace harvix;
using namespace harvix::modbuilder;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: shortcut_seeder OUTDIR\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    int status = 0;
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        if (Status s = writeFile((dir / name).string(), bytes); !s) {
            std::cerr << s.error().message << "\n";
            status = 1;
        }
    };
    for (const bool unicode : {true, false}) {
        ShellLinkParts s;
        s.unicode = unicode;
        s.iconIndex = -3;
        s.name = "Game";
        s.relativePath = "..\\Game\\game.exe";
        s.workingDir = "C:\\Games\\Game";
        s.arguments = "-x";
        s.iconLocation = "%ProgramFiles%\\Game\\game.ico";
        s.linkInfoPath = "C:\\Games\\Game\\game.exe";
        s.idListPath = "C:\\Program Files\\Game\\game.exe";
        s.environmentTarget = "%ProgramFiles%\\Game\\game.exe";
        s.environmentIcon = "%ProgramFiles%\\Game\\game.ico";
        s.darwin = packedProductCode("{6A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}") + "Complete<";
        write(unicode ? "link-unicode.lnk" : "link-ansi.lnk", makeShellLink(s));
    }
    ShellLinkParts target;
    target.idListPath = "C:\\Program Files (x86)\\A Long Folder Name\\program.exe";
    write("link-items.lnk", makeShellLink(target));
    const std::string url = "[InternetShortcut]\r\nURL=steam://rungameid/1\r\nIconFile=C:\\g.ico\r\nIconIndex=-1\r\n";
    write("store.url", std::vector<std::uint8_t>(url.begin(), url.end()));
    write("version.res", makeVersionInfo({1, 2, 3, 4}, {{"ProductName", "Game"}, {"OriginalFilename", "game.exe"}}));
    return status;
}
