// The NE resource reader. A 16-bit module keeps its resources in one table after the NE
// header: the alignment shift, then per type a TYPEINFO (type id, count, reserved) and
// `count` NAMEINFO records (offset, length, flags, id, handle, usage), ended by a type id
// of 0, then the names as counted 8-bit strings. The table is read once, whole (it is at
// most 64 KiB: its offsets are 16-bit), through ByteCursor; every count is bounded by
// what the table holds, every name offset is checked, and resource data is read with
// positioned reads that never reach past the end of the file.
#include "module/NeModule.h"

#include "common/ByteCursor.h"

#include <algorithm>
#include <array>
#include <map>

namespace harvix {

namespace {

constexpr std::uint16_t kMzSignature = 0x5A4D; // "MZ"
constexpr std::uint16_t kNeSignature = 0x454E; // "NE"
constexpr std::uint64_t kNeHeaderSize = 0x40;
constexpr std::uint64_t kTypeInfoSize = 8;
constexpr std::uint64_t kNameInfoSize = 12;
constexpr std::uint16_t kIntegerId = 0x8000;
constexpr std::uint8_t kTargetOs2 = 1;
constexpr std::uint8_t kTargetWindows = 2;
constexpr std::uint8_t kTargetWindows386 = 4;
// A table whose end the header does not give (the resident-name table does not follow
// it) is read up to this size: every offset in it is 16-bit.
constexpr std::uint64_t kLargestTable = 0x10000;
// Shifts beyond this put every resource far past the end of any file; clamping keeps the
// arithmetic in range without changing that.
constexpr unsigned kLargestShift = 40;
// The icon and cursor groups read at opening for the sizes of their images: at most this
// many bytes in all, however many groups a damaged table claims.
constexpr std::uint64_t kGroupReadBudget = 1024 * 1024;
// What a resource's own size is read from: the largest bitmap header (124 bytes) and
// the four bytes of a cursor's hot spot before it.
constexpr std::uint64_t kOwnSizeHeader = 128;

// The types whose resources are whole RIFF files (animated cursors and clips), which
// state their own size in the RIFF header.
bool IsRiffType(const ResId& type) {
    return type.is(ResType::AniCursor) || type.is(kAviTypeName);
}

Error notLoadable(std::string message) { return makeError(ErrorKind::NotLoadable, std::move(message)); }

// Fills `out` with the file's bytes at `offset`, from the part held in memory or the file.
bool readImageAt(const ModuleImage& image, std::uint64_t offset, std::span<std::uint8_t> out) {
    const std::uint64_t length = out.size();
    if (offset >= image.heldOffset && length <= image.held.size() &&
        offset - image.heldOffset <= image.held.size() - length) {
        auto bytes = ByteCursor(image.held).slice(offset - image.heldOffset, length);
        if (!bytes)
            return false;
        std::copy(bytes->begin(), bytes->end(), out.begin());
        return true;
    }
    return image.file && image.file->readAt(offset, out);
}

// The Windows-1252 characters of the bytes 0x80 to 0x9F; 0 where the code page leaves
// the byte unassigned.
constexpr std::array<std::uint16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The extent of a device-independent bitmap (header, colour table, masks and pixels) at
// the start of `bytes`, as its header gives it; for an icon image the header's height
// counts both the colour image and the AND mask. Nothing when the header is not one of a
// DIB or gives no size (a compression whose size it leaves open).
std::optional<std::uint64_t> dibExtent(std::span<const std::uint8_t> bytes, bool iconImage) {
    ByteCursor c(bytes);
    const std::uint32_t headerSize = c.peekAt<std::uint32_t>(0).valueOr(0);
    std::uint64_t width = 0, height = 0, bitCount = 0, colours = 0, entrySize = 4, masks = 0;
    std::uint32_t compression = 0, imageSize = 0;
    if (headerSize == 12) {
        auto w = c.peekAt<std::uint16_t>(4), h = c.peekAt<std::uint16_t>(6), bpp = c.peekAt<std::uint16_t>(10);
        if (!w || !h || !bpp)
            return std::nullopt;
        width = *w;
        height = *h;
        bitCount = *bpp;
        entrySize = 3;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
               headerSize == 124) {
        auto w = c.peekAt<std::int32_t>(4), h = c.peekAt<std::int32_t>(8);
        auto bpp = c.peekAt<std::uint16_t>(14);
        auto comp = c.peekAt<std::uint32_t>(16), size = c.peekAt<std::uint32_t>(20);
        auto used = c.peekAt<std::uint32_t>(32);
        if (!w || !h || !bpp || !comp || !size || !used || *w < 0)
            return std::nullopt;
        width = static_cast<std::uint64_t>(*w);
        height = *h < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(*h)) : static_cast<std::uint64_t>(*h);
        bitCount = *bpp;
        compression = *comp;
        imageSize = *size;
        colours = *used;
        if (headerSize == 40 && compression == 3) // BI_BITFIELDS: three masks after the header
            masks = 12;
        if (headerSize == 40 && compression == 6) // BI_ALPHABITFIELDS: four
            masks = 16;
    } else {
        return std::nullopt;
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        return std::nullopt;
    if (colours == 0 && bitCount <= 8)
        colours = std::uint64_t{1} << bitCount;
    if (colours > 256 && bitCount <= 8)
        return std::nullopt;
    if (iconImage)
        height /= 2;
    const auto stride = [](std::uint64_t w, std::uint64_t bpp) { return (w * bpp + 31) / 32 * 4; };
    std::uint64_t pixels = 0;
    if (compression == 0 || compression == 3 || compression == 6)
        pixels = stride(width, bitCount) * height;
    else if ((compression == 1 || compression == 2) && imageSize != 0 && !iconImage)
        pixels = imageSize; // run-length encoded: the header gives the size
    else
        return std::nullopt;
    if (iconImage)
        pixels += stride(width, 1) * height;
    return headerSize + masks + colours * entrySize + pixels;
}

} // namespace

std::string windows1252ToUtf8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes) {
        if (b == 0)
            break;
        std::uint32_t c = b;
        if (b >= 0x80 && b <= 0x9F && kHighControls[b - 0x80] != 0)
            c = kHighControls[b - 0x80];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isNeImage(const ModuleImage& image) {
    std::array<std::uint8_t, 0x40> dos{};
    if (!readImageAt(image, 0, dos))
        return false;
    ByteCursor c(dos);
    if (c.peekAt<std::uint16_t>(0).valueOr(0) != kMzSignature)
        return false;
    const std::uint32_t lfanew = c.peekAt<std::uint32_t>(0x3C).valueOr(0);
    std::array<std::uint8_t, 2> signature{};
    return readImageAt(image, lfanew, signature) && ByteCursor(signature).peekAt<std::uint16_t>(0).valueOr(0) == kNeSignature;
}

Result<std::unique_ptr<NeModule>> NeModule::read(ModuleImage image) {
    std::array<std::uint8_t, 0x40> dos{};
    if (!readImageAt(image, 0, dos) || ByteCursor(dos).peekAt<std::uint16_t>(0).valueOr(0) != kMzSignature)
        return notLoadable("not a Windows module: no MZ header");
    const std::uint64_t neAt = ByteCursor(dos).peekAt<std::uint32_t>(0x3C).valueOr(0);
    std::array<std::uint8_t, kNeHeaderSize> header{};
    if (!readImageAt(image, neAt, header))
        return notLoadable("truncated NE header");
    ByteCursor h(header);
    if (h.peekAt<std::uint16_t>(0).valueOr(0) != kNeSignature)
        return notLoadable("no NE header");
    // OS/2 modules keep their resources in another form, and so may the other systems
    // the header can name; a target of 0 is what icon libraries write.
    const std::uint8_t target = h.peekAt<std::uint8_t>(0x36).valueOr(0);
    if (target == kTargetOs2)
        return notLoadable("a 16-bit OS/2 module");
    if (target != 0 && target != kTargetWindows && target != kTargetWindows386)
        return notLoadable("a 16-bit module for another system than Windows");

    auto module = std::unique_ptr<NeModule>(new NeModule(std::move(image)));
    const std::uint16_t tableOffset = h.peekAt<std::uint16_t>(0x24).valueOr(0);
    const std::uint16_t residentOffset = h.peekAt<std::uint16_t>(0x26).valueOr(0);
    const std::uint64_t fileSize = module->m_image.fileSize;
    // Equal offsets: the module has no resource table. One inside the NE header cannot
    // be a table either.
    if (tableOffset == residentOffset || tableOffset < kNeHeaderSize)
        return module;
    // The resident-name table follows the resource table and so ends it; where it does
    // not, the table is read as far as its 16-bit offsets reach.
    const std::uint64_t tableAt = neAt + tableOffset;
    if (tableAt >= fileSize)
        return module;
    std::uint64_t tableSize = residentOffset > tableOffset ? residentOffset - tableOffset : kLargestTable;
    tableSize = std::min(tableSize, fileSize - tableAt);
    std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSize));
    if (!readImageAt(module->m_image, tableAt, table))
        return module;

    ByteCursor t(table);
    const std::uint16_t shift = t.peekAt<std::uint16_t>(0).valueOr(0);
    const unsigned usedShift = std::min<unsigned>(shift, kLargestShift);
    module->m_unit = std::uint64_t{1} << usedShift;

    // A type or resource id: a number, or the table offset of a counted name.
    auto identifier = [&](std::uint16_t id) -> std::optional<ResId> {
        if ((id & kIntegerId) != 0)
            return ResId::number(static_cast<std::uint16_t>(id & 0x7FFF));
        auto length = t.peekAt<std::uint8_t>(id);
        if (!length)
            return std::nullopt;
        auto text = t.slice(std::uint64_t{id} + 1, *length);
        if (!text)
            return std::nullopt;
        return ResId::name(windows1252ToUtf8(*text));
    };

    // The type list is read forward only, so it ends within the table whatever its
    // counts claim; a list without its end stops with the table.
    if (!t.seek(2))
        return module;
    std::vector<TypeEntry> types;
    while (t.remaining() >= kTypeInfoSize) {
        const std::uint16_t typeId = t.u16().valueOr(0);
        if (typeId == 0)
            break;
        const std::uint16_t count = t.u16().valueOr(0);
        (void)t.skip(4);
        const std::uint64_t present = std::min<std::uint64_t>(count, t.remaining() / kNameInfoSize);
        auto type = identifier(typeId);
        TypeEntry entry;
        for (std::uint64_t i = 0; i < present; ++i) {
            auto record = t.bytes(kNameInfoSize);
            if (!record)
                break;
            ByteCursor r(*record);
            const std::uint16_t offset = r.u16().valueOr(0);
            const std::uint16_t length = r.u16().valueOr(0);
            (void)r.skip(2); // flags
            const std::uint16_t id = r.u16().valueOr(0);
            // A resource whose name cannot be read is lost; the others stay.
            if (auto name = identifier(id))
                entry.names.push_back(NameEntry{std::move(*name), std::uint64_t{offset} << usedShift,
                                                std::uint64_t{length} << usedShift, 0});
        }
        // A count beyond the table: the records it holds are read, and the list ends.
        if (present < count)
            t = ByteCursor(table, table.size());
        // A type whose name cannot be read is lost with its resources.
        if (type) {
            entry.id = std::move(*type);
            types.push_back(std::move(entry));
        }
    }

    module->readGroupSizes(types);
    module->m_table = ResourceTable<NameEntry>(std::move(types));
    return module;
}

