// The NE module builder: a DOS header, the NE header, the resource table (shift, types
// with their resources, the end, the names), the resident-name table, then the resource
// data, each resource at a multiple of the alignment unit and padded to whole units, as
// the resource compiler of Windows 3.x lays them out.
#include "tools/modbuilder/NeBuilder.h"

#include "tools/modbuilder/ByteOut.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

namespace harvix::modbuilder {

namespace {

// Windows-1252 characters of the bytes 0x80 to 0x9F (0: unassigned).
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// One block of a 16-bit version resource: length, value length, the 8-bit key with its
// NUL, the value and the children, each aligned to 4 bytes from the block's start.
std::vector<std::uint8_t> versionBlock16(std::string_view key, const std::vector<std::uint8_t>& value,
                                         const std::vector<std::vector<std::uint8_t>>& children) {
    ByteOut o;
    o.u16(0);
    o.u16(static_cast<unsigned>(value.size()));
    o.text(key);
    o.u8(0);
    return o.finishVersionBlock(value, children);
}

} // namespace

std::string toWindows1252(std::string_view utf8) {
    std::string out;
    for (char16_t unit : toUtf16(utf8)) {
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
            out += static_cast<char>(unit);
            continue;
        }
        const auto found = std::find(kHigh.begin(), kHigh.end(), unit);
        out += found != kHigh.end() && unit != 0 ? static_cast<char>(0x80 + (found - kHigh.begin())) : '?';
    }
    return out;
}

NeBuilder::NeBuilder(NeForm form) : m_form(form) {}

NeBuilder& NeBuilder::add(const ResId& type, const ResId& name, std::vector<std::uint8_t> bytes) {
    m_items.push_back(Item{type, name, std::move(bytes)});
    return *this;
}

AddResource NeBuilder::adder() {
    return [this](const ResId& type, const ResId& name, std::vector<std::uint8_t> bytes) {
        add(type, name, std::move(bytes));
    };
}

NeBuilder& NeBuilder::setShift(unsigned shift) {
    m_shift = shift;
    return *this;
}

NeBuilder& NeBuilder::setWindowsVersion(std::uint8_t major, std::uint8_t minor) {
    m_major = major;
    m_minor = minor;
    return *this;
}

NeBuilder& NeBuilder::setPadding(std::uint8_t fill) {
    m_padding = fill;
    return *this;
}

NeBuilder& NeBuilder::inject(NeFault fault) {
    m_faults.insert(fault);
    return *this;
}

NeBuilder& NeBuilder::truncateTo(std::size_t size) {
    m_truncate = size;
    return *this;
}

