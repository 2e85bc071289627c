// The PE resource reader: finds the resource directory of a PE32 or PE32+ image and
// reads its tree (type -> name -> language) once, into a small index, so that every
// later lookup is a binary search. The image is untrusted: every field is read through
// ByteCursor, every offset is checked before use, and the amount of work and memory is
// bounded by the size of the resource section, whatever counts the directory claims.
#include "module/PeModule.h"

#include "common/ByteCursor.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>

namespace harvix {

namespace {

constexpr std::uint16_t kMzSignature = 0x5A4D;     // "MZ"
constexpr std::uint16_t kNeSignature = 0x454E;     // "NE"
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
// The certificate table's entry: a file offset (not an RVA) and a size.
constexpr std::uint32_t kCertificateDirectoryIndex = 4;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint64_t kDirectoryHeaderSize = 16;
constexpr std::uint64_t kEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;
constexpr std::uint64_t kSectionHeaderSize = 40;

Error notLoadable(std::string message) { return makeError(ErrorKind::NotLoadable, std::move(message)); }

// How far into the file the packer's signature is looked for: the first page, which
// holds the headers.
constexpr std::uint64_t kHeaderSearch = 4096;
constexpr std::string_view kUpxSignature = "UPX!";

// A section name of 8 bytes, padded with NULs: "UPX0", "UPX1" or "UPX2".
bool isUpxSectionName(std::span<const std::uint8_t> name) {
    static constexpr std::string_view names[] = {"UPX0", "UPX1", "UPX2"};
    for (const std::string_view n : names)
        if (std::equal(n.begin(), n.end(), name.begin()) &&
            std::all_of(name.begin() + 4, name.end(), [](std::uint8_t b) { return b == 0; }))
            return true;
    return false;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Random access to one stretch of a module file [start, start + size), for the headers
// and the resource directory: straight from the part held in memory when the stretch
// lies there, otherwise through a few small blocks read from the file, so that reading a
// large directory costs a bounded amount of memory whatever its layout. A view stays
// valid until the next call.
class RegionBytes {
public:
    RegionBytes(const ModuleImage& image, std::uint64_t start, std::uint64_t size, std::size_t blockSize)
        : m_image(image), m_start(start), m_size(size), m_blockSize(blockSize) {}

    [[nodiscard]] std::uint64_t size() const { return m_size; }

    // True when [offset, offset + length) lies inside the stretch.
    [[nodiscard]] bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }

    [[nodiscard]] Result<std::span<const std::uint8_t>> slice(std::uint64_t offset, std::uint64_t length) {
        if (!contains(offset, length))
            return makeError(ErrorKind::Truncated, "read past the end of the region");
        const std::uint64_t at = m_start + offset;
        const ModuleImage& image = m_image;
        if (at >= image.heldOffset && length <= image.held.size() &&
            at - image.heldOffset <= image.held.size() - length)
            return ByteCursor(image.held).slice(at - image.heldOffset, length);
        if (!image.file)
            return makeError(ErrorKind::Truncated, "bytes not held in memory");
        Block* chosen = nullptr;
        for (Block& b : m_blocks)
            if (!b.bytes.empty() && at >= b.offset && at - b.offset + length <= b.bytes.size())
                chosen = &b;
        if (!chosen) {
            // The least recently used block is read again, from a page boundary before
            // `at`, at least as long as the request.
            chosen = &*std::min_element(m_blocks.begin(), m_blocks.end(),
                                        [](const Block& a, const Block& b) { return a.used < b.used; });
            constexpr std::uint64_t kPage = 4096;
            const std::uint64_t from = std::max(m_start, at - at % kPage);
            const std::uint64_t end = m_start + m_size;
            const std::uint64_t want = std::max<std::uint64_t>(m_blockSize, at - from + length);
            chosen->bytes.resize(static_cast<std::size_t>(std::min(want, end - from)));
            chosen->offset = from;
            if (!image.file->readAt(from, chosen->bytes)) {
                chosen->bytes.clear();
                return makeError(ErrorKind::Truncated, "the file changed while it was read");
            }
        }
        chosen->used = ++m_clock;
        return ByteCursor(chosen->bytes).slice(at - chosen->offset, length);
    }

    template <class T>
    [[nodiscard]] Result<T> peekAt(std::uint64_t offset) {
        auto bytes = slice(offset, sizeof(T));
        if (!bytes)
            return bytes.error();
        ByteCursor c(*bytes);
        return c.read<T>();
    }

private:
    struct Block {
        std::uint64_t offset = 0;
        std::vector<std::uint8_t> bytes;
        std::uint64_t used = 0;
    };

    const ModuleImage& m_image;
    std::uint64_t m_start;
    std::uint64_t m_size;
    std::size_t m_blockSize;
    // A directory is read along up to three streams at once (entries, data entries,
    // names); four blocks keep each of them in memory.
    std::array<Block, 4> m_blocks;
    std::uint64_t m_clock = 0;
};

// Whether the packer's signature lies in the first `length` bytes of the file.
bool hasUpxSignature(RegionBytes& file, std::uint64_t length) {
    auto head = file.slice(0, std::min(length, file.size()));
    if (!head)
        return false;
    const std::string_view text(reinterpret_cast<const char*>(head->data()), head->size());
    return text.find(kUpxSignature) != std::string_view::npos;
}

// Reads `out.size()` bytes of the module's file at `offset`, from what is held in memory
// or from the file.
bool readImageAt(const ModuleImage& image, std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset >= image.heldOffset && out.size() <= image.held.size() &&
        offset - image.heldOffset <= image.held.size() - out.size()) {
        const auto from = image.held.subspan(static_cast<std::size_t>(offset - image.heldOffset), out.size());
        std::copy(from.begin(), from.end(), out.begin());
        return true;
    }
    return image.file && image.file->readAt(offset, out);
}

// Reads the directory tree of one resource section.
class TreeReader {
public:
    explicit TreeReader(RegionBytes& region)
        : m_region(region),
          // A well-formed tree stores every entry in its own 8 bytes and every name
          // character in its own 2 bytes, so the section bounds both. The entry budget
          // leaves room for a directory whose count overstates what it holds: that one
          // can use up at most one section's worth, and the directories read after it
          // still get theirs.
          m_entryBudget(4 * (region.size() / kEntrySize + 16)), m_charBudget(region.size() / 2 + 1) {}

