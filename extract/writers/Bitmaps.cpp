#include "extract/writers/Bitmaps.h"

#include "common/ByteCursor.h"
#include "extract/writers/Support.h"
#include "format/Dib.h"
#include "format/OldWindows.h"

namespace harvix {

namespace {

// The bitmap file header, or nothing with `why` saying why the bitmap is left out.
std::optional<std::vector<std::uint8_t>> CheckBitmap(std::span<const std::uint8_t> resource,
                                                     const ExtractionOptions& options,
                                                     LeftOut& why) {
    why = {LeftOutReason::Malformed, {}};
    ByteCursor cursor(resource);
    const auto headerSize = cursor.peekAt<std::uint32_t>(0);
    auto read = ReadDibFacts(resource);
    std::optional<DibFacts> facts;
    if (read) {
        facts = *read;
    } else if (headerSize && !IsDibHeaderSize(*headerSize) && resource.size() >= 40) {
        // A header of no known size: its limits are read as those of the 40-byte one, so
        // that a bitmap outside the limits is told so first, whatever else is wrong.
        facts = DibFacts{};
        facts->headerSize = *headerSize;
        facts->width = cursor.peekAt<std::int32_t>(4).valueOr(0);
        facts->height = cursor.peekAt<std::int32_t>(8).valueOr(0);
        facts->bitCount = cursor.peekAt<std::int16_t>(14).valueOr(0);
    } else {
        why.detail = headerSize ? "bitmap of " + std::to_string(resource.size()) +
                                      " bytes, shorter than its information header of " +
                                      std::to_string(*headerSize)
                                : "bitmap of " + std::to_string(resource.size()) +
                                      " bytes, too short for an information header";
        return std::nullopt;
    }

    // The tests, in this order; the limits come first. A top-down bitmap's height is
    // stored negative: its rows are what the limit is about.
    const std::int64_t height = facts->topDown() ? static_cast<std::int64_t>(facts->rows()) : facts->height;
    if (!options.bitmapDepth.contains(facts->bitCount)) {
        why = {LeftOutReason::Limits, OutsideLimit("bitmap colour depth", facts->bitCount, options.bitmapDepth)};
        return std::nullopt;
    }
    if (!options.bitmapHeight.contains(height)) {
        why = {LeftOutReason::Limits, OutsideLimit("bitmap height", height, options.bitmapHeight)};
        return std::nullopt;
    }
    if (!options.bitmapWidth.contains(facts->width)) {
        why = {LeftOutReason::Limits, OutsideLimit("bitmap width", facts->width, options.bitmapWidth)};
        return std::nullopt;
    }
    if (!read) {
        why.detail = "bitmap information header of " + std::to_string(facts->headerSize) +
                     " bytes, a size no bitmap has";
        return std::nullopt;
    }
    if (const auto problem = DibShapeProblem(*facts)) {
        why.detail = "bitmap with " + *problem;
        return std::nullopt;
    }

    // The pixel bits follow the information header, the masks of a 16- or 32-bit
    // bit-field bitmap with a 40-byte header, and the colour table.
    const std::uint64_t offset = facts->filePixelOffset();
    const std::uint64_t fileSize = 14 + std::uint64_t{resource.size()};
    if (offset > kMaxField32 || fileSize > kMaxField32) {
        why.detail = offset > kMaxField32 ? "bitmap colour table of " + std::to_string(facts->paletteEntries) +
                                                " entries, more than a bitmap file can state"
                                          : "bitmap larger than a bitmap file can hold";
        return std::nullopt;
    }

    std::vector<std::uint8_t> header;
    header.reserve(14);
    PutU8(header, 'B');
    PutU8(header, 'M');
    PutU32(header, fileSize);
    PutU16(header, 0);
    PutU16(header, 0);
    PutU32(header, offset);
    return header;
}

// A display-dependent bitmap of Windows 1.x or 2.x, planned as the standard bitmap it shows.
OwnFilePlan PlanOldBitmap(std::span<const std::uint8_t> bytes, const ExtractionOptions& options) {
    const auto bitmap = ReadOldBitmap(bytes);
    if (!bitmap)
        return LeftOut{LeftOutReason::Malformed, bitmap.error().message};
    if (!options.bitmapDepth.contains(1))
        return LeftOut{LeftOutReason::Limits, OutsideLimit("bitmap colour depth", 1, options.bitmapDepth)};
    if (!options.bitmapWidth.contains(bitmap->width))
        return LeftOut{LeftOutReason::Limits, OutsideLimit("bitmap width", bitmap->width, options.bitmapWidth)};
    if (!options.bitmapHeight.contains(bitmap->height))
        return LeftOut{LeftOutReason::Limits, OutsideLimit("bitmap height", bitmap->height, options.bitmapHeight)};
    std::vector<std::uint8_t> standard = StandardBitmap(*bitmap);
    std::vector<std::uint8_t> header;
    header.reserve(14);
    PutU8(header, 'B');
    PutU8(header, 'M');
    PutU32(header, 14 + standard.size());
    PutU16(header, 0);
    PutU16(header, 0);
    PutU32(header, 14 + 40 + 8); // the information header and the two colours
    return PlannedFile{{}, {std::move(header), std::move(standard)}};
}

} // namespace

std::optional<std::vector<std::uint8_t>> BitmapFileHeader(std::span<const std::uint8_t> resource,
                                                          const ExtractionOptions& options,
                                                          LeftOut* why) {
    LeftOut reason;
    auto header = CheckBitmap(resource, options, reason);
    if (!header && why != nullptr)
        *why = std::move(reason);
    return header;
}

OwnFilePlan PlanBitmap(const IResourceModule& module, const ResId& name,
                       const ExtractionOptions& options) {
    const ResId type = ResId::of(ResType::Bitmap);
    auto bytes = LoadResourceBytes(module, type, name);
    if (bytes.empty())
        return LeftOut{LeftOutReason::Empty, NoBytes(module, type, name)};
    // A bitmap that depends on the display, as Windows 1.x and 2.x keep them.
    if (IsOldBitmap(bytes))
        return PlanOldBitmap(bytes, options);
    LeftOut why;
    auto header = CheckBitmap(bytes, options, why);
    if (!header)
        return why;
    return PlannedFile{{}, {std::move(*header), std::move(bytes)}};
}

} // namespace harvix
