#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/PicturePayloads.h"

#include "tools/modbuilder/ByteOut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace harvix::modbuilder {

namespace {

std::uint8_t clampByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

} // namespace

std::vector<Rgba> fixedPalette(int bitCount) {
    std::vector<Rgba> p;
    if (bitCount == 1) {
        p = {{0, 0, 0, 255}, {255, 255, 255, 255}};
    } else if (bitCount == 4) {
        p = {{0, 0, 0, 255},       {128, 0, 0, 255},   {0, 128, 0, 255},   {128, 128, 0, 255},
             {0, 0, 128, 255},     {128, 0, 128, 255}, {0, 128, 128, 255}, {192, 192, 192, 255},
             {128, 128, 128, 255}, {255, 0, 0, 255},   {0, 255, 0, 255},   {255, 255, 0, 255},
             {0, 0, 255, 255},     {255, 0, 255, 255}, {0, 255, 255, 255}, {255, 255, 255, 255}};
    } else if (bitCount == 8) {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.push_back({static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                                 static_cast<std::uint8_t>(b * 51), 255});
        for (int i = 0; i < 40; ++i) {
            auto v = static_cast<std::uint8_t>(i * 255 / 39);
            p.push_back({v, v, v, 255});
        }
    }
    return p;
}

unsigned nearestColour(const std::vector<Rgba>& palette, Rgba c) {
    unsigned best = 0;
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        int dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<unsigned>(i);
        }
    }
    return best;
}

namespace {

std::size_t strideOf(int width, int bitCount) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32 * 4;
}

void checkDepth(int width, int height, int bitCount) {
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
        throw std::invalid_argument("picture size out of range");
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        throw std::invalid_argument("unsupported bit depth");
}

// The masks of bit-field pixels: 5-6-5 for 16 bits, 8-8-8 with alpha above for 32.
constexpr std::uint32_t kMasks16[4] = {0xF800, 0x07E0, 0x001F, 0};
constexpr std::uint32_t kMasks32[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};

// The information header of `form`, the masks after a 40-byte one, the colour table.
void dibHeader(ByteOut& o, const DibForm& form, int width, int storedHeight, int bitCount,
               std::size_t imageSize, bool icon, std::size_t paletteSize) {
    const bool fields = form.bitFields && (bitCount == 16 || bitCount == 32);
    const std::uint32_t* masks = bitCount == 16 ? kMasks16 : kMasks32;
    if (form.headerSize == 12) {
        // The core header: 16-bit sizes, no compression, 3-byte colour entries.
        o.u32(12);
        o.u16(static_cast<unsigned>(width));
        o.u16(static_cast<unsigned>(storedHeight));
        o.u16(1);
        o.u16(static_cast<unsigned>(bitCount));
        return;
    }
    o.u32(static_cast<std::uint32_t>(form.headerSize));
    o.i32(width);
    o.i32(form.topDown ? -storedHeight : storedHeight);
    o.u16(1);
    o.u16(static_cast<unsigned>(bitCount));
    o.u32(fields ? 3 : 0); // BI_BITFIELDS or BI_RGB
    o.u32(static_cast<std::uint32_t>(imageSize));
    o.i32(icon ? 0 : 2835); // 72 dpi; icon images leave the resolution at 0
    o.i32(icon ? 0 : 2835);
    o.u32(static_cast<std::uint32_t>(paletteSize));
    o.u32(0);
    if (form.headerSize == 64) {
        // The OS/2 2.x fields: units, reserved, recording (bottom-up), rendering, two
        // sizes, colour encoding (RGB), identifier; all 0.
        for (int i = 0; i < 6; ++i)
            o.u32(0);
    } else if (form.headerSize >= 52) {
        // The masks are part of the header; without bit fields they mean nothing.
        const int count = form.headerSize == 52 ? 3 : 4;
        for (int i = 0; i < count; ++i)
            o.u32(fields ? masks[i] : 0);
    }
    if (form.headerSize >= 108) {
        o.u32(0x73524742); // colour space "sRGB"; its end points and gamma unused
        while (o.bytes.size() < 108)
            o.u8(0);
    }
    if (form.headerSize == 124) {
        o.u32(4); // intent: pictures (LCS_GM_IMAGES)
        o.u32(0); // no colour profile
        o.u32(0);
        o.u32(0);
    }
    if (form.headerSize == 40 && fields)
        for (int i = 0; i < 3; ++i)
            o.u32(masks[i]);
}

