#include "settings/cRegistry.h"

#include "settings/RegistryStore.h"
#include "tests/settings/TempStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace harvix {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RegistryTest : public test::TempStoreTest {
protected:
    cRegistry at(const std::string& section, const std::string& value = "",
                 std::int32_t root = HKEY_LOCAL_MACHINE) {
        cRegistry reg;
        reg.ClassKey(root);
        reg.SectionKey(section);
        reg.ValueKey(value);
        return reg;
    }
    void write(const std::string& section, const std::string& name, std::int32_t type,
               const RegVariant& value, std::int32_t root = HKEY_LOCAL_MACHINE) {
        auto reg = at(section, name, root);
        reg.ValueType(type);
        reg.Value(value);
    }
    StoredValue stored(const std::string& section, const std::string& name,
                       std::int32_t root = HKEY_LOCAL_MACHINE) {
        auto v = RegistryStore().queryValue(root, section, name);
        EXPECT_TRUE(v.ok()) << section << " " << name;
        return v.ok() ? v.value() : StoredValue{};
    }
    static RegistryError caught(const std::function<void()>& fn) {
        try {
            fn();
        } catch (const RegistryError& e) {
            return e;
        }
        ADD_FAILURE() << "no RegistryError";
        return RegistryError(0, "", "");
    }
};

TEST_F(RegistryTest, KeyExistsConcernsTheKeyNotTheValue) {
    auto reg = at("Software\\Harvix", "Missing");
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_EQ(reg.Value(), RegVariant{}); // no store file yet
    EXPECT_FALSE(std::filesystem::exists(storePath())) << "a read created the store";

    EXPECT_TRUE(reg.CreateKey());
    EXPECT_TRUE(reg.KeyExists());
    reg.ValueType(REG_BINARY);
    reg.Default(std::string("fallback"));
    EXPECT_EQ(reg.Value(), RegVariant(std::string("fallback")));
    EXPECT_EQ(reg.ValueType(), REG_BINARY) << "a failed read changed ValueType";
}

TEST_F(RegistryTest, AnUnsetRootKeyFindsNothingAndCreatesNothing) {
    cRegistry reg;
    reg.SectionKey("Software\\Harvix");
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_EQ(reg.Value(), RegVariant{});
    auto e = caught([&] { reg.CreateKey(); });
    EXPECT_EQ(e.Number(), 26001);
    EXPECT_EQ(e.Description(), "Failed to create registry Key: 'Software\\Harvix");
    EXPECT_EQ(e.Source(), RegistryErrorSource());
    EXPECT_EQ(reg.SectionKey(), "Software\\Harvix");
}

TEST_F(RegistryTest, TheErrorSourceIsTheProgramNameAndClass) {
    EXPECT_EQ(RegistryErrorSource(), "settings_tests.cRegistry");
}

TEST_F(RegistryTest, WritesCreateEveryMissingParentAndNamesIgnoreCase) {
    write("A\\B\\C", "Name", REG_SZ, std::string("v"));
    EXPECT_TRUE(at("a").KeyExists());
    EXPECT_TRUE(at("A\\b").KeyExists());
    EXPECT_TRUE(at("a\\B\\c\\").KeyExists());
    EXPECT_FALSE(at("A\\B\\C", "", HKEY_CLASSES_ROOT).KeyExists()) << "roots must be separate";
    EXPECT_EQ(at("A\\B\\C", "NAME").Value(), RegVariant(std::string("v")));

    // Rewriting under another spelling replaces the value and keeps the first spelling.
    write("a\\b\\c", "nAmE", REG_SZ, std::string("w"));
    std::vector<std::string> names;
    std::int32_t count = 0;
    EXPECT_TRUE(at("A\\B\\C").EnumerateValues(names, count));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(names, std::vector<std::string>{"Name"});
    EXPECT_EQ(at("A\\B\\C", "name").Value(), RegVariant(std::string("w")));
}

