#include "format/OldWindows.h"

#include "common/ByteCursor.h"

#include <algorithm>

namespace harvix {

namespace {

constexpr std::uint8_t kIconWord = 0x01;
constexpr std::uint8_t kCursorWord = 0x03;
constexpr std::uint64_t kImageHeaderSize = 12;
constexpr std::uint8_t kOldBitmapType = 0x02;
constexpr std::uint8_t kOldBitmapFlags = 0x81;

std::uint64_t BytesForWidth(std::uint64_t width) {
    return (width + 7) / 8;
}

// The bytes of one row of a standard monochrome picture: the width's bits padded to four bytes.
std::uint64_t StandardStride(std::uint64_t width) {
    return (width + 31) / 32 * 4;
}

void PutU16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

// A 40-byte information header of a monochrome picture `storedHeight` rows high, and its
// two colours: black for 0 bits, white for 1 bits, as a monochrome screen shows them.
void PutMonochromeHeader(std::vector<std::uint8_t>& out, std::uint32_t width, std::uint32_t storedHeight,
                         std::uint32_t imageSize) {
    PutU32(out, 40);
    PutU32(out, width);
    PutU32(out, storedHeight);
    PutU16(out, 1); // planes
    PutU16(out, 1); // bits per pixel
    PutU32(out, 0); // uncompressed
    PutU32(out, imageSize);
    PutU32(out, 0); // no resolution
    PutU32(out, 0);
    PutU32(out, 2); // colours used
    PutU32(out, 0);
    PutU32(out, 0x00000000); // black
    PutU32(out, 0x00FFFFFF); // white
}

// Appends the rows of a plane (from the top, `rowBytes` apart) from the bottom up, each
// padded to four bytes; the bits past the width are cleared.
void PutRowsFromTheBottom(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> plane, std::uint32_t width,
                          std::uint32_t height, std::uint32_t rowBytes) {
    const std::uint64_t used = BytesForWidth(width);
    const std::uint64_t stride = StandardStride(width);
    const auto lastBits = static_cast<unsigned>(width % 8);
    const auto lastMask = static_cast<std::uint8_t>(lastBits == 0 ? 0xFF : 0xFF << (8 - lastBits));
    for (std::uint32_t row = height; row-- > 0;) {
        const auto line = plane.subspan(std::uint64_t{row} * rowBytes, used);
        const std::size_t start = out.size();
        out.insert(out.end(), line.begin(), line.end());
        out.back() = static_cast<std::uint8_t>(out.back() & lastMask);
        out.resize(start + stride, 0);
    }
}

} // namespace

bool HasOldIconFormatWord(std::span<const std::uint8_t> bytes, bool cursor) {
    ByteCursor c(bytes);
    const auto low = c.peekAt<std::uint8_t>(0);
    const auto high = c.peekAt<std::uint8_t>(1);
    return low && high && *low == (cursor ? kCursorWord : kIconWord) && *high <= 2;
}

Result<OldIcon> ReadOldIcon(std::span<const std::uint8_t> bytes, bool cursor) {
    if (!HasOldIconFormatWord(bytes, cursor))
        return makeError(ErrorKind::NotLoadable, cursor ? "no cursor of Windows 1 or 2" : "no icon of Windows 1 or 2");
    OldIcon icon;
    icon.cursor = cursor;
    icon.form = static_cast<OldIconForm>(ByteCursor(bytes).peekAt<std::uint8_t>(1).valueOr(0));
    const int count = icon.form == OldIconForm::Both ? 2 : 1;
    ByteCursor c(bytes);
    std::uint64_t at = 2;
    for (int i = 0; i < count; ++i) {
        auto header = c.slice(at, kImageHeaderSize);
        if (!header)
            return makeError(ErrorKind::Truncated, "image header cut short");
        ByteCursor h(*header);
        OldIconImage image;
        image.hotX = h.u16().valueOr(0);
        image.hotY = h.u16().valueOr(0);
        image.width = h.u16().valueOr(0);
        image.height = h.u16().valueOr(0);
        image.rowBytes = h.u16().valueOr(0);
        if (image.width == 0 || image.height == 0 || image.width > kLargestOldImage ||
            image.height > kLargestOldImage)
            return makeError(ErrorKind::Malformed, "image of " + std::to_string(image.width) + " x " +
                                                       std::to_string(image.height) + " pixels");
        if (image.rowBytes < BytesForWidth(image.width))
            return makeError(ErrorKind::Malformed, std::to_string(image.rowBytes) + " bytes a row for " +
                                                       std::to_string(image.width) + " pixels");
        const std::uint64_t planeSize = std::uint64_t{image.rowBytes} * image.height;
        at += kImageHeaderSize;
        auto andPlane = c.slice(at, planeSize);
        auto xorPlane = c.slice(at + planeSize, planeSize);
        if (!andPlane || !xorPlane)
            return makeError(ErrorKind::Truncated, "image planes cut short");
        image.andPlane = *andPlane;
        image.xorPlane = *xorPlane;
        at += 2 * planeSize;
        icon.images.push_back(image);
    }
    return icon;
}

std::vector<std::uint8_t> StandardIconImage(const OldIconImage& image) {
    const std::uint64_t planeBytes = StandardStride(image.width) * image.height;
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(48 + 2 * planeBytes));
    PutMonochromeHeader(out, image.width, 2u * image.height, static_cast<std::uint32_t>(2 * planeBytes));
    PutRowsFromTheBottom(out, image.xorPlane, image.width, image.height, image.rowBytes);
    PutRowsFromTheBottom(out, image.andPlane, image.width, image.height, image.rowBytes);
    return out;
}

