// The PE32/PE32+ implementation of IResourceModule. Callers use OpenModule and friends
// (ModuleAccess.h); this header is for the reader itself and its tests.
#pragma once

#include "module/ModuleAccess.h"
#include "module/ResourceTable.h"

#include <memory>
#include <optional>
#include <span>
#include <utility>

namespace harvix {

// UTF-16LE code units (as stored in a module) to UTF-8. A NUL ends the text; an unpaired
// surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16ToUtf8(std::span<const std::uint8_t> units);

// An open module file, read only with positioned reads (never mapped, so a file that
// another program cuts short meanwhile gives short reads, never a fault). Closed when
// the last module using it goes. Its size is the one it had when it was opened: no read
// reaches past it.
class ModuleFile {
public:
    ModuleFile(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    // A module that is a stretch of another file (a member stored in place in a
    // container, or an in-memory file): its bytes are `fd`'s from `base` on. The
    // descriptor is not closed here; `owner` keeps it open.
    ModuleFile(int fd, std::uint64_t base, std::uint64_t size, std::shared_ptr<const void> owner)
        : m_fd(fd), m_size(size), m_base(base), m_owner(std::move(owner)) {}
    ~ModuleFile();
    ModuleFile(const ModuleFile&) = delete;
    ModuleFile& operator=(const ModuleFile&) = delete;

    [[nodiscard]] std::uint64_t size() const { return m_size; }
    [[nodiscard]] int descriptor() const { return m_fd; }

    // Fills `out` with the bytes at `offset`; false when they are not all there (outside
    // the size it was opened with, or the file shrank since) or the read failed.
    [[nodiscard]] bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const;

private:
    int m_fd;
    std::uint64_t m_size;
    std::uint64_t m_base = 0;
    std::shared_ptr<const void> m_owner; // set: the descriptor is someone else's
};

// The bytes of a module as the reader holds them: one part in memory (`held`, the file's
// bytes from `heldOffset` on: the whole file, its resource section, its first page, or
// nothing) and, for everything else, the open file, if there is one.
struct ModuleImage {
    std::span<const std::uint8_t> held;
    std::uint64_t heldOffset = 0;
    std::uint64_t fileSize = 0;
    std::shared_ptr<const void> keepAlive;  // owns the memory behind `held`
    std::shared_ptr<const ModuleFile> file; // may be empty: then only `held` is readable
};

// Opens a module image held in memory, a 16-bit or a 32/64-bit one, as its signature
// says. `keepAlive` owns the memory behind `bytes` (or is empty when the caller does).
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleFromBytesKept(std::span<const std::uint8_t> bytes,
                                                                               std::shared_ptr<const void> keepAlive);

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
    using TypeEntry = ResourceType<NameEntry>;

    // Reads the headers and the resource directory of a whole file held in memory.
    // `keepAlive` owns the memory behind `image` (or is empty when the caller does).
    [[nodiscard]] static Result<std::unique_ptr<PeModule>> parse(std::span<const std::uint8_t> image,
                                                                 std::shared_ptr<const void> keepAlive);

    // Reads a module from an open file: the headers, then the resource section into
    // memory when it is at most `sectionLimit` bytes; a larger section is read in small
    // blocks for its directory, and each resource's data on its own when it is loaded.
    [[nodiscard]] static Result<std::unique_ptr<PeModule>> read(std::shared_ptr<const ModuleFile> file,
                                                                std::uint64_t sectionLimit);
    // The same, starting from the part of the file the caller already holds (`image.held`,
    // usually its first page, which holds the headers), so that it is not read again.
    [[nodiscard]] static Result<std::unique_ptr<PeModule>> read(ModuleImage image, std::uint64_t sectionLimit);

    // The file offset and size of the raw data of the section that holds the resource
    // directory; nothing when there is no such data.
    [[nodiscard]] std::optional<std::pair<std::uint64_t, std::uint64_t>> resourceSectionRange() const;

    // Whether the module still reads from its file (some resource data lies outside the
    // part held in memory).
    [[nodiscard]] bool readsFromFile() const { return m_image.file != nullptr; }

    [[nodiscard]] std::uint64_t heldBytes() const override { return m_image.held.size(); }
    [[nodiscard]] Packer packer() const override { return m_packer; }
    [[nodiscard]] Installer installer() const override { return m_installer; }
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
    // A stretch of the file: offset and length.
    struct FileRange {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };

    explicit PeModule(ModuleImage image) : m_image(std::move(image)) {}

    // The file bytes from `rva` to the end of the raw data of the section holding it.
    [[nodiscard]] std::optional<FileRange> sectionRest(std::uint32_t rva) const;
    // Where the data of a resource lies in the file: it must begin in a section's file
    // part and end within the file.
    [[nodiscard]] std::optional<FileRange> dataRange(const LanguageEntry& entry) const;
    [[nodiscard]] bool isHeld(const FileRange& range) const;

    ModuleImage m_image;
    std::uint32_t m_resourceRva = 0;
    Packer m_packer = Packer::None;
    Installer m_installer = Installer::None;
    std::vector<Section> m_sections;
    ResourceTable<NameEntry> m_table; // directory order
};

} // namespace harvix
