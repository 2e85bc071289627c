// The strings of a version resource (its StringFileInfo: ProductName, FileDescription,
// InternalName, OriginalFilename, CompanyName, ...), which name a program as its maker
// did, whatever its file is called.
#pragma once

#include "module/ModuleAccess.h"

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace harvix {

// Each key with its text, in the order of the resource; a key that several string tables
// (languages) hold is given once, from the first table that has it.
struct VersionStrings {
    std::vector<std::pair<std::string, std::string>> entries;

    // The text of a key (compared without regard to ASCII case); empty when none.
    [[nodiscard]] std::string get(std::string_view key) const;
};

// Reads the string tables of a version resource as 32-bit modules write it (keys and
// texts in UTF-16). Nothing for anything else; a damaged block ends what is read.
[[nodiscard]] VersionStrings ParseVersionStrings(std::span<const std::uint8_t> resource);

// The strings of a module's first version resource, in its first language.
[[nodiscard]] VersionStrings ReadVersionStrings(const IResourceModule& module);

} // namespace harvix
