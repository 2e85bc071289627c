#include "format/IconEntry.h"

#include "common/ByteCursor.h"
#include "format/Dib.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace harvix {

namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint64_t kGroupHeaderSize = 6;
constexpr std::uint64_t kGroupEntrySize = 14;

std::uint32_t BigEndian32(ByteView b) {
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           std::uint32_t{b[3]};
}

Error NoPicture(const std::string& why) {
    return makeError(ErrorKind::Malformed, why);
}

// A PNG stream's header chunk, from its length field on: it must come first, 13 bytes
// long. Its width and height lie at 8 and 12, its bit depth and colour type at 16 and 17.
Result<ByteView> PngHeaderChunk(ByteView png) {
    ByteCursor c(png);
    auto ihdr = c.slice(8, 8 + 13);
    if (!ihdr)
        return NoPicture("PNG header cut short");
    const ByteView h = *ihdr;
    if (BigEndian32(h.subspan(0, 4)) != 13 || std::memcmp(h.data() + 4, "IHDR", 4) != 0)
        return NoPicture("PNG stream without its header chunk");
    return h;
}

// A PNG stream's header chunk with a size above 0 and a bit depth its colour type allows.
Result<IconImageFacts> ReadPngFacts(ByteView png) {
    auto ihdr = PngHeaderChunk(png);
    if (!ihdr)
        return ihdr.error();
    const ByteView h = *ihdr;
    IconImageFacts facts;
    facts.png = true;
    facts.width = BigEndian32(h.subspan(8, 4));
    facts.height = BigEndian32(h.subspan(12, 4));
    if (facts.width == 0 || facts.height == 0 || facts.width > 0x7FFFFFFF || facts.height > 0x7FFFFFFF)
        return NoPicture("PNG picture of " + std::to_string(facts.width) + " x " +
                         std::to_string(facts.height) + " pixels");
    const std::uint32_t depth = h[16];
    const std::uint8_t colourType = h[17];
    std::uint32_t channels = 0;
    bool depthFits = false;
    switch (colourType) {
    case 0: // grey
        channels = 1;
        depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        break;
    case 3: // palette
        channels = 1;
        depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case 2: // RGB
    case 4: // grey and alpha
    case 6: // RGBA
        channels = colourType == 2 ? 3 : colourType == 4 ? 2 : 4;
        depthFits = depth == 8 || depth == 16;
        break;
    default:
        return NoPicture("PNG colour type " + std::to_string(colourType));
    }
    if (!depthFits)
        return NoPicture("PNG bit depth " + std::to_string(depth) + " with colour type " +
                         std::to_string(colourType));
    facts.bitCount = depth * channels;
    return facts;
}

Result<IconImageFacts> ReadBitmapImageFacts(ByteView image) {
    auto dib = ReadDibFacts(image);
    if (!dib) {
        if (dib.error().kind == ErrorKind::Unsupported)
            return NoPicture("no bitmap or PNG picture");
        return NoPicture(dib.error().message);
    }
    const DibFacts& f = *dib;
    if (auto problem = DibShapeProblem(f))
        return NoPicture(*problem);
    if (f.topDown())
        return NoPicture("rows stored top-down");
    if (!f.uncompressed())
        return NoPicture(DibCompressionProblem(f).value_or("compressed pixels"));
    if (auto problem = DibCompressionProblem(f))
        return NoPicture(*problem);
    // The stored height covers the colour pixels and the mask below them.
    const std::uint64_t rows = f.rows() / 2;
    if (rows == 0)
        return NoPicture("stored height 1, which leaves no room for a picture and its mask");
    ByteCursor c(image);
    if (!c.contains(0, f.endOfTable()))
        return NoPicture(f.masksAfterHeader != 0 && !c.contains(0, f.paletteOffset())
                             ? "colour masks cut short"
                             : "colour table cut short");
    // rows and the stride are below 2^32 and 2^37: the product cannot overflow.
    if (!c.contains(f.endOfTable(), f.rowStride() * rows))
        return NoPicture("colour pixels cut short");
    IconImageFacts facts;
    facts.width = static_cast<std::uint32_t>(f.width);
    facts.height = static_cast<std::uint32_t>(rows);
    facts.bitCount = static_cast<std::uint32_t>(f.bitCount);
    return facts;
}

