// A throw-away home folder and registry store for one test: HOME, XDG_CONFIG_HOME and
// HARVIX_REGISTRY point into a fresh temporary folder, which is removed afterwards.
#pragma once

#include "tests/support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace harvix::test {

class TempStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = harvix::testing::MakeScratchFolder("harvix-reg");
        m_home = m_root / "home";
        std::filesystem::create_directories(m_home);
        m_store = (m_root / "config" / "registry.sqlite3").string();
        save("HOME");
        save("XDG_CONFIG_HOME");
        save("XDG_DOCUMENTS_DIR");
        save("HARVIX_REGISTRY");
        setenv("HOME", m_home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DOCUMENTS_DIR");
        setenv("HARVIX_REGISTRY", m_store.c_str(), 1);
    }

    void TearDown() override {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::permissions(m_root / "config", std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_root, ec);
    }

    const std::string& storePath() const { return m_store; }
    const std::filesystem::path& home() const { return m_home; }
    const std::filesystem::path& root() const { return m_root; }

    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

private:
    void save(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        m_saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }

    std::filesystem::path m_root;
    std::filesystem::path m_home;
    std::string m_store;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace harvix::test
