#include "search/Wildcard.h"

#include "search/MaskSet.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace {

using harvix::MatchesWildcard;

struct MatchCase {
    const char* mask;
    const char* name;
    bool matches;
};

class WildcardTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(WildcardTable, Matches) {
    const auto& c = GetParam();
    EXPECT_EQ(MatchesWildcard(c.name, c.mask), c.matches)
        << "mask '" << c.mask << "', name '" << c.name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, WildcardTable,
    ::testing::Values(MatchCase{"*.exe", "setup.exe", true}, MatchCase{"*.exe", "SETUP.EXE", true},
                      MatchCase{"*.EXE", "setup.exe", true},
                      MatchCase{"*.exe", "setup.exe.bak", false},
                      MatchCase{"*.exe", "setupexe", false}, MatchCase{"*.exe", ".exe", true},
                      MatchCase{"setup", "setup.exe", false}, MatchCase{"*", "anything", true},
                      MatchCase{"a*b*c", "aXXbYYc", true}, MatchCase{"a*b*c", "aXXbYY", false},
                      MatchCase{"*a*a*a*b", "aaaaaaaaaab", true}, MatchCase{"?.dll", "a.dll", true},
                      MatchCase{"?.dll", "ab.dll", false}, MatchCase{"?.dll", ".dll", false},
                      MatchCase{"*?", "", false}, MatchCase{"**.exe", "a.exe", true}));

INSTANTIATE_TEST_SUITE_P(
    AllAndLists, WildcardTable,
    ::testing::Values(MatchCase{"*.*", "README", true}, MatchCase{"*.*", "a.b", true},
                      MatchCase{"*.*;*.exe", "README", false}, MatchCase{"*.*;*.exe", "a.b", true},
                      MatchCase{"*.exe;*.dll", "x.DLL", true},
                      MatchCase{"*.exe;  *.dll", "x.dll", true},
                      MatchCase{"*.exe;*.dll ", "x.dll", false},
                      MatchCase{"*.exe;*.dll ", "x.dll ", true}, MatchCase{" *.exe", "x.exe", true},
                      MatchCase{"", "x", false}, MatchCase{";", "x", false},
                      MatchCase{"*.exe;", "x.exe", true}, MatchCase{"   ", "x", false}));

INSTANTIATE_TEST_SUITE_P(
    NonAscii, WildcardTable,
    ::testing::Values(MatchCase{"ÄRGER.*", "ärger.txt", true},   // Latin-1
                      MatchCase{"*ł.exe", "BIAŁ.EXE", true},     // Latin Extended-A
                      MatchCase{"ΑΒΓ.dll", "αβγ.DLL", true},     // Greek
                      MatchCase{"привет.*", "ПРИВЕТ.exe", true}, // Cyrillic
                      MatchCase{"?.exe", "é.exe", true},         // one character, two bytes
                      MatchCase{"??.exe", "é.exe", false},
                      MatchCase{"?.exe", "\xff.exe", true},    // a stray byte is one character
                      MatchCase{"\xc3.exe", "\xc3.exe", true}, // truncated sequence, same bytes
                      MatchCase{"\xc3.exe", "\xc3\xa9.exe", false}));

TEST(Wildcard, HostileInputStaysQuick) {
    const std::string name(20000, 'a');
    const std::string mask = std::string(200, '*').insert(100, "a*") + "b";
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "*a";
    many += "b";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesWildcard(name, mask));
    EXPECT_FALSE(MatchesWildcard(name, many));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(MaskSet, AnyMaskOfTheSetMatches) {
    const harvix::MaskSet set({"*.exe", "", "*.dll;*.ocx"});
    EXPECT_TRUE(set.Matches("a.EXE"));
    EXPECT_TRUE(set.Matches("a.ocx"));
    EXPECT_FALSE(set.Matches("a.txt"));
    EXPECT_FALSE(harvix::MaskSet(std::vector<std::string>{}).Matches("a.exe"));
    EXPECT_TRUE(harvix::MaskSet({"x", "*.*"}).Matches("README"));
}

} // namespace