// The values of an icon entry that no icon file may state, in a few words ("255
// colours, 4 planes").
std::string StatedFaults(const IconGroupEntry& e) {
    std::string out;
    const auto add = [&out](const std::string& what) { out += (out.empty() ? "" : ", ") + what; };
    if (e.colourCount > 16)
        add(std::to_string(e.colourCount) + " colours");
    if (e.planes != 1)
        add(std::to_string(e.planes) + (e.planes == 1 ? " plane" : " planes"));
    if (!IsDibDepth(e.bitCount))
        add(std::to_string(e.bitCount) + (e.bitCount == 1 ? " bit" : " bits") + " per pixel");
    if (e.size <= 0)
        add("an image size of " + std::to_string(e.size));
    return out;
}

std::string StatedFaults(const CursorGroupEntry& e) {
    std::string out;
    const auto add = [&out](const std::string& what) { out += (out.empty() ? "" : ", ") + what; };
    if (e.width < 1 || e.width > 255)
        add("a width of " + std::to_string(e.width));
    if (e.doubledHeight < 1 || e.doubledHeight > 127)
        add("a doubled height of " + std::to_string(e.doubledHeight));
    if (e.planes != 1)
        add(std::to_string(e.planes) + (e.planes == 1 ? " plane" : " planes"));
    if (e.size <= 0)
        add("an image size of " + std::to_string(e.size));
    return out;
}

std::string ImageName(std::uint16_t id) {
    return "image " + std::to_string(id);
}

} // namespace

bool IsPngStream(ByteView bytes) {
    return bytes.size() >= kPngSignature.size() &&
           std::memcmp(bytes.data(), kPngSignature.data(), kPngSignature.size()) == 0;
}

std::uint8_t IconImageFacts::directoryColourCount() const {
    if (png || bitCount >= 8)
        return 0;
    return static_cast<std::uint8_t>(1u << bitCount);
}

std::optional<PixelSize> ReadIconImageSize(ByteView image) {
    PixelSize size;
    if (IsPngStream(image)) {
        auto ihdr = PngHeaderChunk(image);
        if (!ihdr)
            return std::nullopt;
        size = {BigEndian32(ihdr->subspan(8, 4)), BigEndian32(ihdr->subspan(12, 4))};
    } else {
        // Rows stored top-down are no icon image's: such a header is not trusted.
        auto dib = ReadDibFacts(image);
        if (!dib || dib->width <= 0 || dib->topDown())
            return std::nullopt;
        // The stored height covers the colour pixels and the mask below them.
        size = {static_cast<std::uint32_t>(dib->width),
                static_cast<std::uint32_t>(std::min<std::uint64_t>(dib->rows() / 2, 0xFFFFFFFF))};
    }
    if (size.width == 0 || size.height == 0)
        return std::nullopt;
    return size;
}

Result<IconImageFacts> ReadIconImageFacts(ByteView image) {
    if (IsPngStream(image))
        return ReadPngFacts(image);
    return ReadBitmapImageFacts(image);
}

std::optional<IconGroupEntry> ReadIconGroupEntry(ByteView group, int index) {
    ByteCursor cursor(group);
    if (index < 0 || !cursor.seek(kGroupHeaderSize + kGroupEntrySize * static_cast<std::uint64_t>(index)))
        return std::nullopt;
    auto width = cursor.u8();
    auto height = cursor.u8();
    auto colours = cursor.u8();
    auto reserved = cursor.u8();
    auto planes = cursor.u16();
    auto bits = cursor.read<std::int16_t>();
    auto size = cursor.i32();
    auto id = cursor.u16();
    if (!width || !height || !colours || !reserved || !planes || !bits || !size || !id)
        return std::nullopt;
    return IconGroupEntry{*width, *height, *colours, *planes, *bits, *size, *id};
}

