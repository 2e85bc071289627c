// Writes icon, cursor and bitmap files in every form their formats allow, for the image
// tests and the decoder's fuzz seeds. The pixels are patterns chosen so that every bit
// of every field matters: each palette index, channel value and mask bit is used.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace harvix::picbuilder {

using Bytes = std::vector<std::uint8_t>;

struct DibSpec {
    int width = 13;
    int height = 7;
    int bitCount = 24;
    std::uint32_t compression = 0; // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS, 6 ALPHABITFIELDS
    bool topDown = false;
    int headerSize = 40;           // 12, 40, 52, 56, 64, 108 or 124
    std::array<std::uint32_t, 4> masks{}; // bit fields: red, green, blue, alpha
    std::uint32_t colorsUsed = 0;  // 0: the full table
    bool alphaAllZero = false;     // 32 bits: write every alpha byte as 0 (the bits of the
                                   // alpha mask, with bit fields)
    bool rleHoles = false;         // RLE: end some lines early and jump over pixels
};

// A bit-field bitmap (compression 3) of the given depth, masks and header size.
[[nodiscard]] inline DibSpec bitFields(int bitCount, std::array<std::uint32_t, 4> masks, int headerSize = 40) {
    DibSpec s;
    s.bitCount = bitCount;
    s.compression = 3;
    s.masks = masks;
    s.headerSize = headerSize;
    return s;
}

// A device-independent bitmap without file header (information header, masks, colour
// table, pixels).
[[nodiscard]] Bytes makeDib(const DibSpec& form);

// A .bmp file: the 14-byte file header with the right pixel offset, then the bitmap.
[[nodiscard]] Bytes makeBitmapFile(const DibSpec& form);

// An icon or cursor image in bitmap form: the colour bitmap with the doubled height,
// then the AND mask, set in a pattern of its own. 32-bit images carry alpha too.
[[nodiscard]] Bytes makeIconDib(const DibSpec& form);

// A small RGBA PNG (written by hand, stored deflate blocks) of the given size.
[[nodiscard]] Bytes makePng(int width, int height);

struct IconEntry {
    Bytes image;
    int width = 0; // directory values (0 stands for 256)
    int height = 0;
    int bitCount = 0;
    int hotX = 0, hotY = 0; // cursors only
};

// An .ico (type 1) or .cur (type 2) file of the images.
[[nodiscard]] Bytes makeIconFile(const std::vector<IconEntry>& images, int type = 1);

// Every form of icon and bitmap, with a name telling which, for tables of test cases
// and for seeds.
struct NamedFile {
    std::string name;
    Bytes bytes;
};
[[nodiscard]] std::vector<NamedFile> allBitmapForms();
[[nodiscard]] std::vector<NamedFile> allIconForms();

} // namespace harvix::picbuilder
