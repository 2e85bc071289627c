#include "tools/modbuilder/ShellLinkBuilder.h"

#include "tools/modbuilder/ByteOut.h"
#include "tools/modbuilder/ModuleBuilder.h"

#include <array>
#include <cctype>

namespace harvix::modbuilder {

namespace {

void utf16(ByteOut& o, const std::string& text, bool terminated) {
    for (const char16_t unit : toUtf16(text))
        o.u16(unit);
    if (terminated)
        o.u16(0);
}

std::size_t unitsOf(const std::string& text) { return toUtf16(text).size(); }

// A block of 0x314 bytes holding a path in 8 bits (260 bytes) and UTF-16 (520 bytes).
void pathBlock(ByteOut& o, std::uint32_t signature, const std::string& text) {
    o.u32(0x314);
    o.u32(signature);
    std::vector<std::uint8_t> ansi(260, 0);
    for (std::size_t i = 0; i < text.size() && i < 259; ++i)
        ansi[i] = static_cast<std::uint8_t>(text[i]);
    o.append(ansi);
    ByteOut wide;
    utf16(wide, text, true);
    wide.bytes.resize(520, 0);
    o.append(wide.bytes);
}

// An 8.3 name of a long one, as Windows makes it: upper case, blanks left out, the first
// six characters and "~1" when it does not fit.
std::string shortNameOf(const std::string& name) {
    const auto dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    auto squeeze = [](const std::string& s) {
        std::string out;
        for (const char c : s)
            if (c != ' ' && c != '.')
                out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return out;
    };
    const std::string b = squeeze(base), e = squeeze(ext);
    const bool fits = b.size() <= 8 && e.size() <= 3 && b == base && e == ext;
    if (fits)
        return name;
    return b.substr(0, 6) + "~1" + (e.empty() ? "" : "." + e.substr(0, 3));
}

std::vector<std::uint8_t> idList(const std::string& path) {
    ByteOut list;
    // The computer: a root folder item with its class id.
    const std::array<std::uint8_t, 16> computer = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                                   0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
    list.u16(20);
    list.u8(0x1F);
    list.u8(0x50);
    list.append(std::vector<std::uint8_t>(computer.begin(), computer.end()));
    // The drive: "C:\" in a 25-byte field.
    ByteOut drive;
    drive.u8(0x2F);
    drive.text(path.substr(0, 3));
    drive.bytes.resize(23, 0);
    list.u16(static_cast<unsigned>(drive.bytes.size() + 2));
    list.append(drive.bytes);
    // The components.
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        const bool last = end == path.size();
        start = end + 1;
        ByteOut item;
        item.u8(last ? 0x32 : 0x31);
        item.u8(0);
        item.u32(0);      // size
        item.u32(0);      // date and time
        item.u16(last ? 0x20 : 0x10);
        const std::string shortName = shortNameOf(name);
        item.text(shortName);
        item.u8(0);
        item.padTo(2);
        const std::size_t extension = item.bytes.size();
        // Extension block, version 8: size, version, signature, two dates, a word, then
        // (from version 7) a word, the file reference, a quadword, (version 8) a long;
        // the long name at 40; then a word and the block's offset in the item.
        ByteOut x;
        x.u16(0);
        x.u16(8);
        x.u32(0xBEEF0004u);
        x.u32(0);
        x.u32(0);
        x.u16(0x2A);
        x.u16(0);
        x.u32(0);
        x.u32(0);
        x.u32(0);
        x.u32(0);
        x.u32(0);
        utf16(x, name, true);
        x.u16(0);
        x.u16(static_cast<unsigned>(extension + 2));
        x.put16(0, static_cast<unsigned>(x.bytes.size()));
        item.append(x.bytes);
        list.u16(static_cast<unsigned>(item.bytes.size() + 2));
        list.append(item.bytes);
    }
    list.u16(0);
    return list.bytes;
}

} // namespace

