#include "image/IconFile.h"

#include "common/ByteCursor.h"
#include "image/Png.h"

#include <string>

namespace harvix {

namespace {

void putLittle(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

bool IsIconFileHead(ByteView head) {
    ByteCursor c(head);
    auto reserved = c.u16();
    auto type = c.u16();
    auto count = c.u16();
    return reserved && type && count && *reserved == 0 && (*type == kIconType || *type == kCursorType) &&
           *count != 0;
}

std::vector<std::uint8_t> IconFileOfImages(const std::vector<ByteView>& images) {
    struct Kept {
        ByteView bytes;
        IconImageInfo info;
    };
    std::vector<Kept> kept;
    for (const ByteView image : images) {
        // Every offset and size must fit the directory's 32-bit fields.
        if (image.empty() || image.size() > (std::uint64_t{1} << 30))
            continue;
        if (auto info = ReadIconImageInfo(image); info && kept.size() < 0xFFFF)
            kept.push_back({image, *info});
    }
    if (kept.empty())
        return {};
    std::vector<std::uint8_t> out;
    putLittle(out, 0, 2);
    putLittle(out, kIconType, 2);
    putLittle(out, kept.size(), 2);
    std::uint64_t offset = 6 + 16 * std::uint64_t{kept.size()};
    const auto side = [](std::uint32_t length) { return length >= 256 ? 0u : length; };
    for (const Kept& k : kept) {
        out.push_back(static_cast<std::uint8_t>(side(k.info.width)));
        out.push_back(static_cast<std::uint8_t>(side(k.info.height)));
        out.push_back(static_cast<std::uint8_t>(k.info.bitCount < 8 ? 1u << k.info.bitCount : 0u));
        out.push_back(0);
        putLittle(out, 1, 2);
        putLittle(out, k.info.bitCount, 2);
        putLittle(out, k.bytes.size(), 4);
        putLittle(out, offset, 4);
        offset += k.bytes.size();
    }
    for (const Kept& k : kept)
        out.insert(out.end(), k.bytes.begin(), k.bytes.end());
    return out;
}

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
    return ReadIconImageFacts(image);
}

Result<RgbaImage> DecodeIconImage(ByteView image) {
    if (IsPng(image))
        return DecodePng(image, kMaxIconSide);
    return DecodeIconDib(image);
}

} // namespace harvix
