// The picture a file manager shows for an icon: the image that suits the thumbnail size
// best, made to fit.
#pragma once

#include "image/IconFile.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace harvix {

// The order in which to try the images of one icon for a thumbnail of box x box pixels:
// first those at least as large as the box (the side that is longer counts), smallest
// first; when none is that large, the largest first; of equal sizes, the deeper colours
// first. Images whose header cannot be read are left out.
[[nodiscard]] std::vector<std::size_t> ThumbnailOrder(const std::vector<ByteView>& images,
                                                      std::uint32_t box);

// The first image in that order that decodes, scaled down to fit into box x box. For the
// x-large and xx-large boxes (above 256 pixels) an image smaller than the box is enlarged
// to fit it, by at most twice its size.
[[nodiscard]] Result<RgbaImage> MakeThumbnail(const std::vector<ByteView>& images, std::uint32_t box);

// The best picture of an icon for box x box pixels: of the images that decode, the one
// of that size with the most colours, else the next larger one scaled down, else the
// largest, enlarged to fit the box by at most `maxEnlargement` times its size (1: never).
[[nodiscard]] Result<RgbaImage> MakeIconPicture(const std::vector<ByteView>& images, std::uint32_t box,
                                                std::uint32_t maxEnlargement);

// The largest image that decodes, of equal sizes the one with the most colours, as it is.
[[nodiscard]] Result<RgbaImage> LargestIconPicture(const std::vector<ByteView>& images);

// The sizes an icon theme gets of an icon, ascending: the size of every image whose
// header reads (its longer side), and each of `standardSizes` that can be made from its
// images: by scaling a larger one down, or the largest up by at most `maxEnlargement`.
[[nodiscard]] std::vector<std::uint32_t> IconThemeSizes(const std::vector<ByteView>& images,
                                                        std::span<const std::uint32_t> standardSizes,
                                                        std::uint32_t maxEnlargement);

} // namespace harvix
