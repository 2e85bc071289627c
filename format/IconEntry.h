// The one rule by which an entry of an icon or cursor group is judged, for everyone who
// reads groups: the writers of .ico and .cur files and of the per-size icon files, and
// the thumbnails. An entry whose own values are those of an image an icon file can
// describe stands as it is, but for its width and height: those are the image's own
// whenever its header tells them, since a group may state another size than the image
// it names (a 16 x 16 image stated as 32 x 32). An entry whose planes, bit count, colour
// count or image size are zero or cannot be right (resource compilers of Windows 3.0
// wrote "4 planes, 1 bit" for a 16-colour image; some write 255 or 256 colours for an
// 8-bit image) is judged by the image it names: it is valid when the image is a sound
// bitmap or PNG picture, and a directory written for it states the image's own values.
// Input is untrusted: read through ByteCursor only.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace harvix {

using ByteView = std::span<const std::uint8_t>;

// The eight bytes every PNG stream begins with.
[[nodiscard]] bool IsPngStream(ByteView bytes);

// What an icon or cursor image says of itself (a cursor's image without its hot spot).
struct IconImageFacts {
    bool png = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;   // the picture's: half the stored height of a bitmap image
    std::uint32_t bitCount = 0; // bits per pixel (a PNG's: bit depth times channels)

    // The colour count an icon directory states for it: 2 and 16 for 1 and 4 bits, 0
    // for 8 bits and more (and for PNG images).
    [[nodiscard]] std::uint8_t directoryColourCount() const;
};

// A picture's width and height in pixels.
struct PixelSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The size an icon or cursor image (a cursor's without its hot spot) says it has, read
// from its header alone: a bitmap's width and half its stored height (the colour pixels
// and the mask below them), or a PNG stream's header chunk. Nothing when the bytes begin
// with neither, state a side of 0 or rows stored top-down; the pixels are not checked.
[[nodiscard]] std::optional<PixelSize> ReadIconImageSize(ByteView image);

// A side of a picture as the one-byte field of an icon or cursor directory states it: 0
// stands for 256 pixels, and for any larger side, which no byte can hold.
[[nodiscard]] constexpr std::uint8_t DirectorySide(std::uint32_t pixels) {
    return pixels >= 256 ? std::uint8_t{0} : static_cast<std::uint8_t>(pixels);
}

// Reads an icon image and checks that it is a sound picture: a PNG stream with a
// proper header, or a bitmap of 1 to 32 bits per pixel stored bottom-up with its height
// doubled for the mask, uncompressed or with bit fields, whose colour table and colour
// pixels lie within the image (the AND mask may be missing: such an image is opaque).
// The error says why not, in a few words ("no bitmap or PNG picture", "colour pixels
// cut short").
[[nodiscard]] Result<IconImageFacts> ReadIconImageFacts(ByteView image);

// ---------------------------------------------------------------------------------------
// Icon groups (resource type 14): a 6-byte header, then 14-byte entries.

struct IconGroupEntry {
    std::uint8_t width = 0;  // 0 stands for 256
    std::uint8_t height = 0; // 0 stands for 256
    std::uint8_t colourCount = 0;
    std::uint16_t planes = 0;
    std::int16_t bitCount = 0;
    std::int32_t size = 0; // of the image resource
    std::uint16_t id = 0;  // the identifier of the image resource (type 3)
};

// Entry `index` of an icon group; nothing when the group ends before it.
[[nodiscard]] std::optional<IconGroupEntry> ReadIconGroupEntry(ByteView group, int index);

// What an icon file's directory states for an image: the entry's own values, or those
// of its image when the entry was judged by it. Width and height are the image's own
// (0 for 256 pixels and more) whenever its header tells them, else the entry's.
struct IconDirectoryValues {
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colourCount = 0;
    std::uint16_t planes = 1;
    std::int16_t bitCount = 0;
};

struct IconEntryVerdict {
    bool valid = false;
    bool byImage = false;        // the entry's values were replaced by its image's
    bool imageMissing = false;   // it was to be judged by an image the module does not hold
    IconDirectoryValues values;  // for a valid entry
    std::string problem;         // for an invalid one: why, in a few words
};

// Whether the entry's own values are those an icon file may state: at most 16 colours,
// one plane, 1, 4, 8, 16, 24 or 32 bits per pixel, an image size above 0.
[[nodiscard]] bool IconEntryStandsAsStated(const IconGroupEntry& entry);

// The rule. `image` is the bytes of the image the entry names; empty bytes are an image
// that is not there, which only an entry that does not stand as stated is refused for
// (the writers say so of the others when they come to write it). (The files written
// state every image's real size in bytes, whatever its entry says.)
[[nodiscard]] IconEntryVerdict JudgeIconEntry(const IconGroupEntry& entry, ByteView image);

// ---------------------------------------------------------------------------------------
// Cursor groups (resource type 12): a 6-byte header, then 14-byte entries. A cursor
// image resource begins with the hot spot (x and y, 16 bits each), then the picture.

struct CursorGroupEntry {
    std::int16_t width = 0;
    std::int16_t doubledHeight = 0; // meant to hold both masks; some compilers store the plain height
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0; // not used
    std::int32_t size = 0;
    std::uint16_t id = 0; // the identifier of the image resource (type 1)
};

[[nodiscard]] std::optional<CursorGroupEntry> ReadCursorGroupEntry(ByteView group, int index);

struct CursorEntryVerdict {
    bool valid = false;
    bool byImage = false;
    std::uint8_t width = 0;  // what a .cur directory states (0 stands for 256)
    std::uint8_t height = 0;
    std::string problem;
};

// The same rule for a cursor entry and its image resource (with the hot spot; it must be
// there). An entry stands as stated with a width of 1 to 255, a doubled height of 1 to
// 127, one plane and an image size above 0; its directory width and height are then the
// picture's own whenever its header tells them (0 for 256 pixels and more), else the
// entry's width and half its doubled height. Otherwise (no planes, no image size, or a
// size the entry states otherwise than the picture, as for cursors 64 pixels high) the
// picture decides: the entry is valid when it is a sound picture of at most 256 x 256
// pixels, whose size the directory then states.
[[nodiscard]] CursorEntryVerdict JudgeCursorEntry(const CursorGroupEntry& entry, ByteView image);

} // namespace harvix
