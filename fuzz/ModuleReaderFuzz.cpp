// The PE resource reader on arbitrary bytes: open the image, walk every type, name and
// language, load every resource, and read the version resource.
#include "module/FileVersion.h"
#include "module/ModuleAccess.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto module = harvix::OpenModuleFromBytes(std::span<const std::uint8_t>(data, size));
    if (!module)
        return 0;
    const harvix::IResourceModule& m = **module;
    for (const harvix::ResId& type : m.types())
        for (const harvix::ResId& name : m.names(type)) {
            (void)m.languages(type, name);
            (void)m.load(type, name);
        }
    const harvix::cFileVersion version(m);
    (void)version.Version();
    return 0;
}
