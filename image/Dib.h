// Device-independent bitmaps: the pictures of .bmp files and the images of icons and
// cursors. Every form Windows writes is read: 1, 4, 8, 16, 24 and 32 bits per pixel;
// uncompressed, bit-field and run-length (RLE4, RLE8) pixels; rows stored bottom-up or
// top-down; the information headers of 12, 40, 52, 56, 64, 108 and 124 bytes, read by
// format/Dib.h as the writers read them. Input is untrusted: it is read through
// ByteCursor and every size is checked before anything is allocated.
#pragma once

#include "image/Image.h"
#include "common/Result.h"

#include <cstdint>
#include <span>

namespace harvix {

using ByteView = std::span<const std::uint8_t>;

// A .bmp file: the 14-byte file header ("BM") and a bitmap. A 32-bit bitmap whose alpha
// bytes are all zero is opaque (the bytes were unused, as the format allows), unless its
// masks name an alpha channel: then it means its alpha as it stands.
[[nodiscard]] Result<RgbaImage> DecodeBitmapFile(ByteView file);

// The picture of an icon or cursor image in bitmap form: the stored height covers the
// colour bitmap and the AND mask below it. Transparency comes from 32-bit alpha, or
// from the mask when the image has no alpha or its alpha is all zero.
[[nodiscard]] Result<RgbaImage> DecodeIconDib(ByteView dib);

} // namespace harvix
