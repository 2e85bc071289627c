#include "settings/RegistryValue.h"

#include "common/ByteCursor.h"

#include <array>
#include <cstdlib>

namespace harvix {

std::optional<std::string_view> RootKeyName(std::int32_t root) {
    static constexpr std::array<std::string_view, 7> kNames{
        "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
        "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
    const auto index = static_cast<std::uint32_t>(root) - 0x80000000u;
    if (index >= kNames.size())
        return std::nullopt;
    return kNames[index];
}

std::string RegistryTypeName(std::int32_t type) {
    static constexpr std::array<const char*, 8> kNames{"REG_NONE",      "REG_SZ",
                                                       "REG_EXPAND_SZ", "REG_BINARY",
                                                       "REG_DWORD",     "REG_DWORD_BIG_ENDIAN",
                                                       "REG_LINK",      "REG_MULTI_SZ"};
    if (type >= 0 && static_cast<std::size_t>(type) < kNames.size())
        return kNames[static_cast<std::size_t>(type)];
    return "REG_" + std::to_string(type);
}

std::optional<std::string> ProcessEnvironment(std::string_view name) {
    const std::string key(name);
    if (const char* value = std::getenv(key.c_str()))
        return std::string(value);
    return std::nullopt;
}

std::string ExpandEnvironmentText(std::string_view text, const EnvironmentLookup& lookup) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto open = text.find('%', pos);
        if (open == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        const auto close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        const auto name = text.substr(open + 1, close - open - 1);
        std::optional<std::string> value;
        if (!name.empty() && lookup)
            value = lookup(name);
        if (value) {
            out.append(*value);
            pos = close + 1;
        } else {
            // Not a variable: keep the opening sign; the closing one may open the next.
            out.push_back('%');
            out.append(name);
            pos = close;
        }
    }
    return out;
}

bool LooksExpandable(std::string_view text) {
    const auto first = text.find('%');
    return first != std::string_view::npos && text.find('%', first + 2) != std::string_view::npos;
}

namespace {

std::string storedText(std::span<const std::uint8_t> data) {
    // The stored size counts the terminator; a size of 0 (written by someone else) is
    // simply the empty text.
    if (data.empty())
        return {};
    ByteCursor cursor(data);
    auto bytes = cursor.bytes(data.size() - 1);
    if (!bytes)
        return {};
    return std::string(bytes->begin(), bytes->end());
}

// The first four bytes, zero-padded when fewer are stored, least significant first.
std::uint32_t storedDword(std::span<const std::uint8_t> data) {
    ByteCursor cursor(data);
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) {
        auto byte = cursor.u8();
        if (!byte)
            break;
        value |= static_cast<std::uint32_t>(*byte) << (8 * i);
    }
    return value;
}

std::uint32_t swapBytes(std::uint32_t v) {
    return ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
}

} // namespace

RegVariant DecodeStoredValue(std::int32_t type, std::span<const std::uint8_t> data,
                             const EnvironmentLookup& lookup) {
    switch (type) {
    case REG_SZ:
    case REG_MULTI_SZ:
        return storedText(data);
    case REG_EXPAND_SZ:
        return ExpandEnvironmentText(storedText(data), lookup);
    case REG_DWORD:
        return static_cast<std::int32_t>(storedDword(data));
    case REG_DWORD_BIG_ENDIAN:
        return static_cast<std::int32_t>(swapBytes(storedDword(data)));
    default: {
        std::vector<std::uint8_t> bytes(data.begin(), data.end());
        bytes.push_back(0);
        return bytes;
    }
    }
}

std::string VariantToText(const RegVariant& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(std::int16_t v) const { return std::to_string(v); }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const std::vector<std::uint8_t>& b) const {
            return std::string(b.begin(), b.end());
        }
    };
    return std::visit(Visitor{}, value);
}

} // namespace harvix
