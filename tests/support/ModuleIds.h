// The short forms the module tests write resource ids, names and bytes with.
#pragma once

#include "extract/module/ResourceType.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace harvix::testing {

inline ResId num(std::uint16_t id) { return ResId::number(id); }
inline ResId txt(std::string s) { return ResId::name(std::move(s)); }
inline std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

// The ids as the listing shows them ("#2", "NAMED").
inline std::vector<std::string> texts(const std::vector<ResId>& ids) {
    std::vector<std::string> out;
    for (const ResId& id : ids)
        out.push_back(id.toText());
    return out;
}

} // namespace harvix::testing
