// The icon of an installer or an archive, as a launcher shows it before the program is
// installed: of a Windows Installer package the icon the Property table's
// ARPPRODUCTICON names, else the largest icon of its Icon table, else the icon of the
// first program of its File table; of any other container (a ZIP, a 7z, a cabinet, a disc
// image) the icon of the program it holds nearest its top (the first of the fewest
// folders deep).
#pragma once

#include "common/Result.h"
#include "convert/ModuleIcons.h"

#include <cstdint>
#include <optional>
#include <string>

namespace harvix {

// The icon of the container at `path`. Nothing when the file is no container Harvix
// reads (the caller reads it as a module or an icon file); NotFound when it is one that
// holds no icon. A reference other than the first group (0) is refused: a container has
// one icon. Members are read up to `maxMemberBytes`.
[[nodiscard]] std::optional<Result<IconGroup>> LoadContainerIcon(const std::string& path, std::optional<IconRef> ref,
                                                                 std::uint64_t maxMemberBytes);

// What reading the icon of the file at `path` needs from the system that a confined
// process cannot load: called before the command confines itself. Reads the file's
// first bytes only.
void PrepareContainerIcon(const std::string& path);

// The icon of any file: a module's or an icon file's (LoadFileIcon), else, for a file
// that is neither, a container's. A self-extracting program is a module: its own icon.
// A module is read with its satellites when `satellites` is given, as LoadFileIcon reads it.
[[nodiscard]] Result<IconGroup> LoadAnyFileIcon(const std::string& path, std::optional<IconRef> ref,
                                                std::uint64_t maxIconFileBytes,
                                                const SatelliteFinder* satellites = nullptr);

} // namespace harvix
