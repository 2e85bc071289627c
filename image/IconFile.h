// Icon (.ico) and cursor (.cur) files: a directory of images, each a bitmap with its
// AND mask or a PNG stream.
#pragma once

#include "format/IconEntry.h"
#include "image/Dib.h"
#include "image/Image.h"
#include "common/Result.h"

#include <cstdint>
#include <span>
#include <vector>

namespace harvix {

inline constexpr std::uint16_t kIconType = 1;
inline constexpr std::uint16_t kCursorType = 2;

// One directory entry. In a cursor file the two 16-bit fields hold the hot spot.
struct IconDirEntry {
    std::uint8_t width = 0; // 0 stands for 256
    std::uint8_t height = 0;
    std::uint8_t colourCount = 0;
    std::uint16_t planesOrHotX = 0;
    std::uint16_t bitCountOrHotY = 0;
    std::uint32_t bytesInRes = 0;
    std::uint32_t imageOffset = 0;
};

struct IconDirectory {
    std::uint16_t type = kIconType;
    std::vector<IconDirEntry> entries;
};

// Whether the first bytes of a file are those of an icon or cursor file: reserved 0,
// type 1 (icon) or 2 (cursor), and at least one image.
[[nodiscard]] bool IsIconFileHead(ByteView head);

// An icon file of icon images (bitmap or PNG, as icon groups hold them), in their order:
// each directory entry states what the image's own header says (width and height, 0
// for 256 and more; the colour count of palette images; 1 plane; the bit count). Images
// whose header cannot be read are left out; empty when none is left.
[[nodiscard]] std::vector<std::uint8_t> IconFileOfImages(const std::vector<ByteView>& images);

// Reads the header and directory of an .ico or .cur file.
[[nodiscard]] Result<IconDirectory> ReadIconDirectory(ByteView file);

// The bytes of one image of the file, as its entry locates them.
[[nodiscard]] Result<ByteView> IconImageBytes(ByteView file, const IconDirEntry& entry);

// Size and colour depth of an image as the image itself says (not its directory entry),
// once it is found to be a sound picture by the rule the writers judge images by.
using IconImageInfo = IconImageFacts;
[[nodiscard]] Result<IconImageInfo> ReadIconImageInfo(ByteView image);

// The picture of one image, bitmap or PNG.
[[nodiscard]] Result<RgbaImage> DecodeIconImage(ByteView image);

} // namespace harvix