    std::vector<PeModule::TypeEntry> read() {
        std::vector<PeModule::TypeEntry> types;
        for (const RawEntry& t : entries(0)) {
            auto id = identifier(t.name);
            if (!id)
                continue;
            PeModule::TypeEntry type{std::move(*id), {}, {}};
            if (t.isDirectory)
                for (const RawEntry& n : entries(t.target)) {
                    auto nameId = identifier(n.name);
                    if (!nameId)
                        continue;
                    PeModule::NameEntry name{std::move(*nameId), {}};
                    if (n.isDirectory)
                        for (const RawEntry& l : entries(n.target))
                            if (auto leaf = language(l))
                                name.languages.push_back(*leaf);
                    type.names.push_back(std::move(name));
                }
            types.push_back(std::move(type));
        }
        return types;
    }

private:
    struct RawEntry {
        std::uint32_t name = 0;
        std::uint32_t target = 0;
        bool isDirectory = false;
    };

    // The entries of the directory at `offset`. A directory already read (a cycle, or
    // two entries sharing one subdirectory) gives no entries the second time, which
    // also bounds the whole tree to the three levels it is read at.
    std::vector<RawEntry> entries(std::uint32_t offset) {
        std::vector<RawEntry> out;
        if (!m_visited.insert(offset).second)
            return out;
        auto named = m_region.peekAt<std::uint16_t>(std::uint64_t{offset} + 12);
        auto numbered = m_region.peekAt<std::uint16_t>(std::uint64_t{offset} + 14);
        if (!named || !numbered)
            return out;
        // The counts are only claims: read no more entries than the section holds and
        // than the budget for the whole tree allows.
        const std::uint64_t first = std::uint64_t{offset} + kDirectoryHeaderSize;
        const std::uint64_t room = m_region.contains(first, 0) ? (m_region.size() - first) / kEntrySize : 0;
        const std::uint64_t count = std::min({std::uint64_t{*named} + *numbered, room, m_entryBudget});
        m_entryBudget -= count;
        out.reserve(static_cast<std::size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) {
            auto entry = m_region.slice(first + i * kEntrySize, kEntrySize);
            if (!entry)
                break;
            ByteCursor c(*entry);
            const std::uint32_t name = c.u32().valueOr(0);
            const std::uint32_t target = c.u32().valueOr(0);
            out.push_back(RawEntry{name, target & ~kHighBit, (target & kHighBit) != 0});
        }
        return out;
    }

