// Well-formed resource payloads for the module builder: device-independent bitmaps,
// icon and cursor images with their group directories, animated cursors, a small AVI
// clip, web pages and a version resource. Extracting them yields files that ordinary
// viewers open. All records are little-endian and unpadded, as Windows stores them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace harvix::modbuilder {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

// A picture is a colour for each pixel; (0, 0) is the top-left corner.
using Picture = std::function<Rgba(int x, int y, int width, int height)>;

// The fixed colour tables of the indexed depths (1, 4 and 8 bits: black and white, the 16
// colours of the VGA, a 6x6x6 cube with 40 greys); none for other depths.
[[nodiscard]] std::vector<Rgba> fixedPalette(int bitCount);
// The index of the palette's colour nearest to `c`.
[[nodiscard]] unsigned nearestColour(const std::vector<Rgba>& palette, Rgba c);

// A few generated pictures that look well at any size and depth.
namespace pictures {
[[nodiscard]] Picture gradient();           // diagonal colour gradient
[[nodiscard]] Picture checker(int cells);   // two-colour checkerboard
[[nodiscard]] Picture disc(Rgba colour);    // a shaded disc on transparent ground
[[nodiscard]] Picture rings();              // concentric coloured rings
[[nodiscard]] Picture arrow();              // a pointer arrow, for cursors
[[nodiscard]] Picture frame(int index, int count); // a rotating wedge, for animations
} // namespace pictures

// BITMAPINFOHEADER (40 bytes) + colour table (for 1, 4 and 8 bits per pixel) + pixels,
// bottom-up rows padded to 4 bytes. Depths 1, 4, 8, 16 (5-5-5), 24, 32. Indexed depths
// use a fixed palette and the nearest colour.
[[nodiscard]] std::vector<std::uint8_t> makeDib(int width, int height, int bitCount,
                                                const Picture& picture);

// The other layouts a bitmap resource can have.
struct DibForm {
    // 12 (the core header: 16-bit sizes, 3-byte colour entries, no 16 or 32 bits), 40,
    // 52 and 56 (masks in the header), 64 (the OS/2 2.x header), 108 (V4), 124 (V5).
    int headerSize = 40;
    bool topDown = false;   // rows from the top, the height stored negative
    bool bitFields = false; // 16 and 32 bits: 5-6-5 and 8-8-8-8 masks (in the header
                            // from 52 bytes on, after a 40-byte one; not with 64)
};
[[nodiscard]] std::vector<std::uint8_t> makeDib(int width, int height, int bitCount,
                                                const Picture& picture, const DibForm& form);

// An icon or cursor image: a DIB whose header height is doubled, followed by the AND
// mask (1 bit per pixel, set where the picture's alpha is below 128).
[[nodiscard]] std::vector<std::uint8_t> makeIconImage(int width, int height, int bitCount,
                                                      const Picture& picture);

// A cursor resource (RT_CURSOR): hotspot x and y (16 bits each) + an icon image.
[[nodiscard]] std::vector<std::uint8_t> makeCursorImage(int width, int height, int bitCount,
                                                        int hotX, int hotY,
                                                        const Picture& picture);

// What a group entry states in place of its image's own values, as some resource
// compilers wrote them (Windows 3.0's: 4 planes of 1 bit for 16 colours; others: 255
// colours for 8 bits; others again another size than the image's); -1 keeps the usual
// value.
struct StatedValues {
    int colours = -1;
    int planes = -1;
    int bitCount = -1;
    int height = -1; // the height field (of a cursor usually the doubled height)
    int width = -1;  // the width field
};

// One member of an icon or cursor group.
struct GroupEntry {
    int width = 32;
    int height = 32;
    int bitCount = 8;
    std::uint32_t bytesInRes = 0; // size of the member image resource
    std::uint16_t id = 1;         // the member's RT_ICON / RT_CURSOR identifier
    StatedValues stated{};
};

// GRPICONDIR (RT_GROUP_ICON): reserved 0, type 1, count, then 14-byte entries.
[[nodiscard]] std::vector<std::uint8_t> makeGroupIconDir(const std::vector<GroupEntry>& entries);

// Cursor group directory (RT_GROUP_CURSOR): type 2, 14-byte entries whose 16-bit width
// and height give the cursor size with the height doubled, as Windows stores them.
[[nodiscard]] std::vector<std::uint8_t> makeGroupCursorDir(const std::vector<GroupEntry>& entries);

// A .cur file (ICONDIR type 2 + one entry + the image): one frame of an animated cursor.
[[nodiscard]] std::vector<std::uint8_t> makeCursorFile(int width, int height, int bitCount,
                                                       int hotX, int hotY,
                                                       const Picture& picture);