// Information header + colour table + XOR pixels (+ AND mask for icons).
std::vector<std::uint8_t> dib(int width, int height, int bitCount, const Picture& picture, bool icon,
                              const DibForm& form = {}) {
    checkDepth(width, height, bitCount);
    const int headerSize = form.headerSize;
    if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 64 && headerSize != 108 && headerSize != 124)
        throw std::invalid_argument("no information header has that size");
    if (headerSize == 12 && (bitCount == 16 || bitCount == 32 || form.topDown || width > 0xFFFF))
        throw std::invalid_argument("the core header has no such bitmap");
    if (headerSize == 64 && form.bitFields && (bitCount == 16 || bitCount == 32))
        throw std::invalid_argument("the OS/2 header has no bit fields (its code 3 is Huffman coding)");
    if (icon && form.topDown)
        throw std::invalid_argument("icon images are stored bottom-up");
    const bool fields = form.bitFields && (bitCount == 16 || bitCount == 32);
    const std::vector<Rgba> palette = fixedPalette(bitCount);
    const std::size_t stride = strideOf(width, bitCount);
    const std::size_t maskStride = strideOf(width, 1);
    const auto h = static_cast<std::size_t>(height);
    const std::size_t imageSize = stride * h + (icon ? maskStride * h : 0);

    ByteOut o;
    dibHeader(o, form, width, icon ? 2 * height : height, bitCount, imageSize, icon, palette.size());
    for (const Rgba& c : palette) {
        o.u8(c.b);
        o.u8(c.g);
        o.u8(c.r);
        if (headerSize != 12)
            o.u8(0);
    }
    const std::size_t pixelsAt = o.bytes.size();
    o.bytes.resize(pixelsAt + imageSize, 0);
    const std::size_t maskAt = pixelsAt + stride * h;
    for (int row = 0; row < height; ++row) {
        const int y = form.topDown ? row : height - 1 - row; // bottom-up unless top-down
        const std::size_t line = pixelsAt + static_cast<std::size_t>(row) * stride;
        for (int x = 0; x < width; ++x) {
            Rgba c = picture(x, y, width, height);
            const bool transparent = icon && c.a < 128;
            if (icon) {
                if (transparent) {
                    const std::size_t at = maskAt + static_cast<std::size_t>(row) * maskStride + static_cast<std::size_t>(x / 8);
                    o.bytes[at] = static_cast<std::uint8_t>(o.bytes[at] | (0x80u >> (x % 8)));
                }
                if (transparent && bitCount != 32)
                    c = {0, 0, 0, 0}; // black under a set mask bit leaves the screen as it is
            }
            const auto ux = static_cast<std::size_t>(x);
            switch (bitCount) {
            case 1:
            case 4:
            case 8: {
                const unsigned index = nearestColour(palette, c);
                const std::size_t bit = ux * static_cast<std::size_t>(bitCount);
                const std::size_t at = line + bit / 8;
                const unsigned shift = static_cast<unsigned>(8 - static_cast<int>(bit % 8) - bitCount);
                o.bytes[at] = static_cast<std::uint8_t>(o.bytes[at] | (index << shift));
                break;
            }
            case 16: {
                const unsigned v = fields ? (static_cast<unsigned>(c.r >> 3) << 11) |
                                                (static_cast<unsigned>(c.g >> 2) << 5) |
                                                static_cast<unsigned>(c.b >> 3)
                                          : (static_cast<unsigned>(c.r >> 3) << 10) |
                                                (static_cast<unsigned>(c.g >> 3) << 5) |
                                                static_cast<unsigned>(c.b >> 3);
                o.put16(line + 2 * ux, v);
                break;
            }
            case 24:
                o.bytes[line + 3 * ux] = c.b;
                o.bytes[line + 3 * ux + 1] = c.g;
                o.bytes[line + 3 * ux + 2] = c.r;
                break;
            default:
                o.bytes[line + 4 * ux] = c.b;
                o.bytes[line + 4 * ux + 1] = c.g;
                o.bytes[line + 4 * ux + 2] = c.r;
                o.bytes[line + 4 * ux + 3] = c.a;
                break;
            }
        }
    }
    return o.bytes;
}

