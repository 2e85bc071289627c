// The install.inf of a Windows cursor pack: which file the pack gives each cursor role,
// read from the registry lines that set the scheme up (the scheme's value under
// "Control Panel\Cursors\Schemes", one path per role in role order, and the values under
// "Control Panel\Cursors" named by role), after the %name% substitutions of its
// [Strings] section. Packs are written by hand and by many tools, so the reading is
// liberal: any section, either kind of line, quoted or not, ANSI, UTF-8 or UTF-16.
#pragma once

#include "common/Result.h"
#include "cursortheme/CursorRole.h"
#include "format/IconEntry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace harvix {

// The largest install.inf read: real ones hold a few kilobytes.
inline constexpr std::uint64_t kMaxInstallInfBytes = 1u << 20;

struct CursorScheme {
    std::string name; // the scheme's name, when the file names it
    // For each role, the name of the file (the last part of the path the file gives,
    // without the folders it would be copied to); empty when the file gives none.
    std::array<std::string, kCursorRoleCount> files;

    [[nodiscard]] bool empty() const;
};

// Reads an install.inf. Fails (TooLarge) beyond kMaxInstallInfBytes; any text is read,
// and one that assigns no cursor gives an empty scheme.
[[nodiscard]] Result<CursorScheme> ReadInstallInf(ByteView file);

} // namespace harvix
