#include "extract/ResourceKind.h"

#include "extract/module/ModuleAccess.h"

namespace harvix {

// The table must stay in index order: everything that indexes by kind relies on it.
static_assert([] {
    for (std::size_t i = 0; i < kKinds.size(); ++i)
        if (KindIndex(kKinds[i].kind) != static_cast<int>(i))
            return false;
    return true;
}());

std::optional<ResourceKind> KindOfType(const ResId& type) {
    // Numeric types and type names are told apart before they are compared, so that a
    // type named "2" is not taken for the bitmaps' numeric type 2.
    for (const KindInfo& info : kKinds) {
        const bool match = type.numeric ? info.type.name.empty() && info.type.id == type.id
                                        : !info.type.name.empty() && info.type.name == type.text;
        if (match)
            return info.kind;
    }
    return std::nullopt;
}

std::optional<ResourceKind> KindOfToolName(std::string_view name) {
    for (const KindInfo& info : kKinds)
        if (info.toolName == name)
            return info.kind;
    return std::nullopt;
}

} // namespace harvix
