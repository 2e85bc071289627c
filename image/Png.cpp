#include "image/Png.h"

#include "common/ByteCursor.h"

#include <png.h>
#include <zlib.h>

#include <array>
#include <cstring>

namespace harvix {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t bigEndian(std::span<const std::uint8_t> b) {
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           std::uint32_t{b[3]};
}

} // namespace

bool IsPng(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kSignature.size() &&
           std::memcmp(bytes.data(), kSignature.data(), kSignature.size()) == 0;
}

Result<PngHeader> ReadPngHeader(std::span<const std::uint8_t> png) {
    if (!IsPng(png))
        return makeError(ErrorKind::NotLoadable, "no PNG signature");
    ByteCursor c(png);
    // Signature, chunk length 13, "IHDR", width, height, bit depth, colour type.
    auto ihdr = c.slice(8, 8 + 13);
    if (!ihdr)
        return makeError(ErrorKind::Truncated, "the PNG header is cut short");
    const auto h = *ihdr;
    if (bigEndian(h.subspan(0, 4)) != 13 || std::memcmp(h.data() + 4, "IHDR", 4) != 0)
        return makeError(ErrorKind::Malformed, "the PNG stream does not begin with IHDR");
    PngHeader out;
    out.width = bigEndian(h.subspan(8, 4));
    out.height = bigEndian(h.subspan(12, 4));
    const std::uint32_t depth = h[16];
    const std::uint8_t colourType = h[17];
    std::uint32_t channels = 1; // grey, palette
    if (colourType == 2)
        channels = 3;
    else if (colourType == 4)
        channels = 2;
    else if (colourType == 6)
        channels = 4;
    out.bitsPerPixel = depth * channels;
    return out;
}

Result<std::vector<std::uint8_t>> EncodePng(const RgbaImage& image) {
    if (image.width == 0 || image.height == 0 ||
        image.rgba.size() != std::size_t{image.width} * image.height * 4)
        return makeError(ErrorKind::Malformed, "no picture to write");
    const bool alpha = image.hasTransparency();
    std::vector<std::uint8_t> rgb;
    const void* pixels = image.rgba.data();
    if (!alpha) {
        rgb.reserve(image.rgba.size() / 4 * 3);
        for (std::size_t i = 0; i < image.rgba.size(); i += 4)
            rgb.insert(rgb.end(), image.rgba.begin() + static_cast<std::ptrdiff_t>(i),
                       image.rgba.begin() + static_cast<std::ptrdiff_t>(i + 3));
        pixels = rgb.data();
    }
    png_image desc{};
    desc.version = PNG_IMAGE_VERSION;
    desc.width = image.width;
    desc.height = image.height;
    desc.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;

    // A first guess of the size; libpng says how much it needs when that is too small.
    std::vector<std::uint8_t> out(image.rgba.size() / 2 + 1024);
    for (int attempt = 0; attempt < 2; ++attempt) {
        png_alloc_size_t size = out.size();
        if (png_image_write_to_memory(&desc, out.data(), &size, 0, pixels, 0, nullptr) != 0) {
            out.resize(size);
            png_image_free(&desc);
            return out;
        }
        if (size <= out.size()) { // unchanged: a real error, not a small buffer
            const std::string message = desc.message;
            png_image_free(&desc);
            return makeError(ErrorKind::Io, "PNG writing failed: " + message);
        }
        out.resize(size);
        png_image_free(&desc);
        desc.opaque = nullptr;
        desc.warning_or_error = 0;
    }
    return makeError(ErrorKind::Io, "PNG writing failed");
}

Result<std::vector<std::uint8_t>> AddTextChunk(std::span<const std::uint8_t> png,
                                               std::string_view keyword, std::string_view text) {
    if (auto h = ReadPngHeader(png); !h)
        return h.error();
    if (keyword.empty() || keyword.size() > 79)
        return makeError(ErrorKind::Malformed, "a PNG keyword has 1 to 79 characters");
    constexpr std::size_t kAfterIhdr = 8 + 8 + 13 + 4;
    if (png.size() < kAfterIhdr)
        return makeError(ErrorKind::Truncated, "the PNG header is cut short");
    // The whole chunk is reserved at once: length, type, keyword, NUL, text, CRC. (Grown
    // piece by piece, GCC 12 at -O3 takes the growth for an overflow, wrongly.)
    std::vector<std::uint8_t> chunk;
    chunk.reserve(4 + 4 + keyword.size() + 1 + text.size() + 4);
    putBigEndian(chunk, static_cast<std::uint32_t>(keyword.size() + 1 + text.size()));
    chunk.insert(chunk.end(), {'t', 'E', 'X', 't'});
    chunk.insert(chunk.end(), keyword.begin(), keyword.end());
    chunk.push_back(0);
    chunk.insert(chunk.end(), text.begin(), text.end());
    const auto crc = crc32(0L, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    putBigEndian(chunk, static_cast<std::uint32_t>(crc));

    std::vector<std::uint8_t> out;
    out.reserve(png.size() + chunk.size());
    out.insert(out.end(), png.begin(), png.begin() + kAfterIhdr);
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + kAfterIhdr, png.end());
    return out;
}

Result<RgbaImage> DecodePng(std::span<const std::uint8_t> png, std::uint32_t maxSide) {
    auto header = ReadPngHeader(png);
    if (!header)
        return header.error();
    if (header->width == 0 || header->height == 0 || header->width > maxSide ||
        header->height > maxSide || std::uint64_t{header->width} * header->height > kMaxPixels)
        return makeError(ErrorKind::TooLarge, "a PNG picture of " + std::to_string(header->width) +
                                                  " x " + std::to_string(header->height) +
                                                  " pixels is larger than accepted");
    png_image desc{};
    desc.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&desc, png.data(), png.size()) == 0) {
        const std::string message = desc.message;
        png_image_free(&desc);
        return makeError(ErrorKind::Malformed, "PNG: " + message);
    }
    if (desc.width != header->width || desc.height != header->height) {
        png_image_free(&desc);
        return makeError(ErrorKind::Malformed, "PNG: inconsistent header");
    }
    desc.format = PNG_FORMAT_RGBA;
    RgbaImage image;
    image.width = desc.width;
    image.height = desc.height;
    image.rgba.resize(PNG_IMAGE_SIZE(desc));
    if (png_image_finish_read(&desc, nullptr, image.rgba.data(), 0, nullptr) == 0) {
        const std::string message = desc.message;
        png_image_free(&desc);
        return makeError(ErrorKind::Malformed, "PNG: " + message);
    }
    png_image_free(&desc);
    return image;
}

} // namespace harvix
