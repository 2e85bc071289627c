#include "image/Dib.h"

#include "common/ByteCursor.h"
#include "format/Dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string>

namespace harvix {

namespace {

// What the decoder takes from the information header (DibFacts, checked), with
// the layout of what follows it.
struct DibHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0; // rows, without sign (an icon's hold both masks)
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    // Red, green, blue and alpha masks of 16- and 32-bit pixels (alpha 0: none).
    std::uint32_t masks[4] = {0, 0, 0, 0};
    std::uint64_t paletteOffset = 0;    // where the colour table begins
    std::uint32_t paletteEntrySize = 4; // 3 for the 12-byte header
    std::uint64_t paletteEntries = 0;   // entries stored (also for 16 to 32 bits)
    std::uint64_t endOfTable = 0;       // header + masks + colour table: default pixel offset
};

Error malformed(const std::string& what) {
    return makeError(ErrorKind::Malformed, what);
}

// One colour channel of a bit-field pixel: where it sits and how wide it is.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    static Result<Channel> of(std::uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask == 0)
            return c;
        c.shift = std::countr_zero(mask);
        const std::uint32_t field = mask >> c.shift;
        // A mask must be one run of bits: anything else has no meaning as a colour.
        if ((field & (field + 1)) != 0)
            return malformed("colour mask " + std::to_string(mask) + " is not one run of bits");
        c.bits = std::popcount(field);
        return c;
    }

    // The channel's value widened or narrowed to 8 bits. Narrow fields repeat their bits
    // downwards, so the largest value becomes 255 and 0 stays 0.
    [[nodiscard]] std::uint8_t value(std::uint32_t pixel) const {
        if (bits == 0)
            return 0;
        const std::uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8)
            return static_cast<std::uint8_t>(v >> (bits - 8));
        std::uint32_t out = 0;
        int filled = 0;
        while (filled < 8) {
            out = (out << bits) | v;
            filled += bits;
        }
        return static_cast<std::uint8_t>(out >> (filled - 8));
    }
};

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
};

// The colour table, as many entries as the pixels can name; entries the table does not
// hold are black.
Result<std::array<Colour, 256>> readPalette(ByteView dib, const DibHeader& h) {
    std::array<Colour, 256> palette{};
    const std::uint64_t usable = std::min<std::uint64_t>(h.paletteEntries, 1u << h.bitCount);
    ByteCursor cursor(dib);
    if (auto s = cursor.seek(h.paletteOffset); !s)
        return s.error();
    if (auto s = cursor.checkArray(usable, h.paletteEntrySize); !s)
        return makeError(ErrorKind::Truncated, "the colour table is cut short");
    for (std::uint64_t i = 0; i < usable; ++i) {
        auto entry = cursor.bytes(h.paletteEntrySize);
        if (!entry)
            return entry.error();
        palette[i] = Colour{(*entry)[2], (*entry)[1], (*entry)[0]};
    }
    return palette;
}

struct Decoded {
    RgbaImage image;
    bool hasAlpha = false;     // the pixels carry an alpha channel
    bool alphaAllZero = true;  // ... and every alpha value in it is 0
};

Status checkSize(std::uint64_t width, std::uint64_t height, std::uint64_t maxSide) {
    if (width == 0 || height == 0)
        return malformed("the picture has no pixels");
    if (width > maxSide || height > maxSide || width * height > kMaxPixels)
        return makeError(ErrorKind::TooLarge, "a picture of " + std::to_string(width) + " x " +
                                                  std::to_string(height) +
                                                  " pixels is larger than accepted");
    return success();
}