bool IsOldBitmap(std::span<const std::uint8_t> bytes) {
    ByteCursor c(bytes);
    const auto type = c.peekAt<std::uint8_t>(0);
    const auto flags = c.peekAt<std::uint8_t>(1);
    const auto bitmapType = c.peekAt<std::uint16_t>(2);
    return type && flags && bitmapType && *type == kOldBitmapType && (*flags & ~kOldBitmapFlags) == 0 &&
           *bitmapType == 0;
}

Result<OldBitmap> ReadOldBitmap(std::span<const std::uint8_t> bytes) {
    if (!IsOldBitmap(bytes))
        return makeError(ErrorKind::NotLoadable, "no bitmap of Windows 1 or 2");
    auto header = ByteCursor(bytes).slice(0, kOldBitmapHeaderSize);
    if (!header)
        return makeError(ErrorKind::Truncated, "bitmap header cut short");
    ByteCursor h(*header);
    OldBitmap bitmap;
    bitmap.width = h.peekAt<std::uint16_t>(4).valueOr(0);
    bitmap.height = h.peekAt<std::uint16_t>(6).valueOr(0);
    bitmap.rowBytes = h.peekAt<std::uint16_t>(8).valueOr(0);
    bitmap.planes = h.peekAt<std::uint8_t>(10).valueOr(0);
    bitmap.bitsPerPixel = h.peekAt<std::uint8_t>(11).valueOr(0);
    // The header's sizes are signed 16-bit fields.
    if (bitmap.width == 0 || bitmap.height == 0 || bitmap.width > 0x7FFF || bitmap.height > 0x7FFF)
        return makeError(ErrorKind::Malformed,
                         "bitmap of " + std::to_string(bitmap.width) + " x " + std::to_string(bitmap.height) + " pixels");
    if (bitmap.planes > 1 || bitmap.bitsPerPixel > 1)
        return makeError(ErrorKind::Unsupported, std::to_string(bitmap.planes) + " planes of " +
                                                     std::to_string(bitmap.bitsPerPixel) + " bits per pixel");
    if (bitmap.rowBytes < BytesForWidth(bitmap.width))
        return makeError(ErrorKind::Malformed, std::to_string(bitmap.rowBytes) + " bytes a row for " +
                                                   std::to_string(bitmap.width) + " pixels");
    auto rows = ByteCursor(bytes).slice(kOldBitmapHeaderSize, std::uint64_t{bitmap.rowBytes} * bitmap.height);
    if (!rows)
        return makeError(ErrorKind::Truncated, "bitmap rows cut short");
    bitmap.rows = *rows;
    return bitmap;
}

std::vector<std::uint8_t> StandardBitmap(const OldBitmap& bitmap) {
    const std::uint64_t pixels = StandardStride(bitmap.width) * bitmap.height;
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(48 + pixels));
    PutMonochromeHeader(out, bitmap.width, bitmap.height, static_cast<std::uint32_t>(pixels));
    PutRowsFromTheBottom(out, bitmap.rows, bitmap.width, bitmap.height, bitmap.rowBytes);
    return out;
}

} // namespace harvix
