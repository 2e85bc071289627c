#include "launcher/ShellLink.h"

#include "common/ByteCursor.h"
#include "module/PeModule.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace harvix {

namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
// CLSID 00021401-0000-0000-C000-000000000046 as stored.
constexpr std::array<std::uint8_t, 16> kLinkClsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint64_t kFlagsOffset = 0x14;
constexpr std::uint64_t kIconIndexOffset = 0x38;

constexpr std::uint32_t kEnvironmentBlock = 0xA0000001;
constexpr std::uint32_t kDarwinBlock = 0xA0000006;
constexpr std::uint32_t kIconEnvironmentBlock = 0xA0000007;
// The three blocks hold a path twice: 260 bytes in the code page, 520 in UTF-16.
constexpr std::uint64_t kAnsiPathBytes = 260;
constexpr std::uint64_t kUnicodePathBytes = 520;
// Real links carry a handful of extra blocks; a list of thousands is not read to its end.
constexpr int kMostExtraBlocks = 256;
// The item ID list of a real link has a few items per folder level.
constexpr int kMostItems = 512;

// The characters 0x80-0x9F of code page 1252 (the rest is Latin-1); 0 for the five it
// leaves undefined, which become U+FFFD.
constexpr char16_t kWestern80[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t c) {
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

// A string of a fixed field: up to its first NUL.
std::string fixedAnsi(std::span<const std::uint8_t> field) {
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return WesternToUtf8(field.first(static_cast<std::size_t>(end - field.begin())));
}
std::string fixedUnicode(std::span<const std::uint8_t> field) {
    return utf16ToUtf8(field.first(field.size() & ~std::size_t{1}));
}

// A NUL-terminated string at `offset` inside `whole`, of 1- or 2-byte characters.
Result<std::string> terminatedAt(std::span<const std::uint8_t> whole, std::uint64_t offset, bool unicode,
                                 const char* what) {
    if (offset >= whole.size())
        return makeError(ErrorKind::Malformed, std::string("the shortcut's ") + what + " lies outside its part");
    const std::span<const std::uint8_t> rest = whole.subspan(static_cast<std::size_t>(offset));
    const std::size_t unit = unicode ? 2 : 1;
    for (std::size_t at = 0; at + unit <= rest.size(); at += unit) {
        if (rest[at] == 0 && (!unicode || rest[at + 1] == 0))
            return unicode ? utf16ToUtf8(rest.first(at)) : WesternToUtf8(rest.first(at));
    }
    return makeError(ErrorKind::Malformed, std::string("the shortcut's ") + what + " has no end");
}

// The drive and file-system items of an item ID list as a path ("C:\Games\app.exe").
// Items of other kinds (control panel, network, known folders) make it empty: the list
// is only a fallback for links that name their target nowhere else.
std::string pathOfItems(std::span<const std::uint8_t> list) {
    ByteCursor c(list);
    std::string path;
    for (int items = 0; items < kMostItems; ++items) {
        auto size = c.u16();
        if (!size || *size == 0)
            break; // the terminal item
        if (*size < 3)
            return {};
        auto item = c.bytes(*size - 2u);
        if (!item)
            return {};
        const std::uint8_t type = (*item)[0];
        if (type == 0x1F)
            continue; // a root folder (the computer)
        if ((type & 0x70) == 0x20) {
            // A volume: "C:\" in the code page, from the second byte.
            path = fixedAnsi(item->subspan(1));
            if (path.size() < 2 || path[1] != ':')
                return {};
            if (path.back() != '\\')
                path += '\\';
            continue;
        }
        if ((type & 0x70) != 0x30 || path.empty())
            return {};
        // A file or folder: size, date, time, attributes, then its short name in the code
        // page; the long name follows in an extension block when the short one differs.
        const bool unicodeName = (type & 0x04) != 0;
        auto name = terminatedAt(*item, 12, unicodeName, "item name");
        if (!name || name->empty())
            return {};
        const std::string shortName = *name;
        std::string longName;
        // Extension block: size, version, signature 0xBEEF0004, two dates, ...; the long
        // name's place depends on the version, so each known place is tried and a name is
        // taken when it can be the long form of the short one.
        // The block follows the name's terminator, at an even offset.
        const std::size_t unit = unicodeName ? 2 : 1;
        std::uint64_t extension = 12;
        while (extension + unit <= item->size() &&
               !((*item)[extension] == 0 && (!unicodeName || (*item)[extension + 1] == 0)))
            extension += unit;
        extension += unit;
        extension += extension & 1;
        ByteCursor x(*item);
        auto extSize = x.peekAt<std::uint16_t>(extension);
        auto signature = x.peekAt<std::uint32_t>(extension + 4);
        if (extSize && signature && *signature == 0xBEEF0004u && x.contains(extension, *extSize)) {
            const auto block = item->subspan(static_cast<std::size_t>(extension), *extSize);
            std::string upperShort = shortName;
            for (char& ch : upperShort)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            const auto tilde = upperShort.find('~');
            for (const std::uint64_t at : {46u, 42u, 40u, 36u, 18u}) {
                auto candidate = terminatedAt(block, at, true, "long name");
                if (!candidate || candidate->empty())
                    continue;
                std::string folded;
                for (const char ch : *candidate)
                    if (ch != ' ')
                        folded += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                std::string upperLong = *candidate;
                for (char& ch : upperLong)
                    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                const bool fits = tilde == std::string::npos
                                      ? upperLong == upperShort
                                      : folded.rfind(upperShort.substr(0, tilde), 0) == 0;
                if (fits) {
                    longName = *candidate;
                    break;
                }
            }
        }
        if (path.back() != '\\')
            path += '\\';
        path += longName.empty() ? shortName : longName;
    }
    return path;
}

} // namespace