std::vector<std::uint8_t> chunk(const char* id, const std::vector<std::uint8_t>& data) {
    ByteOut o;
    o.fourcc(id);
    o.u32(static_cast<std::uint32_t>(data.size()));
    o.append(data);
    o.padTo(2);
    return o.bytes;
}

std::vector<std::uint8_t> list(const char* outer, const char* type, const std::vector<std::vector<std::uint8_t>>& children) {
    ByteOut body;
    body.fourcc(type);
    for (const auto& c : children)
        body.append(c);
    return chunk(outer, body.bytes);
}

void utf16z(ByteOut& o, std::string_view ascii) {
    for (char c : ascii)
        o.u16(static_cast<unsigned char>(c));
    o.u16(0);
}

// One block of a version resource: length, value length, type, key, value, children,
// each part aligned to 4 bytes from the start of the resource.
std::vector<std::uint8_t> versionBlock(std::string_view key, const std::vector<std::uint8_t>& value,
                                       unsigned valueLength, unsigned type,
                                       const std::vector<std::vector<std::uint8_t>>& children) {
    ByteOut o;
    o.u16(0);
    o.u16(valueLength);
    o.u16(type);
    utf16z(o, key);
    return o.finishVersionBlock(value, children);
}

} // namespace

namespace pictures {

Picture gradient() {
    return [](int x, int y, int w, int h) {
        const double fx = w > 1 ? x / double(w - 1) : 0.0;
        const double fy = h > 1 ? y / double(h - 1) : 0.0;
        return Rgba{clampByte(255 * fx), clampByte(255 * fy), clampByte(255 * (1 - (fx + fy) / 2)), 255};
    };
}

Picture checker(int cells) {
    return [cells](int x, int y, int w, int h) {
        const int cx = x * cells / std::max(w, 1), cy = y * cells / std::max(h, 1);
        return (cx + cy) % 2 ? Rgba{250, 200, 40, 255} : Rgba{40, 70, 160, 255};
    };
}

Picture disc(Rgba colour) {
    return [colour](int x, int y, int w, int h) {
        const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, r = std::min(w, h) / 2.0 - 0.5;
        const double d = std::hypot(x - cx, y - cy);
        if (d > r)
            return Rgba{0, 0, 0, 0};
        // Lighter towards the top left, darker at the rim.
        const double light = 1.25 - 0.6 * std::hypot(x - cx * 0.6, y - cy * 0.6) / (r * 1.6);
        const double edge = std::clamp(r - d, 0.0, 1.0);
        return Rgba{clampByte(colour.r * light), clampByte(colour.g * light), clampByte(colour.b * light),
                    clampByte(255 * edge)};
    };
}

Picture rings() {
    return [](int x, int y, int w, int h) {
        static const std::array<Rgba, 6> colours = {
            Rgba{220, 40, 40, 255}, Rgba{240, 160, 20, 255}, Rgba{240, 230, 40, 255},
            Rgba{40, 180, 60, 255}, Rgba{40, 100, 220, 255}, Rgba{140, 60, 200, 255}};
        const double cx = w / 2.0, cy = h / 2.0;
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy) / (std::min(w, h) / 2.0);
        if (d >= 1.0)
            return Rgba{255, 255, 255, 0};
        return colours[static_cast<std::size_t>(d * 6) % colours.size()];
    };
}

Picture arrow() {
    return [](int x, int y, int w, int h) {
        // A classic pointer: a triangle from the top-left corner with a short stem.
        const double fx = x / double(w), fy = y / double(h);
        const bool head = fy < 0.7 && fx <= fy * 0.7;
        const bool stem = fy >= 0.4 && fy < 0.95 && fx >= (fy - 0.4) * 0.5 + 0.18 && fx < (fy - 0.4) * 0.5 + 0.3;
        if (!head && !stem)
            return Rgba{0, 0, 0, 0};
        const bool border = fx < 1.0 / w || std::abs(fx - fy * 0.7) < 1.2 / w || fy >= 0.7 - 1.0 / h;
        return border && !stem ? Rgba{0, 0, 0, 255} : Rgba{255, 255, 255, 255};
    };
}

