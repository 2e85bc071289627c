#include "container/ArchiveContainer.h"
#include "container/Container.h"
#include "container/MsiPackage.h"
#include "container/MspackContainer.h"

namespace harvix {

const ContainerRegistry& Containers() {
    static const ContainerRegistry registry = [] {
        ContainerRegistry formats;
        // By signature at the start first; the ZIP reader last, since it also looks for a
        // ZIP at the end of the file (a program with a ZIP appended).
        AddMsiFormat(formats);
        AddMspackFormats(formats);
        AddArchiveFormats(formats);
        return formats;
    }();
    return registry;
}

} // namespace harvix
