// harvix-cli settings, run as its own process on a throw-away store.
#include "settings/RegistryStore.h"
#include "settings/RegistryValue.h"
#include "tests/support/RunProgram.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace harvix {
namespace {

using Outcome = testing::ProgramRun;

class SettingsCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = testing::MakeScratchFolder("harvix-cli");
        std::filesystem::create_directories(m_dir / "home");
        m_store = m_dir / "config" / "registry.sqlite3";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    static std::string quoted(const std::string& arg) {
        std::string q = "'";
        for (char c : arg)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }

    Outcome run(const std::vector<std::string>& args) const {
        std::string command = "env -u XDG_CONFIG_HOME -u XDG_DOCUMENTS_DIR HOME=" +
                              quoted((m_dir / "home").string()) +
                              " HARVIX_REGISTRY=" + quoted(m_store.string()) + " " +
                              quoted(HARVIX_CLI) + " settings";
        for (const auto& a : args)
            command += " " + quoted(a);
        return testing::RunShell(command, m_dir);
    }

    std::string defaultsListing() const {
        const std::string home = (m_dir / "home").string();
        return "SearchSystem\tREG_DWORD\t1\n"
               "Folder\tREG_SZ\t" +
               home +
               "\n"
               "SubFolders\tREG_DWORD\t1\n"
               "Mask\tREG_SZ\t*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\n"
               "ResTypesBitmap\tREG_DWORD\t1\n"
               "ResTypesIcon\tREG_DWORD\t1\n"
               "ResTypesCursor\tREG_DWORD\t1\n"
               "ResTypesAniCursor\tREG_DWORD\t1\n"
               "ResTypesVideo\tREG_DWORD\t1\n"
               "ResTypesHTML\tREG_DWORD\t1\n"
               "ResTypesImage\tREG_DWORD\t0\n"
               "DestPath\tREG_SZ\t" +
               home +
               "/Resources\n"
               "Priority\tREG_DWORD\t3\n"
               "Satellites\tREG_DWORD\t1\n"
               "Language\tREG_SZ\t\n"
               "Containers\tREG_DWORD\t0\n";
    }

    std::filesystem::path m_dir;
    std::filesystem::path m_store;
};

TEST_F(SettingsCliTest, WithoutAStoreItPrintsTheDefaultsAndCreatesNothing) {
    const auto o = run({});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, defaultsListing());
    EXPECT_FALSE(std::filesystem::exists(m_store));
    EXPECT_FALSE(std::filesystem::exists(m_store.parent_path()));
}

TEST_F(SettingsCliTest, AFirstPartialWriteStoresTheCompleteSet) {
    const auto w =
        run({"mask=*.ocx; *.scr", "SubFolders=0", "Priority=5", "DestPath=/d/\xC3\xA4 x"});
    ASSERT_EQ(w.status, 0) << w.err;
    auto names = RegistryStore(m_store.string()).valueNames(HKEY_LOCAL_MACHINE, "Software\\Harvix");
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(names->size(), 16u);

    std::string expected = defaultsListing();
    auto replace = [&](const std::string& from, const std::string& to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    replace("Mask\tREG_SZ\t*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\n", "Mask\tREG_SZ\t*.ocx; *.scr\n");
    replace("SubFolders\tREG_DWORD\t1", "SubFolders\tREG_DWORD\t0");
    replace("Priority\tREG_DWORD\t3", "Priority\tREG_DWORD\t5");
    replace("DestPath\tREG_SZ\t" + (m_dir / "home").string() + "/Resources", "DestPath\tREG_SZ\t/d/\xC3\xA4 x");
    EXPECT_EQ(run({}).out, expected);

    auto stored = RegistryStore(m_store.string())
                      .queryValue(HKEY_LOCAL_MACHINE, "Software\\Harvix", "Priority");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored->type, REG_DWORD);
    EXPECT_EQ(stored->data, (std::vector<std::uint8_t>{5, 0, 0, 0}));
}

TEST_F(SettingsCliTest, TextsAreKeptAsTypedAndTheStoredTypeIsShown) {
    ASSERT_EQ(run({"Folder=/data/%HOME%/x"}).status, 0);
    const std::string raw = "%HOME%/out";
    ASSERT_TRUE(RegistryStore(m_store.string())
                    .setValue(HKEY_LOCAL_MACHINE, "Software\\Harvix", "DestPath", REG_EXPAND_SZ,
                              std::vector<std::uint8_t>(raw.c_str(), raw.c_str() + raw.size() + 1))
                    .ok());
    const auto o = run({});
    EXPECT_NE(o.out.find("\nFolder\tREG_SZ\t/data/%HOME%/x\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\nDestPath\tREG_EXPAND_SZ\t%HOME%/out\n"), std::string::npos) << o.out;
}

TEST_F(SettingsCliTest, RefusedArgumentsWriteNothing) {
    const std::vector<std::vector<std::string>> refused = {
        {"Colour=1"},   {"SubFolders=yes"}, {"SubFolders=2"},
        {"Priority=0"}, {"Priority=6"},     {"Priority=3x"},
        {"Priority="},  {"Mask"},           {"Mask=*.dll", "Nope=1"},
    };
    for (const auto& args : refused) {
        const auto o = run(args);
        EXPECT_EQ(o.status, 2) << args[0];
        EXPECT_NE(o.err, "") << args[0];
        EXPECT_FALSE(std::filesystem::exists(m_store)) << args[0];
    }
    ASSERT_EQ(run({"Mask=*.dll"}).status, 0);
    EXPECT_EQ(run({"Mask=*.exe", "Priority=9"}).status, 2);
    EXPECT_NE(run({}).out.find("Mask\tREG_SZ\t*.dll\n"), std::string::npos);
}

TEST_F(SettingsCliTest, AStoreThatCannotBeWrittenEndsWithStatusOne) {
    std::ofstream(m_dir / "config") << "a file where the folder should be";
    const auto o = run({"Mask=*.dll"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.rfind("harvix-cli settings: ", 0), 0u) << o.err;
    EXPECT_EQ(run({}).out, defaultsListing());
}

} // namespace
} // namespace harvix