Picture frame(int index, int count) {
    return [index, count](int x, int y, int w, int h) {
        const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, r = std::min(w, h) / 2.0 - 0.5;
        const double dx = x - cx, dy = y - cy;
        if (std::hypot(dx, dy) > r)
            return Rgba{0, 0, 0, 0};
        const double turn = std::atan2(dy, dx) / (2 * std::numbers::pi) + 0.5;
        const double start = double(index) / std::max(count, 1);
        const double phase = std::fmod(turn - start + 1.0, 1.0);
        const auto v = clampByte(255 * (1 - phase));
        return Rgba{v, clampByte(80 + v / 2.0), 255, 255};
    };
}

} // namespace pictures

std::vector<std::uint8_t> makeDib(int width, int height, int bitCount, const Picture& picture) {
    return dib(width, height, bitCount, picture, false);
}

std::vector<std::uint8_t> makeDib(int width, int height, int bitCount, const Picture& picture,
                                  const DibForm& form) {
    return dib(width, height, bitCount, picture, false, form);
}

std::vector<std::uint8_t> makeIconImage(int width, int height, int bitCount, const Picture& picture) {
    return dib(width, height, bitCount, picture, true);
}

std::vector<std::uint8_t> makeCursorImage(int width, int height, int bitCount, int hotX, int hotY,
                                          const Picture& picture) {
    ByteOut o;
    o.u16(static_cast<unsigned>(hotX));
    o.u16(static_cast<unsigned>(hotY));
    o.append(makeIconImage(width, height, bitCount, picture));
    return o.bytes;
}

std::vector<std::uint8_t> makeGroupIconDir(const std::vector<GroupEntry>& entries) {
    ByteOut o;
    o.u16(0);
    o.u16(1);
    o.u16(static_cast<unsigned>(entries.size()));
    for (const GroupEntry& e : entries) {
        o.u8(static_cast<unsigned>(e.stated.width >= 0 ? e.stated.width : e.width >= 256 ? 0 : e.width));
        o.u8(static_cast<unsigned>(e.stated.height >= 0 ? e.stated.height : e.height >= 256 ? 0 : e.height));
        o.u8(e.stated.colours >= 0 ? static_cast<unsigned>(e.stated.colours)
                                   : e.bitCount < 8 ? (1u << e.bitCount) : 0u);
        o.u8(0);
        o.u16(e.stated.planes >= 0 ? static_cast<unsigned>(e.stated.planes) : 1u);
        o.u16(static_cast<unsigned>(e.stated.bitCount >= 0 ? e.stated.bitCount : e.bitCount));
        o.u32(e.bytesInRes);
        o.u16(e.id);
    }
    return o.bytes;
}

std::vector<std::uint8_t> makeGroupCursorDir(const std::vector<GroupEntry>& entries) {
    ByteOut o;
    o.u16(0);
    o.u16(2);
    o.u16(static_cast<unsigned>(entries.size()));
    for (const GroupEntry& e : entries) {
        o.u16(static_cast<unsigned>(e.stated.width >= 0 ? e.stated.width : e.width));
        o.u16(static_cast<unsigned>(e.stated.height >= 0 ? e.stated.height : e.height * 2));
        o.u16(e.stated.planes >= 0 ? static_cast<unsigned>(e.stated.planes) : 1u);
        o.u16(static_cast<unsigned>(e.stated.bitCount >= 0 ? e.stated.bitCount : e.bitCount));
        o.u32(e.bytesInRes);
        o.u16(e.id);
    }
    return o.bytes;
}

