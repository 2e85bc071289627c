// The picture decoders on arbitrary bytes: the input read as a bitmap file, as an icon
// or cursor file (every image, the thumbnail choice and scaling, enlarging, and the icon
// file rebuilt from its images), as one icon image and as a PNG; every picture that
// decodes is written as PNG again. The same bytes as an animated cursor or a cursor made
// ready for a cursor theme (its frames decoded and planned at one size), and as the
// install.inf of a cursor pack.
#include "cursortheme/CursorSource.h"
#include "cursortheme/InstallInf.h"
#include "cursortheme/ThemePlan.h"
#include "image/Dib.h"
#include "image/IconFile.h"
#include "image/Png.h"
#include "image/Thumbnail.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void encode(const harvix::Result<harvix::RgbaImage>& picture) {
    if (picture && picture->width <= 512 && picture->height <= 512)
        (void)harvix::EncodePng(*picture);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace harvix;
    const ByteView bytes(data, size);
    encode(DecodeBitmapFile(bytes));
    encode(DecodeIconImage(bytes));
    if (auto dir = ReadIconDirectory(bytes)) {
        std::vector<ByteView> images;
        for (const IconDirEntry& entry : dir->entries) {
            auto image = IconImageBytes(bytes, entry);
            if (!image)
                continue;
            (void)ReadIconImageInfo(*image);
            images.push_back(*image);
        }
        encode(MakeThumbnail(images, 24));
        // Enlarged (at most twice, to 300 at most) and rebuilt as an icon file.
        encode(MakeIconPicture(images, 300, 2));
        (void)IconFileOfImages(images);
    }
    if (auto cursor = ReadCursorFile(bytes)) {
        const std::uint32_t sizes[] = {24};
        (void)PlanCursorImages(*cursor, sizes);
    }
    (void)ReadInstallInf(bytes);
    return 0;
}
