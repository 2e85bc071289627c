// The PE32/PE32+ implementation of IResourceModule. Callers use OpenModule and friends
// (ModuleAccess.h); this header is for the reader itself and its tests.
#pragma once

#include "ModuleAccess.h"

#include <memory>
#include <optional>
#include <span>
#include <utility>

namespace harvix {

// UTF-16LE code units (as stored in a module) to UTF-8. A NUL ends the text; an unpaired
// surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16ToUtf8(std::span<const std::uint8_t> units);

class PeModule final : public IResourceModule {
public:
    struct LanguageEntry {
        std::uint16_t language = 0;
        std::uint32_t rva = 0;
        std::uint32_t size = 0;
    };
    struct NameEntry {
        ResId id;
        std::vector<LanguageEntry> languages; // directory order
    };
    struct TypeEntry {
        ResId id;
        std::vector<NameEntry> names;        // directory order
        std::vector<std::uint32_t> nameIndex; // positions in `names`, sorted by identifier
    };

    // Reads the headers and the resource directory of `image`. `keepAlive` owns the
    // memory behind `image` (or is empty when the caller does).
    [[nodiscard]] static Result<std::unique_ptr<PeModule>> parse(std::span<const std::uint8_t> image,
                                                                 std::shared_ptr<const void> keepAlive);

    // The same for a file read in parts: `headers` are its first bytes (through the
    // section table at least), `window` holds its bytes from offset `windowOffset` on,
    // and the file is `fileSize` bytes long. Data outside the window is unreadable.
    [[nodiscard]] static Result<std::unique_ptr<PeModule>> parseParts(std::span<const std::uint8_t> headers,
                                                                      std::span<const std::uint8_t> window,
                                                                      std::uint64_t windowOffset,
                                                                      std::uint64_t fileSize,
                                                                      std::shared_ptr<const void> keepAlive);

    // The file offset and size of the raw data of the section that holds the resource
    // directory; nothing when there is no such data.
    [[nodiscard]] std::optional<std::pair<std::uint64_t, std::uint64_t>> resourceSectionRange() const;

    // Whether the data of every resource can be read (a module read in parts: whether
    // all of it lies in the part that was read).
    [[nodiscard]] bool allDataReadable() const;

    [[nodiscard]] std::vector<ResId> types() const override;
    [[nodiscard]] std::vector<ResId> names(const ResId& type) const override;
    [[nodiscard]] std::vector<ResLanguage> languages(const ResId& type, const ResId& name) const override;
    [[nodiscard]] std::vector<std::uint8_t> load(const ResId& type, const ResId& name) const override;

private:
    struct Section {
        std::uint32_t virtualSize = 0;
        std::uint32_t virtualAddress = 0;
        std::uint32_t rawSize = 0; // clipped to the end of the file
        std::uint32_t rawOffset = 0;
    };

    PeModule(std::span<const std::uint8_t> image, std::shared_ptr<const void> keepAlive);

    // The file bytes from `rva` to the end of the raw data of the section holding it.
    [[nodiscard]] std::optional<std::span<const std::uint8_t>> fileSpan(std::uint32_t rva) const;
    void buildIndexes();
    [[nodiscard]] const TypeEntry* findType(const ResId& type) const;
    [[nodiscard]] const NameEntry* findName(const ResId& type, const ResId& name) const;

    std::span<const std::uint8_t> m_image;
    std::uint64_t m_imageOffset = 0; // the file offset of m_image's first byte
    std::uint32_t m_resourceRva = 0;
    std::shared_ptr<const void> m_keepAlive;
    std::vector<Section> m_sections;
    std::vector<TypeEntry> m_types;          // directory order
    std::vector<std::uint32_t> m_typeIndex; // positions in `m_types`, sorted by identifier
};

} // namespace harvix