std::vector<std::uint8_t> makeCursorFile(int width, int height, int bitCount, int hotX, int hotY,
                                         const Picture& picture) {
    const std::vector<std::uint8_t> image = makeIconImage(width, height, bitCount, picture);
    ByteOut o;
    o.u16(0);
    o.u16(2);
    o.u16(1);
    o.u8(static_cast<unsigned>(width >= 256 ? 0 : width));
    o.u8(static_cast<unsigned>(height >= 256 ? 0 : height));
    o.u8(bitCount < 8 ? (1u << bitCount) : 0u);
    o.u8(0);
    o.u16(static_cast<unsigned>(hotX));
    o.u16(static_cast<unsigned>(hotY));
    o.u32(static_cast<std::uint32_t>(image.size()));
    o.u32(22);
    o.append(image);
    return o.bytes;
}

std::vector<std::uint8_t> makeAni(const std::vector<std::vector<std::uint8_t>>& frames, std::uint32_t jiffies) {
    ByteOut header;
    header.u32(36);
    header.u32(static_cast<std::uint32_t>(frames.size())); // frames
    header.u32(static_cast<std::uint32_t>(frames.size())); // steps
    header.u32(0);
    header.u32(0);
    header.u32(0);
    header.u32(0);
    header.u32(jiffies);
    header.u32(1); // frames are icons/cursors, no sequence chunk
    std::vector<std::vector<std::uint8_t>> icons;
    for (const auto& f : frames)
        icons.push_back(chunk("icon", f));
    std::vector<std::vector<std::uint8_t>> children;
    children.push_back(chunk("anih", header.bytes));
    children.push_back(list("LIST", "fram", icons));
    return list("RIFF", "ACON", children);
}

std::vector<std::uint8_t> makeAni(const std::vector<std::vector<std::uint8_t>>& frames, std::uint32_t jiffies,
                                  const std::vector<std::uint32_t>& sequence, const std::vector<std::uint32_t>& rates) {
    ByteOut header;
    header.u32(36);
    header.u32(static_cast<std::uint32_t>(frames.size())); // frames
    header.u32(static_cast<std::uint32_t>(sequence.size())); // steps
    header.u32(0);
    header.u32(0);
    header.u32(0);
    header.u32(0);
    header.u32(jiffies);
    header.u32(3); // frames are icons/cursors, a sequence chunk follows
    ByteOut seq;
    for (const std::uint32_t frame : sequence)
        seq.u32(frame);
    ByteOut rate;
    for (const std::uint32_t time : rates)
        rate.u32(time);
    std::vector<std::vector<std::uint8_t>> icons;
    for (const auto& f : frames)
        icons.push_back(chunk("icon", f));
    std::vector<std::vector<std::uint8_t>> children;
    children.push_back(chunk("anih", header.bytes));
    if (!rates.empty())
        children.push_back(chunk("rate", rate.bytes));
    children.push_back(chunk("seq ", seq.bytes));
    children.push_back(list("LIST", "fram", icons));
    return list("RIFF", "ACON", children);
}

