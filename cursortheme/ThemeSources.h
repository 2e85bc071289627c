// The sources of a cursor theme taken apart into cursors by role: a Windows cursor pack
// (a folder with its install.inf, or cursor files whose names tell their roles), cursor
// and animated cursor files, and modules (their cursors by their system identifiers, or
// one of them by reference). A source may name its role: "Hand=link.cur",
// "Wait=user32.dll,-32514".
#pragma once

#include "common/Result.h"
#include "cursortheme/CursorRole.h"
#include "cursortheme/CursorSource.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

struct ThemeSource {
    std::optional<CursorRole> role; // "ROLE=" before the path
    std::string path;               // a folder, a file or a module
    std::string location;           // the path with its reference, as given
};

// "ROLE=PATH" when what comes before the first "=" is a role's registry name, else the
// whole text is the path.
[[nodiscard]] ThemeSource ParseThemeSource(std::string_view text);

struct RoleCursor {
    std::string origin; // the file, or MODULE,-ID, it came from
    SourceCursor cursor;
};

struct GatheredCursors {
    std::array<std::optional<RoleCursor>, kCursorRoleCount> roles;
    std::string schemeName; // of the first pack whose install.inf names one
    // What was passed over and why, for the user: a cursor no role could be told for, a
    // role given twice, a file install.inf names that is not there, a cursor that
    // cannot be read.
    std::vector<std::string> notes;

    [[nodiscard]] std::size_t count() const;
};

// The most cursor files a pack folder is searched for (its subfolders two deep).
inline constexpr std::size_t kMaxPackFiles = 4096;

// Adds the cursors of one source; a role filled already keeps its cursor. Fails when the
// source cannot be read at all (no such file, not a cursor file, module or folder).
[[nodiscard]] Status GatherCursors(const ThemeSource& source, GatheredCursors& gathered);

} // namespace harvix