    // A type or name identifier: a number up to 65535, or a counted UTF-16 string at an
    // offset in the section. Nothing when it cannot be read.
    std::optional<ResId> identifier(std::uint32_t field) {
        if ((field & kHighBit) == 0) {
            // Numeric identifiers are 16-bit; a larger value can never be asked for.
            if (field > 0xFFFF)
                return std::nullopt;
            return ResId::number(static_cast<std::uint16_t>(field));
        }
        const std::uint64_t at = field & ~kHighBit;
        auto length = m_region.peekAt<std::uint16_t>(at);
        if (!length || !m_region.contains(at + 2, std::uint64_t{*length} * 2) || *length > m_charBudget)
            return std::nullopt;
        m_charBudget -= *length;
        auto units = m_region.slice(at + 2, std::uint64_t{*length} * 2);
        if (!units)
            return std::nullopt;
        return ResId::name(utf16ToUtf8(*units));
    }

    // A language entry and its data entry; nothing when either cannot be read.
    std::optional<PeModule::LanguageEntry> language(const RawEntry& entry) {
        // Language entries are numbered and point at data entries; a subdirectory at this
        // level would make the tree deeper than three levels and is passed over.
        if (entry.isDirectory || (entry.name & kHighBit) != 0 || entry.name > 0xFFFF)
            return std::nullopt;
        auto data = m_region.slice(entry.target, kDataEntrySize);
        if (!data)
            return std::nullopt;
        ByteCursor c(*data);
        const std::uint32_t rva = c.u32().valueOr(0);
        const std::uint32_t size = c.u32().valueOr(0);
        return PeModule::LanguageEntry{static_cast<std::uint16_t>(entry.name), rva, size};
    }

    RegionBytes& m_region;
    std::uint64_t m_entryBudget;
    std::uint64_t m_charBudget;
    std::unordered_set<std::uint32_t> m_visited;
};

} // namespace

std::string utf16ToUtf8(std::span<const std::uint8_t> units) {
    ByteCursor cursor(units);
    std::string out;
    out.reserve(units.size() / 2);
    while (cursor.remaining() >= 2) {
        const std::uint32_t unit = cursor.u16().valueOr(0);
        // Names are handed on as NUL-terminated text: a NUL ends the name.
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit <= 0xDBFF && cursor.remaining() >= 2) {
            const std::uint32_t low = cursor.peekAt<std::uint16_t>(cursor.position()).valueOr(0);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                (void)cursor.u16();
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        // A surrogate without its partner is not text; it becomes U+FFFD, so that every
        // name is valid UTF-8 in file names, index records and the window.
        if (unit >= 0xD800 && unit <= 0xDFFF)
            appendUtf8(out, 0xFFFD);
        else
            appendUtf8(out, unit);
    }
    return out;
}

Result<std::unique_ptr<PeModule>> PeModule::parse(std::span<const std::uint8_t> image,
                                                  std::shared_ptr<const void> keepAlive) {
    ModuleImage whole;
    whole.held = image;
    whole.fileSize = image.size();
    whole.keepAlive = std::move(keepAlive);
    return read(std::move(whole), 0);
}

