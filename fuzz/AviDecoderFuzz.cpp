// Fuzzes the AVI decoder of the animation control. The whole input is decoded as a
// clip; the same bytes, after a two-byte frame size, are also decoded as one RLE8
// frame. A clip that decodes must hold frames of exactly its frame size.
#include "controls/animation/AviDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);

    auto clip = harvix::DecodeAvi(input);
    if (clip) {
        if (clip->frames.empty() || clip->width == 0 || clip->height == 0)
            std::abort();
        for (const auto& frame : clip->frames)
            if (frame.size() != std::size_t{clip->width} * clip->height)
                std::abort();
    }

    if (size >= 2) {
        const std::uint32_t width = 1u + input[0] % 64u;
        const std::uint32_t height = 1u + input[1] % 64u;
        std::vector<std::uint8_t> pixels(std::size_t{width} * height, 0);
        harvix::DecodeRle8(input.subspan(2), width, height, pixels);
    }
    return 0;
}
