// The values the registry store holds and the C++ value type that carries them.
//
// A stored value is a type number and the bytes as written. `RegVariant` is what a
// program reads and writes through `cRegistry`:
//   std::monostate            the empty value (a `Default` that was never set)
//   bool                      a Boolean
//   std::int16_t, std::int32_t a 16-bit or 32-bit integer (REG_DWORD values read back
//                             as std::int32_t)
//   std::string               text, UTF-8 (REG_SZ and REG_EXPAND_SZ read back as text;
//                             REG_MULTI_SZ reads back as one text, each string followed
//                             by its zero character)
//   std::vector<std::uint8_t> a byte array (REG_BINARY and every other type read back as
//                             the stored bytes plus one trailing zero element)
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace harvix {

// Registry data type numbers.
inline constexpr std::int32_t REG_NONE = 0;
inline constexpr std::int32_t REG_SZ = 1;
inline constexpr std::int32_t REG_EXPAND_SZ = 2;
inline constexpr std::int32_t REG_BINARY = 3;
inline constexpr std::int32_t REG_DWORD = 4;
inline constexpr std::int32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr std::int32_t REG_LINK = 6;
inline constexpr std::int32_t REG_MULTI_SZ = 7;

// The predefined root keys, by their handle values.
inline constexpr std::int32_t HKEY_CLASSES_ROOT = static_cast<std::int32_t>(0x80000000u);
inline constexpr std::int32_t HKEY_CURRENT_USER = static_cast<std::int32_t>(0x80000001u);
inline constexpr std::int32_t HKEY_LOCAL_MACHINE = static_cast<std::int32_t>(0x80000002u);
inline constexpr std::int32_t HKEY_USERS = static_cast<std::int32_t>(0x80000003u);
inline constexpr std::int32_t HKEY_PERFORMANCE_DATA = static_cast<std::int32_t>(0x80000004u);
inline constexpr std::int32_t HKEY_CURRENT_CONFIG = static_cast<std::int32_t>(0x80000005u);
inline constexpr std::int32_t HKEY_DYN_DATA = static_cast<std::int32_t>(0x80000006u);

// The root key's name ("HKEY_LOCAL_MACHINE"), or nothing for a value that is not a
// predefined root.
std::optional<std::string_view> RootKeyName(std::int32_t root);

// The type's name ("REG_SZ"); "REG_<number>" for numbers without one.
std::string RegistryTypeName(std::int32_t type);

using RegVariant = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string,
                                std::vector<std::uint8_t>>;

// Looks up an environment variable for REG_EXPAND_SZ values; nothing when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view)>;

// The process environment.
std::optional<std::string> ProcessEnvironment(std::string_view name);

// Replaces every %NAME% whose variable is set by its value. A percent sign that does
// not open a known variable stays as it is.
std::string ExpandEnvironmentText(std::string_view text, const EnvironmentLookup& lookup);

// True when a text is stored as REG_EXPAND_SZ: it holds a "%" and, at least two
// characters later, another one.
bool LooksExpandable(std::string_view text);

// Turns stored bytes of a type into the value a read hands out:
//   REG_SZ: the first size - 1 bytes as text (the stored text without its terminator);
//   REG_MULTI_SZ: likewise, so the strings keep their zero characters but the final
//     extra zero is gone;
//   REG_EXPAND_SZ: as REG_SZ, then expanded through `lookup`;
//   REG_DWORD: the little-endian signed 32-bit integer of the first four bytes;
//   REG_DWORD_BIG_ENDIAN: the same bytes read most significant first;
//   every other type: the bytes plus one trailing zero element.
// Short DWORD data is read as if padded with zero bytes; a text of 0 bytes is "".
RegVariant DecodeStoredValue(std::int32_t type, std::span<const std::uint8_t> data,
                             const EnvironmentLookup& lookup);

// The text a value turns into when it is written as a string or named in a message:
// Booleans "True"/"False", integers in decimal, bytes as they are, the empty value as "".
std::string VariantToText(const RegVariant& value);

} // namespace harvix
