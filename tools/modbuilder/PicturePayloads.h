// Pictures as the module builder writes them into modules beside the standard payloads:
// whole picture files (PNG, JPEG, GIF, BMP, ICO) as programs and themes keep them in
// RCDATA or in types of their own, and the icons, cursors and bitmaps of Windows 1.x and
// 2.x modules. Each picture is generated from a Picture; nothing is copied.
#pragma once

#include "tools/modbuilder/ResourcePayloads.h"

#include <cstdint>
#include <vector>

namespace harvix::modbuilder {

// A PNG file of 8-bit RGBA pixels (its image data in stored deflate blocks, with real
// checksums), which any viewer opens.
[[nodiscard]] std::vector<std::uint8_t> makePngFile(int width, int height, const Picture& picture);

// A baseline JPEG file in shades of grey: each 8 x 8 block one shade (the block's mean),
// coded with the standard Huffman tables. Width and height are multiples of 8.
[[nodiscard]] std::vector<std::uint8_t> makeJpegFile(int width, int height, const Picture& picture);

// A GIF89a file with a 256-colour table (the nearest of a fixed palette per pixel).
[[nodiscard]] std::vector<std::uint8_t> makeGifFile(int width, int height, const Picture& picture);

// A BMP file: the 14-byte file header and a bitmap of makeDib.
[[nodiscard]] std::vector<std::uint8_t> makeBmpFile(int width, int height, int bitCount, const Picture& picture);

// An ICO file with one image of makeIconImage per size given.
[[nodiscard]] std::vector<std::uint8_t> makeIcoFile(const std::vector<GroupImage>& images, const Picture& picture);

// The forms of a Windows 1.x/2.x icon or cursor.
enum class OldForm {
    DeviceIndependent = 0, // stored at twice the size a screen shows
    DeviceDependent = 1,
    Both = 2, // the device-independent image (at twice `size`), then the device-dependent one
};

// A Windows 1.x/2.x icon of `size` x `size` pixels as a screen shows it (the
// device-independent image is stored at twice that): format word, 12-byte header, AND
// plane (set where the picture is transparent), XOR plane (white where the picture is
// light), rows from the top, 2 bytes a row for every 16 pixels.
[[nodiscard]] std::vector<std::uint8_t> makeOldIcon(OldForm form, int size, const Picture& picture);

// The same for a cursor, with its hot spot (of the device-dependent size; doubled in
// the device-independent image).
[[nodiscard]] std::vector<std::uint8_t> makeOldCursor(OldForm form, int size, int hotX, int hotY,
                                                      const Picture& picture);

} // namespace harvix::modbuilder