std::uint64_t rowStride(std::uint64_t width, std::uint32_t bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

// Uncompressed and bit-field pixels: `rows` rows from `offset`.
Result<Decoded> decodePlain(ByteView dib, const DibHeader& h, std::uint64_t offset,
                            std::uint32_t rows) {
    Decoded out;
    const std::uint64_t stride = rowStride(h.width, h.bitCount);
    ByteCursor cursor(dib);
    auto pixels = cursor.slice(offset, stride * rows);
    if (!pixels)
        return makeError(ErrorKind::Truncated, "the pixels are cut short");

    std::array<Colour, 256> palette{};
    if (h.bitCount <= 8) {
        auto p = readPalette(dib, h);
        if (!p)
            return p.error();
        palette = *p;
    }
    std::array<Channel, 4> ch{};
    const bool fields = h.bitCount == 16 || h.bitCount == 32;
    if (fields) {
        std::array<std::uint32_t, 4> masks{h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
        if (h.compression == kBiRgb) // the fixed layouts: 5-5-5, and 8-8-8 with alpha above
            masks = h.bitCount == 16 ? std::array<std::uint32_t, 4>{0x7C00, 0x03E0, 0x001F, 0}
                                     : std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
        for (std::size_t i = 0; i < 4; ++i) {
            auto c = Channel::of(masks[i]);
            if (!c)
                return c.error();
            ch[i] = *c;
        }
        out.hasAlpha = ch[3].bits > 0;
    }

    out.image.width = h.width;
    out.image.height = rows;
    out.image.rgba.assign(std::size_t{h.width} * rows * 4, 255);
    const ByteView data = *pixels;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const ByteView row = data.subspan(static_cast<std::size_t>(stride * r),
                                          static_cast<std::size_t>(stride));
        const std::uint32_t y = h.topDown ? r : rows - 1 - r;
        std::uint8_t* dst = out.image.pixel(0, y);
        for (std::uint32_t x = 0; x < h.width; ++x, dst += 4) {
            switch (h.bitCount) {
            case 1:
            case 4:
            case 8: {
                const std::uint32_t bitPos = x * h.bitCount;
                const std::uint32_t shift = 8 - h.bitCount - bitPos % 8;
                const std::uint32_t index =
                    (std::uint32_t{row[bitPos / 8]} >> shift) & ((1u << h.bitCount) - 1);
                // An index past the stored table names no colour; it shows black.
                const Colour c = index < h.paletteEntries ? palette[index] : Colour{};
                dst[0] = c.r;
                dst[1] = c.g;
                dst[2] = c.b;
                break;
            }
            case 24:
                dst[0] = row[x * 3 + 2];
                dst[1] = row[x * 3 + 1];
                dst[2] = row[x * 3];
                break;
            default: {
                std::uint32_t pixel = 0;
                const std::size_t bytes = h.bitCount / 8;
                for (std::size_t i = 0; i < bytes; ++i)
                    pixel |= std::uint32_t{row[x * bytes + i]} << (8 * i);
                dst[0] = ch[0].value(pixel);
                dst[1] = ch[1].value(pixel);
                dst[2] = ch[2].value(pixel);
                if (out.hasAlpha) {
                    dst[3] = ch[3].value(pixel);
                    out.alphaAllZero = out.alphaAllZero && dst[3] == 0;
                }
            }
            }
        }
    }
    return out;
}

// Run-length pixels (RLE8, RLE4). Pixels the codes never reach (a line ended early, a
// jump) are transparent: Windows leaves the picture below showing there.
Result<Decoded> decodeRle(ByteView dib, const DibHeader& h, std::uint64_t offset) {
    if (offset > dib.size())
        return makeError(ErrorKind::Truncated, "the pixels begin past the end");
    // Codes of two bytes draw at most 255 pixels or end a line; a picture far larger
    // than its codes can describe would only cost memory.
    if (std::uint64_t{h.width} * h.height > 1024 * (dib.size() - offset + 1))
        return makeError(ErrorKind::TooLarge, "more pixels than the run-length data can describe");
    auto p = readPalette(dib, h);
    if (!p)
        return p.error();
    const std::array<Colour, 256>& palette = *p;
    Decoded out;
    out.image.width = h.width;
    out.image.height = h.height;
    out.image.rgba.assign(std::size_t{h.width} * h.height * 4, 0);

    const bool four = h.compression == kBiRle4;
    std::uint64_t x = 0;
    std::uint64_t y = 0; // counted from the bottom row
    auto put = [&](std::uint32_t index) {
        if (x < h.width && y < h.height) {
            const Colour c = index < h.paletteEntries ? palette[index] : Colour{};
            std::uint8_t* dst = out.image.pixel(static_cast<std::uint32_t>(x),
                                                static_cast<std::uint32_t>(h.height - 1 - y));
            dst[0] = c.r;
            dst[1] = c.g;
            dst[2] = c.b;
            dst[3] = 255;
        }
        ++x;
    };

    ByteCursor cursor(dib);
    if (auto s = cursor.seek(offset); !s)
        return makeError(ErrorKind::Truncated, "the pixels begin past the end");
    // Data that stops without its end-of-bitmap code keeps what it drew.
    while (y < h.height && cursor.remaining() >= 2) {
        const std::uint8_t count = cursor.u8().valueOr(0);
        const std::uint8_t code = cursor.u8().valueOr(0);
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(four ? (i % 2 == 0 ? code >> 4 : code & 0x0F) : code);
            continue;
        }
        if (code == 0) { // end of line
            x = 0;
            ++y;
        } else if (code == 1) { // end of bitmap
            break;
        } else if (code == 2) { // jump right and up
            auto dx = cursor.u8();
            auto dy = cursor.u8();
            if (!dx || !dy)
                break;
            x += *dx;
            y += *dy;
        } else { // `code` pixels stored one by one, padded to a 16-bit boundary
            const std::uint64_t bytes = four ? (code + 1u) / 2 : code;
            auto run = cursor.bytes(bytes);
            if (!run)
                break;
            for (std::uint32_t i = 0; i < code; ++i) {
                const std::uint8_t b = (*run)[four ? i / 2 : i];
                put(four ? (i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
            }
            if (bytes % 2 != 0 && cursor.skip(1).ok() == false)
                break;
        }
    }
    return out;
}

std::uint64_t pixelBytesNeeded(const DibHeader& h) {
    return rowStride(h.width, h.bitCount);
}

// Reads the information header and checks that this decoder can draw it.
Result<DibHeader> ReadDibHeader(ByteView dib) {
    auto read = ReadDibFacts(dib);
    if (!read) {
        const Error& e = read.error();
        return makeError(e.kind, e.kind == ErrorKind::Unsupported ? "bitmap " + e.message
                                                                 : "the bitmap header is cut short");
    }
    const DibFacts& f = *read;
    if (f.planes != 1)
        return malformed("planes is " + std::to_string(f.planes) + ", not 1");
    if (!IsDibDepth(f.bitCount))
        return makeError(ErrorKind::Unsupported, std::to_string(f.bitCount) + " bits per pixel");
    if (auto problem = DibCompressionProblem(f)) {
        // A code this decoder knows, used with the wrong depth, is damage; anything else
        // is a form it does not draw.
        const bool known = f.compression == kBiRle8 || f.compression == kBiRle4 ||
                           (f.headerSize != 64 && (f.compression == kBiBitfields ||
                                                   f.compression == kBiAlphaBitfields));
        return makeError(known ? ErrorKind::Malformed : ErrorKind::Unsupported, *problem);
    }
    if (f.width <= 0)
        return malformed("width " + std::to_string(f.width));
    if (f.height == 0)
        return malformed("height 0");
    if (f.topDown() && !f.uncompressed())
        return malformed("run-length pixels stored top-down");
    if (auto s = checkSize(static_cast<std::uint64_t>(f.width), f.rows(), std::uint64_t{kMaxSide} * 2);
        !s)
        return s.error();

    DibHeader h;
    h.width = static_cast<std::uint32_t>(f.width);
    h.height = static_cast<std::uint32_t>(f.rows());
    h.topDown = f.topDown();
    h.bitCount = static_cast<std::uint16_t>(f.bitCount);
    h.compression = f.compression;
    if (!ByteCursor(dib).contains(0, f.paletteOffset()))
        return makeError(ErrorKind::Truncated, "the colour masks are cut short");
    // The masks of the larger headers mean nothing without bit fields.
    if (f.compression == kBiBitfields || f.compression == kBiAlphaBitfields)
        for (std::size_t i = 0; i < 4; ++i)
            h.masks[i] = f.masks[i];
    h.paletteOffset = f.paletteOffset();
    h.paletteEntrySize = f.paletteEntrySize;
    h.paletteEntries = f.paletteEntries;
    h.endOfTable = f.endOfTable();
    return h;
}

} // namespace

Result<RgbaImage> DecodeBitmapFile(ByteView file) {
    ByteCursor c(file);
    auto magic = c.u16();
    if (!magic || *magic != 0x4D42)
        return makeError(ErrorKind::NotLoadable, "not a bitmap file (no \"BM\" signature)");
    auto skipped = c.skip(8); // file size, reserved: not trusted
    auto offBits = c.u32();
    if (!skipped || !offBits)
        return makeError(ErrorKind::Truncated, "the bitmap file header is cut short");
    const ByteView dib = file.subspan(14);
    auto h = ReadDibHeader(dib);
    if (!h)
        return h.error();
    // The pixel offset counts from the start of the file. One that points into the
    // header, masks or colour table cannot be right: some writers leave the masks or the
    // optional table of 16- and 32-bit bitmaps out of the count. The pixels then follow
    // the table directly.
    std::uint64_t offset = h->endOfTable;
    if (*offBits >= 14 && *offBits - 14u > h->endOfTable)
        offset = *offBits - 14u;

    if (auto s = checkSize(h->width, h->height, kMaxSide); !s)
        return s.error();
    Result<Decoded> decoded = (h->compression == kBiRle4 || h->compression == kBiRle8)
                                  ? decodeRle(dib, *h, offset)
                                  : decodePlain(dib, *h, offset, h->height);
    if (!decoded)
        return decoded.error();
    RgbaImage image = std::move(decoded->image);
    // Alpha bytes that are all zero were not meant as alpha (a 32-bit bitmap of the
    // plain layout need not fill them): the picture is opaque. A bitmap whose masks
    // name an alpha channel means its alpha as it stands, zero or not.
    const bool alphaDeclared = h->compression != kBiRgb && h->masks[3] != 0;
    if (decoded->hasAlpha && decoded->alphaAllZero && !alphaDeclared)
        for (std::size_t i = 3; i < image.rgba.size(); i += 4)
            image.rgba[i] = 255;
    return image;
}

Result<RgbaImage> DecodeIconDib(ByteView dib) {
    auto h = ReadDibHeader(dib);
    if (!h)
        return h.error();
    if (h->compression != kBiRgb && h->compression != kBiBitfields &&
        h->compression != kBiAlphaBitfields)
        return makeError(ErrorKind::Unsupported, "compressed icon image");
    if (h->topDown)
        return malformed("icon image stored top-down");
    // The stored height covers the colour bitmap and the mask, one above the other.
    const std::uint32_t rows = h->height / 2;
    if (auto s = checkSize(h->width, rows, kMaxIconSide); !s)
        return s.error();
    const std::uint64_t offset = h->endOfTable;
    auto decoded = decodePlain(dib, *h, offset, rows);
    if (!decoded)
        return decoded.error();
    RgbaImage image = std::move(decoded->image);
    if (decoded->hasAlpha && !decoded->alphaAllZero)
        return image; // alpha rules; the mask is only for systems without alpha

    // The AND mask: 1 bit per pixel, bottom-up, rows padded to 4 bytes; a set bit is a
    // transparent pixel. An image that lacks its mask is opaque.
    const std::uint64_t maskOffset = offset + pixelBytesNeeded(*h) * rows;
    const std::uint64_t maskStride = rowStride(h->width, 1);
    ByteCursor cursor(dib);
    auto mask = cursor.slice(maskOffset, maskStride * rows);
    for (std::size_t i = 3; i < image.rgba.size(); i += 4)
        image.rgba[i] = 255;
    if (!mask)
        return image;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t y = rows - 1 - r;
        for (std::uint32_t x = 0; x < h->width; ++x) {
            const std::uint8_t byte = (*mask)[static_cast<std::size_t>(maskStride * r + x / 8)];
            if ((byte >> (7 - x % 8)) & 1)
                image.pixel(x, y)[3] = 0;
        }
    }
    return image;
}

} // namespace harvix
