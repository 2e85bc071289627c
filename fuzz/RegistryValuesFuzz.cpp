// Fuzzes the decoding of stored registry values: the first byte of the input is the
// type number, the rest the stored bytes (as another program may have written them).
// Besides not crashing, every type must give the value of its kind with the length its
// reading rules give, and case folding must never change a name's length or be undone
// by folding again.
#include "settings/RegistryStore.h"
#include "settings/RegistryValue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto type = static_cast<std::int32_t>(static_cast<std::int8_t>(data[0]));
    const std::span<const std::uint8_t> stored(data + 1, size - 1);
    auto lookup = [](std::string_view name) -> std::optional<std::string> {
        if (name.size() == 1)
            return std::string(3, name[0]);
        return std::nullopt;
    };

    const harvix::RegVariant value = harvix::DecodeStoredValue(type, stored, lookup);
    switch (type) {
    case harvix::REG_SZ:
    case harvix::REG_MULTI_SZ: {
        const auto* text = std::get_if<std::string>(&value);
        if (!text || text->size() != (stored.empty() ? 0 : stored.size() - 1))
            std::abort();
        break;
    }
    case harvix::REG_EXPAND_SZ:
        if (!std::holds_alternative<std::string>(value))
            std::abort();
        break;
    case harvix::REG_DWORD:
    case harvix::REG_DWORD_BIG_ENDIAN:
        if (!std::holds_alternative<std::int32_t>(value))
            std::abort();
        break;
    default: {
        const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value);
        if (!bytes || bytes->size() != stored.size() + 1 || bytes->back() != 0)
            std::abort();
        break;
    }
    }

    const std::string_view text(reinterpret_cast<const char*>(stored.data()), stored.size());
    (void)harvix::LooksExpandable(text);
    const std::string folded = harvix::FoldRegistryName(text);
    if (folded.size() != text.size() || harvix::FoldRegistryName(folded) != folded)
        std::abort();
    return 0;
}
