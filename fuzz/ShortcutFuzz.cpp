// Fuzzes the readers of shortcuts: shell links, Internet shortcuts, Windows Installer
// descriptors and version string tables, on arbitrary bytes. Besides not crashing, a
// shell link that is read must name no path longer than its own bytes could spell.
#include "module/VersionStrings.h"
#include "launcher/ShellLink.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (auto link = harvix::ParseShellLink(bytes)) {
        // Every text is at most three bytes of UTF-8 per byte read.
        for (const std::string* text : {&link->iconLocation, &link->linkInfoPath, &link->idListPath,
                                        &link->environmentIcon, &link->darwinDescriptor})
            if (text->size() > 3 * size)
                std::abort();
        (void)link->iconPath();
        (void)link->targetPaths();
        (void)harvix::DescriptorProductCode(link->darwinDescriptor);
    }
    (void)harvix::ParseInternetShortcut(bytes);
    (void)harvix::DescriptorProductCode(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)harvix::ParseVersionStrings(bytes);
    return 0;
}