std::vector<std::uint8_t> NeBuilder::build() const {
    const bool iconLibrary = m_form == NeForm::IconLibrary || m_form == NeForm::IconLibraryIm;
    const std::size_t neAt = iconLibrary ? 0x80 : 0x40;
    const std::uint64_t unit = std::uint64_t{1} << m_shift;

    // Types in the order their first resource was added, resources in the order added.
    std::vector<ResId> typeOrder;
    std::map<std::size_t, std::vector<const Item*>> byType;
    for (const Item& item : m_items) {
        auto it = std::find(typeOrder.begin(), typeOrder.end(), item.type);
        const std::size_t index = static_cast<std::size_t>(it - typeOrder.begin());
        if (it == typeOrder.end())
            typeOrder.push_back(item.type);
        byType[index].push_back(&item);
    }

    // The resource table; name strings follow the type list, their offsets are patched
    // in once the list's size is known.
    ByteOut table;
    table.u16(has(NeFault::ZeroShift) ? 0 : has(NeFault::HugeShift) ? 0xFFFF : m_shift);
    struct NamePatch {
        std::size_t at;
        std::string text;
    };
    std::vector<NamePatch> namePatches;
    struct DataPatch {
        std::size_t at;
        const Item* item;
    };
    std::vector<DataPatch> dataPatches;
    bool firstType = true;
    for (std::size_t t = 0; t < typeOrder.size(); ++t) {
        const ResId& type = typeOrder[t];
        if (type.numeric) {
            table.u16(0x8000u | type.id);
        } else {
            namePatches.push_back({table.bytes.size(), toWindows1252(type.text)});
            table.u16(0x7FFF); // past the table until the name is written
        }
        const auto& items = byType[t];
        table.u16(has(NeFault::CountBeyondTable) && firstType ? 0xFFFF : static_cast<unsigned>(items.size()));
        firstType = false;
        table.u32(0);
        for (const Item* item : items) {
            dataPatches.push_back({table.bytes.size(), item});
            table.u16(0); // offset
            table.u16(0); // length
            table.u16(0x0030); // movable, shareable
            if (item->name.numeric) {
                table.u16(0x8000u | item->name.id);
            } else {
                namePatches.push_back({table.bytes.size(), toWindows1252(item->name.text)});
                table.u16(0x7FFF);
            }
            table.u16(0);
            table.u16(0);
        }
    }
    if (!has(NeFault::NoTypeEnd)) {
        table.u16(0);
        for (std::size_t i = 0; i < namePatches.size(); ++i) {
            const NamePatch& p = namePatches[i];
            const bool broken = i == 0 && has(NeFault::NameOffsetOutOfRange);
            table.put16(p.at, broken ? 0x7FFF : static_cast<unsigned>(table.bytes.size()));
            table.u8(static_cast<unsigned>(std::min<std::size_t>(p.text.size(), 255)));
            table.text(std::string_view(p.text).substr(0, 255));
        }
        table.u8(0);
    }

    ByteOut file;
    file.bytes.resize(neAt + 0x40, 0);
    file.put16(0, 0x5A4D); // "MZ"
    file.put32(0x3C, static_cast<std::uint32_t>(neAt));
    if (!iconLibrary) {
        file.put16(2, 0x80);  // bytes on the last page
        file.put16(4, 1);     // pages
        file.put16(8, 4);     // header paragraphs
        file.put16(0x18, 0x40); // relocation table: a new-style module
    }
    if (m_form == NeForm::IconLibraryIm)
        file.put16(neAt - 2, 0x4D49); // "IM"
    file.put16(neAt, 0x454E);         // "NE"
    const std::size_t tableAt = neAt + 0x40;
    const std::size_t residentAt = tableAt + table.bytes.size();
    const unsigned tableOffset = has(NeFault::TablePastEnd) ? 0xFFF0 : 0x40;
    file.put16(neAt + 0x24, tableOffset);
    file.put16(neAt + 0x26, has(NeFault::EqualTableOffsets) ? tableOffset
                                                              : static_cast<unsigned>(residentAt - neAt));
    if (!iconLibrary) {
        file.put8(neAt + 2, 5);  // linker version
        file.put8(neAt + 3, 10);
        const bool library = m_form != NeForm::Program;
        file.put16(neAt + 0x0C, library ? 0x8001 : 0x0302); // library, single data / program, multiple data
        file.put16(neAt + 0x22, 0x40); // segment table (empty)
        file.put16(neAt + 0x32, m_shift);
        file.put16(neAt + 0x3E, static_cast<unsigned>(m_major) << 8 | m_minor);
    }
    if (!iconLibrary || m_form == NeForm::IconLibraryIm)
        file.put8(neAt + 0x36, has(NeFault::Os2Target) ? 1 : 2);
    else if (has(NeFault::Os2Target))
        file.put8(neAt + 0x36, 1);
    file.append(table.bytes);

    // The resident-name table: the module name and its ordinal, then the end.
    const std::string moduleName = m_form == NeForm::Font ? "FONTS" : iconLibrary ? "ICONS" : "SAMPLE";
    file.u8(static_cast<unsigned>(moduleName.size()));
    file.text(moduleName);
    file.u16(0);
    file.u8(0);
    const std::size_t after = file.bytes.size() - neAt;
    if (!iconLibrary) {
        file.put16(neAt + 0x28, static_cast<unsigned>(after)); // module references (none)
        file.put16(neAt + 0x2A, static_cast<unsigned>(after)); // imported names (none)
        file.u8(0);
        file.put32(neAt + 0x2C, static_cast<std::uint32_t>(file.bytes.size())); // non-resident names
        file.u8(0);
    }

    // The data, each resource at a whole unit, padded to whole units.
    bool firstData = true;
    for (const DataPatch& p : dataPatches) {
        file.padTo(static_cast<std::size_t>(unit), m_padding);
        const std::uint64_t offsetUnits = file.bytes.size() / unit;
        const std::uint64_t lengthUnits = (p.item->bytes.size() + unit - 1) / unit;
        if (offsetUnits > 0xFFFF || lengthUnits > 0xFFFF)
            throw std::length_error("NE module too large for its alignment shift");
        const std::size_t record = tableAt + p.at;
        file.put16(record, has(NeFault::DataPastEnd) && firstData ? 0xFFFF : static_cast<unsigned>(offsetUnits));
        file.put16(record + 2, static_cast<unsigned>(lengthUnits));
        firstData = false;
        file.append(p.item->bytes);
        file.padTo(static_cast<std::size_t>(unit), m_padding);
    }
    if (file.bytes.size() > m_truncate)
        file.bytes.resize(m_truncate);
    return file.bytes;
}

std::vector<NeFault> allNeFaults() {
    return {NeFault::Os2Target,        NeFault::TablePastEnd,         NeFault::EqualTableOffsets,
            NeFault::CountBeyondTable, NeFault::NameOffsetOutOfRange, NeFault::DataPastEnd,
            NeFault::ZeroShift,        NeFault::HugeShift,            NeFault::NoTypeEnd};
}