std::vector<std::uint8_t> makeShellLink(const ShellLinkParts& parts) {
    std::uint32_t flags = 0;
    if (parts.idListPath)
        flags |= 0x1;
    if (parts.linkInfoPath)
        flags |= 0x2;
    if (parts.name)
        flags |= 0x4;
    if (parts.relativePath)
        flags |= 0x8;
    if (parts.workingDir)
        flags |= 0x10;
    if (parts.arguments)
        flags |= 0x20;
    if (parts.iconLocation)
        flags |= 0x40;
    if (parts.unicode)
        flags |= 0x80;
    if (parts.environmentTarget)
        flags |= 0x200;
    if (parts.darwin)
        flags |= 0x1000;
    if (parts.environmentIcon)
        flags |= 0x4000;

    ByteOut o;
    o.u32(0x4C);
    for (const unsigned b : {0x01u, 0x14u, 0x02u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0xC0u, 0x00u, 0x00u, 0x00u,
                             0x00u, 0x00u, 0x00u, 0x46u})
        o.u8(b);
    o.u32(flags);
    o.u32(0x20); // attributes: archive
    for (int i = 0; i < 6; ++i)
        o.u32(0); // three times
    o.u32(0);     // file size
    o.i32(parts.iconIndex);
    o.u32(1); // show normal
    o.u16(0); // hot key
    o.u16(0);
    o.u32(0);
    o.u32(0);

    if (parts.idListPath) {
        const std::vector<std::uint8_t> list = idList(*parts.idListPath);
        o.u16(static_cast<unsigned>(list.size()));
        o.append(list);
    }
    if (parts.linkInfoPath) {
        // Header of 0x1C bytes, a volume id of 0x11 bytes, the base path, an empty suffix.
        ByteOut info;
        const std::uint32_t volume = 0x1C, base = volume + 0x11;
        const std::uint32_t suffix = base + static_cast<std::uint32_t>(parts.linkInfoPath->size()) + 1;
        info.u32(0);
        info.u32(0x1C);
        info.u32(0x1); // VolumeIDAndLocalBasePath
        info.u32(volume);
        info.u32(base);
        info.u32(0);
        info.u32(suffix);
        info.u32(0x11);
        info.u32(3); // a fixed drive
        info.u32(0x12345678);
        info.u32(0x10);
        info.u8(0);
        info.text(*parts.linkInfoPath);
        info.u8(0);
        info.u8(0);
        info.put32(0, static_cast<std::uint32_t>(info.bytes.size()));
        o.append(info.bytes);
    }
    for (const auto* text : {&parts.name, &parts.relativePath, &parts.workingDir, &parts.arguments, &parts.iconLocation}) {
        if (!*text)
            continue;
        if (parts.unicode) {
            o.u16(static_cast<unsigned>(unitsOf(**text)));
            utf16(o, **text, false);
        } else {
            o.u16(static_cast<unsigned>((*text)->size()));
            o.text(**text);
        }
    }
    if (parts.environmentTarget)
        pathBlock(o, 0xA0000001u, *parts.environmentTarget);
    if (parts.darwin)
        pathBlock(o, 0xA0000006u, *parts.darwin);
    if (parts.environmentIcon)
        pathBlock(o, 0xA0000007u, *parts.environmentIcon);
    o.u32(0); // the terminal block
    return o.bytes;
}

std::string packedProductCode(const std::string& guid) {
    static const std::string kDigits =
        "!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";
    std::string hex;
    for (const char c : guid)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += c;
    auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(std::stoul(hex.substr(i * 2, 2), nullptr, 16)); };
    // As stored: Data1, Data2, Data3 little-endian, then Data4 as written.
    const std::array<std::size_t, 16> order = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 16; ++i)
        bytes[i] = byteAt(order[i]);
    std::string out;
    for (std::size_t word = 0; word < 4; ++word) {
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < 4; ++b)
            value |= static_cast<std::uint32_t>(bytes[word * 4 + b]) << (8 * b);
        for (int k = 0; k < 5; ++k) {
            out += kDigits[value % 85];
            value /= 85;
        }
    }
    return out;
}

} // namespace harvix::modbuilder
