#include "tools/modbuilder/PicturePayloads.h"

#include "tools/modbuilder/ByteOut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace harvix::modbuilder {

namespace {

void checkSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
        throw std::invalid_argument("picture size out of range");
}

// --- PNG ------------------------------------------------------------------------------

std::uint32_t crc32(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

void put(ByteOut& o, std::initializer_list<unsigned> values) {
    for (unsigned v : values)
        o.u8(v);
}

void putBigEndian32(ByteOut& o, std::uint32_t v) {
    o.u8(v >> 24);
    o.u8((v >> 16) & 0xFF);
    o.u8((v >> 8) & 0xFF);
    o.u8(v & 0xFF);
}

void pngChunk(ByteOut& o, const char* type, const std::vector<std::uint8_t>& data) {
    putBigEndian32(o, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = o.bytes.size();
    o.fourcc(type);
    o.append(data);
    putBigEndian32(o, crc32(o.bytes, typeAt));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<std::uint8_t> zlibStored(const std::vector<std::uint8_t>& data) {
    ByteOut o;
    o.u8(0x78);
    o.u8(0x01);
    std::size_t at = 0;
    do {
        const std::size_t length = std::min<std::size_t>(data.size() - at, 65535);
        const bool last = at + length == data.size();
        o.u8(last ? 1 : 0);
        o.u16(static_cast<unsigned>(length));
        o.u16(static_cast<unsigned>(~length & 0xFFFF));
        o.bytes.insert(o.bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    } while (at < data.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian32(o, (b << 16) | a);
    return o.bytes;
}

// Bits written least significant first (GIF) or most significant first (JPEG).
class BitWriter {
public:
    explicit BitWriter(bool msbFirst) : m_msbFirst(msbFirst) {}
    void put(std::uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            const unsigned bit = m_msbFirst ? (value >> (count - 1 - i)) & 1u : (value >> i) & 1u;
            if (m_msbFirst)
                m_byte = static_cast<std::uint8_t>(m_byte | (bit << (7 - m_used)));
            else
                m_byte = static_cast<std::uint8_t>(m_byte | (bit << m_used));
            if (++m_used == 8)
                flushByte();
        }
    }
    // Ends the last byte: with 1 bits (JPEG) or 0 bits (GIF).
    std::vector<std::uint8_t> finish() {
        if (m_used != 0) {
            if (m_msbFirst)
                m_byte = static_cast<std::uint8_t>(m_byte | (0xFFu >> m_used));
            flushByte();
        }
        return std::move(m_bytes);
    }

private:
    void flushByte() {
        m_bytes.push_back(m_byte);
        // In JPEG's coded data a 0xFF byte is followed by a 0 byte.
        if (m_msbFirst && m_byte == 0xFF)
            m_bytes.push_back(0);
        m_byte = 0;
        m_used = 0;
    }
    bool m_msbFirst;
    std::uint8_t m_byte = 0;
    unsigned m_used = 0;
    std::vector<std::uint8_t> m_bytes;
};

// --- Windows 1.x/2.x icons and cursors ----------------------------------------------------

int luma(Rgba c) {
    return (c.r * 299 + c.g * 587 + c.b * 114) / 1000;
}

void oldImage(ByteOut& o, int size, int hotX, int hotY, const Picture& picture) {
    const unsigned rowBytes = static_cast<unsigned>((size + 15) / 16 * 2);
    o.u16(static_cast<unsigned>(hotX));
    o.u16(static_cast<unsigned>(hotY));
    o.u16(static_cast<unsigned>(size));
    o.u16(static_cast<unsigned>(size));
    o.u16(rowBytes);
    o.u16(0); // a cursor's colour word; unused in icons
    std::vector<std::uint8_t> andPlane(rowBytes * static_cast<unsigned>(size), 0);
    std::vector<std::uint8_t> xorPlane(andPlane.size(), 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const Rgba c = picture(x, y, size, size);
            const std::size_t at = static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x / 8);
            const auto bit = static_cast<std::uint8_t>(0x80u >> (x % 8));
            if (c.a < 128)
                andPlane[at] = static_cast<std::uint8_t>(andPlane[at] | bit); // the screen shows through
            else if (luma(c) >= 128)
                xorPlane[at] = static_cast<std::uint8_t>(xorPlane[at] | bit); // white
        }
    o.append(andPlane);
    o.append(xorPlane);
}

std::vector<std::uint8_t> oldIconOrCursor(std::uint8_t kind, OldForm form, int size, int hotX, int hotY,
                                          const Picture& picture) {
    checkSize(size, size);
    ByteOut o;
    o.u8(kind);
    o.u8(static_cast<unsigned>(form));
    if (form == OldForm::DeviceIndependent || form == OldForm::Both)
        oldImage(o, 2 * size, 2 * hotX, 2 * hotY, picture);
    if (form == OldForm::DeviceDependent || form == OldForm::Both)
        oldImage(o, size, hotX, hotY, picture);
    return o.bytes;
}

} // namespace

std::vector<std::uint8_t> makePngFile(int width, int height, const Picture& picture) {
    checkSize(width, height);
    ByteOut o;
    put(o, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    ByteOut header;
    putBigEndian32(header, static_cast<std::uint32_t>(width));
    putBigEndian32(header, static_cast<std::uint32_t>(height));
    put(header, {8, 6, 0, 0, 0});
    pngChunk(o, "IHDR", header.bytes);
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(height) * (1 + 4 * static_cast<std::size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        for (int x = 0; x < width; ++x) {
            const Rgba c = picture(x, y, width, height);
            raw.insert(raw.end(), {c.r, c.g, c.b, c.a});
        }
    }
    pngChunk(o, "IDAT", zlibStored(raw));
    pngChunk(o, "IEND", {});
    return o.bytes;
}

std::vector<std::uint8_t> makeJpegFile(int width, int height, const Picture& picture) {
    checkSize(width, height);
    if (width % 8 != 0 || height % 8 != 0)
        throw std::invalid_argument("JPEG sizes are multiples of 8 here");
    ByteOut o;
    o.u16(0xD8FF); // SOI
    // APP0: JFIF 1.1, no resolution.
    put(o, {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00,
                           0x01, 0x00, 0x00});
    // DQT: table 0, every coefficient divided by 1.
    put(o, {0xFF, 0xDB, 0x00, 0x43, 0x00});
    for (int i = 0; i < 64; ++i)
        o.u8(1);
    // SOF0: 8-bit samples, one component.
    put(o, {0xFF, 0xC0, 0x00, 0x0B, 0x08});
    o.u8(static_cast<unsigned>(height) >> 8);
    o.u8(static_cast<unsigned>(height) & 0xFF);
    o.u8(static_cast<unsigned>(width) >> 8);
    o.u8(static_cast<unsigned>(width) & 0xFF);
    put(o, {0x01, 0x01, 0x11, 0x00});
    // DHT: the standard luminance DC table, and an AC table that holds only the end of
    // block (code "0"), for blocks of one shade.
    put(o, {0xFF, 0xC4, 0x00, 0x1F, 0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    for (unsigned v = 0; v < 12; ++v)
        o.u8(v);
    put(o, {0xFF, 0xC4, 0x00, 0x14, 0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00});
    // SOS: one component, tables 0 and 0, the whole spectrum.
    put(o, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    // The codes of the DC categories 0 to 11 in the standard table: lengths and codes.
    static constexpr std::array<std::pair<unsigned, std::uint32_t>, 12> kDcCodes = {{
        {2, 0x0}, {3, 0x2}, {3, 0x3}, {3, 0x4}, {3, 0x5}, {3, 0x6},
        {4, 0xE}, {5, 0x1E}, {6, 0x3E}, {7, 0x7E}, {8, 0xFE}, {9, 0x1FE},
    }};
    BitWriter bits(true);
    int previous = 0;
    for (int by = 0; by < height; by += 8)
        for (int bx = 0; bx < width; bx += 8) {
            int sum = 0;
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x)
                    sum += luma(picture(x, y, width, height)) - 128;
            // The DC coefficient of a block of one shade, with every divisor 1: the sum / 8.
            const int dc = static_cast<int>(std::lround(sum / 8.0));
            const int diff = dc - previous;
            previous = dc;
            unsigned category = 0;
            for (int magnitude = std::abs(diff); magnitude != 0; magnitude >>= 1)
                ++category;
            bits.put(kDcCodes[category].second, kDcCodes[category].first);
            if (category != 0) {
                const int stored = diff < 0 ? diff + (1 << category) - 1 : diff;
                bits.put(static_cast<std::uint32_t>(stored), category);
            }
            bits.put(0, 1); // end of block
        }
    o.append(bits.finish());
    o.u16(0xD9FF); // EOI
    return o.bytes;
}

std::vector<std::uint8_t> makeGifFile(int width, int height, const Picture& picture) {
    checkSize(width, height);
    const std::vector<Rgba> palette = fixedPalette(8);
    ByteOut o;
    o.text("GIF89a");
    o.u16(static_cast<unsigned>(width));
    o.u16(static_cast<unsigned>(height));
    o.u8(0xF7); // a global colour table of 256 entries
    o.u8(0);
    o.u8(0);
    for (std::size_t i = 0; i < 256; ++i) {
        const Rgba c = i < palette.size() ? palette[i] : Rgba{0, 0, 0, 255};
        o.u8(c.r);
        o.u8(c.g);
        o.u8(c.b);
    }
    o.u8(0x2C); // image descriptor: the whole screen, no local table
    o.u16(0);
    o.u16(0);
    o.u16(static_cast<unsigned>(width));
    o.u16(static_cast<unsigned>(height));
    o.u8(0);
    o.u8(8); // minimum code size
    // Codes of 9 bits, each one pixel: a clear code before the table would grow to 512
    // entries keeps them at 9 bits.
    constexpr unsigned kClear = 256, kEnd = 257, kCodesBetweenClears = 250;
    BitWriter bits(false);
    unsigned sinceClear = kCodesBetweenClears;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (sinceClear == kCodesBetweenClears) {
                bits.put(kClear, 9);
                sinceClear = 0;
            }
            bits.put(nearestColour(palette, picture(x, y, width, height)), 9);
            ++sinceClear;
        }
    bits.put(kEnd, 9);
    const std::vector<std::uint8_t> data = bits.finish();
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t length = std::min<std::size_t>(255, data.size() - at);
        o.u8(static_cast<unsigned>(length));
        o.bytes.insert(o.bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    o.u8(0);    // end of the image data
    o.u8(0x3B); // trailer
    return o.bytes;
}

std::vector<std::uint8_t> makeBmpFile(int width, int height, int bitCount, const Picture& picture) {
    const std::vector<std::uint8_t> dib = makeDib(width, height, bitCount, picture);
    const std::uint32_t colours = static_cast<std::uint32_t>(dib[32]) | static_cast<std::uint32_t>(dib[33]) << 8;
    ByteOut o;
    o.text("BM");
    o.u32(static_cast<std::uint32_t>(14 + dib.size()));
    o.u32(0);
    o.u32(14 + 40 + 4 * colours);
    o.append(dib);
    return o.bytes;
}

std::vector<std::uint8_t> makeIcoFile(const std::vector<GroupImage>& images, const Picture& picture) {
    std::vector<std::vector<std::uint8_t>> bodies;
    for (const GroupImage& image : images)
        bodies.push_back(makeIconImage(image.width, image.height, image.bitCount, picture));
    ByteOut o;
    o.u16(0);
    o.u16(1);
    o.u16(static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        o.u8(images[i].width >= 256 ? 0 : static_cast<unsigned>(images[i].width));
        o.u8(images[i].height >= 256 ? 0 : static_cast<unsigned>(images[i].height));
        o.u8(images[i].bitCount == 1 ? 2 : images[i].bitCount == 4 ? 16 : 0);
        o.u8(0);
        o.u16(1);
        o.u16(static_cast<unsigned>(images[i].bitCount));
        o.u32(static_cast<std::uint32_t>(bodies[i].size()));
        o.u32(offset);
        offset += static_cast<std::uint32_t>(bodies[i].size());
    }
    for (const auto& body : bodies)
        o.append(body);
    return o.bytes;
}

std::vector<std::uint8_t> makeOldIcon(OldForm form, int size, const Picture& picture) {
    return oldIconOrCursor(0x01, form, size, 0, 0, picture);
}

std::vector<std::uint8_t> makeOldCursor(OldForm form, int size, int hotX, int hotY, const Picture& picture) {
    return oldIconOrCursor(0x03, form, size, hotX, hotY, picture);
}

} // namespace harvix::modbuilder