std::string WesternToUtf8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes) {
        char32_t c = b;
        if (b >= 0x80 && b < 0xA0)
            c = kWestern80[b - 0x80] != 0 ? kWestern80[b - 0x80] : 0xFFFD;
        appendUtf8(out, c);
    }
    return out;
}

std::string ShellLink::iconPath() const {
    if ((flags & kHasExpIcon) != 0 && !environmentIcon.empty())
        return environmentIcon;
    return iconLocation;
}

std::vector<std::string> ShellLink::targetPaths() const {
    std::vector<std::string> paths;
    for (const std::string* path : {&linkInfoPath, &environmentTarget, &idListPath})
        if (!path->empty() && std::find(paths.begin(), paths.end(), *path) == paths.end())
            paths.push_back(*path);
    return paths;
}

bool IsShellLinkHead(std::span<const std::uint8_t> head) {
    ByteCursor c(head);
    auto size = c.peekAt<std::uint32_t>(0);
    auto clsid = c.slice(4, kLinkClsid.size());
    return size && *size == kHeaderSize && clsid && std::equal(clsid->begin(), clsid->end(), kLinkClsid.begin());
}

Result<ShellLink> ParseShellLink(std::span<const std::uint8_t> bytes) {
    if (!IsShellLinkHead(bytes))
        return makeError(ErrorKind::NotLoadable, "not a shell link");
    ByteCursor c(bytes);
    ShellLink link;
    auto flags = c.peekAt<std::uint32_t>(kFlagsOffset);
    auto index = c.peekAt<std::int32_t>(kIconIndexOffset);
    if (!flags || !index || !c.seek(kHeaderSize))
        return makeError(ErrorKind::Truncated, "the shortcut's header is cut short");
    link.flags = *flags;
    link.iconIndex = *index;

    if (link.flags & ShellLink::kHasIdList) {
        auto size = c.u16();
        auto list = size ? c.bytes(*size) : Result<std::span<const std::uint8_t>>(size.error());
        if (!list)
            return makeError(ErrorKind::Truncated, "the shortcut's item ID list runs past its end");
        link.idListPath = pathOfItems(*list);
    }

    if (link.flags & ShellLink::kHasLinkInfo) {
        const std::uint64_t start = c.position();
        auto size = c.peekAt<std::uint32_t>(start);
        if (!size || *size < 0x1C || !c.contains(start, *size))
            return makeError(ErrorKind::Truncated, "the shortcut's link information runs past its end");
        const auto info = bytes.subspan(static_cast<std::size_t>(start), *size);
        ByteCursor i(info);
        auto headerSize = i.peekAt<std::uint32_t>(4);
        auto infoFlags = i.peekAt<std::uint32_t>(8);
        auto baseOffset = i.peekAt<std::uint32_t>(16);
        auto suffixOffset = i.peekAt<std::uint32_t>(24);
        if (!headerSize || !infoFlags || !baseOffset || !suffixOffset)
            return makeError(ErrorKind::Malformed, "the shortcut's link information is damaged");
        // VolumeIDAndLocalBasePath: a local path, which a prefix can hold (a network
        // share's path is not read).
        if (*infoFlags & 0x1) {
            Result<std::string> base = std::string();
            Result<std::string> suffix = std::string();
            auto baseUnicode = i.peekAt<std::uint32_t>(28);
            auto suffixUnicode = i.peekAt<std::uint32_t>(32);
            if (*headerSize >= 0x24 && baseUnicode && suffixUnicode) {
                base = terminatedAt(info, *baseUnicode, true, "local base path");
                suffix = terminatedAt(info, *suffixUnicode, true, "common path suffix");
            } else {
                base = terminatedAt(info, *baseOffset, false, "local base path");
                suffix = terminatedAt(info, *suffixOffset, false, "common path suffix");
            }
            if (!base)
                return base.error();
            if (!suffix)
                return suffix.error();
            link.linkInfoPath = *base;
            if (!suffix->empty() && !link.linkInfoPath.empty() && link.linkInfoPath.back() != '\\')
                link.linkInfoPath += '\\';
            link.linkInfoPath += *suffix;
        }
        if (!c.skip(*size))
            return makeError(ErrorKind::Truncated, "the shortcut's link information runs past its end");
    }

    const bool unicode = (link.flags & ShellLink::kIsUnicode) != 0;
    const struct {
        std::uint32_t flag;
        std::string ShellLink::*field;
        const char* what;
    } strings[] = {
        {ShellLink::kHasName, &ShellLink::name, "description"},
        {ShellLink::kHasRelativePath, &ShellLink::relativePath, "relative path"},
        {ShellLink::kHasWorkingDir, &ShellLink::workingDir, "working directory"},
        {ShellLink::kHasArguments, &ShellLink::arguments, "arguments"},
        {ShellLink::kHasIconLocation, &ShellLink::iconLocation, "icon location"},
    };
    for (const auto& s : strings) {
        if (!(link.flags & s.flag))
            continue;
        auto count = c.u16();
        auto text = count ? c.bytes(std::uint64_t{*count} * (unicode ? 2 : 1))
                          : Result<std::span<const std::uint8_t>>(count.error());
        if (!text)
            return makeError(ErrorKind::Truncated, std::string("the shortcut's ") + s.what + " runs past its end");
        link.*s.field = unicode ? utf16ToUtf8(*text) : WesternToUtf8(*text);
    }

    // Extra data: blocks of size and signature until one of size below 4. A damaged block
    // ends the reading; what came before it stays.
    for (int blocks = 0; blocks < kMostExtraBlocks; ++blocks) {
        const std::uint64_t start = c.position();
        auto size = c.peekAt<std::uint32_t>(start);
        if (!size || *size < 8 || !c.contains(start, *size))
            break;
        auto signature = c.peekAt<std::uint32_t>(start + 4);
        const auto block = bytes.subspan(static_cast<std::size_t>(start), *size);
        if (signature && (*signature == kEnvironmentBlock || *signature == kIconEnvironmentBlock ||
                          *signature == kDarwinBlock) &&
            block.size() >= 8 + kAnsiPathBytes) {
            std::string text;
            if (block.size() >= 8 + kAnsiPathBytes + kUnicodePathBytes)
                text = fixedUnicode(block.subspan(8 + kAnsiPathBytes, kUnicodePathBytes));
            if (text.empty())
                text = fixedAnsi(block.subspan(8, kAnsiPathBytes));
            if (*signature == kEnvironmentBlock)
                link.environmentTarget = text;
            else if (*signature == kIconEnvironmentBlock)
                link.environmentIcon = text;
            else
                link.darwinDescriptor = text;
        }
        if (!c.skip(*size))
            break;
    }
    return link;
}

