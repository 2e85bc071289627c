// PNG in and out, through libpng. Writing takes a decoded picture; reading is for the
// PNG images that icons may hold and checks the picture's size before decoding it.
#pragma once

#include "image/Image.h"
#include "common/Result.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// The eight bytes every PNG stream begins with.
[[nodiscard]] bool IsPng(std::span<const std::uint8_t> bytes);

// Width, height and bits per pixel (bit depth times channels) from the IHDR chunk.
struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0;
};
[[nodiscard]] Result<PngHeader> ReadPngHeader(std::span<const std::uint8_t> png);

// An 8-bit PNG of the picture: RGB when every pixel is opaque, RGBA otherwise.
[[nodiscard]] Result<std::vector<std::uint8_t>> EncodePng(const RgbaImage& image);

// A PNG stream with one tEXt chunk (keyword, Latin-1 text) put right after its IHDR
// chunk; everything else is copied unchanged.
[[nodiscard]] Result<std::vector<std::uint8_t>> AddTextChunk(std::span<const std::uint8_t> png,
                                                             std::string_view keyword,
                                                             std::string_view text);

// Decodes a PNG into 8-bit RGBA (straight alpha). Pictures wider or higher than
// `maxSide` are refused before any pixel memory is taken.
[[nodiscard]] Result<RgbaImage> DecodePng(std::span<const std::uint8_t> png, std::uint32_t maxSide);

} // namespace harvix
