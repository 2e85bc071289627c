#include "image/Thumbnail.h"

#include "image/Scale.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>

namespace harvix {

namespace {

// Up to the large size (256), a file manager shows a thumbnail smaller than its cell as
// it is. The x-large and xx-large sizes (512, 1024) fill a cell of that size on large
// and high-density screens: there an icon smaller than the cell is shown at up to twice
// its own size, so that a 256-pixel icon fills an x-large cell, and never more, so that
// a 32-pixel icon does not turn into a blur.
constexpr std::uint32_t kLargestSizeShownAsIs = 256;
constexpr std::uint32_t kMostEnlargement = 2;

} // namespace

std::vector<std::size_t> ThumbnailOrder(const std::vector<ByteView>& images, std::uint32_t box) {
    struct Candidate {
        std::size_t index;
        std::uint32_t side;
        std::uint32_t bits;
    };
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < images.size(); ++i) {
        auto info = ReadIconImageInfo(images[i]);
        if (info && info->width > 0 && info->height > 0)
            candidates.push_back({i, std::max(info->width, info->height), info->bitCount});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [box](const Candidate& a, const Candidate& b) {
        const bool aLarge = a.side >= box;
        const bool bLarge = b.side >= box;
        if (aLarge != bLarge)
            return aLarge;
        if (a.side != b.side)
            return aLarge ? a.side < b.side : a.side > b.side;
        return a.bits > b.bits;
    });
    std::vector<std::size_t> order;
    order.reserve(candidates.size());
    for (const Candidate& c : candidates)
        order.push_back(c.index);
    return order;
}

Result<RgbaImage> MakeThumbnail(const std::vector<ByteView>& images, std::uint32_t box) {
    return MakeIconPicture(images, box, box > kLargestSizeShownAsIs ? kMostEnlargement : 1);
}

Result<RgbaImage> LargestIconPicture(const std::vector<ByteView>& images) {
    // No image is as large as the largest box: the order is the largest first, and
    // nothing is scaled.
    return MakeIconPicture(images, std::numeric_limits<std::uint32_t>::max(), 1);
}

std::vector<std::uint32_t> IconThemeSizes(const std::vector<ByteView>& images,
                                          std::span<const std::uint32_t> standardSizes,
                                          std::uint32_t maxEnlargement) {
    std::set<std::uint32_t> sizes;
    std::uint64_t largest = 0;
    for (const ByteView image : images) {
        auto info = ReadIconImageInfo(image);
        if (!info || info->width == 0 || info->height == 0)
            continue;
        const std::uint32_t side = std::max(info->width, info->height);
        sizes.insert(side);
        largest = std::max<std::uint64_t>(largest, side);
    }
    if (largest == 0)
        return {};
    for (const std::uint32_t size : standardSizes)
        if (size <= largest * maxEnlargement)
            sizes.insert(size);
    return {sizes.begin(), sizes.end()};
}

Result<RgbaImage> MakeIconPicture(const std::vector<ByteView>& images, std::uint32_t box,
                                  std::uint32_t maxEnlargement) {
    std::optional<Error> first;
    for (std::size_t index : ThumbnailOrder(images, box)) {
        auto picture = DecodeIconImage(images[index]);
        if (!picture) {
            if (!first)
                first = picture.error();
            continue;
        }
        const auto [w, h] = GrowInto(picture->width, picture->height, box, maxEnlargement);
        return Resize(*picture, w, h);
    }
    if (first)
        return *first;
    return makeError(ErrorKind::NotFound, "no icon image to show");
}

} // namespace harvix
