// The PE resource reader: finds the resource directory of a PE32 or PE32+ image and
// reads its tree (type -> name -> language) once, into a small index, so that every
// later lookup is a binary search. The image is untrusted: every field is read through
// ByteCursor, every offset is checked before use, and the amount of work and memory is
// bounded by the size of the resource section, whatever counts the directory claims.
#include "PeModule.h"

#include "GuardedCopy.h"

#include "ByteCursor.h"

#include <algorithm>
#include <unordered_set>

namespace harvix {

namespace {

constexpr std::uint16_t kMzSignature = 0x5A4D;     // "MZ"
constexpr std::uint16_t kNeSignature = 0x454E;     // "NE"
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint64_t kDirectoryHeaderSize = 16;
constexpr std::uint64_t kEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;
constexpr std::uint64_t kSectionHeaderSize = 40;

Error notLoadable(std::string message) { return makeError(ErrorKind::NotLoadable, std::move(message)); }

// Orders identifiers for the lookup indexes: numbers by value, names by their bytes.
bool idLess(const ResId& a, const ResId& b) {
    if (a.numeric != b.numeric)
        return a.numeric;
    return a.numeric ? a.id < b.id : a.text < b.text;
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

// Reads the directory tree of one resource section.
class TreeReader {
public:
    explicit TreeReader(std::span<const std::uint8_t> region)
        : m_cursor(region),
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
        auto named = m_cursor.peekAt<std::uint16_t>(std::uint64_t{offset} + 12);
        auto numbered = m_cursor.peekAt<std::uint16_t>(std::uint64_t{offset} + 14);
        if (!named || !numbered)
            return out;
        // The counts are only claims: read no more entries than the section holds and
        // than the budget for the whole tree allows.
        const std::uint64_t first = std::uint64_t{offset} + kDirectoryHeaderSize;
        const std::uint64_t room = m_cursor.contains(first, 0) ? (m_cursor.size() - first) / kEntrySize : 0;
        const std::uint64_t count = std::min({std::uint64_t{*named} + *numbered, room, m_entryBudget});
        m_entryBudget -= count;
        out.reserve(static_cast<std::size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) {
            auto name = m_cursor.peekAt<std::uint32_t>(first + i * kEntrySize);
            auto target = m_cursor.peekAt<std::uint32_t>(first + i * kEntrySize + 4);
            if (!name || !target)
                break;
            out.push_back(RawEntry{*name, *target & ~kHighBit, (*target & kHighBit) != 0});
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
        auto length = m_cursor.peekAt<std::uint16_t>(at);
        if (!length || !m_cursor.contains(at + 2, std::uint64_t{*length} * 2) || *length > m_charBudget)
            return std::nullopt;
        m_charBudget -= *length;
        auto units = m_cursor.slice(at + 2, std::uint64_t{*length} * 2);
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
        auto rva = m_cursor.peekAt<std::uint32_t>(entry.target);
        auto size = m_cursor.peekAt<std::uint32_t>(std::uint64_t{entry.target} + 4);
        if (!rva || !size || !m_cursor.contains(entry.target, kDataEntrySize))
            return std::nullopt;
        return PeModule::LanguageEntry{static_cast<std::uint16_t>(entry.name), *rva, *size};
    }

    ByteCursor m_cursor;
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
    return parseParts(image, image, 0, image.size(), std::move(keepAlive));
}

Result<std::unique_ptr<PeModule>> PeModule::parseParts(std::span<const std::uint8_t> headers,
                                                       std::span<const std::uint8_t> window,
                                                       std::uint64_t windowOffset, std::uint64_t fileSize,
                                                       std::shared_ptr<const void> keepAlive) {
    ByteCursor c(headers);
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
    if (directories > kResourceDirectoryIndex) {
        auto rva = c.peekAt<std::uint32_t>(optional + directoriesAt + kResourceDirectoryIndex * 8);
        if (!rva)
            return notLoadable("truncated data directories");
        resourceRva = *rva;
    }

    ByteCursor table(headers, 0);
    if (!table.seek(optional + *optionalSize) || !table.checkArray(*sectionCount, kSectionHeaderSize))
        return notLoadable("section table past the end of the file");
    auto module = std::unique_ptr<PeModule>(new PeModule(window, std::move(keepAlive)));
    module->m_imageOffset = windowOffset;
    module->m_resourceRva = resourceRva;
    for (std::uint16_t i = 0; i < *sectionCount; ++i) {
        const std::uint64_t at = table.position() + i * kSectionHeaderSize;
        Section s;
        s.virtualSize = c.peekAt<std::uint32_t>(at + 8).valueOr(0);
        s.virtualAddress = c.peekAt<std::uint32_t>(at + 12).valueOr(0);
        s.rawSize = c.peekAt<std::uint32_t>(at + 16).valueOr(0);
        s.rawOffset = c.peekAt<std::uint32_t>(at + 20).valueOr(0);
        if (s.rawSize != 0) {
            if (s.rawOffset >= fileSize)
                return notLoadable("section data starts past the end of the file");
            // The last section of a file is often not padded to its full raw size.
            s.rawSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(s.rawSize, fileSize - s.rawOffset));
        }
        module->m_sections.push_back(s);
    }

    // A module without a resource directory, or with one that cannot be found in the
    // file, is a module without resources.
    if (resourceRva != 0)
        if (auto region = module->fileSpan(resourceRva))
            module->m_types = TreeReader(*region).read();
    module->buildIndexes();
    return module;
}

PeModule::PeModule(std::span<const std::uint8_t> image, std::shared_ptr<const void> keepAlive)
    : m_image(image), m_keepAlive(std::move(keepAlive)) {}

std::optional<std::span<const std::uint8_t>> PeModule::fileSpan(std::uint32_t rva) const {
    for (const Section& s : m_sections) {
        // Some linkers leave the virtual size 0; the raw size stands in for it then.
        const std::uint64_t extent = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= extent)
            continue;
        const std::uint64_t inSection = rva - s.virtualAddress;
        // Past the raw data the section holds zeros that are not in the file.
        if (inSection >= s.rawSize)
            return std::nullopt;
        // Only the bytes held from m_imageOffset on can be seen.
        const std::uint64_t at = s.rawOffset + inSection;
        if (at < m_imageOffset)
            return std::nullopt;
        ByteCursor c(m_image);
        auto view = c.slice(at - m_imageOffset, s.rawSize - inSection);
        if (!view)
            return std::nullopt;
        return *view;
    }
    return std::nullopt;
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

bool PeModule::allDataReadable() const {
    for (const TypeEntry& t : m_types)
        for (const NameEntry& n : t.names)
            for (const LanguageEntry& l : n.languages) {
                if (l.size == 0)
                    continue;
                const auto region = fileSpan(l.rva);
                if (!region || region->size() < l.size)
                    return false;
            }
    return true;
}

void PeModule::buildIndexes() {
    auto indexOf = [](const auto& entries) {
        std::vector<std::uint32_t> index(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            index[i] = static_cast<std::uint32_t>(i);
        // Stable: of two equal identifiers the first in the directory is found.
        std::stable_sort(index.begin(), index.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return idLess(entries[a].id, entries[b].id); });
        return index;
    };
    m_typeIndex = indexOf(m_types);
    for (TypeEntry& t : m_types)
        t.nameIndex = indexOf(t.names);
}

template <class Entries>
static const typename Entries::value_type* findIn(const Entries& entries, const std::vector<std::uint32_t>& index,
                                                  const ResId& id) {
    auto it = std::lower_bound(index.begin(), index.end(), id,
                               [&](std::uint32_t i, const ResId& key) { return idLess(entries[i].id, key); });
    if (it == index.end() || !(entries[*it].id == id))
        return nullptr;
    return &entries[*it];
}

const PeModule::TypeEntry* PeModule::findType(const ResId& type) const {
    return findIn(m_types, m_typeIndex, type);
}

const PeModule::NameEntry* PeModule::findName(const ResId& type, const ResId& name) const {
    const TypeEntry* t = findType(type);
    return t ? findIn(t->names, t->nameIndex, name) : nullptr;
}

std::vector<ResId> PeModule::types() const {
    std::vector<ResId> out;
    out.reserve(m_types.size());
    for (const TypeEntry& t : m_types)
        out.push_back(t.id);
    return out;
}

std::vector<ResId> PeModule::names(const ResId& type) const {
    std::vector<ResId> out;
    if (const TypeEntry* t = findType(type)) {
        out.reserve(t->names.size());
        for (const NameEntry& n : t->names)
            out.push_back(n.id);
    }
    return out;
}

std::vector<ResLanguage> PeModule::languages(const ResId& type, const ResId& name) const {
    std::vector<ResLanguage> out;
    if (const NameEntry* n = findName(type, name))
        for (const LanguageEntry& l : n->languages)
            out.push_back(ResLanguage{l.language, l.size});
    return out;
}

std::vector<std::uint8_t> PeModule::load(const ResId& type, const ResId& name) const {
    const NameEntry* n = findName(type, name);
    if (!n || n->languages.empty())
        return {};
    const LanguageEntry& first = n->languages.front();
    if (first.size == 0)
        return {};
    // The data must lie within the file part of one section; a size that runs past it
    // (or past the end of the file) makes the resource unreadable.
    auto region = fileSpan(first.rva);
    if (!region || region->size() < first.size)
        return {};
    const auto bytes = region->first(first.size);
    std::vector<std::uint8_t> out(bytes.size());
    // The file may have been truncated since it was mapped: such a resource is
    // unreadable, not a reason to stop the program.
    if (!GuardedCopy(out.data(), bytes.data(), bytes.size()))
        return {};
    return out;
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromBytes(std::span<const std::uint8_t> image) {
    auto module = PeModule::parse(image, nullptr);
    if (!module)
        return module.error();
    return std::unique_ptr<IResourceModule>(std::move(module).value());
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromBuffer(std::vector<std::uint8_t> image) {
    auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
    auto module = PeModule::parse(*owner, owner);
    if (!module)
        return module.error();
    return std::unique_ptr<IResourceModule>(std::move(module).value());
}

} // namespace harvix
