// Walks all a module shows and loads every resource, for the tests of damaged modules:
// a resource loads whole, exactly at the size its listing gives, or not at all, and never
// larger than the module's image.
#pragma once

#include "module/ModuleAccess.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace harvix::testing {

inline void ExpectEveryResourceWholeOrAbsent(const IResourceModule& m, std::size_t imageSize) {
    for (const ResId& type : m.types())
        for (const ResId& name : m.names(type)) {
            const auto langs = m.languages(type, name);
            const auto bytes = m.load(type, name);
            EXPECT_LE(bytes.size(), imageSize);
            if (!bytes.empty()) {
                ASSERT_FALSE(langs.empty());
                EXPECT_EQ(bytes.size(), langs.front().size) << type.toText() << "/" << name.toText();
            }
        }
}

} // namespace harvix::testing