void NeModule::readGroupSizes(std::vector<TypeEntry>& types) const {
    // The table gives every length in whole alignment units; the groups give the exact
    // size of each icon and cursor image. The largest size stated for an image that
    // fits in its rounded length is kept.
    std::map<std::uint16_t, std::uint32_t> iconSizes, cursorSizes;
    std::uint64_t budget = kGroupReadBudget;
    for (const TypeEntry& type : types) {
        if (!type.id.is(ResType::GroupIcon) && !type.id.is(ResType::GroupCursor))
            continue;
        auto& sizes = type.id.is(ResType::GroupIcon) ? iconSizes : cursorSizes;
        for (const NameEntry& group : type.names) {
            const std::uint64_t length = std::min(group.length, budget);
            budget -= length;
            const std::vector<std::uint8_t> bytes = readRange(group.offset, length);
            ByteCursor c(bytes);
            const std::int16_t count = static_cast<std::int16_t>(c.peekAt<std::uint16_t>(4).valueOr(0));
            for (std::int64_t i = 0; i < count; ++i) {
                auto entry = c.slice(6 + static_cast<std::uint64_t>(i) * 14, 14);
                if (!entry)
                    break;
                ByteCursor e(*entry);
                const std::uint32_t size = e.peekAt<std::uint32_t>(8).valueOr(0);
                const std::uint16_t id = e.peekAt<std::uint16_t>(12).valueOr(0);
                std::uint32_t& known = sizes[id];
                known = std::max(known, size);
            }
        }
    }
    for (TypeEntry& type : types) {
        if (!type.id.is(ResType::Icon) && !type.id.is(ResType::Cursor))
            continue;
        const auto& sizes = type.id.is(ResType::Icon) ? iconSizes : cursorSizes;
        for (NameEntry& image : type.names) {
            if (!image.id.numeric)
                continue;
            const auto found = sizes.find(image.id.id);
            if (found != sizes.end() && found->second != 0 && found->second <= image.length)
                image.stated = found->second;
        }
    }
}

