// The "MUI" resource of a module (type "MUI", name 1): the resource configuration by
// which Windows, since Vista, tells a language-neutral module from the language-specific
// resource files beside it (`<folder>/<language>/<name>.mui`). It is read here only for
// what decides whether resource files are read with a module: whether the module is the
// language-neutral main file or itself a language-specific one, and which language a
// language-specific file holds.
//
// Its layout (little-endian, 132-byte header, offsets from the start of the resource):
//   0   signature 0xFECDFECD        4   size of the whole resource   8   version 0x00010000
//   12  path type                   16  file type: the low four bits are 1 for the
//   20  system attributes               language-neutral main file, 2 for a language-
//   24  ultimate fallback location      specific file (the next four bits: system 1,
//   28  service checksum (16 bytes)     application 2)
//   44  checksum (16 bytes)         60, 64 reserved
//   68  file name offset, length    76  file path offset, length
//   84  main type names offset, length      92  main type numbers offset, length
//   100 language-specific type names, length 108 language-specific type numbers, length
//   116 language offset, length (a NUL-terminated UTF-16 tag such as "en-US")
//   124 ultimate fallback language offset, length
// Offsets point into the resource, past the header. Input is untrusted: read through
// ByteCursor, every offset and length checked; every failure is a value.
#pragma once

#include "common/Result.h"
#include "module/ModuleAccess.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace harvix {

// The type name under which modules keep their resource configuration.
inline constexpr std::string_view kMuiTypeName = "MUI";

// What a module's resource configuration says it is.
enum class MuiRole {
    LanguageNeutral,  // the main file: its localisable resources lie in files beside it
    LanguageSpecific, // a file of one language's resources for a main file
};

struct MuiFacts {
    MuiRole role = MuiRole::LanguageNeutral;
    std::string language;         // of a language-specific file ("de-DE"); may be empty
    std::string fallbackLanguage; // of a main file: the language it falls back to; may be empty
};

// Reads a resource configuration. Fails (NotLoadable) without the signature, (Truncated)
// when the header or a language text lies outside the bytes, and (Unsupported) for a file
// type that is neither of the two roles.
[[nodiscard]] Result<MuiFacts> ReadMuiResource(std::span<const std::uint8_t> bytes);

// The resource configuration of a module: its first resource of the type "MUI", when it
// has one that can be read; nothing otherwise (most modules have none).
[[nodiscard]] std::optional<MuiFacts> MuiFactsOf(const IResourceModule& module);

} // namespace harvix
