// cFileVersion: the version of a file, read from the fixed version record of its version
// resource, as four 16-bit numbers major.minor.build.revision.
#pragma once

#include "module/ModuleAccess.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace harvix {

class cFileVersion {
public:
    // No file: no version.
    cFileVersion() = default;

    // Reads the version of a file. A file that is not a module, or a module without a
    // well-formed version resource, has no version (HasVersion() is false).
    explicit cFileVersion(const std::string& sFileName);

    // Reads the version of a module that is already open.
    explicit cFileVersion(const IResourceModule& module);

    // The file given to the constructor ("" for a module or no file).
    [[nodiscard]] const std::string& FileName() const { return m_fileName; }

    // True when the file has a version.
    [[nodiscard]] bool HasVersion() const { return m_parts.has_value(); }

    // The version as "major.minor.build.revision" (decimal, no leading zeros), or ""
    // when the file has none.
    [[nodiscard]] std::string Version() const;

    // The parts of the version; 0 when the file has none.
    [[nodiscard]] std::uint16_t Major() const { return part(0); }
    [[nodiscard]] std::uint16_t Minor() const { return part(1); }
    [[nodiscard]] std::uint16_t Build() const { return part(2); }
    [[nodiscard]] std::uint16_t Revision() const { return part(3); }

    // Compares this file's version with another's, part by part from the major number
    // on: -1 when this one is older, 0 when both are the same, 1 when this one is newer.
    // A file without a version counts as 0.0.0.0, so it is older than any file with a
    // version other than 0.0.0.0 and equal to another file without one.
    [[nodiscard]] int Compare(const cFileVersion& other) const;

    // The file version of a version resource: the VS_FIXEDFILEINFO of its root block
    // "VS_VERSION_INFO" (the key in UTF-16 as 32-bit modules write it, or in 8-bit
    // characters as 16-bit modules do), checked by its signature. Nothing when the bytes are not such a
    // resource.
    [[nodiscard]] static std::optional<std::array<std::uint16_t, 4>> ParseVersionResource(
        std::span<const std::uint8_t> resource);

private:
    void readModule(const IResourceModule& module);
    [[nodiscard]] std::uint16_t part(std::size_t i) const { return m_parts ? (*m_parts)[i] : 0; }

    std::string m_fileName;
    std::optional<std::array<std::uint16_t, 4>> m_parts;
};

} // namespace harvix
