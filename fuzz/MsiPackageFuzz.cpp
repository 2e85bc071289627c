// The Windows Installer reader on arbitrary bytes: open the package as a container, then
// read every member (the Icon and Binary rows, the files of its cabinets) to its end.
#include "container/MsiPackage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (!harvix::IsCompoundFileHead(bytes))
        return 0;
    harvix::ContainerRegistry formats;
    harvix::AddMsiFormat(formats);
    auto source = harvix::ByteSource::InMemory(std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end()));
    auto container = formats.open(source, "fuzz.msi");
    if (!container)
        return 0;
    for (int members = 0; members < 10000; ++members) {
        auto member = (*container)->next();
        if (!member || !*member)
            break;
        if ((*member)->unreadable == harvix::Unreadable::None)
            (void)(*container)->read(16 << 20);
    }
    return 0;
}