std::vector<std::uint8_t> NeModule::readRange(std::uint64_t offset, std::uint64_t length) const {
    const std::uint64_t fileSize = m_image.fileSize;
    if (offset >= fileSize)
        return {};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::min(length, fileSize - offset)));
    if (!readImageAt(m_image, offset, out))
        return {};
    return out;
}

bool NeModule::hasOwnSize(const ResId& type) {
    return type.is(ResType::Bitmap) || type.is(ResType::Icon) || type.is(ResType::Cursor) ||
           IsRiffType(type);
}

std::optional<std::uint64_t> NeModule::knownSize(const ResId& type, const NameEntry& entry,
                                                 std::span<const std::uint8_t> bytes) const {
    if (entry.stated != 0)
        return entry.stated;
    // Otherwise the resource's own header tells its size, where it has one; it is taken
    // only where what it leaves over is less than one alignment unit, that is padding.
    std::optional<std::uint64_t> extent;
    if (type.is(ResType::Bitmap)) {
        extent = dibExtent(bytes, false);
    } else if (type.is(ResType::Icon)) {
        extent = dibExtent(bytes, true);
    } else if (type.is(ResType::Cursor)) {
        if (bytes.size() > 4)
            if (auto image = dibExtent(bytes.subspan(4), true))
                extent = *image + 4;
    } else if (IsRiffType(type)) {
        ByteCursor c(bytes);
        if (c.peekAt<std::uint32_t>(0).valueOr(0) == 0x46464952u) // "RIFF"
            extent = std::uint64_t{c.peekAt<std::uint32_t>(4).valueOr(0)} + 8;
    }
    if (extent && *extent != 0 && *extent <= entry.length && entry.length - *extent < m_unit)
        return extent;
    return std::nullopt;
}

