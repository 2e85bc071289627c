#include "settings/RegistryValue.h"

#include "settings/RegistryStore.h"

#include <gtest/gtest.h>
#include <map>

namespace harvix {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

RegVariant decode(std::int32_t type, const Bytes& data) {
    const std::map<std::string, std::string, std::less<>> env{{"TEMP", "/tmp"}, {"A", "x"}};
    return DecodeStoredValue(type, data, [&](std::string_view name) -> std::optional<std::string> {
        auto it = env.find(name);
        return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
}

struct DecodeCase {
    const char* label;
    std::int32_t type;
    Bytes stored;
    RegVariant expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, StoredBytesBecomeTheValueAReadHandsOut) {
    const auto& c = GetParam();
    EXPECT_EQ(decode(c.type, c.stored), c.expected) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Types, DecodeTest,
    ::testing::Values(
        DecodeCase{"sz drops its terminator", REG_SZ, bytesOf(std::string("abc\0", 4)),
                   std::string("abc")},
        DecodeCase{"sz of only a terminator", REG_SZ, Bytes{0}, std::string()},
        DecodeCase{"sz of no bytes at all", REG_SZ, Bytes{}, std::string()},
        DecodeCase{"sz keeps embedded zeros and UTF-8", REG_SZ,
                   bytesOf(std::string("\xC3\xA4\0\t\x01z\0", 7)),
                   std::string("\xC3\xA4\0\t\x01z", 6)},
        DecodeCase{"multi sz loses only the final zero", REG_MULTI_SZ,
                   bytesOf(std::string("a\0bc\0\0", 6)), std::string("a\0bc\0", 5)},
        DecodeCase{"expand sz expands known variables", REG_EXPAND_SZ,
                   bytesOf(std::string("%TEMP%/x\0", 9)), std::string("/tmp/x")},
        DecodeCase{"dword little-endian", REG_DWORD, Bytes{0x02, 0x01, 0, 0}, std::int32_t{258}},
        DecodeCase{"dword all ones is -1", REG_DWORD, Bytes{0xFF, 0xFF, 0xFF, 0xFF},
                   std::int32_t{-1}},
        DecodeCase{"short dword is zero-padded", REG_DWORD, Bytes{0x05}, std::int32_t{5}},
        DecodeCase{"long dword uses its first four bytes", REG_DWORD, Bytes{1, 0, 0, 0, 9, 9},
                   std::int32_t{1}},
        DecodeCase{"big-endian dword", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 2}, std::int32_t{258}},
        DecodeCase{"big-endian sign bit", REG_DWORD_BIG_ENDIAN, Bytes{0x80, 0, 0, 0},
                   std::int32_t{INT32_MIN}},
        DecodeCase{"binary gets one extra zero", REG_BINARY, Bytes{7, 8, 9}, Bytes{7, 8, 9, 0}},
        DecodeCase{"empty binary is one zero", REG_BINARY, Bytes{}, Bytes{0}},
        DecodeCase{"none reads as bytes", REG_NONE, Bytes{1}, Bytes{1, 0}},
        DecodeCase{"link reads as bytes", REG_LINK, Bytes{1}, Bytes{1, 0}},
        DecodeCase{"unknown type reads as bytes", 99, Bytes{0xAA}, Bytes{0xAA, 0}}));

TEST(ExpandTest, OnlyKnownVariablesBetweenTwoSignsAreReplaced) {
    const std::map<std::string, std::string, std::less<>> env{{"A", "x"}, {"B", "yy"}};
    auto lookup = [&](std::string_view n) -> std::optional<std::string> {
        auto it = env.find(n);
        return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    const std::pair<const char*, const char*> cases[] = {
        {"%A%", "x"},     {"%A%%B%", "xyy"}, {"a%A%b", "axb"},        {"%NOPE%", "%NOPE%"},
        {"100%", "100%"}, {"%%", "%%"},      {"%NOPE%B%", "%NOPEyy"}, {"%A", "%A"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ExpandEnvironmentText(in, lookup), out) << in;
}

TEST(ExpandTest, ATextIsExpandableOnlyWithTwoSignsAtLeastTwoApart) {
    EXPECT_TRUE(LooksExpandable("%TEMP%\\x"));
    EXPECT_TRUE(LooksExpandable("%A%"));
    EXPECT_TRUE(LooksExpandable("%%x%"));
    EXPECT_FALSE(LooksExpandable("100%"));
    EXPECT_FALSE(LooksExpandable("%%"));
    EXPECT_FALSE(LooksExpandable("a%%b"));
    EXPECT_FALSE(LooksExpandable(""));
}

TEST(NamesTest, FoldingIgnoresCaseBeyondAscii) {
    EXPECT_EQ(FoldRegistryName("Software\\HARVIX"), "software\\harvix");
    EXPECT_EQ(FoldRegistryName("\xC3\x84RGER"), "\xC3\xA4rger");         // Ärger
    EXPECT_EQ(FoldRegistryName("\xD0\x9F\xD0\x81"), "\xD0\xBF\xD1\x91"); // ПЁ
    EXPECT_EQ(FoldRegistryName("\xCE\xA3"), "\xCF\x83");                 // Σ
    EXPECT_EQ(FoldRegistryName("\xC5\x81"), "\xC5\x82");                 // Ł
    // Bytes that are no two-byte sequence stay as they are.
    EXPECT_EQ(FoldRegistryName("\xFF\xC3"), "\xFF\xC3");
    EXPECT_EQ(FoldRegistryName("\xE2\x82\xAC"), "\xE2\x82\xAC");
}

TEST(NamesTest, RootAndTypeNames) {
    EXPECT_EQ(RootKeyName(HKEY_LOCAL_MACHINE), "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(RootKeyName(HKEY_DYN_DATA), "HKEY_DYN_DATA");
    EXPECT_FALSE(RootKeyName(0));
    EXPECT_FALSE(RootKeyName(static_cast<std::int32_t>(0x80000007u)));
    EXPECT_EQ(RegistryTypeName(REG_DWORD_BIG_ENDIAN), "REG_DWORD_BIG_ENDIAN");
    EXPECT_EQ(RegistryTypeName(11), "REG_11");
}

} // namespace
} // namespace harvix
