// The short forms the module tests write resource ids, names and bytes with, and opening
// what the module builders wrote.
#pragma once

#include "module/ModuleAccess.h"
#include "module/ResourceType.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
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

// The module the builder's bytes make; none (and a failed expectation) when they make none.
inline std::unique_ptr<IResourceModule> OpenBuilt(std::vector<std::uint8_t> bytes) {
    auto module = OpenModuleFromBuffer(std::move(bytes));
    EXPECT_TRUE(module.ok()) << (module.ok() ? "" : module.error().message);
    return module.ok() ? std::move(module).value() : nullptr;
}

// The module a builder (of PE or NE modules) makes.
template <typename Builder>
std::unique_ptr<IResourceModule> OpenBuilt(const Builder& builder) {
    return OpenBuilt(builder.build());
}

} // namespace harvix::testing
