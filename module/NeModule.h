// The implementation of IResourceModule for 16-bit Windows modules ("NE": programs,
// libraries, drivers, .vbx controls, .icl icon libraries, .fon fonts). Callers use
// OpenModule and friends (ModuleAccess.h); this header is for the reader itself and its
// tests.
#pragma once

#include "module/PeModule.h"

#include <memory>
#include <span>
#include <string>

namespace harvix {

// 8-bit text in the Windows code page of western Europe (Windows-1252) to UTF-8. A NUL
// ends the text. The five byte values the code page leaves unassigned become the control
// characters of the same number, so that every byte gives a character.
[[nodiscard]] std::string windows1252ToUtf8(std::span<const std::uint8_t> bytes);

// True when the image is a DOS program whose new-style header, at the offset its DOS
// header names, carries the "NE" signature.
[[nodiscard]] bool isNeImage(const ModuleImage& image);

class NeModule final : public IResourceModule {
public:
    struct NameEntry {
        ResId id;
        std::uint64_t offset = 0; // file offset: the table's offset shifted
        std::uint64_t length = 0; // the table's length shifted: whole alignment units
        std::uint32_t stated = 0; // the size an icon or cursor group states for it, 0 if none
    };
    using TypeEntry = ResourceType<NameEntry>;

    // Reads the NE header and the resource table. Fails (NotLoadable) for what is not a
    // 16-bit module for Windows (no "NE" header, or one made for OS/2).
    [[nodiscard]] static Result<std::unique_ptr<NeModule>> read(ModuleImage image);

    // The alignment unit of the resource data in bytes (1 << the table's shift).
    [[nodiscard]] std::uint64_t alignment() const { return m_unit; }

    [[nodiscard]] std::uint64_t heldBytes() const override { return m_image.held.size(); }
    [[nodiscard]] std::vector<ResId> types() const override;
    [[nodiscard]] std::vector<ResId> names(const ResId& type) const override;
    [[nodiscard]] std::vector<ResLanguage> languages(const ResId& type, const ResId& name) const override;
    [[nodiscard]] std::vector<std::uint8_t> load(const ResId& type, const ResId& name) const override;

private:
    explicit NeModule(ModuleImage image) : m_image(std::move(image)) {}

    // The bytes of the file at [offset, offset + length), as far as the file holds them.
    [[nodiscard]] std::vector<std::uint8_t> readRange(std::uint64_t offset, std::uint64_t length) const;
    // Notes the image sizes the icon and cursor groups state for their members.
    void readGroupSizes(std::vector<TypeEntry>& types) const;
    // Whether resources of the type say their own size in their first bytes: bitmaps,
    // icon and cursor images, animated cursors and clips.
    [[nodiscard]] static bool hasOwnSize(const ResId& type);
    // The size of a resource without the alignment padding after it, where its group or
    // its own header tells it (`bytes` are as much of its rounded length as the file
    // holds); nothing where neither does.
    [[nodiscard]] std::optional<std::uint64_t> knownSize(const ResId& type, const NameEntry& entry,
                                                         std::span<const std::uint8_t> bytes) const;

    ModuleImage m_image;
    std::uint64_t m_unit = 1;
    ResourceTable<NameEntry> m_table; // table order
};

} // namespace harvix
