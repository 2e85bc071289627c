#include "extract/ResourceKind.h"

namespace harvix {

// The table must stay in index order: everything that indexes by kind relies on it.
static_assert([] {
    for (std::size_t i = 0; i < kKinds.size(); ++i)
        if (KindIndex(kKinds[i].kind) != static_cast<int>(i))
            return false;
    return true;
}());

std::optional<ResourceKind> KindOfType(const ResId& type) {
    for (const KindInfo& info : kKinds)
        if (info.type.matches(type))
            return info.kind;
    return std::nullopt;
}

std::optional<ResourceKind> KindOfToolName(std::string_view name) {
    for (const KindInfo& info : kKinds)
        if (info.toolName == name)
            return info.kind;
    return std::nullopt;
}

} // namespace harvix
