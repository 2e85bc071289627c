// Access to the resources of a Windows module, without running it. The extraction
// engine, the command-line listing and the file-version class see modules only through
// this interface; the PE reader is one implementation, tests may supply others.
#pragma once

#include "common/Result.h"
#include "module/Installer.h"
#include "module/ResourceType.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// A packer that compressed a module, where one can tell: such a module keeps readable
// only the resources its loader needs before it unpacks itself.
enum class Packer {
    None,
    Upx, // section names UPX0/UPX1/UPX2 and the signature "UPX!" in the headers
};

// The packer's name ("UPX"); empty for None.
[[nodiscard]] std::string_view PackerName(Packer packer);

// What a packed module means for its resources, said once for all messages: "the
// resources beyond the first icon group and the version are compressed; unpack it with
// `upx -d` to read them". Empty for None.
[[nodiscard]] std::string_view PackedResourcesNote(Packer packer);

// The whole notice for one module: "packed by UPX: " and the note. Empty for None.
[[nodiscard]] std::string PackedNotice(Packer packer);

// One language version of a resource.
struct ResLanguage {
    std::uint16_t language = 0;
    std::uint32_t size = 0;
};

class IResourceModule {
public:
    virtual ~IResourceModule() = default;

    // Resource types in the order of the module's resource directory.
    [[nodiscard]] virtual std::vector<ResId> types() const = 0;

    // Names of one type in directory order (named entries first, then numeric ones
    // ascending, as the directory stores them). Empty for an unknown type.
    [[nodiscard]] virtual std::vector<ResId> names(const ResId& type) const = 0;

    // Language versions of one resource in directory order.
    [[nodiscard]] virtual std::vector<ResLanguage> languages(const ResId& type,
                                                             const ResId& name) const = 0;

    // The bytes of a resource: its first language version in the directory, all the
    // bytes its directory entry states. An empty vector when the resource does not
    // exist, is empty, or cannot be read in full (its data runs past the end of the
    // file, or the file was cut short since it was opened). Finding a
    // resource costs no more than a logarithmic search of its type and name tables.
    [[nodiscard]] virtual std::vector<std::uint8_t> load(const ResId& type,
                                                         const ResId& name) const = 0;

    // The file a resource's bytes come from when that is not the module's own file: the
    // path of the satellite resource file it was read from (Satellites.h). Empty for the
    // module's own resources, and for a resource the module does not hold.
    [[nodiscard]] virtual std::string source(const ResId& /*type*/, const ResId& /*name*/) const { return {}; }

    // The bytes of the file the module keeps in memory (what reading ahead of the run
    // counts against its budget).
    [[nodiscard]] virtual std::uint64_t heldBytes() const { return 0; }

    // The packer that compressed the module, when its headers say so; what it left
    // readable is read as from any module.
    [[nodiscard]] virtual Packer packer() const { return Packer::None; }

    // The installer the module is the setup program of, when its payload is in a format
    // Harvix does not unpack (Installer.h); the setup program itself is read as any module.
    [[nodiscard]] virtual Installer installer() const { return Installer::None; }
};

// Opens a file as a module. Fails (NotLoadable) for anything that is not a PE32 or
// PE32+ image or a 16-bit (NE) module for Windows, for files that are not regular files,
// and for files that cannot be read.
// Never blocks on a FIFO or device and never maps the file: a small file is read whole,
// of a larger one the headers and the resource section (or, when that section is large,
// its directory in small blocks and each resource's data when it is loaded).
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModule(const std::string& path);

// Opens the file at `path` for reading as OpenModule does (never blocking on a FIFO or
// device, also where the path is longer than the system's path calls take) and reads
// nothing: the descriptor, or -1 with errno set.
[[nodiscard]] int OpenModuleFile(const std::string& path);

// The same for a file opened elsewhere (by the process that searched, which handed it
// over): reads it as OpenModule reads the file it opened, and takes `fd` over, closing it
// whatever the outcome. `path` names the file in the errors.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleFromDescriptor(int fd, const std::string& path);
// Opens the module whose bytes are `size` bytes of the open descriptor `fd` from `base`
// on (a member a container stores in place, or one unpacked into an in-memory file), as
// OpenModule opens a file. `owner` keeps the descriptor open while the module lives; the
// module never closes it.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleAt(int fd, std::uint64_t base, std::uint64_t size,
                                                                    std::shared_ptr<const void> owner);

// Reads a module image that is already in memory, as OpenModule does after reading a
// small file. The module refers to `image` without copying it: the bytes must stay alive and
// unchanged as long as the module is used.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleFromBytes(std::span<const std::uint8_t> image);

// The same for an image the module takes over.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleFromBuffer(std::vector<std::uint8_t> image);

} // namespace harvix