std::vector<std::uint8_t> makeAvi(int width, int height, int frames, int fps,
                                  const std::function<Picture(int frame)>& picture) {
    checkDepth(width, height, 24);
    const std::size_t stride = strideOf(width, 24);
    const auto frameSize = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));

    ByteOut avih;
    avih.u32(static_cast<std::uint32_t>(1000000 / std::max(fps, 1)));
    avih.u32(frameSize * static_cast<std::uint32_t>(std::max(fps, 1)));
    avih.u32(0);
    avih.u32(0x10); // has index
    avih.u32(static_cast<std::uint32_t>(frames));
    avih.u32(0);
    avih.u32(1);
    avih.u32(frameSize);
    avih.i32(width);
    avih.i32(height);
    for (int i = 0; i < 4; ++i)
        avih.u32(0);

    ByteOut strh;
    strh.fourcc("vids");
    strh.fourcc("DIB ");
    strh.u32(0);
    strh.u16(0);
    strh.u16(0);
    strh.u32(0);
    strh.u32(1);                                  // scale
    strh.u32(static_cast<std::uint32_t>(fps));    // rate
    strh.u32(0);                                  // start
    strh.u32(static_cast<std::uint32_t>(frames)); // length
    strh.u32(frameSize);
    strh.u32(0xFFFFFFFFu);
    strh.u32(0);
    strh.u16(0);
    strh.u16(0);
    strh.u16(static_cast<unsigned>(width));
    strh.u16(static_cast<unsigned>(height));

    // The stream format is the bitmap header of a 24-bit DIB.
    std::vector<std::uint8_t> strf = makeDib(1, 1, 24, pictures::gradient());
    strf.resize(40);
    ByteOut fix;
    fix.bytes = strf;
    fix.put32(4, static_cast<std::uint32_t>(width));
    fix.put32(8, static_cast<std::uint32_t>(height));
    fix.put32(20, frameSize);

    std::vector<std::vector<std::uint8_t>> strl = {chunk("strh", strh.bytes), chunk("strf", fix.bytes)};
    std::vector<std::vector<std::uint8_t>> hdrl = {chunk("avih", avih.bytes), list("LIST", "strl", strl)};

    std::vector<std::vector<std::uint8_t>> movi;
    ByteOut index;
    std::uint32_t offset = 4; // from the "movi" identifier
    for (int f = 0; f < frames; ++f) {
        std::vector<std::uint8_t> pixels = makeDib(width, height, 24, picture(f));
        pixels.erase(pixels.begin(), pixels.begin() + 40);
        movi.push_back(chunk("00db", pixels));
        index.fourcc("00db");
        index.u32(0x10); // key frame
        index.u32(offset);
        index.u32(frameSize);
        offset += static_cast<std::uint32_t>(movi.back().size());
    }
    std::vector<std::vector<std::uint8_t>> riff = {list("LIST", "hdrl", hdrl), list("LIST", "movi", movi),
                                                   chunk("idx1", index.bytes)};
    return list("RIFF", "AVI ", riff);
}

std::vector<std::uint8_t> makeHtml(std::string_view title, std::string_view body) {
    auto escape = [](std::string_view s) {
        std::string out;
        for (char c : s) {
            switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
            }
        }
        return out;
    };
    std::string page = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>" + escape(title) +
                       "</title>\r\n<style>body{font-family:sans-serif;margin:2em;background:#f4f6fb;color:#223}"
                       "h1{color:#2a4d9b}</style>\r\n</head>\r\n<body>\r\n<h1>" +
                       escape(title) + "</h1>\r\n<p>" + escape(body) + "</p>\r\n</body>\r\n</html>\r\n";
    return std::vector<std::uint8_t>(page.begin(), page.end());
}

std::vector<std::uint8_t> fixedFileInfo(VersionNumber file, VersionNumber product, std::uint32_t os,
                                        std::uint32_t type) {
    ByteOut fixed;
    fixed.u32(0xFEEF04BDu);
    fixed.u32(0x00010000u);
    fixed.u32(static_cast<std::uint32_t>(file.major) << 16 | file.minor);
    fixed.u32(static_cast<std::uint32_t>(file.build) << 16 | file.revision);
    fixed.u32(static_cast<std::uint32_t>(product.major) << 16 | product.minor);
    fixed.u32(static_cast<std::uint32_t>(product.build) << 16 | product.revision);
    fixed.u32(0x3F); // the flags that are valid
    fixed.u32(0);    // the flags
    fixed.u32(os);
    fixed.u32(type);
    fixed.u32(0); // subtype
    fixed.u32(0); // date, high and low
    fixed.u32(0);
    return fixed.bytes;
}

std::vector<std::uint8_t> makeVersionInfo(VersionNumber file, VersionNumber product, std::string_view description) {
    const std::vector<std::uint8_t> fixed = fixedFileInfo(file, product, 0x00040004u /* Windows NT, 32-bit */, 2 /* a DLL */);

    auto str = [](std::string_view key, std::string_view value) {
        ByteOut v;
        utf16z(v, value);
        return versionBlock(key, v.bytes, static_cast<unsigned>(value.size() + 1), 1, {});
    };
    const std::string fileText = std::to_string(file.major) + "." + std::to_string(file.minor) + "." +
                                 std::to_string(file.build) + "." + std::to_string(file.revision);
    std::vector<std::vector<std::uint8_t>> strings = {str("CompanyName", "Harvix samples"),
                                                      str("FileDescription", description),
                                                      str("FileVersion", fileText)};
    auto table = versionBlock("040904B0", {}, 0, 1, strings);
    auto stringInfo = versionBlock("StringFileInfo", {}, 0, 1, {table});
    ByteOut translation;
    translation.u16(0x0409);
    translation.u16(0x04B0);
    auto var = versionBlock("Translation", translation.bytes, 4, 0, {});
    auto varInfo = versionBlock("VarFileInfo", {}, 0, 1, {var});
    return versionBlock("VS_VERSION_INFO", fixed, 52, 0, {stringInfo, varInfo});
}

