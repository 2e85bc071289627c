#include "controls/animation/AviDecoder.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace harvix {

namespace {

constexpr std::uint32_t FourCc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

constexpr std::uint32_t kRiff = FourCc("RIFF");
constexpr std::uint32_t kAvi = FourCc("AVI ");
constexpr std::uint32_t kList = FourCc("LIST");
constexpr std::uint32_t kHdrl = FourCc("hdrl");
constexpr std::uint32_t kAvih = FourCc("avih");
constexpr std::uint32_t kStrl = FourCc("strl");
constexpr std::uint32_t kStrh = FourCc("strh");
constexpr std::uint32_t kStrf = FourCc("strf");
constexpr std::uint32_t kMovi = FourCc("movi");
constexpr std::uint32_t kRec = FourCc("rec ");
constexpr std::uint32_t kVids = FourCc("vids");

constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
constexpr std::uint32_t kMaxPaletteEntries = 256;

// One chunk: its id and where its body lies in the file.
struct Chunk {
    std::uint32_t id = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Reads the chunk header at the cursor; the body must end within `end` (the end of the
// enclosing list). Leaves the cursor at the start of the body.
Result<Chunk> ReadChunk(ByteCursor& cursor, std::uint64_t end) {
    auto id = cursor.u32();
    if (!id)
        return id.error();
    auto size = cursor.u32();
    if (!size)
        return size.error();
    if (cursor.position() > end || *size > end - cursor.position())
        return makeError(ErrorKind::Truncated, "chunk of " + std::to_string(*size) + " bytes at " +
                                                   std::to_string(cursor.position() - 8) +
                                                   " runs past its list");
    return Chunk{*id, cursor.position(), *size};
}

// Moves past a chunk's body and its pad byte. A missing pad byte at the very end of a
// list is tolerated: some writers leave it out of the last chunk.
Status SkipChunk(ByteCursor& cursor, const Chunk& chunk, std::uint64_t end) {
    std::uint64_t next = chunk.offset + chunk.size + (chunk.size & 1u);
    return cursor.seek(std::min(next, end));
}

// The body of a chunk as a cursor of its own, so reads cannot leave the chunk.
ByteCursor BodyOf(const ByteCursor& file, const Chunk& chunk) {
    auto body = file.slice(chunk.offset, chunk.size);
    return body ? ByteCursor(*body) : ByteCursor();
}

// A frame chunk id is two decimal digits (the stream number) and "dc" or "db".
std::optional<int> FrameStreamOf(std::uint32_t id) {
    const auto c0 = static_cast<unsigned char>(id & 0xFF);
    const auto c1 = static_cast<unsigned char>((id >> 8) & 0xFF);
    const auto c2 = static_cast<unsigned char>((id >> 16) & 0xFF);
    const auto c3 = static_cast<unsigned char>((id >> 24) & 0xFF);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9' || c2 != 'd' || (c3 != 'c' && c3 != 'b'))
        return std::nullopt;
    return (c0 - '0') * 10 + (c1 - '0');
}

struct Format {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> palette;
};

Result<Format> ReadFormat(ByteCursor body) {
    Format format;
    auto headerSize = body.u32();
    auto width = body.i32();
    auto height = body.i32();
    auto planes = body.u16();
    auto bitCount = body.u16();
    auto compression = body.u32();
    if (!headerSize || !width || !height || !planes || !bitCount || !compression)
        return makeError(ErrorKind::Truncated, "frame format is cut short");
    if (*headerSize < kBitmapInfoHeaderSize || *headerSize > body.size())
        return makeError(ErrorKind::Malformed, "frame format size " + std::to_string(*headerSize));
    if (!body.skip(12)) // image size, resolution
        return makeError(ErrorKind::Truncated, "frame format is cut short");
    auto coloursUsed = body.u32();
    if (!coloursUsed)
        return coloursUsed.error();

    // Widths and heights are signed; a negative height marks lines stored top-down.
    if (*width <= 0 || *height == 0 || *height == INT32_MIN)
        return makeError(ErrorKind::Malformed, "frame size " + std::to_string(*width) + " x " +
                                                   std::to_string(*height));
    format.width = static_cast<std::uint32_t>(*width);
    format.topDown = *height < 0;
    format.height = static_cast<std::uint32_t>(*height < 0 ? -*height : *height);
    format.bitCount = *bitCount;
    format.compression = *compression;

    // The palette follows the header; 0 colours used means all 256. A palette cut
    // short by the end of the chunk keeps the entries that are there.
    std::uint32_t entries = *coloursUsed == 0 ? kMaxPaletteEntries : std::min(*coloursUsed, kMaxPaletteEntries);
    if (!body.seek(*headerSize))
        return makeError(ErrorKind::Truncated, "palette is missing");
    entries = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, body.remaining() / 4));
    format.palette.reserve(entries);
    for (std::uint32_t i = 0; i < entries; ++i) {
        auto quad = body.u32(); // blue, green, red, reserved
        if (!quad)
            return quad.error();
        format.palette.push_back(0xFF000000u | (*quad & 0x00FFFFFFu));
    }
    return format;
}

// Everything gathered from the file before the frames are decoded.
struct Layout {
    std::uint32_t mainMicroseconds = 0;
    int streams = 0;
    int videoStream = -1;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::optional<Format> format;
    std::vector<std::span<const std::uint8_t>> frames;
};

// Walks the chunks of a list in file order, handing each to visit; a chunk that runs
// past the list's end, or a visit that fails, ends the walk with that error.
template <typename Visit>
Status ForEachChunk(const ByteCursor& file, const Chunk& list, Visit&& visit) {
    ByteCursor cursor(file.data(), list.offset + 4);
    const std::uint64_t end = list.offset + list.size;
    while (cursor.position() + 8 <= end) {
        auto chunk = ReadChunk(cursor, end);
        if (!chunk)
            return chunk.error();
        if (Status visited = visit(*chunk); !visited)
            return visited;
        if (auto s = SkipChunk(cursor, *chunk, end); !s)
            return s.error();
    }
    return success();
}

Status ReadStreamList(const ByteCursor& file, const Chunk& list, Layout& layout) {
    const int stream = layout.streams++;
    bool isVideo = false;
    std::optional<Chunk> formatChunk;
    Status walked = ForEachChunk(file, list, [&](const Chunk& chunk) -> Status {
        if (chunk.id == kStrh) {
            ByteCursor body = BodyOf(file, chunk);
            auto type = body.u32();
            if (type && *type == kVids && layout.videoStream < 0) {
                // the first video stream is the one played; later ones are ignored
                isVideo = true;
                layout.videoStream = stream;
                ByteCursor timing = body;
                if (timing.seek(20)) {
                    layout.scale = timing.u32().valueOr(0);
                    layout.rate = timing.u32().valueOr(0);
                }
            }
        } else if (chunk.id == kStrf && !formatChunk) {
            formatChunk = chunk;
        }
        return success();
    });
    if (!walked)
        return walked;
    if (isVideo) {
        if (!formatChunk)
            return makeError(ErrorKind::Malformed, "video stream without a format");
        auto format = ReadFormat(BodyOf(file, *formatChunk));
        if (!format)
            return format.error();
        layout.format = std::move(*format);
    }
    return success();
}

Status ReadHeaderList(const ByteCursor& file, const Chunk& list, Layout& layout) {
    return ForEachChunk(file, list, [&](const Chunk& chunk) -> Status {
        if (chunk.id == kAvih) {
            layout.mainMicroseconds = BodyOf(file, chunk).u32().valueOr(0);
        } else if (chunk.id == kList && chunk.size >= 4) {
            auto type = file.peekAt<std::uint32_t>(chunk.offset);
            if (type && *type == kStrl)
                return ReadStreamList(file, chunk, layout);
        }
        return success();
    });
}

// Collects the video frames of the "movi" list, in file order; "rec " lists inside it
// group chunks and are entered (one level: they do not nest).
Status ReadMovieList(const ByteCursor& file, const Chunk& list, Layout& layout, int depth) {
    return ForEachChunk(file, list, [&](const Chunk& chunk) -> Status {
        if (chunk.id == kList && chunk.size >= 4 && depth == 0) {
            auto type = file.peekAt<std::uint32_t>(chunk.offset);
            if (type && *type == kRec)
                return ReadMovieList(file, chunk, layout, depth + 1);
        } else if (auto stream = FrameStreamOf(chunk.id); stream && *stream == layout.videoStream) {
            auto body = file.slice(chunk.offset, chunk.size);
            if (!body)
                return body.error();
            layout.frames.push_back(*body);
        }
        return success();
    });
}

std::uint32_t FrameMicroseconds(const Layout& layout) {
    std::uint64_t us = layout.mainMicroseconds;
    if (us == 0 && layout.scale != 0 && layout.rate != 0)
        us = std::uint64_t{layout.scale} * 1000000u / layout.rate;
    // A frame time of zero, or of more than a minute, is taken for a missing one.
    if (us == 0 || us > 60u * 1000000u)
        return kDefaultMicrosecondsPerFrame;
    return static_cast<std::uint32_t>(us);
}

} // namespace

