// Making pictures smaller for thumbnails.
#pragma once

#include "image/Image.h"

#include <cstdint>
#include <utility>

namespace harvix::image {

// The size of a picture of width x height made to fit into box x box without changing
// its aspect; pictures that fit already keep their size (they are never enlarged).
[[nodiscard]] std::pair<std::uint32_t, std::uint32_t> FitInto(std::uint32_t width, std::uint32_t height,
                                                              std::uint32_t box);

// Area averaging: every target pixel is the mean of the source area it covers, each
// source pixel weighted by how much of it lies inside. Colours are averaged with their
// alpha as weight (premultiplied), so transparent pixels lend no colour to the edges.
// The target must not be larger than the source in either direction.
[[nodiscard]] RgbaImage ScaleDown(const RgbaImage& source, std::uint32_t width, std::uint32_t height);

} // namespace harvix::image
