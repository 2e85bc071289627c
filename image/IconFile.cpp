#include "image/IconFile.h"

#include "common/ByteCursor.h"
#include "image/Png.h"

#include <string>

namespace harvix::image {

Result<IconDirectory> ReadIconDirectory(ByteView file) {
    ByteCursor c(file);
    auto reserved = c.u16();
    auto type = c.u16();
    auto count = c.u16();
    if (!count)
        return makeError(ErrorKind::NotLoadable, "too short for an icon or cursor file");
    if (*reserved != 0 || (*type != kIconType && *type != kCursorType))
        return makeError(ErrorKind::NotLoadable, "not an icon or cursor file");
    if (*count == 0)
        return makeError(ErrorKind::Malformed, "the directory holds no images");
    if (auto s = c.checkArray(*count, 16); !s)
        return makeError(ErrorKind::Truncated, "the directory of " + std::to_string(*count) +
                                                   " images is cut short");
    IconDirectory dir;
    dir.type = *type;
    dir.entries.reserve(*count);
    for (std::uint16_t i = 0; i < *count; ++i) {
        IconDirEntry e;
        e.width = c.u8().valueOr(0);
        e.height = c.u8().valueOr(0);
        e.colourCount = c.u8().valueOr(0);
        (void)c.skip(1);
        e.planesOrHotX = c.u16().valueOr(0);
        e.bitCountOrHotY = c.u16().valueOr(0);
        e.bytesInRes = c.u32().valueOr(0);
        e.imageOffset = c.u32().valueOr(0);
        dir.entries.push_back(e);
    }
    return dir;
}

Result<ByteView> IconImageBytes(ByteView file, const IconDirEntry& entry) {
    ByteCursor c(file);
    auto bytes = c.slice(entry.imageOffset, entry.bytesInRes);
    if (!bytes)
        return makeError(ErrorKind::Truncated, "the image lies past the end of the file");
    if (entry.bytesInRes == 0)
        return makeError(ErrorKind::Malformed, "the image is empty");
    return *bytes;
}

Result<IconImageInfo> ReadIconImageInfo(ByteView image) {
    IconImageInfo info;
    if (IsPng(image)) {
        auto h = ReadPngHeader(image);
        if (!h)
            return h.error();
        info.png = true;
        info.width = h->width;
        info.height = h->height;
        info.bitCount = h->bitsPerPixel;
        return info;
    }
    auto h = ReadDibHeader(image);
    if (!h)
        return h.error();
    info.width = h->width;
    info.height = h->height / 2;
    info.bitCount = h->bitCount;
    return info;
}

Result<RgbaImage> DecodeIconImage(ByteView image) {
    if (IsPng(image))
        return DecodePng(image, kMaxIconSide);
    return DecodeIconDib(image);
}

} // namespace harvix::image
