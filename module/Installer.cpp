#include "module/Installer.h"

#include "common/ByteCursor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace harvix {

namespace {

// Inno Setup's setup loader finds its data through an offset table whose identifier
// begins "rDlPtS" (followed by a version: "02", "04", ..., and for 5.1.5 and later the
// bytes 0x87 "eduF"); the setup data itself begins with its identifier and version,
// "Inno Setup Setup Data (5.5.7)".
constexpr std::string_view kInnoTable = "rDlPtS";
constexpr std::string_view kInnoData = "Inno Setup Setup Data (";
// NSIS's first header: 4 bytes of flags, the signature 0xDEADBEEF and "NullsoftInst",
// at a 512-byte boundary after the setup program's stub.
constexpr std::string_view kNsisMagic = "\xEF\xBE\xAD\xDENullsoftInst";
constexpr std::uint64_t kNsisAlignment = 512;
// The flags are a few bits; a larger value at such a boundary is no first header.
constexpr std::uint32_t kNsisMostFlags = 0xFF;
constexpr std::string_view kInstallShieldCabinet = "ISc(";

constexpr std::size_t kBlock = 64 * 1024;
// Each block is read with the bytes before it that a marker cut at its start needs.
constexpr std::size_t kOverlap = 32;

bool startsWith(std::span<const std::uint8_t> bytes, std::uint64_t at, std::string_view text) {
    ByteCursor c(bytes);
    auto slice = c.slice(at, text.size());
    return slice && std::memcmp(slice->data(), text.data(), text.size()) == 0;
}

bool holds(std::span<const std::uint8_t> bytes, std::string_view text) {
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return view.find(text) != std::string_view::npos;
}

// Whether a block whose first byte is the file's byte `base` holds an NSIS first header
// at a 512-byte boundary of the file.
bool holdsNsisHeader(std::span<const std::uint8_t> block, std::uint64_t base) {
    ByteCursor c(block);
    const std::uint64_t first = (base + kNsisAlignment - 1) / kNsisAlignment * kNsisAlignment;
    for (std::uint64_t at = first; at - base < block.size(); at += kNsisAlignment) {
        const std::uint64_t within = at - base;
        auto flags = c.peekAt<std::uint32_t>(within);
        if (flags && *flags <= kNsisMostFlags && startsWith(block, within + 4, kNsisMagic))
            return true;
    }
    return false;
}

} // namespace

std::string_view InstallerName(Installer installer) {
    switch (installer) {
    case Installer::None:
        return "";
    case Installer::InnoSetup:
        return "Inno Setup";
    case Installer::Nsis:
        return "NSIS";
    case Installer::InstallShield:
        return "InstallShield";
    }
    return "";
}

std::string InstallerNotice(Installer installer) {
    std::string_view tool;
    switch (installer) {
    case Installer::None:
        return {};
    case Installer::InnoSetup:
        tool = "innoextract";
        break;
    case Installer::Nsis:
        tool = "7-Zip";
        break;
    case Installer::InstallShield:
        tool = "unshield";
        break;
    }
    return std::string(InstallerName(installer)) + " installer: the program's files are compressed inside; " +
           std::string(tool) + " unpacks them";
}

Installer DetectInstaller(const ReadBytesAt& readAt, std::uint64_t size, std::uint64_t imageEnd) {
    std::array<std::uint8_t, 4> head{};
    if (size >= head.size() && readAt(0, head) && startsWith(head, 0, kInstallShieldCabinet))
        return Installer::InstallShield;
    // Nothing follows the image: no payload to carry.
    if (imageEnd >= size)
        return Installer::None;
    const std::uint64_t end = std::min(size, kInstallerScanBytes);
    std::vector<std::uint8_t> block;
    for (std::uint64_t at = 0; at < end;) {
        const std::uint64_t from = at < kOverlap ? 0 : at - kOverlap;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock + (at - from), end - from));
        block.resize(length);
        if (!readAt(from, block))
            return Installer::None;
        if (holds(block, kInnoTable) || holds(block, kInnoData))
            return Installer::InnoSetup;
        if (holdsNsisHeader(block, from))
            return Installer::Nsis;
        at = from + length;
    }
    return Installer::None;
}

Installer DetectInstaller(std::span<const std::uint8_t> file, std::uint64_t imageEnd) {
    return DetectInstaller(
        [file](std::uint64_t offset, std::span<std::uint8_t> out) {
            ByteCursor c(file);
            auto slice = c.slice(offset, out.size());
            if (!slice)
                return false;
            std::copy(slice->begin(), slice->end(), out.begin());
            return true;
        },
        file.size(), imageEnd);
}

} // namespace harvix
