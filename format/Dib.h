// The information header of a device-independent bitmap, read once into one set of facts
// for everyone who deals with bitmaps: the bitmap writer (which puts a file header in
// front of a bitmap resource and must point it at the pixels), the icon and cursor
// writers (which judge a group's images by them) and the decoders. Every header size a
// bitmap may carry is read: 12 bytes (the old core header, with 16-bit sizes and 3-byte
// colour entries), 40, 52 and 56 (the masks inside the header from 52 on), 64 (the
// larger OS/2 header) and 108 and 124 (the V4 and V5 headers). Input is untrusted: it is
// read through ByteCursor only, and every failure is a value.
#pragma once

#include "common/Result.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace harvix {

// Compression codes of the information header.
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kBiJpeg = 4;
inline constexpr std::uint32_t kBiPng = 5;
inline constexpr std::uint32_t kBiAlphaBitfields = 6;

// The sizes an information header can have: 12, 40, 52, 56, 64, 108, 124.
[[nodiscard]] bool IsDibHeaderSize(std::uint32_t size);

// One of the depths a bitmap can have: 1, 4, 8, 16, 24 or 32 bits per pixel.
[[nodiscard]] bool IsDibDepth(std::int64_t bits);

// What the information header says, and where what follows it lies.
struct DibFacts {
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;  // as stored (the core header's is 0..65535)
    std::int64_t height = 0; // as stored: negative when the rows run top-down
    std::uint16_t planes = 0;
    std::int64_t bitCount = 0; // signed, as the bitmap writer has always read it
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorsUsed = 0; // 0 in the core header, which has no such field
    // Red, green, blue and alpha masks of bit-field pixels, from inside the header (52
    // bytes and more) or from after a 40-byte one; 0 where there is none.
    std::array<std::uint32_t, 4> masks{};
    // The masks that follow a 40-byte header of 16- or 32-bit bit-field pixels: three
    // (12 bytes), or four (16 bytes) with alpha bit fields. Larger headers hold theirs.
    std::uint32_t masksAfterHeader = 0;
    // The colour table: 3 bytes an entry after the core header, 4 after the others; as
    // many entries as colours used says, else the full table of a palette depth (the
    // core header always has the full table). Depths above 8 have a table only when
    // colours used says so; their pixels do not index it.
    std::uint32_t paletteEntrySize = 4;
    std::uint64_t paletteEntries = 0;

    [[nodiscard]] bool topDown() const { return height < 0; }
    // The number of rows: the height without its sign.
    [[nodiscard]] std::uint64_t rows() const {
        return static_cast<std::uint64_t>(height < 0 ? -height : height);
    }
    // Where the colour table begins: after the header and the masks that follow it.
    [[nodiscard]] std::uint64_t paletteOffset() const {
        return std::uint64_t{headerSize} + masksAfterHeader;
    }
    // Where the pixels begin when nothing lies between the colour table and them.
    [[nodiscard]] std::uint64_t endOfTable() const {
        return paletteOffset() + paletteEntries * paletteEntrySize;
    }
    // The pixel offset of a .bmp file made of a 14-byte file header and this bitmap.
    [[nodiscard]] std::uint64_t filePixelOffset() const { return 14 + endOfTable(); }
    // True for pixels stored one row after another (no run-length, JPEG or PNG codes).
    [[nodiscard]] bool uncompressed() const;
    // The bytes of one row of uncompressed pixels (rows are padded to 4 bytes).
    [[nodiscard]] std::uint64_t rowStride() const;
};

// Reads the information header at the start of `dib`. Fails when the size field is none
// of the header sizes (Unsupported, "information header of 20 bytes") or when the bytes
// end inside the header (Truncated). Masks after a 40-byte header that the bytes do not
// hold are read as 0; the decoders check that they are there.
[[nodiscard]] Result<DibFacts> ReadDibFacts(std::span<const std::uint8_t> dib);

// The first thing that makes the header no picture's, tested in this order: a width or
// height of 0 (or a negative width), rows top-down with compressed pixels, planes other
// than 1, a bit depth other than 1, 4, 8, 16, 24 or 32. A text such as "width 0" or
// "2 bits per pixel", to follow the name of what is judged; nothing when the shape is
// sound.
[[nodiscard]] std::optional<std::string> DibShapeProblem(const DibFacts& facts);

// Whether the compression suits the depth: uncompressed for every depth, run-length
// codes of 8 bits for 8 and of 4 bits for 4, bit fields for 16 and 32. A text such as
// "compression 7" when not; nothing when it does. The OS/2 header's own codes (Huffman,
// 24-bit run-length) and JPEG or PNG pixels are not drawn by this program.
[[nodiscard]] std::optional<std::string> DibCompressionProblem(const DibFacts& facts);

} // namespace harvix
