#include "tools/picbuilder/PictureBuilder.h"

#include <zlib.h>

#include <algorithm>

namespace harvix::picbuilder {

namespace {

void u8(Bytes& b, unsigned v) { b.push_back(static_cast<std::uint8_t>(v)); }
void u16(Bytes& b, unsigned v) {
    u8(b, v & 0xFF);
    u8(b, (v >> 8) & 0xFF);
}
void u32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        u8(b, (v >> (8 * i)) & 0xFF);
}
void be32(Bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        u8(b, (v >> (8 * i)) & 0xFF);
}

int tableEntries(const DibSpec& s) {
    if (s.bitCount > 8)
        return static_cast<int>(s.colorsUsed);
    if (s.colorsUsed != 0 && s.headerSize != 12)
        return static_cast<int>(s.colorsUsed);
    return 1 << s.bitCount;
}

// Colour table entry i, and the index at each pixel: every entry is used.
std::uint8_t channel(int i, int mul, int add) { return static_cast<std::uint8_t>((i * mul + add) & 0xFF); }
int indexAt(const DibSpec& s, int x, int y) {
    const int n = std::min(tableEntries(s), 1 << s.bitCount);
    if (s.compression == 1 || s.compression == 2) // runs of three for the run-length forms
        return (x / 3 + y) % n;
    return (x * 5 + y * 3 + x * y) % n;
}
// A raw 16- or 32-bit pixel value in which every bit changes somewhere.
std::uint32_t rawAt(int x, int y, int bits) {
    std::uint32_t v = static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u;
    v ^= v >> 13;
    v *= 0x9E3779B1u;
    return bits == 16 ? (v >> 8) & 0xFFFF : v;
}

void putHeader(Bytes& b, const DibSpec& s, int storedHeight) {
    const int h = s.topDown ? -storedHeight : storedHeight;
    if (s.headerSize == 12) {
        u32(b, 12);
        u16(b, static_cast<unsigned>(s.width));
        u16(b, static_cast<unsigned>(storedHeight));
        u16(b, 1);
        u16(b, static_cast<unsigned>(s.bitCount));
        return;
    }
    u32(b, static_cast<std::uint32_t>(s.headerSize));
    u32(b, static_cast<std::uint32_t>(s.width));
    u32(b, static_cast<std::uint32_t>(h));
    u16(b, 1);
    u16(b, static_cast<unsigned>(s.bitCount));
    u32(b, s.compression);
    u32(b, 0);          // image size (0 is allowed for uncompressed pixels)
    u32(b, 2835);       // 72 dpi
    u32(b, 2835);
    u32(b, s.colorsUsed);
    u32(b, 0);
    if (s.headerSize == 64) // the OS/2 2.x fields, all 0: pixels bottom-up, RGB
        for (int i = 0; i < 6; ++i)
            u32(b, 0);
    else if (s.headerSize >= 52)
        for (std::size_t i = 0; i < (s.headerSize >= 56 ? 4u : 3u); ++i)
            u32(b, s.masks[i]);
    if (s.headerSize >= 108) {
        u32(b, 0x73524742); // 'sRGB'
        while (b.size() < static_cast<std::size_t>(s.headerSize))
            u8(b, 0);
    }
}

void putMasksAndTable(Bytes& b, const DibSpec& s) {
    if (s.headerSize == 40 && (s.compression == 3 || s.compression == 6))
        for (std::size_t i = 0; i < (s.compression == 6 ? 4u : 3u); ++i)
            u32(b, s.masks[i]);
    for (int i = 0; i < tableEntries(s); ++i) {
        u8(b, channel(i, 151, 3));
        u8(b, channel(i, 91, 7));
        u8(b, channel(i, 37, 11));
        if (s.headerSize != 12)
            u8(b, 0);
    }
}

void putPlainPixels(Bytes& b, const DibSpec& s) {
    const std::size_t stride = (static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.bitCount) + 31) / 32 * 4;
    for (int r = 0; r < s.height; ++r) {
        const int y = s.topDown ? r : s.height - 1 - r;
        Bytes row(stride, 0);
        for (int x = 0; x < s.width; ++x) {
            switch (s.bitCount) {
            case 1:
            case 4:
            case 8: {
                const int bit = x * s.bitCount;
                row[static_cast<std::size_t>(bit / 8)] |=
                    static_cast<std::uint8_t>(indexAt(s, x, y) << (8 - s.bitCount - bit % 8));
                break;
            }
            case 24:
                row[static_cast<std::size_t>(x) * 3] = static_cast<std::uint8_t>((x * y * 3 + 17) & 0xFF);
                row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<std::uint8_t>((x * 13 + y * 29) & 0xFF);
                row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<std::uint8_t>((x * 41 + y * 7) & 0xFF);
                break;
            default: {
                std::uint32_t v = rawAt(x, y, s.bitCount);
                if (s.bitCount == 32 && s.compression == 0)
                    v = (v & 0xFFFFFF) |
                        (s.alphaAllZero ? 0 : static_cast<std::uint32_t>((x * 17 + y * 31) & 0xFF) << 24);
                else if (s.bitCount == 32 && s.alphaAllZero)
                    v &= ~s.masks[3];
                for (int i = 0; i < s.bitCount / 8; ++i)
                    row[static_cast<std::size_t>(x * (s.bitCount / 8) + i)] =
                        static_cast<std::uint8_t>(v >> (8 * i));
            }
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
}

// Run-length pixels: runs where the pattern repeats, stored runs elsewhere; with holes,
// every third line ends halfway and line 2 jumps over two pixels.
void putRlePixels(Bytes& b, const DibSpec& s) {
    const bool four = s.compression == 2;
    for (int r = 0; r < s.height; ++r) {
        const int y = s.height - 1 - r; // stored bottom-up
        int end = s.width;
        if (s.rleHoles && r % 3 == 1)
            end = s.width / 2;
        int x = 0;
        while (x < end) {
            if (s.rleHoles && r == 2 && x == 3 && end > 6) {
                u8(b, 0);
                u8(b, 2);
                u8(b, 2);
                u8(b, 0);
                x += 2;
                continue;
            }
            const int c = indexAt(s, x, y);
            int run = 1;
            while (x + run < end && run < 255 && indexAt(s, x + run, y) == c)
                ++run;
            if (run >= 2 || end - x < 3) {
                u8(b, static_cast<unsigned>(run));
                u8(b, four ? static_cast<unsigned>(c << 4 | c) : static_cast<unsigned>(c));
                x += run;
                continue;
            }
            // A stored run of the next pixels that do not repeat, three at least.
            int n = 0;
            while (x + n < end && n < 255 &&
                   (n < 3 || x + n + 1 >= end || indexAt(s, x + n, y) != indexAt(s, x + n + 1, y)))
                ++n;
            u8(b, 0);
            u8(b, static_cast<unsigned>(n));
            Bytes run8;
            for (int i = 0; i < n; ++i) {
                const int v = indexAt(s, x + i, y);
                if (!four)
                    run8.push_back(static_cast<std::uint8_t>(v));
                else if (i % 2 == 0)
                    run8.push_back(static_cast<std::uint8_t>(v << 4));
                else
                    run8.back() = static_cast<std::uint8_t>(run8.back() | v);
            }
            if (run8.size() % 2 != 0)
                run8.push_back(0);
            b.insert(b.end(), run8.begin(), run8.end());
            x += n;
        }
        u8(b, 0);
        u8(b, r + 1 == s.height ? 1 : 0); // end of line, end of bitmap after the last
    }
}

} // namespace

Bytes makeDib(const DibSpec& form) {
    Bytes b;
    putHeader(b, form, form.height);
    putMasksAndTable(b, form);
    if (form.compression == 1 || form.compression == 2)
        putRlePixels(b, form);
    else
        putPlainPixels(b, form);
    return b;
}

Bytes makeBitmapFile(const DibSpec& form) {
    Bytes dib = makeDib(form);
    Bytes head;
    Bytes table;
    putHeader(table, form, form.height);
    putMasksAndTable(table, form);
    u16(head, 0x4D42);
    u32(head, static_cast<std::uint32_t>(14 + dib.size()));
    u32(head, 0);
    u32(head, static_cast<std::uint32_t>(14 + table.size()));
    head.insert(head.end(), dib.begin(), dib.end());
    return head;
}

Bytes makeIconDib(const DibSpec& form) {
    Bytes b;
    putHeader(b, form, form.height * 2);
    putMasksAndTable(b, form);
    putPlainPixels(b, form);
    const std::size_t stride = (static_cast<std::size_t>(form.width) + 31) / 32 * 4;
    for (int r = 0; r < form.height; ++r) {
        const int y = form.height - 1 - r;
        Bytes row(stride, 0);
        for (int x = 0; x < form.width; ++x)
            if ((x + 2 * y) % 5 == 0)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes makePng(int width, int height) {
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        for (int x = 0; x < width; ++x) {
            raw.push_back(static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)));
            raw.push_back(static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1)));
            raw.push_back(static_cast<std::uint8_t>((x ^ y) & 0xFF));
            raw.push_back(static_cast<std::uint8_t>((x + y) % 3 == 0 ? 0 : 200 + (x % 56)));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);

    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&png](const char* type, const Bytes& data) {
        be32(png, static_cast<std::uint32_t>(data.size()));
        const std::size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        be32(png, static_cast<std::uint32_t>(
                      crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
    };
    Bytes ihdr;
    be32(ihdr, static_cast<std::uint32_t>(width));
    be32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA
    chunk("IHDR", ihdr);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return png;
}

Bytes makeIconFile(const std::vector<IconEntry>& images, int type) {
    Bytes b;
    u16(b, 0);
    u16(b, static_cast<unsigned>(type));
    u16(b, static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const IconEntry& e : images) {
        u8(b, static_cast<unsigned>(e.width & 0xFF));
        u8(b, static_cast<unsigned>(e.height & 0xFF));
        u8(b, e.bitCount <= 4 ? (1u << e.bitCount) & 0xFF : 0);
        u8(b, 0);
        u16(b, type == 2 ? static_cast<unsigned>(e.hotX) : 1);
        u16(b, type == 2 ? static_cast<unsigned>(e.hotY) : static_cast<unsigned>(e.bitCount));
        u32(b, static_cast<std::uint32_t>(e.image.size()));
        u32(b, offset);
        offset += static_cast<std::uint32_t>(e.image.size());
    }
    for (const IconEntry& e : images)
        b.insert(b.end(), e.image.begin(), e.image.end());
    return b;
}

std::vector<NamedFile> allBitmapForms() {
    std::vector<NamedFile> out;
    auto add = [&out](std::string name, DibSpec s) { out.push_back({std::move(name), makeBitmapFile(s)}); };
    for (int bits : {1, 4, 8, 24}) {
        DibSpec s;
        s.bitCount = bits;
        add("rgb" + std::to_string(bits), s);
        s.topDown = true;
        add("rgb" + std::to_string(bits) + "-topdown", s);
        if (bits != 8) {
            s.topDown = false;
            s.headerSize = 12;
            add("core" + std::to_string(bits), s);
        }
    }
    DibSpec few;
    few.bitCount = 8;
    few.colorsUsed = 20;
    add("rgb8-20colours", few);
    DibSpec s16;
    s16.bitCount = 16;
    add("rgb16-555", s16);
    s16.topDown = true;
    add("rgb16-555-topdown", s16);
    add("bitfields16-565", bitFields(16, {0xF800, 0x07E0, 0x001F, 0}));
    add("bitfields16-565-v2", bitFields(16, {0xF800, 0x07E0, 0x001F, 0}, 52));
    DibSpec os2;
    os2.bitCount = 8;
    os2.headerSize = 64;
    add("rgb8-os2", os2);
    os2.bitCount = 24;
    add("rgb24-os2", os2);
    DibSpec v4;
    v4.bitCount = 4;
    v4.headerSize = 108;
    v4.topDown = true;
    add("rgb4-v4-topdown", v4);
    add("bitfields16-4444-v3", bitFields(16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 56));
    DibSpec s32;
    s32.bitCount = 32;
    add("rgb32-alpha", s32);
    s32.topDown = true;
    add("rgb32-alpha-topdown", s32);
    s32.topDown = false;
    s32.alphaAllZero = true;
    add("rgb32-alpha-zero", s32);
    add("bitfields32-888", bitFields(32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0}));
    add("bitfields32-101010", bitFields(32, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}));
    DibSpec v5 = bitFields(32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 124);
    add("bitfields32-v5-alpha", v5);
    v5.alphaAllZero = true;
    add("bitfields32-v5-alpha-zero", v5);
    DibSpec rle8;
    rle8.bitCount = 8;
    rle8.compression = 1;
    rle8.width = 29;
    rle8.height = 9;
    add("rle8", rle8);
    rle8.rleHoles = true;
    add("rle8-holes", rle8);
    DibSpec rle4 = rle8;
    rle4.bitCount = 4;
    rle4.compression = 2;
    rle4.rleHoles = false;
    add("rle4", rle4);
    rle4.rleHoles = true;
    add("rle4-holes", rle4);
    return out;
}

