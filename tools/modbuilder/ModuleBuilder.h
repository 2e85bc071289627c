// Writes Windows modules (PE32 and PE32+ images) with any resource tree, for tests,
// fuzz seeds and the bundled sample modules. The images carry no code; they are meant
// to be read as data. Besides well-formed modules, the builder writes broken forms on
// request (see Fault), so that readers can be tested against each of them.
//
//     ModuleBuilder b(Machine::Pe32Plus);
//     b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x0409, makeDib(32, 32, 8, picture));
//     b.add(ResId::name("AVI"), ResId::name("CLIP"), 0x0409, makeAvi(...));
//     auto bytes = b.build();
//     auto status = writeFile("/tmp/x.dll", bytes);
#pragma once

#include "module/ModuleAccess.h"
#include "common/Result.h"

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace harvix::modbuilder {

enum class Machine {
    Pe32,     // i386, optional header magic 0x10b
    Pe32Plus, // x86-64, optional header magic 0x20b
};

// Ways to break a module. Several may be combined; each changes one thing and leaves the
// rest of the image as the well-formed build would write it.
enum class Fault {
    // Headers
    NoMzSignature,          // the file does not start with "MZ"
    MzOnly,                 // a DOS program only: "MZ" header, no new-style header
    NeOnly,                 // a 16-bit Windows module: e_lfanew points at an "NE" header
    NoPeSignature,          // e_lfanew points at bytes that are not "PE\0\0"
    LfanewPastEnd,          // e_lfanew points beyond the end of the file
    BadOptionalMagic,       // optional header magic is neither 0x10b nor 0x20b
    TinyOptionalHeader,     // SizeOfOptionalHeader too small to hold the data directories
    HugeOptionalHeader,     // SizeOfOptionalHeader 0xFFFF: the section table lies past the end
    FewDataDirectories,     // NumberOfRvaAndSizes = 2: there is no resource directory entry
    HugeDataDirectoryCount, // NumberOfRvaAndSizes = 0xFFFFFFFF
    NoSections,             // NumberOfSections = 0
    HugeSectionCount,       // NumberOfSections = 0xFFFF
    SectionPastEnd,         // the resource section's raw data starts beyond the end of file
    SectionRawSizeHuge,     // the resource section's SizeOfRawData is 0xFFFFFFF0
    ZeroVirtualSize,        // the resource section's VirtualSize is 0, as some linkers write

    // Resource directory
    NoResourceDirectory,      // data directory 2 is empty
    ResourceRvaUnmapped,      // data directory 2 points at an RVA outside every section
    DirectoryCycle,           // the first name directory holds an entry pointing back at the root
    SelfCycle,                // the root holds an extra subdirectory entry pointing at itself
    SubdirectoryPastEnd,      // the first type entry's subdirectory offset lies past the end
    HugeEntryCount,           // the root claims 0xFFFF named and 0xFFFF numeric entries
    NamePastEnd,              // the first named entry's string offset lies past the end
    HugeNameLength,           // the first name string claims 0xFFFF characters
    DataEntryPastEnd,         // the first data entry offset lies past the end
    DataRvaUnmapped,          // the first data entry's RVA lies outside every section
    HugeDataSize,             // the first data entry claims 0xFFFFFFF0 bytes
    DataSizeZero,             // the first data entry claims 0 bytes
    LeafAtTypeLevel,          // the first type entry points at a data entry, not a directory
    DirectoryAtLanguageLevel, // the first language entry points at a directory (too deep)
    DataPastSectionEnd,       // the resource section's SizeOfRawData ends 8 bytes before its
                              // last data does; those bytes still follow in the file
};

// A resource name given as raw UTF-16 code units, for names that are not well-formed
// text (unpaired surrogates, embedded NULs).
struct RawName {
    std::u16string units;
};

// Where the resource section goes in the file, for building a sparse file whose
// resources lie far from its headers.
struct SplitImage {
    std::vector<std::uint8_t> head; // headers, written at offset 0
    std::uint64_t tailOffset = 0;   // file offset of the resource section
    std::vector<std::uint8_t> tail; // the resource section
};

class ModuleBuilder {
public:
    explicit ModuleBuilder(Machine machine = Machine::Pe32);

    // Adds one language version of a resource. The same type, name and language twice
    // writes two entries (a malformed but possible directory).
    ModuleBuilder& add(const ResId& type, const ResId& name, std::uint16_t language,
                       std::vector<std::uint8_t> bytes);
    ModuleBuilder& add(const ResId& type, const RawName& name, std::uint16_t language,
                       std::vector<std::uint8_t> bytes);

    // A DLL (the default) or an executable; only the characteristics flag differs.
    ModuleBuilder& setDll(bool dll);

    // By default entries are written as linkers write them: named entries first, in
    // ascending order of their upper-cased names, then numeric entries ascending, and
    // languages ascending. With sorting off they stay in the order they were added.
    ModuleBuilder& setSorted(bool sorted);

    // Writes the module as the UPX packer leaves one: the code section named UPX0 with no
    // bytes in the file (UPX unpacks into it), and UPX's own header, version "3.96" and
    // signature "UPX!", in the first page after the section table. The resources stay
    // readable, as UPX leaves the icon and the version.
    ModuleBuilder& setPackedByUpx(bool packed);

    // Breaks the image on purpose (see Fault). Cumulative.
    ModuleBuilder& inject(Fault fault);

    // Cuts the finished image to `size` bytes (if it is longer).
    ModuleBuilder& truncateTo(std::size_t size);

    // The finished image.
    [[nodiscard]] std::vector<std::uint8_t> build() const;

    // The image with its resource section at file offset `resourceOffset` (at least the
    // size of the headers, a multiple of 512): the bytes in between are a hole.
    [[nodiscard]] SplitImage buildSplit(std::uint64_t resourceOffset) const;

private:
    struct Key {
        bool numeric = true;
        std::uint16_t id = 0;
        std::u16string name;
    };
    struct Item {
        Key type;
        Key name;
        std::uint16_t language = 0;
        std::vector<std::uint8_t> bytes;
    };

    static Key keyOf(const ResId& id);
    [[nodiscard]] bool has(Fault fault) const { return m_faults.count(fault) != 0; }
    [[nodiscard]] std::vector<std::uint8_t> resourceSection(std::uint32_t sectionRva) const;
    [[nodiscard]] std::vector<std::uint8_t> headers(std::uint32_t resourceRawOffset,
                                                    std::uint32_t resourceRawSize,
                                                    std::uint32_t resourceVirtualSize) const;

    Machine m_machine;
    bool m_dll = true;
    bool m_sorted = true;
    bool m_upx = false;
    std::vector<Item> m_items;
    std::set<Fault> m_faults;
    std::size_t m_truncate = SIZE_MAX;
};

// Every fault, for tests that go through all of them.
[[nodiscard]] std::vector<Fault> allFaults();
[[nodiscard]] const char* faultName(Fault fault);

// UTF-8 to UTF-16 (the builder's own conversion; invalid bytes become U+FFFD).
[[nodiscard]] std::u16string toUtf16(std::string_view utf8);

// Writes bytes to a file, replacing it.
[[nodiscard]] Status writeFile(const std::string& path, std::span<const std::uint8_t> bytes);

// Writes a split image as a sparse file: head at 0, tail at its offset, a hole between.
[[nodiscard]] Status writeSparseFile(const std::string& path, const SplitImage& image);

} // namespace harvix::modbuilder
