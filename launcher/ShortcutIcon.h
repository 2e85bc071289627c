// The icon a shortcut shows, found in the Wine prefix that holds it: the icon it names
// (its icon location and index, or an Internet shortcut's IconFile and IconIndex), else
// for an advertised shortcut the icon Windows Installer keeps for its product, else its
// target's first icon. Only names are looked at here: the shortcut's own bytes (read
// with bounds) and the folders of the prefix; the module or icon file found is opened
// by the caller.
#pragma once

#include "common/Result.h"
#include "convert/ModuleIcons.h"

#include <optional>
#include <string>
#include <vector>

namespace harvix {

enum class ShortcutKind { None, ShellLink, InternetShortcut };

// A shell link by its first bytes, an Internet shortcut by its name's ".url" (without
// regard to case); None for anything else, and for a file that cannot be read.
[[nodiscard]] ShortcutKind ShortcutKindOf(const std::string& path);

// Where the icon is: a file (module, icon file) and the group in it.
struct ShortcutIcon {
    std::string file;
    std::optional<IconRef> ref;
    // What was not found on the way, said so that the user knows why another icon was
    // taken ("the shortcut's icon file ... is not in the prefix ...; its target's icon
    // is taken").
    std::vector<std::string> notes;
};

// Resolves a shortcut. `prefix` is the Wine prefix's folder when the user named one;
// otherwise the prefix that holds the shortcut. Fails with a message that names the
// part of the shortcut that could not be found and where it was looked for.
[[nodiscard]] Result<ShortcutIcon> ResolveShortcutIcon(const std::string& shortcut,
                                                       const std::optional<std::string>& prefix);

// The reference of a shortcut's icon index: N the N-th group, -ID the group with the id.
[[nodiscard]] IconRef IconRefOfIndex(std::int32_t index);

} // namespace harvix
