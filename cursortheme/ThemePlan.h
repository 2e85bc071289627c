// What a cursor theme holds, planned before anything is written: each cursor's images
// at the theme's nominal sizes with their hot spots and display times, and the theme's
// index.theme. The writer (cursortheme/XcursorWriter.h) only carries the plan out.
#pragma once

#include "common/Result.h"
#include "cursortheme/CursorRole.h"
#include "cursortheme/CursorSource.h"
#include "image/Image.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// The nominal sizes written unless asked otherwise: 24 the desktops' usual size, up to
// 96 for HiDPI screens at four times.
inline constexpr std::uint32_t kDefaultCursorSizes[] = {24, 32, 48, 64, 96};
inline constexpr std::uint32_t kSmallestCursorSize = 8;
inline constexpr std::uint32_t kLargestCursorSize = 256;

// The theme whose cursors stand in for the roles a pack does not fill.
inline constexpr std::string_view kDefaultInherits = "Adwaita";

// One image of an Xcursor file.
struct ThemeImage {
    std::uint32_t nominal = 0; // the size it is looked up by
    RgbaImage picture;
    std::uint32_t hotX = 0;
    std::uint32_t hotY = 0;
    std::uint32_t delayMs = 0; // for a frame of an animation; 0 for a still cursor
};

// A display time of an animated cursor in milliseconds: jiffies of 1/60 s, rounded to
// the nearest millisecond (6 jiffies: 100 ms, 1 jiffy: 17 ms). A step of no time is
// shown for one jiffy, as it is on Windows.
[[nodiscard]] std::uint32_t DelayMs(std::uint32_t jiffies);

// A hot spot moved to a picture scaled from `from` pixels to `to` pixels along one axis:
// the pixel's corner scaled, rounded to the nearest pixel and kept inside the picture.
[[nodiscard]] std::uint32_t ScaleHotSpot(std::uint32_t hot, std::uint32_t from, std::uint32_t to);

// A cursor picture at another size. An enlargement by a whole factor repeats each pixel
// (cursors are drawn pixel by pixel, and stay as sharp as drawn); any other size is
// resampled (image/Scale.h: area-averaged when smaller, interpolated when larger).
[[nodiscard]] RgbaImage ScaleCursorPicture(const RgbaImage& source, std::uint32_t width, std::uint32_t height);

// The images of a cursor at the nominal sizes, the sizes in their order and, for an
// animation, its steps in their order at each size. At a nominal size N a frame's image
// of N x N pixels is taken as it is; otherwise its largest image is scaled so that its
// longer side is N. Fails (TooLarge) when the images would hold more than
// kMaxCursorPixels.
[[nodiscard]] Result<std::vector<ThemeImage>> PlanCursorImages(const SourceCursor& cursor,
                                                               std::span<const std::uint32_t> sizes);

// The index.theme of a cursor theme: [Icon Theme] with Name, Comment and Inherits.
[[nodiscard]] std::string IndexTheme(std::string_view name, std::string_view comment, std::string_view inherits);

// Reads a list of nominal sizes ("24,32,48"): whole numbers from kSmallestCursorSize
// to kLargestCursorSize, sorted, each once. Nothing for anything else.
[[nodiscard]] std::optional<std::vector<std::uint32_t>> ParseCursorSizes(std::string_view text);

// Whether a text may name a theme: a folder name (no "/", not "." or ".."), no control
// characters, at most 255 bytes.
[[nodiscard]] bool IsThemeName(std::string_view name);

} // namespace harvix
