// Whole picture files kept as resource data: modern programs and themes keep their
// pictures as complete PNG, JPEG or GIF files (and sometimes BMP or ICO files, with their
// file headers) in RCDATA or in resource types of their own ("PNG", "IMAGE", ...). A
// resource is taken for such a file only when its bytes begin with the file's signature,
// its header gives the picture's width and height, and its structure reaches the file's
// end within the bytes: a PNG's chunks up to IEND, a JPEG's markers up to the start of
// its scan and its end-of-image marker at the end, a GIF's trailer at the end, a BMP's
// or ICO's stated sizes within the bytes. Zero bytes after the end (the padding of a
// 16-bit module's resources) are allowed. The pictures are not decoded.
// Input is untrusted: read through ByteCursor only, every failure is a value.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace harvix {

enum class ImageFileType { Png, Jpeg, Gif, Bmp, Ico };

// What a whole picture file says of itself.
struct ImageFileFacts {
    ImageFileType type = ImageFileType::Png;
    std::uint32_t width = 0;
    std::uint32_t height = 0; // of an ICO file: its largest image's
};

// ".png", ".jpg", ".gif", ".bmp", ".ico".
[[nodiscard]] std::string_view ImageFileExtension(ImageFileType type);

// True when the bytes begin with the signature of one of the picture files (whether or
// not the rest is sound): what makes a resource one to judge as a picture at all.
[[nodiscard]] bool HasImageFileSignature(std::span<const std::uint8_t> bytes);

// The picture file whose signature the bytes begin with (whether or not the rest is
// sound); nothing when they begin with none.
[[nodiscard]] std::optional<ImageFileType> ImageFileSignature(std::span<const std::uint8_t> bytes);

// Recognises a whole picture file and reads its size. Fails (NotLoadable) for bytes that
// begin with none of the signatures, and otherwise with the first thing that makes them
// no whole picture file (Truncated: "PNG chunks cut short"; Malformed: "GIF of 0 x 16
// pixels", "JPEG without its end").
[[nodiscard]] Result<ImageFileFacts> ReadImageFile(std::span<const std::uint8_t> bytes);

} // namespace harvix
