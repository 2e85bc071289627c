// The cursors a theme is made from, decoded: a cursor file (.cur, or an .ico taken as a
// cursor with its hot spot in the corner), an animated cursor (.ani), or a cursor group
// or animated cursor of a module.
#pragma once

#include "common/Result.h"
#include "module/ModuleAccess.h"
#include "format/IconEntry.h"
#include "image/AniFile.h"
#include "image/Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

// The most pixels the frames of one cursor are decoded to (64 MiB of RGBA): far beyond
// any real cursor, whose frames are a few dozen of 256 x 256 pixels at most.
inline constexpr std::uint64_t kMaxCursorPixels = std::uint64_t{16} << 20;

// One image of a frame, with its hot spot as the file states it.
struct CursorImage {
    RgbaImage picture;
    std::uint32_t hotX = 0;
    std::uint32_t hotY = 0;
};

// One frame: the images of one cursor file, of different sizes.
struct CursorFrame {
    std::vector<CursorImage> images;
};

struct SourceCursor {
    std::vector<CursorFrame> frames;
    std::vector<AniStep> steps; // empty for a cursor that does not move

    [[nodiscard]] bool animated() const { return !steps.empty(); }
};

// A cursor, icon or animated cursor file, told apart by its first bytes. An image that
// cannot be decoded is left out; a frame without any image fails (Malformed), as does
// a file that is none of the three (NotLoadable).
[[nodiscard]] Result<SourceCursor> ReadCursorFile(ByteView file);

// The cursors a module holds: its cursor groups and its animated cursors, in directory
// order; of a Windows 1.x or 2.x module, which has no groups, its cursors of the older
// form.
struct ModuleCursor {
    ResId name;
    bool animated = false;
    bool old = false; // a Windows 1.x/2.x cursor (format/OldWindows.h)
};
[[nodiscard]] std::vector<ModuleCursor> CursorsOfModule(const IResourceModule& module);

// One of them, decoded. A group's entries are judged as the extraction judges them
// (format/IconEntry.h); entries whose image is missing or unsound are left out.
[[nodiscard]] Result<SourceCursor> ReadModuleCursor(const IResourceModule& module, const ModuleCursor& cursor);

} // namespace harvix