Result<std::unique_ptr<PeModule>> PeModule::read(std::shared_ptr<const ModuleFile> file,
                                                 std::uint64_t sectionLimit) {
    ModuleImage image;
    image.fileSize = file->size();
    image.file = std::move(file);
    return read(std::move(image), sectionLimit);
}

Result<std::unique_ptr<PeModule>> PeModule::read(ModuleImage image, std::uint64_t sectionLimit) {
    const std::uint64_t fileSize = image.fileSize;
    // The headers: read in pages; nearly always the first one holds them all.
    RegionBytes c(image, 0, fileSize, 4096);
    auto mz = c.peekAt<std::uint16_t>(0);
    if (!mz || *mz != kMzSignature)
        return notLoadable("not a Windows module: no MZ header");
    auto lfanew = c.peekAt<std::uint32_t>(0x3C);
    if (!lfanew)
        return notLoadable("truncated DOS header");
    auto signature = c.peekAt<std::uint32_t>(*lfanew);
    if (!signature)
        return notLoadable("a DOS program without a Windows header");
    if (*signature != kPeSignature) {
        if ((*signature & 0xFFFF) == kNeSignature)
            return notLoadable("a 16-bit Windows module");
        return notLoadable("no PE header");
    }
    const std::uint64_t coff = std::uint64_t{*lfanew} + 4;
    auto sectionCount = c.peekAt<std::uint16_t>(coff + 2);
    auto optionalSize = c.peekAt<std::uint16_t>(coff + 16);
    const std::uint64_t optional = coff + 20;
    auto magic = c.peekAt<std::uint16_t>(optional);
    if (!sectionCount || !optionalSize || !magic)
        return notLoadable("truncated PE header");

    std::uint64_t directoryCountAt = 0;
    if (*magic == kPe32Magic)
        directoryCountAt = 92;
    else if (*magic == kPe32PlusMagic)
        directoryCountAt = 108;
    else
        return notLoadable("unknown optional header magic");
    const std::uint64_t directoriesAt = directoryCountAt + 4;
    if (*optionalSize < directoriesAt || !c.contains(optional, *optionalSize))
        return notLoadable("optional header too small or truncated");
    auto directoryCount = c.peekAt<std::uint32_t>(optional + directoryCountAt);
    if (!directoryCount)
        return notLoadable("truncated optional header");
    // Only the directories that are both counted and inside the optional header exist.
    const std::uint64_t directories =
        std::min<std::uint64_t>(*directoryCount, (*optionalSize - directoriesAt) / kEntrySize);
    std::uint32_t resourceRva = 0;
    std::uint64_t certificateAt = 0;
    std::uint64_t certificateSize = 0;
    if (directories > kCertificateDirectoryIndex) {
        const std::uint64_t entry = optional + directoriesAt + kCertificateDirectoryIndex * 8;
        certificateAt = c.peekAt<std::uint32_t>(entry).valueOr(0);
        certificateSize = c.peekAt<std::uint32_t>(entry + 4).valueOr(0);
    }
    if (directories > kResourceDirectoryIndex) {
        auto rva = c.peekAt<std::uint32_t>(optional + directoriesAt + kResourceDirectoryIndex * 8);
        if (!rva)
            return notLoadable("truncated data directories");
        resourceRva = *rva;
    }

    const std::uint64_t tableAt = optional + *optionalSize;
    if (!c.contains(tableAt, std::uint64_t{*sectionCount} * kSectionHeaderSize))
        return notLoadable("section table past the end of the file");
    std::vector<Section> sections;
    sections.reserve(*sectionCount);
    bool upxSections = false;
    // Where the module's image ends in the file: what follows it is no part of the
    // program the loader maps (a setup program's payload, a signature).
    std::uint64_t imageEnd = tableAt + std::uint64_t{*sectionCount} * kSectionHeaderSize;
    for (std::uint16_t i = 0; i < *sectionCount; ++i) {
        auto header = c.slice(tableAt + i * kSectionHeaderSize, kSectionHeaderSize);
        if (!header)
            return notLoadable("the section table could not be read");
        upxSections = upxSections || isUpxSectionName(header->first(8));
        ByteCursor h(*header);
        Section s;
        s.virtualSize = h.peekAt<std::uint32_t>(8).valueOr(0);
        s.virtualAddress = h.peekAt<std::uint32_t>(12).valueOr(0);
        s.rawSize = h.peekAt<std::uint32_t>(16).valueOr(0);
        s.rawOffset = h.peekAt<std::uint32_t>(20).valueOr(0);
        if (s.rawSize != 0) {
            if (s.rawOffset >= fileSize)
                return notLoadable("section data starts past the end of the file");
            // The last section of a file is often not padded to its full raw size.
            s.rawSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(s.rawSize, fileSize - s.rawOffset));
        }
        imageEnd = std::max(imageEnd, std::uint64_t{s.rawOffset} + s.rawSize);
        sections.push_back(s);
    }
    // The linker's symbol table and the string table after it (kept by MinGW, and by
    // Wine's modules) follow the image too and are no payload: without this every such
    // module would be searched whole for a setup program's data.
    const std::uint64_t symbolsAt = c.peekAt<std::uint32_t>(coff + 8).valueOr(0);
    const std::uint64_t symbolCount = c.peekAt<std::uint32_t>(coff + 12).valueOr(0);
    constexpr std::uint64_t kSymbolSize = 18;
    constexpr std::uint64_t kSymbolsAlignment = 512;
    if (symbolsAt >= imageEnd && symbolsAt - imageEnd < kSymbolsAlignment &&
        symbolsAt + symbolCount * kSymbolSize + 4 <= fileSize) {
        const std::uint64_t stringsAt = symbolsAt + symbolCount * kSymbolSize;
        std::array<std::uint8_t, 4> stringsSize{};
        if (readImageAt(image, stringsAt, stringsSize)) {
            const std::uint64_t stringsEnd =
                stringsAt + std::max<std::uint64_t>(4, ByteCursor(stringsSize).peekAt<std::uint32_t>(0).valueOr(0));
            if (stringsEnd <= fileSize)
                imageEnd = stringsEnd;
        }
    }
    // A signature appended right after the image is no payload; one after a payload
    // leaves the payload where it is.
    constexpr std::uint64_t kCertificateAlignment = 8;
    if (certificateSize != 0 && certificateAt >= imageEnd && certificateAt - imageEnd < kCertificateAlignment &&
        certificateAt + certificateSize >= fileSize)
        imageEnd = fileSize;
    const Installer installer = DetectInstaller(
        [&image](std::uint64_t offset, std::span<std::uint8_t> out) { return readImageAt(image, offset, out); },
        fileSize, imageEnd);

    // UPX names its sections UPX0, UPX1 (and UPX2) and keeps its own header, which
    // begins "UPX!", in the module's first page, after the section table. Both must be
    // there: either alone is a name any linker could write.
    const bool upx = upxSections && hasUpxSignature(c, std::min<std::uint64_t>(fileSize, kHeaderSearch));

    auto module = std::unique_ptr<PeModule>(new PeModule(std::move(image)));
    module->m_resourceRva = resourceRva;
    module->m_packer = upx ? Packer::Upx : Packer::None;
    module->m_installer = installer;
    module->m_sections = std::move(sections);
    ModuleImage& held = module->m_image;

    // A module read from its file keeps its resource section in memory when that is
    // small; the headers are not needed any more.
    const auto section = module->resourceSectionRange();
    if (held.file && section && section->second <= sectionLimit) {
        // Not zeroed first: the read fills every byte, or the buffer is not used.
        const auto length = static_cast<std::size_t>(section->second);
        std::shared_ptr<std::uint8_t[]> bytes(new std::uint8_t[length]);
        if (held.file->readAt(section->first, std::span<std::uint8_t>(bytes.get(), length))) {
            held.held = std::span<const std::uint8_t>(bytes.get(), length);
            held.heldOffset = section->first;
            held.keepAlive = std::move(bytes);
        }
    }

    // A module without a resource directory, or with one that cannot be found in the
    // file, is a module without resources.
    if (resourceRva != 0)
        if (const auto rest = module->sectionRest(resourceRva)) {
            RegionBytes region(held, rest->offset, rest->length, 32 * 1024);
            module->m_table = ResourceTable<NameEntry>(TreeReader(region).read());
        }

    // The file stays open only while some resource's data lies outside what is held.
    if (held.file) {
        bool needed = false;
        for (const TypeEntry& t : module->m_table.types())
            for (const NameEntry& n : t.names)
                if (!n.languages.empty())
                    if (const auto range = module->dataRange(n.languages.front()))
                        needed = needed || !module->isHeld(*range);
        if (!needed)
            held.file.reset();
    }
    return module;
}