void DecodeRle8(std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                std::vector<std::uint8_t>& pixels) {
    const std::uint64_t w = width;
    const std::uint64_t h = height;
    if (pixels.size() != w * h)
        return;
    ByteCursor cursor(data);
    std::uint64_t x = 0;
    std::uint64_t y = 0; // counted from the bottom line
    auto put = [&](std::uint64_t count, auto valueAt) {
        for (std::uint64_t i = 0; i < count; ++i, ++x) {
            if (x < w)
                pixels[static_cast<std::size_t>((h - 1 - y) * w + x)] = valueAt(i);
        }
    };
    while (y < h) {
        auto count = cursor.u8();
        auto value = cursor.u8();
        if (!count || !value)
            return; // end of data without an end-of-bitmap: the frame ends here
        if (*count > 0) {
            const std::uint8_t index = *value;
            put(*count, [index](std::uint64_t) { return index; });
            continue;
        }
        switch (*value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // delta: move right and up, leaving the pixels between unchanged
            auto dx = cursor.u8();
            auto dy = cursor.u8();
            if (!dx || !dy)
                return;
            x += *dx;
            y += *dy;
            break;
        }
        default: { // absolute run of `value` indices, padded to an even length
            auto run = cursor.bytes(*value);
            if (!run)
                return;
            const auto bytes = *run;
            put(bytes.size(), [&bytes](std::uint64_t i) { return bytes[static_cast<std::size_t>(i)]; });
            if (*value & 1u)
                (void)cursor.skip(1); // a missing pad byte at the very end does no harm
            break;
        }
        }
    }
}

