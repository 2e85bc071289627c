// The pictures of Windows 1.x and 2.x modules, and their standard forms.
//
// Icons and cursors (resource types 3 and 1 of a 16-bit module, without groups) begin
// with a format word: its low byte is 1 for an icon and 3 for a cursor, its high byte 0
// for the device-independent form (stored at twice the size a screen shows: a 32 x 32
// icon as 64 x 64), 1 for the device-dependent form, 2 for both, one after the other.
// Each image is a 12-byte header - hot spot x and y (a cursor's; unused in an icon),
// width and height in pixels, bytes per row, and a word a cursor uses for its colour -
// then two monochrome planes of height x bytes-per-row bytes, rows from the top: first
// the plane ANDed with the screen, then the plane XORed onto it.
//
// Bitmaps (resource type 2) are device-dependent: a 16-byte header - a type byte 2, a
// byte of flags (0x80, 0x01: discardable and the like), the bitmap type 0, width, height,
// bytes per row, planes and bits per pixel (a byte each) and four bytes of 0 - then the
// rows from the top, each of the bytes per row. Windows 1.x and 2.x draw them in
// monochrome: one plane of one bit per pixel.
//
// The standard forms are those of Windows 3 and later: an icon or cursor image with an
// information header of 40 bytes, two colours (black, white), the XOR pixels and the AND
// mask, rows from the bottom, each padded to four bytes; a bitmap likewise.
// Input is untrusted: read through ByteCursor only, every failure is a value.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <span>
#include <vector>

namespace harvix {

// The form of an icon or cursor that its format word names.
enum class OldIconForm {
    DeviceIndependent = 0,
    DeviceDependent = 1,
    Both = 2,
};

// One image of an old icon or cursor.
struct OldIconImage {
    std::uint16_t hotX = 0; // a cursor's hot spot; 0 for icons
    std::uint16_t hotY = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t rowBytes = 0;
    std::span<const std::uint8_t> andPlane; // height x rowBytes, rows from the top
    std::span<const std::uint8_t> xorPlane;
};

struct OldIcon {
    bool cursor = false;
    OldIconForm form = OldIconForm::DeviceIndependent;
    std::vector<OldIconImage> images; // one, or two for the form Both (its first is the
                                      // device-independent one)
};

// The largest width and height an old image may have: what an icon file's directory can
// state (a byte, 0 for 256).
inline constexpr std::uint16_t kLargestOldImage = 256;

// True when the bytes begin with the format word of an old icon (0x0001, 0x0101, 0x0201)
// or, with `cursor`, of an old cursor (0x0003, 0x0103, 0x0203).
[[nodiscard]] bool HasOldIconFormatWord(std::span<const std::uint8_t> bytes, bool cursor);

// Reads an old icon or cursor and checks every image: a width and height of 1 to 256, at
// least the bytes per row that the width needs, both planes within the bytes. Fails
// (NotLoadable) without a format word, (Malformed) for a size that can't be right,
// (Truncated) when a plane lies past the end.
[[nodiscard]] Result<OldIcon> ReadOldIcon(std::span<const std::uint8_t> bytes, bool cursor);

// The image in the standard form of an icon or cursor image (without a cursor's hot spot).
[[nodiscard]] std::vector<std::uint8_t> StandardIconImage(const OldIconImage& image);

// A device-dependent bitmap.
struct OldBitmap {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t rowBytes = 0;
    std::uint8_t planes = 0;
    std::uint8_t bitsPerPixel = 0;
    std::span<const std::uint8_t> rows; // height x rowBytes, from the top
};

// The size of the bitmap header.
inline constexpr std::uint64_t kOldBitmapHeaderSize = 16;

// True when the bytes begin as a device-dependent bitmap does: type byte 2, flags of no
// other bits than 0x81, bitmap type 0. (A device-independent bitmap begins with the
// size of its header, 12 or more.)
[[nodiscard]] bool IsOldBitmap(std::span<const std::uint8_t> bytes);

// Reads a device-dependent bitmap: width and height of at least 1, at least the bytes
// per row that the width needs, the rows within the bytes, and a monochrome picture
// (one plane of one bit; some tools wrote 0 for either). Fails (NotLoadable) for what is
// no such bitmap, (Malformed), (Truncated) or (Unsupported: colour planes).
[[nodiscard]] Result<OldBitmap> ReadOldBitmap(std::span<const std::uint8_t> bytes);

// The bitmap as a device-independent one: a 40-byte header, two colours, the rows from
// the bottom (what a bitmap resource of Windows 3 holds; a .bmp file is a file header
// and these bytes).
[[nodiscard]] std::vector<std::uint8_t> StandardBitmap(const OldBitmap& bitmap);

} // namespace harvix
