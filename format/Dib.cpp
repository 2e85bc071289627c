#include "format/Dib.h"

#include "common/ByteCursor.h"

namespace harvix {

bool IsDibHeaderSize(std::uint32_t size) {
    switch (size) {
    case 12:  // the core header of OS/2 1.x and Windows 3.0
    case 40:  // the information header
    case 52:  // ... with the red, green and blue masks
    case 56:  // ... and the alpha mask
    case 64:  // the OS/2 2.x header
    case 108: // V4: masks, colour space and end points
    case 124: // V5: and the colour profile
        return true;
    default:
        return false;
    }
}

bool IsDibDepth(std::int64_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool DibFacts::uncompressed() const {
    if (compression == kBiRgb)
        return true;
    // Bit fields only say how a pixel's bits split into channels; the OS/2 header uses
    // code 3 for Huffman-coded pixels instead.
    return headerSize != 64 && (compression == kBiBitfields || compression == kBiAlphaBitfields);
}

std::uint64_t DibFacts::rowStride() const {
    const std::uint64_t bits = bitCount > 0 ? static_cast<std::uint64_t>(bitCount) : 0;
    return (static_cast<std::uint64_t>(width > 0 ? width : 0) * bits + 31) / 32 * 4;
}

Result<DibFacts> ReadDibFacts(std::span<const std::uint8_t> dib) {
    ByteCursor c(dib);
    auto size = c.u32();
    if (!size)
        return makeError(ErrorKind::Truncated, "no information header");
    DibFacts f;
    f.headerSize = *size;
    if (!IsDibHeaderSize(f.headerSize))
        return makeError(ErrorKind::Unsupported,
                         "information header of " + std::to_string(f.headerSize) + " bytes");
    if (!c.contains(0, f.headerSize))
        return makeError(ErrorKind::Truncated, "data cut inside the information header");

    if (f.headerSize == 12) {
        // 16-bit unsigned sizes, planes, depth; no compression and no colours-used field.
        f.width = c.u16().valueOr(0);
        f.height = c.u16().valueOr(0);
        f.planes = c.u16().valueOr(0);
        f.bitCount = c.read<std::int16_t>().valueOr(0);
        f.paletteEntrySize = 3;
        f.paletteEntries = f.bitCount >= 1 && f.bitCount <= 8 ? std::uint64_t{1} << f.bitCount : 0;
        return f;
    }

    f.width = c.i32().valueOr(0);
    f.height = c.i32().valueOr(0);
    f.planes = c.u16().valueOr(0);
    f.bitCount = c.read<std::int16_t>().valueOr(0);
    f.compression = c.u32().valueOr(0);
    (void)c.skip(12); // image size, resolution
    f.colorsUsed = c.u32().valueOr(0);
    (void)c.skip(4); // important colours
    const bool fieldDepth = f.bitCount == 16 || f.bitCount == 32;
    if (f.headerSize >= 52 && f.headerSize != 64) {
        // The masks are part of the header (the OS/2 header has other fields there).
        const std::size_t count = f.headerSize == 52 ? 3 : 4;
        for (std::size_t i = 0; i < count; ++i)
            f.masks[i] = c.u32().valueOr(0);
    } else if (f.headerSize == 40 && fieldDepth &&
               (f.compression == kBiBitfields || f.compression == kBiAlphaBitfields)) {
        // The masks follow the 40-byte header: red, green, blue, and alpha with alpha
        // bit fields.
        const std::size_t count = f.compression == kBiAlphaBitfields ? 4 : 3;
        f.masksAfterHeader = static_cast<std::uint32_t>(4 * count);
        for (std::size_t i = 0; i < count; ++i)
            f.masks[i] = c.peekAt<std::uint32_t>(40 + 4 * i).valueOr(0);
    }
    if (f.bitCount >= 1 && f.bitCount <= 8)
        f.paletteEntries = f.colorsUsed != 0 ? f.colorsUsed : std::uint64_t{1} << f.bitCount;
    else
        f.paletteEntries = f.colorsUsed; // a table the pixels do not index
    return f;
}

std::optional<std::string> DibShapeProblem(const DibFacts& f) {
    if (f.width <= 0)
        return "width " + std::to_string(f.width);
    if (f.height == 0)
        return std::string("height 0");
    // Run-length, JPEG and PNG pixels have one order only: from the bottom row up.
    if (f.topDown() && !f.uncompressed())
        return std::string("rows stored top-down with compressed pixels");
    if (f.planes != 1)
        return std::to_string(f.planes) + " colour planes";
    if (!IsDibDepth(f.bitCount))
        return std::to_string(f.bitCount) + " bits per pixel";
    return std::nullopt;
}

std::optional<std::string> DibCompressionProblem(const DibFacts& f) {
    const auto problem = [&](const std::string& what) {
        return std::optional<std::string>(what + " with " + std::to_string(f.bitCount) +
                                          " bits per pixel");
    };
    switch (f.compression) {
    case kBiRgb:
        return std::nullopt;
    case kBiRle8:
        return f.bitCount == 8 ? std::nullopt : problem("8-bit run-length codes");
    case kBiRle4:
        return f.bitCount == 4 ? std::nullopt : problem("4-bit run-length codes");
    case kBiBitfields:
        if (f.headerSize == 64)
            return std::string("Huffman-coded pixels");
        [[fallthrough]];
    case kBiAlphaBitfields:
        return f.bitCount == 16 || f.bitCount == 32 ? std::nullopt : problem("colour masks");
    case kBiJpeg:
        return std::string(f.headerSize == 64 ? "24-bit run-length codes" : "JPEG pixels");
    case kBiPng:
        return std::string("PNG pixels");
    default:
        return "compression " + std::to_string(f.compression);
    }
}

} // namespace harvix
