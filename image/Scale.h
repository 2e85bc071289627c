// Making pictures smaller for thumbnails and icons, and at most a little larger.
#pragma once

#include "image/Image.h"

#include <cstdint>
#include <utility>

namespace harvix {

// The size of a picture of width x height made to fit into box x box without changing
// its aspect; pictures that fit already keep their size (they are never enlarged).
[[nodiscard]] std::pair<std::uint32_t, std::uint32_t> FitInto(std::uint32_t width, std::uint32_t height,
                                                              std::uint32_t box);

// The size of a picture of width x height made to fit into box x box without changing
// its aspect, enlarged by at most `maxFactor` (1: never, as FitInto).
[[nodiscard]] std::pair<std::uint32_t, std::uint32_t> GrowInto(std::uint32_t width, std::uint32_t height,
                                                               std::uint32_t box, std::uint32_t maxFactor);

// A picture at another size. An axis that shrinks is area-averaged: every target pixel
// is the mean of the source area it covers, each source pixel weighted by how much of it
// lies inside. An axis that grows is interpolated linearly between the two nearest
// source pixels (the edge pixels repeat). Colours are weighted by their alpha
// (premultiplied), so transparent pixels lend no colour to the edges. Width and height
// must be at least 1.
[[nodiscard]] RgbaImage Resize(const RgbaImage& source, std::uint32_t width, std::uint32_t height);

} // namespace harvix
