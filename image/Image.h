// A decoded picture: 8-bit red, green, blue and alpha per pixel (straight, not
// premultiplied alpha), rows from the top, no padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harvix {

// The largest picture the decoders make: no side above 32,768 pixels, no more than
// 2^25 pixels (128 MiB of RGBA) in all. Icon and cursor images are held to 1,024 pixels
// a side, four times the largest size an icon directory can name.
inline constexpr std::uint32_t kMaxSide = 32768;
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 25;
inline constexpr std::uint32_t kMaxIconSide = 1024;

struct RgbaImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba; // width * height * 4 bytes

    [[nodiscard]] std::uint8_t* pixel(std::uint32_t x, std::uint32_t y) {
        return rgba.data() + (std::size_t{y} * width + x) * 4;
    }
    [[nodiscard]] const std::uint8_t* pixel(std::uint32_t x, std::uint32_t y) const {
        return rgba.data() + (std::size_t{y} * width + x) * 4;
    }
    // True when some pixel is not fully opaque.
    [[nodiscard]] bool hasTransparency() const {
        for (std::size_t i = 3; i < rgba.size(); i += 4)
            if (rgba[i] != 255)
                return true;
        return false;
    }
};

} // namespace harvix
