#include "settings/Settings.h"

#include "settings/RegistryStore.h"
#include "tests/settings/TempStore.h"
#include "settings/cRegistry.h"

#include <gtest/gtest.h>

namespace harvix {
namespace {

class SettingsTest : public test::TempStoreTest {
protected:
    StoredValue stored(const std::string& name) {
        auto v = RegistryStore().queryValue(HKEY_LOCAL_MACHINE, kSettingsSection, name);
        EXPECT_TRUE(v.ok()) << name;
        return v.ok() ? v.value() : StoredValue{};
    }
};

TEST_F(SettingsTest, FirstStartGivesTheDefaultsAndWritesNothing) {
    const Settings s = LoadSettings().value();
    EXPECT_TRUE(s.SearchSystem);
    EXPECT_TRUE(s.SubFolders);
    EXPECT_EQ(s.Mask, "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx");
    // Every kind but the pictures kept whole, which a first start does not look for.
    EXPECT_EQ(s.ResTypes, (KindSwitches{true, true, true, true, true, true, false}));
    EXPECT_EQ(s.Priority, 3);
    EXPECT_EQ(s.Folder, home().string()) << "no Wine prefix: the home folder";
    EXPECT_EQ(s.DestPath, (home() / "Resources").string())
        << "no documents folder known: the home folder stands in";
    EXPECT_FALSE(std::filesystem::exists(storePath()));
}

TEST_F(SettingsTest, DefaultFoldersComeFromWineAndTheDocumentsFolder) {
    const auto system32 = home() / ".wine" / "drive_c" / "windows" / "system32";
    std::filesystem::create_directories(system32);
    EXPECT_EQ(GetSystemFolder(), system32.string());

    writeFile(home() / ".config" / "user-dirs.dirs",
              "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    EXPECT_EQ(GetPersonalFolder(), (home() / "Docs").string());
    EXPECT_EQ(DefaultSettings().DestPath, (home() / "Docs" / "Resources").string());

    // A folder given with a trailing separator gets no second one.
    setenv("XDG_DOCUMENTS_DIR", "/data/docs/", 1);
    EXPECT_EQ(DefaultSettings().DestPath, "/data/docs/Resources");

    // A documents folder that is the home folder itself, or none at all: the home folder,
    // never the file system's root.
    unsetenv("XDG_DOCUMENTS_DIR");
    writeFile(home() / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    EXPECT_EQ(GetPersonalFolder(), home().string());
    EXPECT_EQ(DefaultSettings().DestPath, (home() / "Resources").string());
    writeFile(home() / ".config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    EXPECT_EQ(DefaultSettings().DestPath, (home() / "Resources").string());
}

TEST_F(SettingsTest, SavedSettingsComeBackAndAreStoredWithTheirTypes) {
    Settings s;
    s.SearchSystem = false;
    s.Folder = "  /mnt/win dows/\xC3\xA4\t ";
    s.SubFolders = false;
    s.Mask = "*.EXE; *.dll ;";
    s.ResTypes = {true, false, true, false, true, false, true};
    s.DestPath = "/tmp/out\\with\\backslashes";
    s.Priority = 5;
    s.Satellites = false;
    s.Language = "sr-Latn-RS";
    ASSERT_TRUE(SaveSettings(s).ok());
    EXPECT_EQ(LoadSettings().value(), s);

    std::int32_t count = 0;
    std::vector<std::string> names;
    cRegistry reg;
    reg.ClassKey(HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSettingsSection);
    reg.EnumerateValues(names, count);
    ASSERT_EQ(count, 16);
    for (std::size_t i = 0; i < kSettingRows.size(); ++i) {
        EXPECT_EQ(names[i], kSettingRows[i].name);
        EXPECT_EQ(stored(names[i]).type, kSettingRows[i].type) << names[i];
    }
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(stored("SearchSystem").data, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(stored("ResTypesBitmap").data, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(stored("Priority").data, (Bytes{5, 0, 0, 0}));
    EXPECT_EQ(stored("ResTypesImage").data, (Bytes{1, 0, 0, 0}));
}

TEST_F(SettingsTest, AnExistingKeyWithMissingValuesGivesEmptyValuesNotDefaults) {
    ASSERT_TRUE(WriteSetting("Mask", "*.dll").ok());
    const Settings s = LoadSettings().value();
    EXPECT_EQ(s.Mask, "*.dll");
    EXPECT_FALSE(s.SearchSystem);
    EXPECT_FALSE(s.SubFolders);
    EXPECT_EQ(s.Folder, "");
    EXPECT_EQ(s.DestPath, "");
    EXPECT_EQ(s.ResTypes, KindSwitches{});
    EXPECT_EQ(s.Priority, 3) << "0 is outside the slider's range";
    // Values that stores written before them lack keep their defaults: satellites stay
    // read, in the locale's language.
    EXPECT_TRUE(s.Satellites);
    EXPECT_EQ(s.Language, "");
    ASSERT_TRUE(WriteSetting("Satellites", false).ok());
    ASSERT_TRUE(WriteSetting("Language", "de-DE").ok());
    const Settings chosen = LoadSettings().value();
    EXPECT_FALSE(chosen.Satellites);
    EXPECT_EQ(chosen.Language, "de-DE");

    bool flag = true;
    EXPECT_TRUE(ReadSetting("SubFolders", flag));
    EXPECT_FALSE(flag);
}

TEST_F(SettingsTest, ReadSettingLeavesTheTargetAloneWithoutTheKey) {
    bool flag = true;
    std::string text = "unchanged";
    std::int16_t number = 42;
    EXPECT_FALSE(ReadSetting("SubFolders", flag));
    EXPECT_FALSE(ReadSetting("Folder", text));
    EXPECT_FALSE(ReadSetting("Priority", number));
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(number, 42);
}

TEST_F(SettingsTest, StoredValuesOfOtherTypesOrRangesAreConverted) {
    const std::pair<std::int32_t, std::int16_t> priorities[] = {{1, 1}, {5, 5},  {0, 3},
                                                                {6, 3}, {-1, 3}, {70000, 3}};
    for (const auto& [storedValue, loaded] : priorities) {
        ASSERT_TRUE(WriteSetting("Priority", storedValue).ok());
        EXPECT_EQ(LoadSettings().value().Priority, loaded) << storedValue;
    }
    ASSERT_TRUE(WriteSetting("SearchSystem", std::int32_t{7}).ok());
    ASSERT_TRUE(WriteSetting("SubFolders", "1").ok());
    ASSERT_TRUE(WriteSetting("Folder", std::int32_t{12}).ok());
    const Settings s = LoadSettings().value();
    EXPECT_TRUE(s.SearchSystem) << "any non-zero number is true";
    EXPECT_TRUE(s.SubFolders);
    EXPECT_EQ(s.Folder, "12");
}

TEST_F(SettingsTest, TextsAreStoredAndReadBackExactlyAsTyped) {
    // Two "%" signs make no variable reference for the settings: stored as REG_SZ.
    ASSERT_TRUE(WriteSetting("Folder", "/data/%HOME%/x").ok());
    EXPECT_EQ(stored("Folder").type, REG_SZ);
    EXPECT_EQ(StoredSettingType("Folder"), REG_SZ);
    std::string text;
    EXPECT_TRUE(ReadSetting("Folder", text));
    EXPECT_EQ(text, "/data/%HOME%/x");

    // An expandable string stored by something else is read as it stands.
    const std::string raw = "%HOME%/out";
    ASSERT_TRUE(RegistryStore()
                    .setValue(HKEY_LOCAL_MACHINE, kSettingsSection, "DestPath", REG_EXPAND_SZ,
                              std::vector<std::uint8_t>(raw.c_str(), raw.c_str() + raw.size() + 1))
                    .ok());
    EXPECT_EQ(LoadSettings().value().DestPath, "%HOME%/out");
    EXPECT_EQ(StoredSettingType("DestPath"), REG_EXPAND_SZ);
    EXPECT_EQ(StoredSettingType("Mask"), std::nullopt);

    // Other callers of the registry class keep its rule: stored by the text, expanded.
    cRegistry reg;
    reg.ClassKey(HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSettingsSection);
    reg.ValueKey("Other");
    reg.ValueType(REG_SZ);
    reg.Value(RegVariant(std::string("%HOME%/x")));
    EXPECT_EQ(stored("Other").type, REG_EXPAND_SZ);
    EXPECT_EQ(std::get<std::string>(reg.Value()), std::string(std::getenv("HOME")) + "/x");
}

TEST_F(SettingsTest, AFailedSaveAtExitSaysSoAndThrowsNothing) {
    // The store's folder is a plain file, so nothing can be created below it.
    writeFile(root() / "blocker", "x");
    setenv("HARVIX_REGISTRY", (root() / "blocker" / "registry.sqlite3").c_str(), 1);
    EXPECT_FALSE(SaveSettings(DefaultSettings()).ok());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(SaveSettingsAtExit(DefaultSettings()));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("the settings were not saved"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(LoadSettings().value().Mask, kDefaultMask);
}

} // namespace
} // namespace harvix