Result<InternetShortcut> ParseInternetShortcut(std::span<const std::uint8_t> bytes) {
    std::string text;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        text = utf16ToUtf8(bytes.subspan(2, (bytes.size() - 2) & ~std::size_t{1}));
    } else {
        std::span<const std::uint8_t> body = bytes;
        if (body.size() >= 3 && body[0] == 0xEF && body[1] == 0xBB && body[2] == 0xBF)
            body = body.subspan(3);
        // UTF-8 when it is valid, else the Western code page.
        bool utf8 = true;
        for (std::size_t i = 0; i < body.size() && utf8;) {
            const std::uint8_t b = body[i];
            const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
            if (n == 0 || i + n > body.size())
                utf8 = false;
            for (std::size_t k = 1; utf8 && k < n; ++k)
                utf8 = (body[i + k] & 0xC0) == 0x80;
            i += n == 0 ? 1 : n;
        }
        text = utf8 ? std::string(body.begin(), body.end()) : WesternToUtf8(body);
    }
    auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& ch : out)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return out;
    };
    auto trim = [](std::string_view s) {
        const auto first = s.find_first_not_of(" \t\r");
        if (first == std::string_view::npos)
            return std::string_view();
        return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
    };
    InternetShortcut out;
    bool found = false, inSection = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = trim(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            inSection = lower(line) == "[internetshortcut]";
            found = found || inSection;
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue;
        const std::string key = lower(trim(line.substr(0, equals)));
        const std::string_view value = trim(line.substr(equals + 1));
        if (key == "url") {
            out.url = std::string(value);
        } else if (key == "iconfile") {
            out.iconFile = std::string(value);
        } else if (key == "iconindex") {
            // A signed decimal number, as the shell reads it; anything else is 0.
            std::string_view digits = value;
            const bool negative = !digits.empty() && digits.front() == '-';
            if (negative)
                digits.remove_prefix(1);
            std::int64_t n = 0;
            bool ok = !digits.empty() && digits.size() <= 10;
            for (const char ch : digits) {
                if (!ok || ch < '0' || ch > '9') {
                    ok = false;
                    break;
                }
                n = n * 10 + (ch - '0');
            }
            if (ok && n <= 0x7FFFFFFF)
                out.iconIndex = static_cast<std::int32_t>(negative ? -n : n);
        }
    }
    if (!found)
        return makeError(ErrorKind::NotLoadable, "not an Internet shortcut (no [InternetShortcut] section)");
    return out;
}

