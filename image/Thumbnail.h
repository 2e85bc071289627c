// The picture a file manager shows for an icon: the image that suits the thumbnail size
// best, made to fit.
#pragma once

#include "image/IconFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harvix::image {

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

} // namespace harvix::image