std::vector<NamedFile> allIconForms() {
    std::vector<IconEntry> images;
    for (int bits : {1, 4, 8, 24, 32}) {
        DibSpec s;
        s.width = bits == 1 ? 16 : 17 + bits % 7; // widths that need row padding
        s.height = s.width;
        s.bitCount = bits;
        images.push_back({makeIconDib(s), s.width, s.height, bits});
    }
    DibSpec zero;
    zero.width = zero.height = 24;
    zero.bitCount = 32;
    zero.alphaAllZero = true;
    images.push_back({makePng(40, 40), 40, 40, 32});

    std::vector<NamedFile> out;
    out.push_back({"every-depth.ico", makeIconFile(images, 1)});
    out.push_back({"alpha-zero.ico", makeIconFile({{makeIconDib(zero), 24, 24, 32}}, 1)});
    DibSpec s16;
    s16.width = s16.height = 20;
    s16.bitCount = 16;
    out.push_back({"sixteen-bit.ico", makeIconFile({{makeIconDib(s16), 20, 20, 16}}, 1)});
    std::vector<IconEntry> cursor;
    DibSpec c1;
    c1.width = c1.height = 32;
    c1.bitCount = 1;
    cursor.push_back({makeIconDib(c1), 32, 32, 1, 3, 5});
    DibSpec c32 = c1;
    c32.bitCount = 32;
    cursor.push_back({makeIconDib(c32), 32, 32, 32, 31, 0});
    out.push_back({"two-images.cur", makeIconFile(cursor, 2)});
    return out;
}

} // namespace harvix::picbuilder