Status DecodeUncompressed8(std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                           bool topDown, std::vector<std::uint8_t>& pixels) {
    const std::uint64_t w = width;
    const std::uint64_t h = height;
    if (pixels.size() != w * h)
        return makeError(ErrorKind::Malformed, "frame buffer does not match the frame size");
    const std::uint64_t stride = (w + 3) & ~std::uint64_t{3};
    ByteCursor cursor(data);
    if (auto s = cursor.checkArray(h, stride); !s)
        return s;
    for (std::uint64_t line = 0; line < h; ++line) {
        auto row = cursor.slice(line * stride, w);
        if (!row)
            return row.error();
        const std::uint64_t target = topDown ? line : h - 1 - line;
        std::copy(row->begin(), row->end(), pixels.begin() + static_cast<std::ptrdiff_t>(target * w));
    }
    return success();
}

Result<Clip> DecodeAvi(std::span<const std::uint8_t> file) {
    ByteCursor cursor(file);
    auto riff = ReadChunk(cursor, file.size());
    if (!riff)
        return makeError(ErrorKind::NotLoadable, "not a RIFF file: " + riff.error().message);
    auto form = cursor.u32();
    if (riff->id != kRiff || !form || *form != kAvi || riff->size < 4)
        return makeError(ErrorKind::NotLoadable, "not an AVI file");

    Layout layout;
    bool sawHeader = false;
    const std::uint64_t end = riff->offset + riff->size;
    while (cursor.position() + 8 <= end) {
        auto chunk = ReadChunk(cursor, end);
        if (!chunk)
            return chunk.error();
        if (chunk->id == kList && chunk->size >= 4) {
            auto type = cursor.peekAt<std::uint32_t>(chunk->offset);
            if (type && *type == kHdrl && !sawHeader) {
                sawHeader = true;
                if (auto s = ReadHeaderList(cursor, *chunk, layout); !s)
                    return s.error();
            } else if (type && *type == kMovi && sawHeader) {
                if (auto s = ReadMovieList(cursor, *chunk, layout, 0); !s)
                    return s.error();
            }
        }
        // anything else ("idx1", "JUNK", ...) is not needed: frames are taken in the
        // order they are stored
        if (auto s = SkipChunk(cursor, *chunk, end); !s)
            return s.error();
    }

    if (!layout.format)
        return makeError(ErrorKind::NotLoadable, "no video stream");
    const Format& format = *layout.format;
    if (format.bitCount != 8)
        return makeError(ErrorKind::Unsupported, std::to_string(format.bitCount) + " bits per pixel");
    if (format.compression != kRle8 && format.compression != kUncompressed)
        return makeError(ErrorKind::Unsupported, "compression " + std::to_string(format.compression));
    if (format.compression == kRle8 && format.topDown)
        return makeError(ErrorKind::Malformed, "run-length frames are always stored bottom-up");
    if (format.width > kMaxDimension || format.height > kMaxDimension)
        return makeError(ErrorKind::TooLarge, "frame size " + std::to_string(format.width) + " x " +
                                                  std::to_string(format.height));
    if (layout.frames.empty())
        return makeError(ErrorKind::NotLoadable, "no frames");
    const std::uint64_t framePixels = std::uint64_t{format.width} * format.height;
    if (layout.frames.size() > kMaxTotalPixels / framePixels)
        return makeError(ErrorKind::TooLarge, std::to_string(layout.frames.size()) + " frames of " +
                                                  std::to_string(framePixels) + " pixels");

    std::array<std::uint32_t, 256> colours{};
    colours.fill(0xFF000000u);
    std::copy(format.palette.begin(), format.palette.end(), colours.begin());

    Clip clip;
    clip.width = format.width;
    clip.height = format.height;
    clip.compression = format.compression;
    clip.microsecondsPerFrame = FrameMicroseconds(layout);
    clip.palette = format.palette;
    clip.frames.reserve(layout.frames.size());

    // Each frame is drawn over the one before; an empty chunk repeats the previous frame.
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(framePixels), 0);
    for (const auto& data : layout.frames) {
        if (!data.empty()) {
            if (format.compression == kRle8) {
                DecodeRle8(data, format.width, format.height, indices);
            } else if (auto s = DecodeUncompressed8(data, format.width, format.height, format.topDown, indices);
                       !s) {
                return s.error();
            }
        }
        std::vector<std::uint32_t> frame(indices.size());
        std::transform(indices.begin(), indices.end(), frame.begin(),
                       [&colours](std::uint8_t index) { return colours[index]; });
        clip.frames.push_back(std::move(frame));
    }
    return clip;
}

} // namespace harvix