std::vector<ResId> NeModule::types() const {
    return m_table.typeIds();
}

std::vector<ResId> NeModule::names(const ResId& type) const {
    return m_table.nameIds(type);
}

std::vector<ResLanguage> NeModule::languages(const ResId& type, const ResId& name) const {
    // A 16-bit module has one version of each resource, without a language.
    const NameEntry* n = m_table.findName(type, name);
    if (!n)
        return {};
    // Its size is the one it loads at: as its group or its own header gives it (only the
    // first bytes of a resource of a kind with a header are read for that), otherwise its
    // whole units as far as the file holds them.
    std::uint64_t size = n->stated;
    if (size == 0) {
        const std::uint64_t head = hasOwnSize(type) ? std::min(n->length, kOwnSizeHeader) : 0;
        const std::uint64_t held = n->offset < m_image.fileSize ? m_image.fileSize - n->offset : 0;
        size = knownSize(type, *n, readRange(n->offset, head)).value_or(std::min(n->length, held));
    }
    return {ResLanguage{0, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFu))}};
}

std::vector<std::uint8_t> NeModule::load(const ResId& type, const ResId& name) const {
    const NameEntry* n = m_table.findName(type, name);
    if (!n || n->length == 0)
        return {};
    std::vector<std::uint8_t> bytes = readRange(n->offset, n->length);
    if (const std::optional<std::uint64_t> known = knownSize(type, *n, bytes)) {
        // The group or the resource's own header says how much of it is data: all of
        // that must be in the file.
        if (*known > bytes.size())
            return {};
        bytes.resize(static_cast<std::size_t>(*known));
        return bytes;
    }
    // A resource without a size of its own keeps its whole units. Where the file ends in
    // its last unit (the last resource of a file that was not padded out), what is
    // missing is taken for padding; where more is missing, data is.
    if (bytes.empty() || n->length - bytes.size() >= m_unit)
        return {};
    return bytes;
}

} // namespace harvix