std::vector<std::uint8_t> makeVersionInfo(VersionNumber file,
                                          const std::vector<std::pair<std::string, std::string>>& strings) {
    const std::vector<std::uint8_t> fixed = fixedFileInfo(file, file, 0x00040004u, 1 /* an application */);
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const auto& [key, value] : strings) {
        ByteOut v;
        utf16z(v, value);
        blocks.push_back(versionBlock(key, v.bytes, static_cast<unsigned>(value.size() + 1), 1, {}));
    }
    auto table = versionBlock("040904B0", {}, 0, 1, blocks);
    auto stringInfo = versionBlock("StringFileInfo", {}, 0, 1, {table});
    return versionBlock("VS_VERSION_INFO", fixed, 52, 0, {stringInfo});
}

} // namespace harvix::modbuilder

namespace harvix::modbuilder {

std::uint16_t addIconGroup(const AddResource& add, const ResId& group, std::uint16_t firstIconId,
                           const std::vector<GroupImage>& images, const Picture& picture) {
    std::vector<GroupEntry> entries;
    std::uint16_t id = firstIconId;
    for (const GroupImage& image : images) {
        std::vector<std::uint8_t> bytes = image.png ? makePngFile(image.width, image.height, picture)
                                                    : makeIconImage(image.width, image.height, image.bitCount, picture);
        entries.push_back(GroupEntry{image.width, image.height, image.bitCount,
                                     static_cast<std::uint32_t>(bytes.size()), id, image.stated});
        add(ResId::of(ResType::Icon), ResId::number(id), std::move(bytes));
        ++id;
    }
    add(ResId::of(ResType::GroupIcon), group, makeGroupIconDir(entries));
    return id;
}

std::uint16_t addCursorGroup(const AddResource& add, const ResId& group, std::uint16_t firstCursorId,
                             const std::vector<GroupImage>& images, const Picture& picture, int hotX, int hotY) {
    std::vector<GroupEntry> entries;
    std::uint16_t id = firstCursorId;
    for (const GroupImage& image : images) {
        std::vector<std::uint8_t> bytes = makeCursorImage(image.width, image.height, image.bitCount,
                                                          hotX * image.width / 32, hotY * image.height / 32, picture);
        entries.push_back(GroupEntry{image.width, image.height, image.bitCount,
                                     static_cast<std::uint32_t>(bytes.size()), id, image.stated});
        add(ResId::of(ResType::Cursor), ResId::number(id), std::move(bytes));
        ++id;
    }
    add(ResId::of(ResType::GroupCursor), group, makeGroupCursorDir(entries));
    return id;
}

std::uint16_t addIconGroup(ModuleBuilder& builder, const ResId& group, std::uint16_t firstIconId,
                           const std::vector<GroupImage>& images, const Picture& picture,
                           std::uint16_t language) {
    return addIconGroup(
        [&](const ResId& type, const ResId& name, std::vector<std::uint8_t> bytes) {
            builder.add(type, name, language, std::move(bytes));
        },
        group, firstIconId, images, picture);
}

std::uint16_t addCursorGroup(ModuleBuilder& builder, const ResId& group, std::uint16_t firstCursorId,
                             const std::vector<GroupImage>& images, const Picture& picture, int hotX,
                             int hotY, std::uint16_t language) {
    return addCursorGroup(
        [&](const ResId& type, const ResId& name, std::vector<std::uint8_t> bytes) {
            builder.add(type, name, language, std::move(bytes));
        },
        group, firstCursorId, images, picture, hotX, hotY);
}

} // namespace harvix::modbuilder
