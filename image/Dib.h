// Device-independent bitmaps: the pictures of .bmp files and the images of icons and
// cursors. Every form Windows writes is read: 1, 4, 8, 16, 24 and 32 bits per pixel;
// uncompressed, bit-field and run-length (RLE4, RLE8) pixels; rows stored bottom-up or
// top-down; the information headers of 12, 40, 52, 56, 108 and 124 bytes. Input is
// untrusted: it is read through ByteCursor and every size is checked before anything
// is allocated.
#pragma once

#include "image/Image.h"
#include "common/Result.h"

#include <cstdint>
#include <optional>
#include <span>

namespace harvix::image {

using ByteView = std::span<const std::uint8_t>;

// Compression codes of the information header.
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kBiAlphaBitfields = 6;

// What the information header says, with the derived layout of what follows it.
struct DibHeader {
    std::uint32_t headerSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0; // as stored, without sign (an icon's holds both masks)
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorsUsed = 0;
    // Red, green, blue and alpha masks of 16- and 32-bit pixels (alpha 0: none).
    std::uint32_t masks[4] = {0, 0, 0, 0};
    std::uint32_t paletteOffset = 0;    // where the colour table begins
    std::uint32_t paletteEntrySize = 4; // 3 for the 12-byte header
    std::uint64_t paletteEntries = 0;   // entries stored (also for 16 to 32 bits)
    std::uint64_t endOfTable = 0;       // header + masks + colour table: default pixel offset
};

// Reads and checks the information header at the start of `dib`.
[[nodiscard]] Result<DibHeader> ReadDibHeader(ByteView dib);

// A .bmp file: the 14-byte file header ("BM") and a bitmap. A 32-bit bitmap whose alpha
// bytes are all zero is opaque (the bytes were unused, as the format allows).
[[nodiscard]] Result<RgbaImage> DecodeBitmapFile(ByteView file);

// The picture of an icon or cursor image in bitmap form: the stored height covers the
// colour bitmap and the AND mask below it. Transparency comes from 32-bit alpha, or
// from the mask when the image has no alpha or its alpha is all zero.
[[nodiscard]] Result<RgbaImage> DecodeIconDib(ByteView dib);

} // namespace harvix::image
