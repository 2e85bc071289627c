// The store under stress: two programs writing at once, a writer killed mid-write, and
// store files that are damaged or cannot be opened.
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "tests/settings/TempStore.h"
#include "settings/cRegistry.h"

#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sqlite3.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace harvix {
namespace {

class StoreRobustnessTest : public test::TempStoreTest {
protected:
    static void writeNumber(const std::string& name, std::int32_t value) {
        cRegistry reg;
        reg.ClassKey(HKEY_LOCAL_MACHINE);
        reg.SectionKey("Software\\Stress");
        reg.ValueKey(name);
        reg.ValueType(REG_DWORD);
        reg.Value(value);
    }

    static std::vector<std::string> names() {
        auto list = RegistryStore().valueNames(HKEY_LOCAL_MACHINE, "Software\\Stress");
        return list.ok() ? list.value() : std::vector<std::string>{};
    }

    std::string integrity() const {
        sqlite3* db = nullptr;
        std::string result = "cannot open";
        if (sqlite3_open_v2(storePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
            SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return result;
    }

    static std::string fileText(const std::filesystem::path& path) {
        return harvix::testing::ReadText(path);
    }

    std::vector<std::filesystem::path> corruptCopies() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(root() / "config"))
            if (entry.path().filename().string().rfind("registry.sqlite3.corrupt-", 0) == 0)
                found.push_back(entry.path());
        return found;
    }
};

TEST_F(StoreRobustnessTest, TwoWritersAtOnceKeepEachOthersValues) {
    constexpr int kWrites = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                for (int i = 0; i < kWrites; ++i) {
                    writeNumber("p" + std::to_string(p) + "_" + std::to_string(i), i);
                    writeNumber("shared", p);
                }
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
    const auto list = names();
    const std::set<std::string> all(list.begin(), list.end());
    EXPECT_EQ(all.size(), 2u * kWrites + 1);
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kWrites; ++i)
            EXPECT_TRUE(all.count("p" + std::to_string(p) + "_" + std::to_string(i)))
                << p << " " << i;
}

TEST_F(StoreRobustnessTest, AWriterKilledMidWriteLeavesEveryCommittedValue) {
    writeNumber("v0", 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (std::int32_t i = 1;; ++i)
            writeNumber("v" + std::to_string(i), i);
    }
    // Let it write for a while, then kill it wherever it is.
    for (int tries = 0; tries < 100 && names().size() < 5; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));

    // Values are committed in order, so the ones that are there must be v0 ... vN-1,
    // each with its own number.
    const auto list = names();
    ASSERT_GE(list.size(), 2u);
    for (std::size_t i = 0; i < list.size(); ++i) {
        ASSERT_EQ(list[i], "v" + std::to_string(i));
        cRegistry reg;
        reg.ClassKey(HKEY_LOCAL_MACHINE);
        reg.SectionKey("Software\\Stress");
        reg.ValueKey(list[i]);
        EXPECT_EQ(reg.Value(), RegVariant(static_cast<std::int32_t>(i)));
    }
    EXPECT_EQ(integrity(), "ok");
    EXPECT_NO_THROW(writeNumber("after", 1));
}

TEST_F(StoreRobustnessTest, ADamagedStoreGivesDefaultsAndIsKeptBesideTheNewOne) {
    std::string garbage;
    for (int i = 0; i < 200; ++i)
        garbage += "this is not a database, just some text ";
    writeFile(storePath(), garbage);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadSettings().value(), DefaultSettings());
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fileText(storePath()), garbage) << "a read touched the damaged file";
    EXPECT_TRUE(corruptCopies().empty());

    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(WriteSetting("Mask", "*.ocx").ok());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("damaged"), std::string::npos) << err;

    const auto copies = corruptCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(fileText(copies[0]), garbage);
    EXPECT_NE(err.find(copies[0].string()), std::string::npos) << err;
    EXPECT_EQ(LoadSettings().value().Mask, "*.ocx");
    EXPECT_EQ(integrity(), "ok");
}

TEST_F(StoreRobustnessTest, DamageBehindAnIntactHeaderIsAlsoKeptAside) {
    ASSERT_TRUE(WriteSetting("Mask", "*.ocx").ok());
    {
        // Overwrite the page after the schema page, where the keys are.
        std::fstream f(storePath(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096);
        const std::string junk(4096, '\xFF');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(WriteSetting("Mask", "*.scr").ok());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(corruptCopies().size(), 1u) << err;
    EXPECT_EQ(LoadSettings().value().Mask, "*.scr");
    EXPECT_EQ(integrity(), "ok");
}

TEST_F(StoreRobustnessTest, ADatabaseOfAnotherProgramIsNeverWrittenInto) {
    std::filesystem::create_directories(root() / "config");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadSettings().value(), DefaultSettings());
    ASSERT_TRUE(WriteSetting("Mask", "*.ocx").ok());
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(corruptCopies().size(), 1u);
    EXPECT_EQ(LoadSettings().value().Mask, "*.ocx");
}

TEST_F(StoreRobustnessTest, AStoreThatCannotBeOpenedGivesDefaultsAndRefusesWrites) {
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the super-user";
    ASSERT_TRUE(WriteSetting("Mask", "*.ocx").ok());
    ASSERT_EQ(chmod(storePath().c_str(), 0), 0);
    EXPECT_EQ(LoadSettings().value(), DefaultSettings());
    EXPECT_FALSE(WriteSetting("Mask", "*.dll").ok());
    chmod(storePath().c_str(), 0600);
    EXPECT_EQ(LoadSettings().value().Mask, "*.ocx");

    // A read-only folder: the existing store still reads, a new value cannot be written.
    ASSERT_EQ(chmod((root() / "config").c_str(), 0500), 0);
    EXPECT_EQ(LoadSettings().value().Mask, "*.ocx");
    EXPECT_FALSE(WriteSetting("Mask", "*.dll").ok());
    chmod((root() / "config").c_str(), 0700);
}

TEST_F(StoreRobustnessTest, AStoreInAFolderThatCannotBeCreatedRefusesWrites) {
    writeFile(root() / "plainfile", "x");
    setenv("HARVIX_REGISTRY", (root() / "plainfile" / "sub" / "registry.sqlite3").c_str(), 1);
    EXPECT_FALSE(RegistryStore().setValue(HKEY_LOCAL_MACHINE, "K", "v", REG_SZ, {}).ok());
    // The settings say so as a value; the registry class raises its numbered error.
    const Status written = WriteSetting("Mask", "x");
    ASSERT_FALSE(written.ok());
    EXPECT_FALSE(written.error().message.empty());
    auto e = [] {
        try {
            cRegistry reg;
            reg.ClassKey(HKEY_LOCAL_MACHINE);
            reg.SectionKey(kSettingsSection);
            reg.CreateKey();
        } catch (const RegistryError& err) {
            return err.Number();
        }
        return 0;
    }();
    EXPECT_EQ(e, 26001);
}

} // namespace
} // namespace harvix