TEST_F(RegistryTest, TheUnnamedValueIsSeparateFromNamedOnes) {
    write("K", "", REG_SZ, std::string("default"));
    write("K", "x", REG_SZ, std::string("named"));
    EXPECT_EQ(at("K", "").Value(), RegVariant(std::string("default")));
    EXPECT_EQ(at("K", "x").Value(), RegVariant(std::string("named")));
}

TEST_F(RegistryTest, TextsAreStoredExactlyWithTheirTerminator) {
    const std::string texts[] = {"abc",
                                 "",
                                 " leading and trailing ",
                                 "tab\there\r\nline",
                                 "\xC3\xA4\xC3\xB6\xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80",
                                 std::string("nul\0inside", 10),
                                 "\\back\\slashes\\",
                                 "100%"};
    for (const auto& text : texts) {
        write("T", "v", REG_SZ, text);
        const auto s = stored("T", "v");
        EXPECT_EQ(s.type, REG_SZ);
        Bytes expected(text.begin(), text.end());
        expected.push_back(0);
        EXPECT_EQ(s.data, expected);
        auto reg = at("T", "v");
        EXPECT_EQ(reg.Value(), RegVariant(text));
        EXPECT_EQ(reg.ValueType(), REG_SZ);
    }
}

TEST_F(RegistryTest, TheTextDecidesWhetherAStringIsExpandable) {
    setenv("HARVIX_TEST_VAR", "/some/where", 1);
    write("T", "e", REG_SZ, std::string("%HARVIX_TEST_VAR%\\x"));
    EXPECT_EQ(stored("T", "e").type, REG_EXPAND_SZ);
    auto reg = at("T", "e");
    EXPECT_EQ(reg.Value(), RegVariant(std::string("/some/where\\x")));
    EXPECT_EQ(reg.ValueType(), REG_EXPAND_SZ);
    unsetenv("HARVIX_TEST_VAR");

    write("T", "one", REG_EXPAND_SZ, std::string("50% off"));
    EXPECT_EQ(stored("T", "one").type, REG_SZ) << "a single sign is plain text";
    write("T", "adjacent", REG_SZ, std::string("a%%b"));
    EXPECT_EQ(stored("T", "adjacent").type, REG_SZ);
}

