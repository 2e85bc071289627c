// The icon groups of a module as Windows names them: by position ("shell32.dll,3", the
// fourth group) or by identifier ("imageres.dll,-184", the group with the id 184), in
// shortcuts, the registry's DefaultIcon values and desktop.ini files. The first group in
// the module's order is the icon Windows shows for the file.
#pragma once

#include "common/Result.h"
#include "module/ModuleAccess.h"
#include "module/Satellites.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// A reference to one icon group: the N-th group in the module's order (0 the first), or
// the group whose numeric identifier is ID (written "-ID").
struct IconRef {
    enum class By { Position, Id };
    By by = By::Position;
    std::uint32_t value = 0;

    // Windows' notation: "3", "-184".
    [[nodiscard]] std::string toText() const;
    friend bool operator==(const IconRef&, const IconRef&) = default;
};

// Reads Windows' notation: an optional "-" and decimal digits, blanks around them
// allowed. "-0" is the first group, as Windows reads it. Nothing for anything else, or
// for a number beyond what the notation can name (a position beyond 2^31 - 1, an id
// beyond 65535 never names a group, and is read, so that its message says so).
[[nodiscard]] std::optional<IconRef> ParseIconRef(std::string_view text);

// "MODULE,REF" taken apart at its last comma when what follows the comma is a
// reference; otherwise the whole text is the module and there is no reference.
struct IconLocation {
    std::string module;
    std::optional<IconRef> ref;
};
[[nodiscard]] IconLocation SplitIconLocation(std::string_view text);

// One icon group with its images.
struct IconGroup {
    ResId name;                 // the group resource's name
    std::size_t position = 0;   // in the module's order, 0 the first
    std::size_t groupCount = 0; // groups the module holds
    // The images the group names and the module holds, in the group's order, of the
    // entries the extraction finds valid (format/IconEntry.h); an image named more than
    // once is taken once.
    std::vector<std::vector<std::uint8_t>> images;
};

// The most image bytes one group is read with: every image of a real group fits many
// times over; a group that names thousands of large images is read up to here.
inline constexpr std::uint64_t kMaxIconGroupBytes = 64ull << 20;

// The group a reference names (none: the first). Fails with NotFound when the module has
// no icon group, the reference names none ("the module holds 3 icon groups, 0 to 2";
// "no icon group has the id 184"), or the group names no image the module holds; with
// Malformed when the group's directory is damaged.
[[nodiscard]] Result<IconGroup> LoadIconGroup(const IResourceModule& module, std::optional<IconRef> ref);

// The icon of a file as a file manager or a launcher reads it: an icon or cursor file,
// told apart by its first bytes whatever its name, is one group of its own (the
// reference may only be 0); any other file is opened as a module and its group found
// as LoadIconGroup finds it. With `satellites`, a module is read with its satellite
// resource files as Windows' loader reads it (a stub in System32 whose icons lie in
// SystemResources/NAME.mun); without, as it is. An icon file larger than
// `maxIconFileBytes` is refused. A file that cannot be opened or read fails with the
// system's reason (Io, errno in `code`); one that is neither kind of file with
// NotLoadable.
[[nodiscard]] Result<IconGroup> LoadFileIcon(const std::string& path, std::optional<IconRef> ref,
                                             std::uint64_t maxIconFileBytes,
                                             const SatelliteFinder* satellites = nullptr);

// The images of one icon, each an icon image as a group or an icon file holds it (a DIB
// with its mask, or a whole PNG file): what a thumbnail is drawn from.
struct IconImages {
    std::vector<std::vector<std::uint8_t>> images;
};

// A module's first icon group in directory order, the one Windows shows for the file,
// with the images of the entries the extraction finds valid (format/IconEntry.h).
// Fails with NotFound when the module holds no icon.
[[nodiscard]] Result<IconImages> IconImagesOfModule(const IResourceModule& module);
// An icon or cursor file's images. Fails when it holds no readable image.
[[nodiscard]] Result<IconImages> IconImagesOfIconFile(std::span<const std::uint8_t> file);

} // namespace harvix
