#include "tools/modbuilder/ModuleBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <tuple>
#include <unistd.h>

namespace harvix::modbuilder {

namespace {

// Image layout: headers in the first 0x200 bytes, a one-byte code section at RVA 0x1000
// (file offset 0x200), the resource section at RVA 0x2000 (file offset 0x400 unless
// placed elsewhere). RVAs and file offsets differ on purpose, so that a reader that
// forgets to map them fails.
constexpr std::uint32_t kLfanew = 0x80;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kHeaderSize = 0x200;
constexpr std::uint32_t kTextRva = 0x1000;
constexpr std::uint32_t kTextRaw = 0x200;
constexpr std::uint32_t kResourceRva = 0x2000;
constexpr std::uint32_t kDefaultResourceRaw = 0x400;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kFarAway = 0x7FFFFFF0u;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Little-endian writes into a growing buffer.
class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : m_out(out) {}
    void ensure(std::size_t end) {
        if (m_out.size() < end)
            m_out.resize(end, 0);
    }
    void u8(std::size_t at, std::uint8_t v) {
        ensure(at + 1);
        m_out[at] = v;
    }
    void u16(std::size_t at, std::uint16_t v) {
        ensure(at + 2);
        m_out[at] = static_cast<std::uint8_t>(v);
        m_out[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void u32(std::size_t at, std::uint32_t v) {
        ensure(at + 4);
        for (std::size_t i = 0; i < 4; ++i)
            m_out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void u64(std::size_t at, std::uint64_t v) {
        ensure(at + 8);
        for (std::size_t i = 0; i < 8; ++i)
            m_out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void bytes(std::size_t at, std::span<const std::uint8_t> data) {
        ensure(at + data.size());
        std::copy(data.begin(), data.end(), m_out.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void text(std::size_t at, std::string_view s) {
        ensure(at + s.size());
        std::copy(s.begin(), s.end(), m_out.begin() + static_cast<std::ptrdiff_t>(at));
    }

private:
    std::vector<std::uint8_t>& m_out;
};

char16_t upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

std::vector<std::uint8_t> dosHeader(std::uint32_t lfanew, std::size_t totalSize) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    w.ensure(totalSize);
    w.text(0, "MZ");
    w.u16(2, 0x90);  // bytes on last page
    w.u16(4, 3);     // pages
    w.u16(8, 4);     // header paragraphs
    w.u16(0x18, 0x40);
    w.u32(0x3C, lfanew);
    // DOS stub: print a message and exit.
    const std::uint8_t stub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD,
                                 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    w.bytes(0x40, stub);
    w.text(0x4E, "Harvix sample module.\r\n$");
    return out;
}

} // namespace

ModuleBuilder::ModuleBuilder(Machine machine) : m_machine(machine) {}

ModuleBuilder::Key ModuleBuilder::keyOf(const ResId& id) {
    Key key;
    key.numeric = id.numeric;
    key.id = id.id;
    if (!id.numeric)
        key.name = toUtf16(id.text);
    return key;
}

ModuleBuilder& ModuleBuilder::add(const ResId& type, const ResId& name, std::uint16_t language,
                                  std::vector<std::uint8_t> bytes) {
    m_items.push_back(Item{keyOf(type), keyOf(name), language, std::move(bytes)});
    return *this;
}

ModuleBuilder& ModuleBuilder::add(const ResId& type, const RawName& name, std::uint16_t language,
                                  std::vector<std::uint8_t> bytes) {
    m_items.push_back(Item{keyOf(type), Key{false, 0, name.units}, language, std::move(bytes)});
    return *this;
}

ModuleBuilder& ModuleBuilder::setPackedByUpx(bool packed) {
    m_upx = packed;
    return *this;
}

ModuleBuilder& ModuleBuilder::setDll(bool dll) {
    m_dll = dll;
    return *this;
}

ModuleBuilder& ModuleBuilder::setSorted(bool sorted) {
    m_sorted = sorted;
    return *this;
}

ModuleBuilder& ModuleBuilder::inject(Fault fault) {
    m_faults.insert(fault);
    return *this;
}

ModuleBuilder& ModuleBuilder::truncateTo(std::size_t size) {
    m_truncate = size;
    return *this;
}

std::vector<std::uint8_t> ModuleBuilder::resourceSection(std::uint32_t sectionRva) const {
    std::vector<Item> items = m_items;
    if (items.empty() && !m_faults.empty())
        items.push_back(Item{Key{true, 2, {}}, Key{true, 1, {}}, 0x0409, std::vector<std::uint8_t>(16, 0xAB)});

    // The tree: types -> names -> languages, each level in first-added order for now.
    struct LangNode {
        std::uint16_t language;
        const Item* item;
    };
    struct NameNode {
        Key key;
        std::vector<LangNode> langs;
    };
    struct TypeNode {
        Key key;
        std::vector<NameNode> names;
    };
    // Group by type and name, keeping the order in which each was first added.
    using KeyTuple = std::tuple<bool, std::uint16_t, std::u16string>;
    auto tupleOf = [](const Key& k) { return KeyTuple{k.numeric, k.id, k.name}; };
    std::vector<TypeNode> types;
    std::map<KeyTuple, std::size_t> typeAt;
    std::vector<std::map<KeyTuple, std::size_t>> nameIndexOf;
    for (const Item& item : items) {
        auto [t, newType] = typeAt.try_emplace(tupleOf(item.type), types.size());
        if (newType) {
            types.push_back(TypeNode{item.type, {}});
            nameIndexOf.emplace_back();
        }
        TypeNode& type = types[t->second];
        auto [n, newName] = nameIndexOf[t->second].try_emplace(tupleOf(item.name), type.names.size());
        if (newName)
            type.names.push_back(NameNode{item.name, {}});
        type.names[n->second].langs.push_back(LangNode{item.language, &item});
    }
    if (m_sorted) {
        auto before = [](const Key& a, const Key& b) {
            if (a.numeric != b.numeric)
                return !a.numeric; // named entries first
            if (a.numeric)
                return a.id < b.id;
            return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                                [](char16_t x, char16_t y) { return upper(x) < upper(y); });
        };
        std::stable_sort(types.begin(), types.end(), [&](const TypeNode& a, const TypeNode& b) { return before(a.key, b.key); });
        for (TypeNode& t : types) {
            std::stable_sort(t.names.begin(), t.names.end(), [&](const NameNode& a, const NameNode& b) { return before(a.key, b.key); });
            for (NameNode& n : t.names)
                std::stable_sort(n.langs.begin(), n.langs.end(),
                                 [](const LangNode& a, const LangNode& b) { return a.language < b.language; });
        }
    }

    // Offsets: all directories first (root, name directories, language directories),
    // then the data entries, then the name strings, then the data.
    auto dirSize = [](std::size_t entries) { return static_cast<std::uint32_t>(16 + 8 * entries); };
    std::uint32_t offset = dirSize(types.size());
    std::vector<std::uint32_t> nameDirAt(types.size());
    for (std::size_t t = 0; t < types.size(); ++t) {
        nameDirAt[t] = offset;
        offset += dirSize(types[t].names.size());
    }
    std::vector<std::vector<std::uint32_t>> langDirAt(types.size());
    for (std::size_t t = 0; t < types.size(); ++t)
        for (const NameNode& n : types[t].names) {
            langDirAt[t].push_back(offset);
            offset += dirSize(n.langs.size());
        }
    std::vector<std::vector<std::vector<std::uint32_t>>> dataEntryAt(types.size());
    for (std::size_t t = 0; t < types.size(); ++t)
        for (const NameNode& n : types[t].names) {
            dataEntryAt[t].emplace_back();
            for (std::size_t l = 0; l < n.langs.size(); ++l) {
                dataEntryAt[t].back().push_back(offset);
                offset += 16;
            }
        }

    std::vector<std::uint8_t> out;
    Writer w(out);
    std::uint32_t firstNameString = 0;
    bool haveNameString = false;
    auto writeName = [&](const Key& key) -> std::uint32_t {
        std::uint32_t at = offset;
        if (!haveNameString) {
            firstNameString = at;
            haveNameString = true;
        }
        w.u16(at, static_cast<std::uint16_t>(key.name.size()));
        for (std::size_t i = 0; i < key.name.size(); ++i)
            w.u16(at + 2 + 2 * i, key.name[i]);
        offset = alignUp(static_cast<std::uint32_t>(at + 2 + 2 * key.name.size()), 2);
        return at;
    };
    // Name strings for every level, in the order the directories come.
    std::vector<std::uint32_t> typeNameAt(types.size(), 0);
    std::vector<std::vector<std::uint32_t>> nameNameAt(types.size());
    for (std::size_t t = 0; t < types.size(); ++t)
        if (!types[t].key.numeric)
            typeNameAt[t] = writeName(types[t].key);
    for (std::size_t t = 0; t < types.size(); ++t)
        for (const NameNode& n : types[t].names)
            nameNameAt[t].push_back(n.key.numeric ? 0 : writeName(n.key));

    auto entryId = [](const Key& key, std::uint32_t nameAt) {
        return key.numeric ? std::uint32_t{key.id} : (kSubdirectoryFlag | nameAt);
    };
    auto writeDir = [&](std::uint32_t at, auto const& nodes) {
        std::uint16_t named = 0, numeric = 0;
        for (const auto& node : nodes)
            (node.key.numeric ? numeric : named)++;
        w.u32(at, 0);
        w.u32(at + 4, 0);
        w.u16(at + 8, 4);
        w.u16(at + 10, 0);
        w.u16(at + 12, named);
        w.u16(at + 14, numeric);
    };
    writeDir(0, types);
    if (types.empty())
        w.ensure(16);
    for (std::size_t t = 0; t < types.size(); ++t) {
        w.u32(16 + 8 * t, entryId(types[t].key, typeNameAt[t]));
        w.u32(16 + 8 * t + 4, kSubdirectoryFlag | nameDirAt[t]);
        writeDir(nameDirAt[t], types[t].names);
        for (std::size_t n = 0; n < types[t].names.size(); ++n) {
            const NameNode& node = types[t].names[n];
            std::uint32_t entry = nameDirAt[t] + 16 + static_cast<std::uint32_t>(8 * n);
            w.u32(entry, entryId(node.key, nameNameAt[t][n]));
            w.u32(entry + 4, kSubdirectoryFlag | langDirAt[t][n]);
            std::uint32_t ld = langDirAt[t][n];
            w.u32(ld, 0);
            w.u32(ld + 4, 0);
            w.u16(ld + 8, 4);
            w.u16(ld + 10, 0);
            w.u16(ld + 12, 0);
            w.u16(ld + 14, static_cast<std::uint16_t>(node.langs.size()));
            for (std::size_t l = 0; l < node.langs.size(); ++l) {
                w.u32(ld + 16 + 8 * l, node.langs[l].language);
                w.u32(ld + 16 + 8 * l + 4, dataEntryAt[t][n][l]);
            }
        }
    }
    // Data, each resource aligned to 8 bytes.
    for (std::size_t t = 0; t < types.size(); ++t)
        for (std::size_t n = 0; n < types[t].names.size(); ++n)
            for (std::size_t l = 0; l < types[t].names[n].langs.size(); ++l) {
                const Item& item = *types[t].names[n].langs[l].item;
                offset = alignUp(offset, 8);
                std::uint32_t de = dataEntryAt[t][n][l];
                w.u32(de, sectionRva + offset);
                w.u32(de + 4, static_cast<std::uint32_t>(item.bytes.size()));
                w.u32(de + 8, 0); // code page
                w.u32(de + 12, 0);
                w.bytes(offset, item.bytes);
                offset += static_cast<std::uint32_t>(item.bytes.size());
            }
    w.ensure(offset);

    // Broken forms of the directory.
    if (!types.empty()) {
        const std::uint32_t firstType = 16;
        const std::uint32_t firstName = nameDirAt[0] + 16;
        const std::uint32_t firstLang = types[0].names.empty() ? 0 : langDirAt[0][0] + 16;
        const std::uint32_t firstData = types[0].names.empty() ? 0 : dataEntryAt[0][0][0];
        if (has(Fault::DirectoryCycle) && !types[0].names.empty())
            w.u32(firstName + 4, kSubdirectoryFlag | 0);
        if (has(Fault::SelfCycle))
            w.u32(16 + 8 * (types.size() - 1) + 4, kSubdirectoryFlag | 0);
        if (has(Fault::SubdirectoryPastEnd))
            w.u32(firstType + 4, kSubdirectoryFlag | kFarAway);
        if (has(Fault::LeafAtTypeLevel) && firstData != 0)
            w.u32(firstType + 4, firstData);
        if (has(Fault::NamePastEnd)) {
            // The first named entry at the type level, else at the name level.
            bool done = false;
            for (std::size_t t = 0; t < types.size() && !done; ++t)
                if (!types[t].key.numeric) {
                    w.u32(16 + 8 * t, kSubdirectoryFlag | kFarAway);
                    done = true;
                }
            for (std::size_t t = 0; t < types.size() && !done; ++t)
                for (std::size_t n = 0; n < types[t].names.size() && !done; ++n)
                    if (!types[t].names[n].key.numeric) {
                        w.u32(nameDirAt[t] + 16 + 8 * n, kSubdirectoryFlag | kFarAway);
                        done = true;
                    }
        }
        if (has(Fault::HugeNameLength) && haveNameString)
            w.u16(firstNameString, 0xFFFF);
        if (firstLang != 0) {
            if (has(Fault::DataEntryPastEnd))
                w.u32(firstLang + 4, kFarAway);
            if (has(Fault::DirectoryAtLanguageLevel))
                w.u32(firstLang + 4, kSubdirectoryFlag | 0);
        }
        if (firstData != 0) {
            if (has(Fault::DataRvaUnmapped))
                w.u32(firstData, 0x7FFF0000u);
            if (has(Fault::HugeDataSize))
                w.u32(firstData + 4, 0xFFFFFFF0u);
            if (has(Fault::DataSizeZero))
                w.u32(firstData + 4, 0);
        }
    }
    if (has(Fault::HugeEntryCount)) {
        w.u16(12, 0xFFFF);
        w.u16(14, 0xFFFF);
    }
    return out;
}

std::vector<std::uint8_t> ModuleBuilder::headers(std::uint32_t resourceRawOffset,
                                                 std::uint32_t resourceRawSize,
                                                 std::uint32_t resourceVirtualSize) const {
    const bool plus = m_machine == Machine::Pe32Plus;
    std::vector<std::uint8_t> out = dosHeader(kLfanew, kHeaderSize);
    Writer w(out);
    const std::uint32_t pe = kLfanew;
    const std::uint32_t coff = pe + 4;
    const std::uint16_t optSize = plus ? 240 : 224;
    const std::uint32_t opt = coff + 20;
    const std::uint32_t sections = opt + optSize;

    w.text(pe, std::string_view("PE\0\0", 4));
    w.u16(coff, plus ? 0x8664 : 0x014C);
    w.u16(coff + 2, 2);          // sections
    w.u32(coff + 4, 0x5F5E1000); // time stamp
    w.u16(coff + 16, optSize);
    w.u16(coff + 18, static_cast<std::uint16_t>((m_dll ? 0x2000 : 0) | 0x0002 | (plus ? 0x0020 : 0x0100)));

    const std::uint32_t imageSize = kResourceRva + alignUp(std::max<std::uint32_t>(resourceVirtualSize, 1), kSectionAlignment);
    w.u16(opt, plus ? 0x20B : 0x10B);
    w.u8(opt + 2, 14);
    w.u32(opt + 4, kFileAlignment);  // size of code
    w.u32(opt + 8, resourceRawSize); // initialised data
    w.u32(opt + 16, m_dll ? 0 : kTextRva);
    w.u32(opt + 20, kTextRva);
    if (plus) {
        w.u64(opt + 24, 0x180000000ull);
    } else {
        w.u32(opt + 24, kResourceRva); // base of data
        w.u32(opt + 28, 0x10000000u);
    }
    w.u32(opt + 32, kSectionAlignment);
    w.u32(opt + 36, kFileAlignment);
    w.u16(opt + 40, 6);
    w.u16(opt + 48, 6);
    w.u32(opt + 56, imageSize);
    w.u32(opt + 60, kHeaderSize);
    w.u16(opt + 68, 2); // Windows GUI subsystem
    w.u16(opt + 70, 0x0140);
    const std::uint32_t dirCountAt = plus ? opt + 108 : opt + 92;
    const std::uint32_t dirs = dirCountAt + 4;
    if (plus) {
        w.u64(opt + 72, 0x100000);
        w.u64(opt + 80, 0x1000);
        w.u64(opt + 88, 0x100000);
        w.u64(opt + 96, 0x1000);
    } else {
        w.u32(opt + 72, 0x100000);
        w.u32(opt + 76, 0x1000);
        w.u32(opt + 80, 0x100000);
        w.u32(opt + 84, 0x1000);
    }
    w.u32(dirCountAt, 16);
    w.u32(dirs + 2 * 8, kResourceRva);
    w.u32(dirs + 2 * 8 + 4, resourceVirtualSize);

    auto section = [&](std::uint32_t at, std::string_view name, std::uint32_t vsize, std::uint32_t rva,
                       std::uint32_t rawSize, std::uint32_t raw, std::uint32_t flags) {
        w.text(at, name);
        w.u32(at + 8, vsize);
        w.u32(at + 12, rva);
        w.u32(at + 16, rawSize);
        w.u32(at + 20, raw);
        w.u32(at + 36, flags);
    };
    if (m_upx) {
        section(sections, "UPX0", 0x1000, kTextRva, 0, 0, 0xE0000080);
        w.text(sections + 2 * 40, std::string_view("3.96\0UPX!", 9));
    } else {
        section(sections, ".text", 1, kTextRva, kFileAlignment, kTextRaw, 0x60000020);
    }
    section(sections + 40, ".rsrc", resourceVirtualSize, kResourceRva, resourceRawSize, resourceRawOffset, 0x40000040);
    w.u8(kTextRaw, 0xC3); // ret
    w.ensure(kTextRaw + kFileAlignment);

    if (has(Fault::NoMzSignature))
        w.text(0, "ZM");
    if (has(Fault::NoPeSignature))
        w.text(pe, "PX");
    if (has(Fault::LfanewPastEnd))
        w.u32(0x3C, kFarAway);
    if (has(Fault::BadOptionalMagic))
        w.u16(opt, 0x107);
    if (has(Fault::TinyOptionalHeader))
        w.u16(coff + 16, 16);
    if (has(Fault::HugeOptionalHeader))
        w.u16(coff + 16, 0xFFFF);
    if (has(Fault::FewDataDirectories))
        w.u32(dirCountAt, 2);
    if (has(Fault::HugeDataDirectoryCount))
        w.u32(dirCountAt, 0xFFFFFFFFu);
    if (has(Fault::NoSections))
        w.u16(coff + 2, 0);
    if (has(Fault::HugeSectionCount))
        w.u16(coff + 2, 0xFFFF);
    if (has(Fault::SectionPastEnd))
        w.u32(sections + 40 + 20, 0x7FFFFE00u);
    if (has(Fault::SectionRawSizeHuge))
        w.u32(sections + 40 + 16, 0xFFFFFFF0u);
    if (has(Fault::ZeroVirtualSize))
        w.u32(sections + 40 + 8, 0);
    if (has(Fault::NoResourceDirectory)) {
        w.u32(dirs + 2 * 8, 0);
        w.u32(dirs + 2 * 8 + 4, 0);
    }
    if (has(Fault::ResourceRvaUnmapped))
        w.u32(dirs + 2 * 8, 0x00F00000u);
    return out;
}

SplitImage ModuleBuilder::buildSplit(std::uint64_t resourceOffset) const {
    SplitImage image;
    if (has(Fault::MzOnly)) {
        image.head = dosHeader(0, 0x80);
        return image;
    }
    if (has(Fault::NeOnly)) {
        image.head = dosHeader(kLfanew, 0x100);
        Writer w(image.head);
        w.text(kLfanew, "NE");
        w.u8(kLfanew + 2, 5);     // linker version
        w.u16(kLfanew + 0x24, 0x40); // resource table offset (relative)
        w.u8(kLfanew + 0x36, 2);  // target OS: Windows
        w.u16(kLfanew + 0x40, 4); // resource alignment shift
        return image;
    }
    std::vector<std::uint8_t> section = resourceSection(kResourceRva);
    const auto virtualSize = static_cast<std::uint32_t>(section.size());
    const std::uint32_t rawSize = alignUp(virtualSize, kFileAlignment);
    section.resize(rawSize, 0);
    // Resource compilers that write the raw size short: the last data runs past it.
    const std::uint32_t writtenRawSize =
        has(Fault::DataPastSectionEnd) && virtualSize > 8 ? virtualSize - 8 : rawSize;
    image.head = headers(static_cast<std::uint32_t>(resourceOffset), writtenRawSize, virtualSize);
    image.tailOffset = resourceOffset;
    image.tail = std::move(section);
    return image;
}

std::vector<std::uint8_t> ModuleBuilder::build() const {
    SplitImage image = buildSplit(kDefaultResourceRaw);
    std::vector<std::uint8_t> out = std::move(image.head);
    if (!image.tail.empty()) {
        out.resize(image.tailOffset, 0);
        out.insert(out.end(), image.tail.begin(), image.tail.end());
    }
    if (out.size() > m_truncate)
        out.resize(m_truncate);
    return out;
}

std::vector<Fault> allFaults() {
    std::vector<Fault> all;
    for (int f = static_cast<int>(Fault::NoMzSignature); f <= static_cast<int>(Fault::DataPastSectionEnd); ++f)
        all.push_back(static_cast<Fault>(f));
    return all;
}

const char* faultName(Fault fault) {
    switch (fault) {
    case Fault::NoMzSignature: return "NoMzSignature";
    case Fault::MzOnly: return "MzOnly";
    case Fault::NeOnly: return "NeOnly";
    case Fault::NoPeSignature: return "NoPeSignature";
    case Fault::LfanewPastEnd: return "LfanewPastEnd";
    case Fault::BadOptionalMagic: return "BadOptionalMagic";
    case Fault::TinyOptionalHeader: return "TinyOptionalHeader";
    case Fault::HugeOptionalHeader: return "HugeOptionalHeader";
    case Fault::FewDataDirectories: return "FewDataDirectories";
    case Fault::HugeDataDirectoryCount: return "HugeDataDirectoryCount";
    case Fault::NoSections: return "NoSections";
    case Fault::HugeSectionCount: return "HugeSectionCount";
    case Fault::SectionPastEnd: return "SectionPastEnd";
    case Fault::SectionRawSizeHuge: return "SectionRawSizeHuge";
    case Fault::ZeroVirtualSize: return "ZeroVirtualSize";
    case Fault::NoResourceDirectory: return "NoResourceDirectory";
    case Fault::ResourceRvaUnmapped: return "ResourceRvaUnmapped";
    case Fault::DirectoryCycle: return "DirectoryCycle";
    case Fault::SelfCycle: return "SelfCycle";
    case Fault::SubdirectoryPastEnd: return "SubdirectoryPastEnd";
    case Fault::HugeEntryCount: return "HugeEntryCount";
    case Fault::NamePastEnd: return "NamePastEnd";
    case Fault::HugeNameLength: return "HugeNameLength";
    case Fault::DataEntryPastEnd: return "DataEntryPastEnd";
    case Fault::DataRvaUnmapped: return "DataRvaUnmapped";
    case Fault::HugeDataSize: return "HugeDataSize";
    case Fault::DataSizeZero: return "DataSizeZero";
    case Fault::LeafAtTypeLevel: return "LeafAtTypeLevel";
    case Fault::DirectoryAtLanguageLevel: return "DirectoryAtLanguageLevel";
    case Fault::DataPastSectionEnd: return "DataPastSectionEnd";
    }
    return "?";
}

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    std::size_t i = 0;
    auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(utf8[k])); };
    while (i < utf8.size()) {
        std::uint32_t c = byte(i);
        std::size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
        bool bad = extra == 4 || i + extra >= utf8.size() + (extra == 0 ? 1 : 0);
        if (!bad && extra > 0) {
            c &= (0x3Fu >> extra);
            for (std::size_t k = 1; k <= extra && !bad; ++k) {
                if ((byte(i + k) & 0xC0) != 0x80)
                    bad = true;
                else
                    c = (c << 6) | (byte(i + k) & 0x3Fu);
            }
        }
        if (bad) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

namespace {
Status writeAll(int fd, std::span<const std::uint8_t> bytes, std::uint64_t at) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return makeError(ErrorKind::Io, std::strerror(errno), errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return success();
}

Status writeParts(const std::string& path, std::span<const std::uint8_t> head, std::uint64_t tailAt,
                  std::span<const std::uint8_t> tail) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return makeError(ErrorKind::Io, path + ": " + std::strerror(errno), errno);
    Status s = writeAll(fd, head, 0);
    if (s && !tail.empty())
        s = writeAll(fd, tail, tailAt);
    if (::close(fd) != 0 && s)
        return makeError(ErrorKind::Io, path + ": " + std::strerror(errno), errno);
    return s;
}
} // namespace

Status writeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    return writeParts(path, bytes, 0, {});
}

Status writeSparseFile(const std::string& path, const SplitImage& image) {
    return writeParts(path, image.head, image.tailOffset, image.tail);
}

} // namespace harvix::modbuilder