bool IconEntryStandsAsStated(const IconGroupEntry& e) {
    return e.colourCount <= 16 && e.planes == 1 && IsDibDepth(e.bitCount) && e.size > 0;
}

IconEntryVerdict JudgeIconEntry(const IconGroupEntry& entry, ByteView image) {
    IconEntryVerdict verdict;
    if (IconEntryStandsAsStated(entry)) {
        verdict.valid = true;
        verdict.values = {entry.width, entry.height, entry.colourCount, 1, entry.bitCount};
        // The size is the image's own, whatever the entry says: it decides the per-size
        // folder and the limits, and a viewer takes the image at the size stated.
        if (const auto size = ReadIconImageSize(image)) {
            verdict.values.width = DirectorySide(size->width);
            verdict.values.height = DirectorySide(size->height);
        }
        return verdict;
    }
    if (image.empty()) {
        verdict.imageMissing = true;
        verdict.problem = "names " + ImageName(entry.id) + ", which the module does not hold";
        return verdict;
    }
    auto facts = ReadIconImageFacts(image);
    if (!facts) {
        verdict.problem = "states " + StatedFaults(entry) + ", and its " + ImageName(entry.id) +
                          " is no picture (" + facts.error().message + ")";
        return verdict;
    }
    verdict.valid = true;
    verdict.byImage = true;
    verdict.values = {DirectorySide(facts->width), DirectorySide(facts->height),
                      facts->directoryColourCount(), 1, static_cast<std::int16_t>(facts->bitCount)};
    return verdict;
}

std::optional<CursorGroupEntry> ReadCursorGroupEntry(ByteView group, int index) {
    ByteCursor cursor(group);
    if (index < 0 || !cursor.seek(kGroupHeaderSize + kGroupEntrySize * static_cast<std::uint64_t>(index)))
        return std::nullopt;
    auto width = cursor.read<std::int16_t>();
    auto height = cursor.read<std::int16_t>();
    auto planes = cursor.u16();
    auto bits = cursor.u16();
    auto size = cursor.i32();
    auto id = cursor.u16();
    if (!width || !height || !planes || !bits || !size || !id)
        return std::nullopt;
    return CursorGroupEntry{*width, *height, *planes, *bits, *size, *id};
}

CursorEntryVerdict JudgeCursorEntry(const CursorGroupEntry& entry, ByteView image) {
    CursorEntryVerdict verdict;
    const std::string faults = StatedFaults(entry);
    if (image.size() < 4) {
        verdict.problem = "names " + ImageName(entry.id) + ", which is too short to hold a hot spot";
        return verdict;
    }
    const ByteView picture = image.subspan(4);
    if (faults.empty()) {
        // The group entry is meant to hold the doubled height (both masks), but other
        // resource compilers store the plain one, and some state another size than the
        // picture's altogether: a picture whose header tells its size is stated at it.
        verdict.valid = true;
        if (const auto size = ReadIconImageSize(picture)) {
            verdict.width = DirectorySide(size->width);
            verdict.height = DirectorySide(size->height);
        } else {
            verdict.width = static_cast<std::uint8_t>(entry.width);
            verdict.height = static_cast<std::uint8_t>(entry.doubledHeight / 2);
        }
        return verdict;
    }
    auto facts = ReadIconImageFacts(picture);
    if (!facts) {
        verdict.problem = "states " + faults + ", and its " + ImageName(entry.id) +
                          " is no picture (" + facts.error().message + ")";
        return verdict;
    }
    // A .cur directory states each side in one byte, 0 standing for 256.
    if (facts->width > 256 || facts->height > 256) {
        verdict.problem = "names " + ImageName(entry.id) + " of " + std::to_string(facts->width) +
                          " x " + std::to_string(facts->height) +
                          " pixels, more than a cursor file can state";
        return verdict;
    }
    verdict.valid = true;
    verdict.byImage = true;
    verdict.width = DirectorySide(facts->width);
    verdict.height = DirectorySide(facts->height);
    return verdict;
}

} // namespace harvix
