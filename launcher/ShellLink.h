// The reader of Windows shortcuts: shell links (.lnk, the shell link binary file
// format) and Internet shortcuts (.url, an INI text). Both are read from untrusted bytes
// into what a launcher needs to find the shortcut's icon: where the icon is, which one,
// and what the shortcut starts. Nothing here touches the file system.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// The largest shortcut read: real ones are a few kilobytes.
inline constexpr std::uint64_t kMaxShortcutBytes = 1ull << 20;

// What a shell link says, its Windows paths as written (UTF-8), environment variables
// still in them.
struct ShellLink {
    std::uint32_t flags = 0;
    // The icon's index from the header: N the N-th group, -ID the group with the id ID.
    std::int32_t iconIndex = 0;
    // StringData.
    std::string name;          // the description
    std::string relativePath;  // the target relative to the shortcut's folder
    std::string workingDir;
    std::string arguments;
    std::string iconLocation;  // ICON_LOCATION
    // LinkInfo: the local base path followed by the common path suffix.
    std::string linkInfoPath;
    // The target as the item ID list's file-system items spell it ("C:\Games\app.exe");
    // empty when the list names something else.
    std::string idListPath;
    // EnvironmentVariableDataBlock and IconEnvironmentDataBlock: the target and the icon
    // with environment variables.
    std::string environmentTarget;
    std::string environmentIcon;
    // DarwinDataBlock: the Windows Installer descriptor of an advertised shortcut.
    std::string darwinDescriptor;

    // The LinkFlags bits read here.
    static constexpr std::uint32_t kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4,
                                   kHasRelativePath = 0x8, kHasWorkingDir = 0x10, kHasArguments = 0x20,
                                   kHasIconLocation = 0x40, kIsUnicode = 0x80, kHasExpString = 0x200,
                                   kHasDarwinId = 0x1000, kHasExpIcon = 0x4000;

    // The icon's path as the shell takes it: the icon block's when the link says it
    // holds one, else ICON_LOCATION; empty when it names none.
    [[nodiscard]] std::string iconPath() const;
    // The target paths in the order they are tried: LinkInfo, the environment block,
    // the item ID list (empty ones left out).
    [[nodiscard]] std::vector<std::string> targetPaths() const;
};

// True when the bytes begin as a shell link does (header size 0x4C and its class id).
[[nodiscard]] bool IsShellLinkHead(std::span<const std::uint8_t> head);

// Reads a shell link. Fails with NotLoadable when the bytes are no shell link, with
// Truncated or Malformed (naming the part) when one of its parts is damaged; the extra
// data blocks are read as far as they are sound.
[[nodiscard]] Result<ShellLink> ParseShellLink(std::span<const std::uint8_t> bytes);

// What an Internet shortcut says ([InternetShortcut]: URL, IconFile, IconIndex).
struct InternetShortcut {
    std::string url;
    std::string iconFile;
    std::int32_t iconIndex = 0;
};

// Reads an Internet shortcut: UTF-8 (with or without its byte-order mark), UTF-16 with
// its byte-order mark, or the Western code page; keys and section names without regard
// to case. Fails with NotLoadable when there is no [InternetShortcut] section.
[[nodiscard]] Result<InternetShortcut> ParseInternetShortcut(std::span<const std::uint8_t> bytes);

// Text in the Windows Western code page (1252) as UTF-8.
[[nodiscard]] std::string WesternToUtf8(std::span<const std::uint8_t> bytes);

// The product code ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}") at the start of a Windows
// Installer descriptor, decoded from its packed form of 20 characters (each five an
// unsigned 32-bit number in base 85, its lowest digit first); nothing when the
// descriptor does not begin with one.
[[nodiscard]] std::optional<std::string> DescriptorProductCode(std::string_view descriptor);

} // namespace harvix