std::optional<std::string> DescriptorProductCode(std::string_view descriptor) {
    // The 85 characters of the packed form, in the order of their values: the printable
    // ASCII characters but " # / : ; < > \ and |.
    static constexpr std::string_view kDigits =
        "!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";
    static_assert(kDigits.size() == 85);
    if (descriptor.size() < 20)
        return std::nullopt;
    std::array<std::uint8_t, 16> guid{};
    for (std::size_t word = 0; word < 4; ++word) {
        std::uint64_t value = 0;
        std::uint64_t scale = 1;
        for (std::size_t k = 0; k < 5; ++k) {
            const auto digit = kDigits.find(descriptor[word * 5 + k]);
            if (digit == std::string_view::npos)
                return std::nullopt;
            value += digit * scale;
            scale *= 85;
        }
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
        for (std::size_t b = 0; b < 4; ++b)
            guid[word * 4 + b] = static_cast<std::uint8_t>(value >> (8 * b));
    }
    // The GUID's bytes as stored: Data1, Data2 and Data3 little-endian, then Data4.
    static constexpr char kHex[] = "0123456789ABCDEF";
    auto hex = [&](std::string& out, std::size_t i) {
        out += kHex[guid[i] >> 4];
        out += kHex[guid[i] & 0xF];
    };
    std::string out = "{";
    for (const std::size_t i : {std::size_t{3}, std::size_t{2}, std::size_t{1}, std::size_t{0}})
        hex(out, i);
    out += '-';
    for (const std::size_t i : {std::size_t{5}, std::size_t{4}})
        hex(out, i);
    out += '-';
    for (const std::size_t i : {std::size_t{7}, std::size_t{6}})
        hex(out, i);
    out += '-';
    for (const std::size_t i : {std::size_t{8}, std::size_t{9}})
        hex(out, i);
    out += '-';
    for (std::size_t i = 10; i < 16; ++i)
        hex(out, i);
    out += '}';
    return out;
}

} // namespace harvix