const char* neFaultName(NeFault fault) {
    switch (fault) {
    case NeFault::Os2Target: return "Os2Target";
    case NeFault::TablePastEnd: return "TablePastEnd";
    case NeFault::EqualTableOffsets: return "EqualTableOffsets";
    case NeFault::CountBeyondTable: return "CountBeyondTable";
    case NeFault::NameOffsetOutOfRange: return "NameOffsetOutOfRange";
    case NeFault::DataPastEnd: return "DataPastEnd";
    case NeFault::ZeroShift: return "ZeroShift";
    case NeFault::HugeShift: return "HugeShift";
    case NeFault::NoTypeEnd: return "NoTypeEnd";
    }
    return "?";
}

std::vector<std::uint8_t> makeVersionInfo16(VersionNumber file, VersionNumber product, std::string_view description) {
    const std::vector<std::uint8_t> fixed = fixedFileInfo(file, product, 0x00000001u /* 16-bit Windows */, 1 /* an application */);
    auto str = [](std::string_view key, std::string_view value) {
        std::vector<std::uint8_t> v(value.begin(), value.end());
        v.push_back(0);
        return versionBlock16(key, v, {});
    };
    const std::string fileText = std::to_string(file.major) + "." + std::to_string(file.minor) + "." +
                                 std::to_string(file.build) + "." + std::to_string(file.revision);
    auto table = versionBlock16("040904E4", {}, {str("CompanyName", "Harvix samples"),
                                                 str("FileDescription", toWindows1252(description)),
                                                 str("FileVersion", fileText)});
    auto stringInfo = versionBlock16("StringFileInfo", {}, {table});
    ByteOut translation;
    translation.u16(0x0409);
    translation.u16(0x04E4);
    auto varInfo = versionBlock16("VarFileInfo", {}, {versionBlock16("Translation", translation.bytes, {})});
    return versionBlock16("VS_VERSION_INFO", fixed, {stringInfo, varInfo});
}

std::vector<std::uint8_t> makeFont(std::string_view face, int points) {
    // The 2.0 font header (118 bytes), then the face name; a font of one blank glyph.
    ByteOut o;
    o.u16(0x0200); // version
    o.u32(0);      // size, patched below
    std::string copyright = "Harvix samples";
    copyright.resize(60, '\0');
    o.text(copyright);
    o.u16(0);                                   // raster font
    o.u16(static_cast<unsigned>(points));       // points
    o.u16(96);                                  // vertical resolution
    o.u16(96);                                  // horizontal resolution
    o.u16(static_cast<unsigned>(points) * 4 / 3); // ascent
    o.u16(0);
    o.u16(0);
    o.u8(0);
    o.u8(0);
    o.u8(0);
    o.u16(400); // weight
    o.u8(0);    // character set
    o.u16(8);   // pixel width
    o.u16(static_cast<unsigned>(points) * 4 / 3); // pixel height
    o.u8(0x30); // pitch and family
    o.u16(8);   // average width
    o.u16(8);   // maximum width
    o.u8(0x20); // first character
    o.u8(0x20); // last character
    o.u8(0);    // default
    o.u8(0);    // break
    o.u16(1);   // bytes per row
    o.u32(0);   // device name
    o.u32(0);   // face name offset, patched below
    o.u32(0);   // bits pointer
    o.u32(0);   // bits offset
    while (o.bytes.size() < 118)
        o.u8(0);
    o.u16(8); // the character table: one glyph of 8 pixels
    o.u16(static_cast<unsigned>(o.bytes.size() + 4));
    const std::uint32_t faceAt = static_cast<std::uint32_t>(o.bytes.size() + static_cast<unsigned>(points) * 4 / 3);
    for (int i = 0; i < points * 4 / 3; ++i)
        o.u8(0);
    o.put32(0x69, faceAt);
    o.text(face);
    o.u8(0);
    o.put32(2, static_cast<std::uint32_t>(o.bytes.size()));
    return o.bytes;
}

std::vector<std::uint8_t> makeFontDirectory(const std::vector<std::string>& faces, int points) {
    ByteOut o;
    o.u16(static_cast<unsigned>(faces.size()));
    for (std::size_t i = 0; i < faces.size(); ++i) {
        o.u16(static_cast<unsigned>(i + 1));
        const std::vector<std::uint8_t> font = makeFont(faces[i], points);
        o.append(std::vector<std::uint8_t>(font.begin(), font.begin() + 113));
        o.u8(0); // device name
        o.text(faces[i]);
        o.u8(0);
    }
    return o.bytes;
}

std::vector<std::uint8_t> makeOldBitmap(int width, int height) {
    ByteOut o;
    const unsigned rowBytes = static_cast<unsigned>((width + 15) / 16 * 2);
    o.u8(0x02); // a bitmap resource
    o.u8(0x00); // flags
    o.u16(0); // bitmap type
    o.u16(static_cast<unsigned>(width));
    o.u16(static_cast<unsigned>(height));
    o.u16(rowBytes);
    o.u8(1); // planes
    o.u8(1); // bits per pixel
    o.u32(0);
    for (int y = 0; y < height; ++y)
        for (unsigned x = 0; x < rowBytes; ++x)
            o.u8((y & 1) != 0 ? 0xAA : 0x55);
    return o.bytes;
}

} // namespace harvix::modbuilder
