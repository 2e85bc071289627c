#include "extract/writers/RawCopies.h"

#include "extract/writers/Support.h"

namespace harvix {

OwnFilePlan PlanRawCopy(const IResourceModule& module, const ResId& type, const ResId& name) {
    auto bytes = LoadResourceBytes(module, type, name);
    if (bytes.empty())
        return LeftOut{LeftOutReason::Empty, NoBytes(module, type, name)};
    return PlannedFile{{}, {std::move(bytes)}};
}

} // namespace harvix
