#include "search/SearchCore.h"

#include <gtest/gtest.h>

namespace {

using harvix::SplitMask;
using Masks = std::vector<std::string>;

struct SplitCase {
    const char* text;
    Masks masks;
};

class SplitMaskTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitMaskTable, GivesTheMasks) {
    EXPECT_EQ(SplitMask(GetParam().text), GetParam().masks) << "text: '" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Separators, SplitMaskTable,
    ::testing::Values(SplitCase{"*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx",
                                {"*.exe", "*.dll", "*.ocx", "*.cpl", "*.scr", "*.vbx"}},
                      SplitCase{"*.exe; *.dll", {"*.exe", "*.dll"}},
                      SplitCase{"*.exe;*.dll", {"*.exe", "*.dll"}},
                      SplitCase{"*.exe, *.dll", {"*.exe", "*.dll"}},
                      SplitCase{"*.exe,*.dll", {"*.exe", "*.dll"}},
                      SplitCase{"*.exe *.dll", {"*.exe", "*.dll"}}, SplitCase{"*.exe", {"*.exe"}},
                      SplitCase{"  *.exe  ", {"*.exe"}},
                      // Only the preferred separator splits; the rest stays inside the pieces.
                      SplitCase{"a; b;c", {"a", "b;c"}}, SplitCase{"a;b c", {"a", "b c"}},
                      SplitCase{"a, b,c", {"a", "b,c"}},
                      // Pieces are not trimmed again, and empty pieces stay.
                      SplitCase{"a;;b", {"a", "", "b"}}, SplitCase{"a;  b", {"a", " b"}},
                      SplitCase{"a  b", {"a", "", "b"}}, SplitCase{"a|b", {"a", "b"}},
                      SplitCase{"", {}}, SplitCase{"   ", {}}));

} // namespace
