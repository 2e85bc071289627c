#include "format/Signature.h"

#include "common/ByteCursor.h"

#include <algorithm>
#include <array>
#include <string>

namespace harvix {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kLargestPngSide = 0x7FFFFFFF;

bool StartsWith(Bytes bytes, std::span<const std::uint8_t> prefix) {
    auto head = ByteCursor(bytes).slice(0, prefix.size());
    return head && std::equal(head->begin(), head->end(), prefix.begin());
}
bool StartsWith(Bytes bytes, std::string_view prefix) {
    auto head = ByteCursor(bytes).slice(0, prefix.size());
    return head && std::equal(head->begin(), head->end(), prefix.begin(),
                              [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

// A big-endian integer of `size` bytes at `offset` (PNG and JPEG store them so).
Result<std::uint32_t> BigEndian(Bytes bytes, std::uint64_t offset, unsigned size) {
    auto field = ByteCursor(bytes).slice(offset, size);
    if (!field)
        return field.error();
    std::uint32_t value = 0;
    for (std::uint8_t b : *field)
        value = value << 8 | b;
    return value;
}

// The bytes without the zeros after their end.
Bytes WithoutTrailingZeros(Bytes bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && ByteCursor(bytes).peekAt<std::uint8_t>(end - 1).valueOr(1) == 0)
        --end;
    return bytes.first(end);
}

Error Truncated(const char* what) {
    return makeError(ErrorKind::Truncated, what);
}
Error Malformed(std::string what) {
    return makeError(ErrorKind::Malformed, std::move(what));
}
Error Size(const char* type, std::uint64_t width, std::uint64_t height) {
    return Malformed(std::string(type) + " of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
}

Result<ImageFileFacts> ReadPng(Bytes bytes) {
    // Chunks: length (big-endian), type, data, CRC; IHDR first, IEND last.
    std::uint64_t at = kPngSignature.size();
    ImageFileFacts facts{ImageFileType::Png, 0, 0};
    bool first = true;
    for (;;) {
        auto length = BigEndian(bytes, at, 4);
        auto type = ByteCursor(bytes).slice(at + 4, 4);
        if (!length || !type)
            return Truncated("PNG chunks cut short");
        if (*length > kLargestPngSide)
            return Malformed("PNG chunk of " + std::to_string(*length) + " bytes");
        const std::string name(type->begin(), type->end());
        if (first) {
            if (name != "IHDR" || *length != 13)
                return Malformed("PNG without its header chunk");
            auto width = BigEndian(bytes, at + 8, 4);
            auto height = BigEndian(bytes, at + 12, 4);
            if (!width || !height)
                return Truncated("PNG header cut short");
            if (*width == 0 || *height == 0 || *width > kLargestPngSide || *height > kLargestPngSide)
                return Size("PNG", *width, *height);
            facts.width = *width;
            facts.height = *height;
            first = false;
        }
        const std::uint64_t next = at + 12 + *length;
        if (next > bytes.size())
            return Truncated("PNG chunks cut short");
        if (name == "IEND")
            return facts;
        at = next;
    }
}

bool IsStartOfFrame(std::uint8_t marker) {
    // SOF0 to SOF15, but for DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

Result<ImageFileFacts> ReadJpeg(Bytes bytes) {
    ImageFileFacts facts{ImageFileType::Jpeg, 0, 0};
    ByteCursor c(bytes);
    std::uint64_t at = 2; // after SOI
    for (;;) {
        if (c.peekAt<std::uint8_t>(at).valueOr(0) != 0xFF)
            return c.contains(at, 1) ? Malformed("JPEG marker expected") : Truncated("JPEG segments cut short");
        while (c.peekAt<std::uint8_t>(at).valueOr(0) == 0xFF) // fill bytes
            ++at;
        auto marker = c.peekAt<std::uint8_t>(at);
        if (!marker)
            return Truncated("JPEG segments cut short");
        ++at;
        // Markers without a length: TEM and the restart markers.
        if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7))
            continue;
        if (*marker == 0xD8 || *marker == 0xD9)
            return Malformed("JPEG without a picture");
        auto length = BigEndian(bytes, at, 2);
        if (!length)
            return Truncated("JPEG segments cut short");
        if (*length < 2)
            return Malformed("JPEG segment of " + std::to_string(*length) + " bytes");
        if (IsStartOfFrame(*marker)) {
            auto height = BigEndian(bytes, at + 3, 2);
            auto width = BigEndian(bytes, at + 5, 2);
            if (!height || !width || *length < 8)
                return Truncated("JPEG frame header cut short");
            // A height of 0 is left for a later marker to state; no size is known then.
            if (*width == 0 || *height == 0)
                return Size("JPEG", *width, *height);
            facts.width = *width;
            facts.height = *height;
        }
        if (!c.contains(at, *length))
            return Truncated("JPEG segments cut short");
        at += *length;
        if (*marker == 0xDA) { // start of scan: the coded picture follows up to the end
            if (facts.width == 0)
                return Malformed("JPEG scan before its frame header");
            const Bytes whole = WithoutTrailingZeros(bytes);
            if (whole.size() < at + 2 || BigEndian(whole, whole.size() - 2, 2).valueOr(0) != 0xFFD9)
                return Truncated("JPEG without its end");
            return facts;
        }
    }
}

Result<ImageFileFacts> ReadGif(Bytes bytes) {
    ByteCursor c(bytes);
    auto width = c.peekAt<std::uint16_t>(6);
    auto height = c.peekAt<std::uint16_t>(8);
    if (!width || !height)
        return Truncated("GIF header cut short");
    if (*width == 0 || *height == 0)
        return Size("GIF", *width, *height);
    // The blocks after the screen descriptor (13 bytes) and its colour table: extensions
    // (0x21) and images (0x2C), each with data in sub-blocks of a length byte and that
    // many bytes, ended by an empty one; the trailer (0x3B) ends the file.
    const auto colourTable = [](std::uint8_t flags) -> std::uint64_t {
        return (flags & 0x80) != 0 ? 3u * (2u << (flags & 7)) : 0u;
    };
    std::uint64_t at = 13 + colourTable(c.peekAt<std::uint8_t>(10).valueOr(0));
    const auto skipSubBlocks = [&]() {
        for (;;) {
            auto length = c.peekAt<std::uint8_t>(at);
            if (!length)
                return false;
            at += 1 + std::uint64_t{*length};
            if (*length == 0)
                return true;
        }
    };
    for (;;) {
        auto block = c.peekAt<std::uint8_t>(at);
        if (!block)
            return Truncated("GIF without its trailer");
        if (*block == 0x3B)
            return ImageFileFacts{ImageFileType::Gif, *width, *height};
        if (*block == 0x21) {
            at += 2; // introducer and label
        } else if (*block == 0x2C) {
            auto flags = c.peekAt<std::uint8_t>(at + 9);
            if (!flags)
                return Truncated("GIF image cut short");
            at += 10 + colourTable(*flags) + 1; // descriptor, colour table, code size
        } else {
            return Malformed("GIF block " + std::to_string(*block));
        }
        if (!skipSubBlocks())
            return Truncated("GIF without its trailer");
    }
}

Result<ImageFileFacts> ReadBmp(Bytes bytes) {
    ByteCursor c(bytes);
    auto fileSize = c.peekAt<std::uint32_t>(2);
    auto pixelOffset = c.peekAt<std::uint32_t>(10);
    auto headerSize = c.peekAt<std::uint32_t>(14);
    if (!fileSize || !pixelOffset || !headerSize)
        return Truncated("BMP header cut short");
    const std::uint32_t hs = *headerSize;
    if (hs != 12 && hs != 40 && hs != 52 && hs != 56 && hs != 64 && hs != 108 && hs != 124)
        return Malformed("BMP information header of " + std::to_string(hs) + " bytes");
    if (!c.contains(14, hs))
        return Truncated("BMP header cut short");
    std::int64_t width = 0, height = 0;
    if (hs == 12) {
        width = c.peekAt<std::uint16_t>(18).valueOr(0);
        height = c.peekAt<std::uint16_t>(20).valueOr(0);
    } else {
        width = c.peekAt<std::int32_t>(18).valueOr(0);
        height = c.peekAt<std::int32_t>(22).valueOr(0);
        if (height < 0 && height != INT32_MIN) // rows from the top
            height = -height;
    }
    if (width <= 0 || height <= 0 || height > INT32_MAX)
        return Size("BMP", static_cast<std::uint64_t>(std::max<std::int64_t>(width, 0)),
                    static_cast<std::uint64_t>(std::max<std::int64_t>(height, 0)));
    // The file's own size must be within the bytes (a size of 0, which some writers
    // leave, stands for all of them), and its pixels must begin after the header.
    const std::uint64_t size = *fileSize == 0 ? bytes.size() : *fileSize;
    if (size > bytes.size())
        return Truncated("BMP cut short");
    if (size < 14 + std::uint64_t{hs} || *pixelOffset < 14 + std::uint64_t{hs} || *pixelOffset >= size)
        return Malformed("BMP pixels outside the file");
    return ImageFileFacts{ImageFileType::Bmp, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

Result<ImageFileFacts> ReadIco(Bytes bytes) {
    ByteCursor c(bytes);
    const std::uint16_t count = c.peekAt<std::uint16_t>(4).valueOr(0);
    if (count == 0)
        return Malformed("ICO without images");
    const std::uint64_t directoryEnd = 6 + 16 * std::uint64_t{count};
    if (!c.contains(0, directoryEnd))
        return Truncated("ICO directory cut short");
    ImageFileFacts facts{ImageFileType::Ico, 0, 0};
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = 6 + 16 * i;
        const std::uint32_t width = c.peekAt<std::uint8_t>(entry).valueOr(0);
        const std::uint32_t height = c.peekAt<std::uint8_t>(entry + 1).valueOr(0);
        const std::uint32_t size = c.peekAt<std::uint32_t>(entry + 8).valueOr(0);
        const std::uint32_t offset = c.peekAt<std::uint32_t>(entry + 12).valueOr(0);
        if (size == 0 || offset < directoryEnd || !c.contains(offset, size))
            return Truncated("ICO image outside the file");
        // A byte of 0 stands for 256 pixels.
        const std::uint32_t w = width == 0 ? 256 : width, h = height == 0 ? 256 : height;
        if (std::uint64_t{w} * h > std::uint64_t{facts.width} * facts.height) {
            facts.width = w;
            facts.height = h;
        }
    }
    return facts;
}

} // namespace

std::string_view ImageFileExtension(ImageFileType type) {
    switch (type) {
    case ImageFileType::Png:
        return ".png";
    case ImageFileType::Jpeg:
        return ".jpg";
    case ImageFileType::Gif:
        return ".gif";
    case ImageFileType::Bmp:
        return ".bmp";
    case ImageFileType::Ico:
        return ".ico";
    }
    return {};
}

namespace {

enum class Signature { None, Png, Jpeg, Gif, Bmp, Ico };

Signature SignatureOf(Bytes bytes) {
    static constexpr std::array<std::uint8_t, 3> kJpeg = {0xFF, 0xD8, 0xFF};
    static constexpr std::array<std::uint8_t, 4> kIco = {0x00, 0x00, 0x01, 0x00};
    if (StartsWith(bytes, kPngSignature))
        return Signature::Png;
    if (StartsWith(bytes, kJpeg))
        return Signature::Jpeg;
    if (StartsWith(bytes, std::string_view("GIF87a")) || StartsWith(bytes, std::string_view("GIF89a")))
        return Signature::Gif;
    if (StartsWith(bytes, std::string_view("BM")))
        return Signature::Bmp;
    if (StartsWith(bytes, kIco))
        return Signature::Ico;
    return Signature::None;
}

} // namespace

bool HasImageFileSignature(std::span<const std::uint8_t> bytes) {
    return SignatureOf(bytes) != Signature::None;
}

std::optional<ImageFileType> ImageFileSignature(std::span<const std::uint8_t> bytes) {
    switch (SignatureOf(bytes)) {
    case Signature::Png:
        return ImageFileType::Png;
    case Signature::Jpeg:
        return ImageFileType::Jpeg;
    case Signature::Gif:
        return ImageFileType::Gif;
    case Signature::Bmp:
        return ImageFileType::Bmp;
    case Signature::Ico:
        return ImageFileType::Ico;
    case Signature::None:
        break;
    }
    return std::nullopt;
}

Result<ImageFileFacts> ReadImageFile(std::span<const std::uint8_t> bytes) {
    switch (SignatureOf(bytes)) {
    case Signature::Png:
        return ReadPng(bytes);
    case Signature::Jpeg:
        return ReadJpeg(bytes);
    case Signature::Gif:
        return ReadGif(bytes);
    case Signature::Bmp:
        return ReadBmp(bytes);
    case Signature::Ico:
        return ReadIco(bytes);
    case Signature::None:
        break;
    }
    return makeError(ErrorKind::NotLoadable, "no picture file");
}

} // namespace harvix