// An animated cursor (RT_ANICURSOR, a .ani file): RIFF "ACON" with an "anih" header and a
// "fram" list of .cur frames, shown `jiffies` sixtieths of a second each.
[[nodiscard]] std::vector<std::uint8_t> makeAni(const std::vector<std::vector<std::uint8_t>>& frames,
                                                std::uint32_t jiffies);

// The same with the steps in the order of `sequence` ("seq ", frame numbers) and a time
// of its own for each ("rate", in jiffies), as animation editors write them; the header
// states `jiffies` and the number of steps.
[[nodiscard]] std::vector<std::uint8_t> makeAni(const std::vector<std::vector<std::uint8_t>>& frames,
                                                std::uint32_t jiffies, const std::vector<std::uint32_t>& sequence,
                                                const std::vector<std::uint32_t>& rates);

// An uncompressed AVI clip ("RIFF AVI " with hdrl, movi and idx1): `frames` frames of
// 24-bit pixels at `fps` frames per second.
[[nodiscard]] std::vector<std::uint8_t> makeAvi(int width, int height, int frames, int fps,
                                                const std::function<Picture(int frame)>& picture);

// A small HTML page with the given title and body text (escaped).
[[nodiscard]] std::vector<std::uint8_t> makeHtml(std::string_view title, std::string_view body);

// Four 16-bit parts of a version: major.minor.build.revision.
struct VersionNumber {
    std::uint16_t major = 1, minor = 0, build = 0, revision = 0;
};

// The fixed part of a version resource (VS_FIXEDFILEINFO, 52 bytes): signature 0xFEEF04BD,
// the file and product versions, the operating system and the file type given.
[[nodiscard]] std::vector<std::uint8_t> fixedFileInfo(VersionNumber file, VersionNumber product,
                                                      std::uint32_t os, std::uint32_t type);

// A version resource (RT_VERSION): the "VS_VERSION_INFO" block with a VS_FIXEDFILEINFO
// (signature 0xFEEF04BD) holding `file` as the file version and `product` as the
// product version, then a StringFileInfo with a few strings and a VarFileInfo.
[[nodiscard]] std::vector<std::uint8_t> makeVersionInfo(VersionNumber file, VersionNumber product,
                                                        std::string_view description);

// A version resource as makeVersionInfo writes it, with the given strings (ASCII keys
// and texts: ProductName, FileDescription, InternalName, ...) in its string table.
[[nodiscard]] std::vector<std::uint8_t> makeVersionInfo(
    VersionNumber file, const std::vector<std::pair<std::string, std::string>>& strings);

} // namespace harvix::modbuilder

#include "tools/modbuilder/ModuleBuilder.h"

namespace harvix::modbuilder {

// One member image of an icon or cursor group to be added.
struct GroupImage {
    int width = 32;
    int height = 32;
    int bitCount = 8;
    StatedValues stated{}; // what the group entry states otherwise than the image
    bool png = false;      // an icon image kept as a PNG stream (bitCount then says 32)
};

// Adds one resource to a module being built (of either form).
using AddResource = std::function<void(const ResId& type, const ResId& name, std::vector<std::uint8_t> bytes)>;

// The group helpers below for any module form.
std::uint16_t addIconGroup(const AddResource& add, const ResId& group, std::uint16_t firstIconId,
                           const std::vector<GroupImage>& images, const Picture& picture);
std::uint16_t addCursorGroup(const AddResource& add, const ResId& group, std::uint16_t firstCursorId,
                             const std::vector<GroupImage>& images, const Picture& picture, int hotX, int hotY);

// Adds an icon group: one RT_ICON (3) resource per image, numbered from `firstIconId`,
// and the RT_GROUP_ICON (14) resource `group` naming them. Returns the next free id.
std::uint16_t addIconGroup(ModuleBuilder& builder, const ResId& group, std::uint16_t firstIconId,
                           const std::vector<GroupImage>& images, const Picture& picture,
                           std::uint16_t language = 0x0409);

// Adds a cursor group: RT_CURSOR (1) members with the hotspot at (hotX, hotY) of a 32x32
// cursor (scaled for other sizes) and the RT_GROUP_CURSOR (12) resource. Returns the
// next free id.
std::uint16_t addCursorGroup(ModuleBuilder& builder, const ResId& group, std::uint16_t firstCursorId,
                             const std::vector<GroupImage>& images, const Picture& picture, int hotX,
                             int hotY, std::uint16_t language = 0x0409);

} // namespace harvix::modbuilder
