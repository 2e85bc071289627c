// Installers whose payload Harvix cannot unpack: an Inno Setup or NSIS setup program
// keeps the program's files compressed in its own format after the setup program's
// image, and an InstallShield cabinet is a format of its own. Such a file is named in
// the run's summary and report, with the tool that unpacks it; what is readable of it
// (the setup program's own icon and version) is read as from any module.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace harvix {

enum class Installer {
    None,
    InnoSetup,     // "rDlPtS" (the setup loader's offset table) or "Inno Setup Setup Data ("
    Nsis,          // the first header: flags, 0xDEADBEEF, "NullsoftInst", at a 512-byte boundary
    InstallShield, // a cabinet beginning "ISc("
};

// The installer's name ("Inno Setup", "NSIS", "InstallShield"); empty for None.
[[nodiscard]] std::string_view InstallerName(Installer installer);

// Why its files are not read and what reads them, said once for all messages: "Inno
// Setup installer: the program's files are compressed inside; innoextract unpacks them".
// Empty for None.
[[nodiscard]] std::string InstallerNotice(Installer installer);

// How far from the start of a file the markers are looked for. A setup program's loader
// is small; its markers lie in its resources or right after its image.
inline constexpr std::uint64_t kInstallerScanBytes = 8ull << 20;

// Fills `out` with the file's bytes at `offset`; false when they cannot all be read.
using ReadBytesAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;

// The installer a file of `size` bytes is, read through `readAt`. An InstallShield
// cabinet is told by its first bytes. A setup program carries its payload after its
// image, so the markers are looked for only when the file goes on past `imageEnd` (the
// end of the module's headers and sections; 0 for a file that is no module): in the
// first kInstallerScanBytes, read in blocks, never the whole file at once.
[[nodiscard]] Installer DetectInstaller(const ReadBytesAt& readAt, std::uint64_t size, std::uint64_t imageEnd);

// The same for bytes in memory.
[[nodiscard]] Installer DetectInstaller(std::span<const std::uint8_t> file, std::uint64_t imageEnd);

} // namespace harvix
