// Writes 16-bit Windows modules (NE) with any resource table, for tests, fuzz seeds and
// the bundled samples: programs and libraries of Windows 3.x (or, with an older expected
// version, of Windows 2.x), icon libraries (.icl) and font files (.fon). Like the PE
// builder it also writes broken forms on request (see NeFault).
//
//     NeBuilder b(NeForm::Program);
//     b.setShift(4);
//     addIconGroup(b.adder(), ResId::number(1), 1, {{32, 32, 4}}, pictures::rings());
//     auto bytes = b.build();
#pragma once

#include "tools/modbuilder/ResourcePayloads.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace harvix::modbuilder {

enum class NeForm {
    Program,       // a Windows 3.x program
    Library,       // a Windows 3.x library (a DLL, a driver or a .vbx control)
    IconLibrary,   // an .icl file: nearly every header field zero, no target system
    IconLibraryIm, // an .icl file with "IM" before the "NE" signature and Windows as target
    Font,          // a .fon file: a library holding font resources
};

// Ways to break an NE module. Each changes one thing of the well-formed build.
enum class NeFault {
    Os2Target,            // the target system byte names OS/2
    TablePastEnd,         // the resource table offset points beyond the end of the file
    EqualTableOffsets,    // the resident-name table offset equals the resource table's
    CountBeyondTable,     // the first type claims 0xFFFF resources
    NameOffsetOutOfRange, // the first named type or resource names an offset past the table
    DataPastEnd,          // the first resource's data lies beyond the end of the file
    ZeroShift,            // the table's shift is 0 while the data is laid out at the real one
    HugeShift,            // the table's shift is 0xFFFF
    NoTypeEnd,            // the type list has no end and the table ends after its last record
};

class NeBuilder {
public:
    explicit NeBuilder(NeForm form = NeForm::Program);

    // Adds a resource. Names and named types are written in Windows-1252 (characters
    // outside it become "?").
    NeBuilder& add(const ResId& type, const ResId& name, std::vector<std::uint8_t> bytes);

    // The same resource adder for the group helpers of ResourcePayloads.h.
    [[nodiscard]] AddResource adder();

    // The alignment shift of the resource data (default 4; 0 to 15).
    NeBuilder& setShift(unsigned shift);
    // The Windows version the module expects (default 3.10); 2.x makes a Windows 2 module.
    NeBuilder& setWindowsVersion(std::uint8_t major, std::uint8_t minor);
    // The byte written into the padding after each resource (default 0).
    NeBuilder& setPadding(std::uint8_t fill);
    NeBuilder& inject(NeFault fault);
    NeBuilder& truncateTo(std::size_t size);

    [[nodiscard]] std::vector<std::uint8_t> build() const;

private:
    struct Item {
        ResId type;
        ResId name;
        std::vector<std::uint8_t> bytes;
    };
    [[nodiscard]] bool has(NeFault fault) const { return m_faults.count(fault) != 0; }

    NeForm m_form;
    unsigned m_shift = 4;
    std::uint8_t m_major = 3, m_minor = 10;
    std::uint8_t m_padding = 0;
    std::vector<Item> m_items;
    std::set<NeFault> m_faults;
    std::size_t m_truncate = SIZE_MAX;
};

[[nodiscard]] std::vector<NeFault> allNeFaults();
[[nodiscard]] const char* neFaultName(NeFault fault);

// UTF-8 to Windows-1252 (the builder's own conversion; what it cannot hold becomes "?").
[[nodiscard]] std::string toWindows1252(std::string_view utf8);

// A version resource as 16-bit modules store it: the blocks have no type field and their
// keys and strings are 8-bit text; the fixed record is the same VS_FIXEDFILEINFO.
[[nodiscard]] std::vector<std::uint8_t> makeVersionInfo16(VersionNumber file, VersionNumber product,
                                                          std::string_view description);

// A raster font resource (RT_FONT) of the 2.0 form: its header, a face name and no glyphs
// worth drawing; and the font directory (RT_FONTDIR) that lists such fonts.
[[nodiscard]] std::vector<std::uint8_t> makeFont(std::string_view face, int points);
[[nodiscard]] std::vector<std::uint8_t> makeFontDirectory(const std::vector<std::string>& faces, int points);

// A bitmap as Windows 1.x and 2.x stored it: the type byte 2 and a flags byte, a
// device-dependent BITMAP header (type 0, width, height, bytes per row, planes, bits per
// pixel, four bytes of 0) and monochrome rows from the top, alternating stripes.
[[nodiscard]] std::vector<std::uint8_t> makeOldBitmap(int width, int height);

} // namespace harvix::modbuilder