TEST_F(RegistryTest, DwordsAreWrittenLittleEndianWhateverTheRequestedOrder) {
    write("D", "le", REG_DWORD, std::int32_t{-1});
    write("D", "be", REG_DWORD_BIG_ENDIAN, std::int32_t{258});
    write("D", "short", REG_DWORD, std::int16_t{-2});
    EXPECT_EQ(stored("D", "le").data, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(stored("D", "be").type, REG_DWORD);
    EXPECT_EQ(stored("D", "be").data, (Bytes{0x02, 0x01, 0, 0}));
    EXPECT_EQ(stored("D", "short").data, (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(at("D", "le").Value(), RegVariant(std::int32_t{-1}));

    ASSERT_TRUE(
        RegistryStore()
            .setValue(HKEY_LOCAL_MACHINE, "D", "stored-be", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 2})
            .ok());
    auto reg = at("D", "stored-be");
    EXPECT_EQ(reg.Value(), RegVariant(std::int32_t{258}));
    EXPECT_EQ(reg.ValueType(), REG_DWORD_BIG_ENDIAN);
}

TEST_F(RegistryTest, BinaryValuesReadBackWithOneExtraZero) {
    write("B", "bin", REG_BINARY, Bytes{1, 2, 3});
    EXPECT_EQ(stored("B", "bin").data, (Bytes{1, 2, 3}));
    EXPECT_EQ(at("B", "bin").Value(), RegVariant(Bytes{1, 2, 3, 0}));
}

TEST_F(RegistryTest, RefusedWritesRaiseAndWriteNothing) {
    auto binary = caught([&] { write("W", "b", REG_BINARY, std::string("not bytes")); });
    EXPECT_EQ(binary.Number(), 26001);
    EXPECT_EQ(binary.Source(), "");
    EXPECT_EQ(binary.Description(), "");

    auto multi = caught([&] { write("W", "m", REG_MULTI_SZ, std::string("x")); });
    EXPECT_EQ(multi.Number(), static_cast<std::int32_t>(0x800469A9u));
    EXPECT_EQ(multi.Number(), -2147194455);
    EXPECT_EQ(
        multi.Description(),
        "Failed to set registry value Key: '-2147483646',Section: 'W',Key: 'm' to value: 'x'");

    auto notNumber = caught([&] { write("W", "d", REG_DWORD, std::string("12")); });
    EXPECT_EQ(notNumber.Number(), -2147194455);

    std::vector<std::string> names;
    std::int32_t count = -1;
    at("W").EnumerateValues(names, count);
    EXPECT_EQ(count, 0);
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
    write("Del\\Sub", "v", REG_SZ, std::string("x"));
    write("Del", "a", REG_SZ, std::string("x"));

    auto parent = at("Del");
    auto e = caught([&] { parent.DeleteKey(); });
    EXPECT_EQ(e.Number(), 26001);
    EXPECT_EQ(e.Description(), "Failed to delete registry Key: '-2147483646',Section: 'Del");
    EXPECT_TRUE(at("del\\sub").DeleteKey());
    EXPECT_FALSE(at("Del\\Sub").KeyExists());
    EXPECT_TRUE(at("Del").KeyExists());

    EXPECT_TRUE(at("Del", "A").DeleteValue());
    EXPECT_EQ(at("Del", "a").Value(), RegVariant{});
    auto again = caught([&] { at("Del", "a").DeleteValue(); });
    EXPECT_EQ(again.Description(),
              "Failed to delete registry Key: '-2147483646',Section: 'Del',Key: 'a");
    auto noKey = caught([&] { at("Nowhere", "a").DeleteValue(); });
    EXPECT_EQ(noKey.Description(),
              "Failed to open key '-2147483646',Section: 'Nowhere' for delete access");
    EXPECT_TRUE(parent.DeleteKey());
    EXPECT_FALSE(parent.KeyExists());
}

TEST_F(RegistryTest, ListingValueNamesAndSubKeys) {
    std::vector<std::string> names{"stale"};
    std::int32_t count = 7;
    EXPECT_TRUE(at("None").EnumerateValues(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());
    names = {"stale"};
    EXPECT_TRUE(at("None").EnumerateSections(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());

    write("L", "zeta", REG_SZ, std::string("1"));
    write("L", "Alpha", REG_DWORD, std::int32_t{1});
    write("L", "", REG_SZ, std::string("default"));
    write("L\\beta", "x", REG_SZ, std::string("1"));
    write("L\\Alpha", "x", REG_SZ, std::string("1"));
    write("L\\gamma\\deeper", "x", REG_SZ, std::string("1"));

    EXPECT_TRUE(at("L").EnumerateValues(names, count));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(names, (std::vector<std::string>{"zeta", "Alpha", ""}));
    EXPECT_TRUE(at("L").EnumerateSections(names, count));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
}

TEST_F(RegistryTest, MalformedKeyPathsAreRefused) {
    for (const char* path : {"\\Lead", "Two\\\\Seps"}) {
        auto reg = at(path, "v");
        EXPECT_FALSE(reg.KeyExists()) << path;
        EXPECT_THROW(reg.CreateKey(), RegistryError) << path;
    }
    EXPECT_THROW(at(std::string(256, 'k')).CreateKey(), RegistryError);
    EXPECT_NO_THROW(at(std::string(255, 'k')).CreateKey());
}

TEST_F(RegistryTest, AnAssociationWithDefaultOptionsWritesFourKeys) {
    cRegistry reg;
    reg.CreateEXEAssociation("  C:\\Tools\\a b.exe ", "Harvix.Doc", "Harvix document", "hvx");
    const std::pair<const char*, const char*> expected[] = {
        {".hvx", "Harvix.Doc"},
        {"Harvix.Doc", "Harvix document"},
        {"Harvix.Doc\\shell\\open", "&Open"},
        {"Harvix.Doc\\shell\\open\\command", "\"C:\\Tools\\a b.exe\" \"%1\""},
    };
    for (const auto& [key, text] : expected)
        EXPECT_EQ(at(key, "", HKEY_CLASSES_ROOT).Value(), RegVariant(std::string(text))) << key;

    std::vector<std::string> names;
    std::int32_t count = 0;
    at("", "", HKEY_CLASSES_ROOT).EnumerateSections(names, count);
    EXPECT_EQ(names, (std::vector<std::string>{".hvx", "Harvix.Doc"}));
    at("Harvix.Doc\\shell", "", HKEY_CLASSES_ROOT).EnumerateSections(names, count);
    EXPECT_EQ(names, std::vector<std::string>{"open"});
    EXPECT_FALSE(at("Harvix.Doc\\DefaultIcon", "", HKEY_CLASSES_ROOT).KeyExists());
    EXPECT_EQ(reg.ClassKey(), HKEY_CLASSES_ROOT);
}

TEST_F(RegistryTest, AnAssociationWithEveryOption) {
    cRegistry reg;
    reg.CreateEXEAssociation("\"/opt/a.exe\"", "C", "D", "ext", "", true, "", true, "", true, "",
                             2);
    const std::pair<const char*, const char*> expected[] = {
        {"C\\shell\\open", "&Open"},
        {"C\\shell\\print", "&Print"},
        {"C\\shell\\print\\command", "\"/opt/a.exe\" /p \"%1\""},
        {"C\\shell\\add", "&Install ext"},
        {"C\\shell\\add\\command", "\"/opt/a.exe\" /a \"%1\""},
        {"C\\shell\\new", "&New"},
        {"C\\shell\\new\\command", "\"/opt/a.exe\" /n \"%1\""},
        {"C\\DefaultIcon", "\"/opt/a.exe\",2"},
    };
    for (const auto& [key, text] : expected)
        EXPECT_EQ(at(key, "", HKEY_CLASSES_ROOT).Value(), RegVariant(std::string(text))) << key;
}

TEST_F(RegistryTest, AdditionalAssociationsNeedTriplesAndAnExistingClass) {
    cRegistry reg;
    reg.ClassKey(HKEY_CLASSES_ROOT);
    const std::vector<RegVariant> four{std::string("view"), std::string("&View"),
                                       std::string("cmd"), std::string("extra")};
    reg.CreateAdditionalEXEAssociations("C", four);
    ASSERT_TRUE(reg.LastRecordedError());
    EXPECT_EQ(reg.LastRecordedError()->Number(), -2147194452);
    EXPECT_FALSE(std::filesystem::exists(storePath()));

    const std::vector<RegVariant> three{std::string("view"), std::string("&View"),
                                        std::string("/bin/v \"%1\"")};
    reg.CreateAdditionalEXEAssociations("C", three);
    ASSERT_TRUE(reg.LastRecordedError());
    EXPECT_EQ(reg.LastRecordedError()->Number(), -2147194451);
    EXPECT_EQ(reg.LastRecordedError()->Description(),
              "Error - attempt to create additional associations before class defined.");
    EXPECT_FALSE(at("C\\shell\\view", "", HKEY_CLASSES_ROOT).KeyExists());

    reg.CreateEXEAssociation("/bin/v", "C", "D", "v");
    reg.CreateAdditionalEXEAssociations("C", three);
    EXPECT_FALSE(reg.LastRecordedError());
    EXPECT_EQ(at("C\\shell\\view", "", HKEY_CLASSES_ROOT).Value(),
              RegVariant(std::string("&View")));
    EXPECT_EQ(at("C\\shell\\view\\command", "", HKEY_CLASSES_ROOT).Value(),
              RegVariant(std::string("/bin/v \"%1\"")));
}

} // namespace
} // namespace harvix