std::optional<PeModule::FileRange> PeModule::sectionRest(std::uint32_t rva) const {
    for (const Section& s : m_sections) {
        // Some linkers leave the virtual size 0; the raw size stands in for it then.
        const std::uint64_t extent = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= extent)
            continue;
        const std::uint64_t inSection = rva - s.virtualAddress;
        // Past the raw data the section holds zeros that are not in the file.
        if (inSection >= s.rawSize)
            return std::nullopt;
        return FileRange{s.rawOffset + inSection, s.rawSize - inSection};
    }
    return std::nullopt;
}

std::optional<PeModule::FileRange> PeModule::dataRange(const LanguageEntry& entry) const {
    if (entry.size == 0)
        return std::nullopt;
    const auto rest = sectionRest(entry.rva);
    if (!rest)
        return std::nullopt;
    // Data that begins in a section's file part but runs past it is read on from the
    // file, as the bytes lie there (some linkers write the resource section's raw size
    // short). Data that runs past the end of the file can't be loaded at all, as the
    // system's loader refuses it: nothing, rather than a part that looks whole.
    if (entry.size > m_image.fileSize - rest->offset)
        return std::nullopt;
    return FileRange{rest->offset, entry.size};
}

bool PeModule::isHeld(const FileRange& range) const {
    return range.offset >= m_image.heldOffset && range.length <= m_image.held.size() &&
           range.offset - m_image.heldOffset <= m_image.held.size() - range.length;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> PeModule::resourceSectionRange() const {
    for (const Section& s : m_sections) {
        const std::uint64_t extent = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
        if (m_resourceRva >= s.virtualAddress && m_resourceRva - s.virtualAddress < extent &&
            m_resourceRva - s.virtualAddress < s.rawSize)
            return std::pair<std::uint64_t, std::uint64_t>{s.rawOffset, s.rawSize};
    }
    return std::nullopt;
}

std::vector<ResId> PeModule::types() const {
    return m_table.typeIds();
}

std::vector<ResId> PeModule::names(const ResId& type) const {
    return m_table.nameIds(type);
}

std::vector<ResLanguage> PeModule::languages(const ResId& type, const ResId& name) const {
    std::vector<ResLanguage> out;
    if (const NameEntry* n = m_table.findName(type, name))
        for (const LanguageEntry& l : n->languages)
            out.push_back(ResLanguage{l.language, l.size});
    return out;
}

std::vector<std::uint8_t> PeModule::load(const ResId& type, const ResId& name) const {
    const NameEntry* n = m_table.findName(type, name);
    if (!n || n->languages.empty())
        return {};
    const auto range = dataRange(n->languages.front());
    if (!range)
        return {};
    if (isHeld(*range)) {
        const auto bytes = ByteCursor(m_image.held).slice(range->offset - m_image.heldOffset, range->length);
        if (!bytes)
            return {};
        return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
    }
    if (!m_image.file)
        return {};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(range->length));
    // A file cut short since it was opened: such a resource is unreadable.
    if (!m_image.file->readAt(range->offset, out))
        return {};
    return out;
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromBytes(std::span<const std::uint8_t> image) {
    return OpenModuleFromBytesKept(image, nullptr);
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromBuffer(std::vector<std::uint8_t> image) {
    auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
    return OpenModuleFromBytesKept(*owner, owner);
}

} // namespace harvix
