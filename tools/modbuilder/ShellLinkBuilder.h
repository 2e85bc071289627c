// Writes Windows shortcuts for tests: shell links (.lnk) with any of their parts, as the
// shell link binary file format lays them out, and Internet shortcuts (.url).
//
//     ShellLinkParts s;
//     s.iconLocation = "%ProgramFiles%\\Game\\game.ico";
//     s.linkInfoPath = "C:\\Program Files\\Game\\game.exe";
//     auto bytes = makeShellLink(s);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harvix::modbuilder {

struct ShellLinkParts {
    bool unicode = true;          // the IsUnicode flag: string data in UTF-16, else in 8 bits
    std::int32_t iconIndex = 0;   // the header's IconIndex
    // StringData (each written when given).
    std::optional<std::string> name, relativePath, workingDir, arguments, iconLocation;
    // LinkInfo with a local base path (written as the base path, the suffix empty).
    std::optional<std::string> linkInfoPath;
    // An item ID list: the computer, the drive ("C:\"), then a file-system item per
    // component, each with its short name and, when it differs, its long name in an
    // extension block (version 8).
    std::optional<std::string> idListPath;
    // Extra data blocks.
    std::optional<std::string> environmentTarget; // EnvironmentVariableDataBlock
    std::optional<std::string> environmentIcon;   // IconEnvironmentDataBlock (sets HasExpIcon)
    std::optional<std::string> darwin;            // DarwinDataBlock (sets HasDarwinID)
};

[[nodiscard]] std::vector<std::uint8_t> makeShellLink(const ShellLinkParts& parts);

// The packed form of a GUID ("{...}") that a Windows Installer descriptor begins with:
// the 16 bytes as stored, as four 32-bit numbers, each five base-85 digits, lowest first.
[[nodiscard]] std::string packedProductCode(const std::string& guid);

} // namespace harvix::modbuilder
