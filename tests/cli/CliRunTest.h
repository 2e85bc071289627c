// harvix-cli run as a program in a scratch folder of its own: modules go to root/src,
// the settings store is the folder's own, and JSON written is checked against the
// tool's schemas.
#pragma once

#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace harvix::testing {

// The files an extraction wrote below `folder`, by path relative to it, with their bytes;
// the index files apart, since they name where each picture came from.
inline std::map<std::string, std::string> PicturesIn(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(folder))
        return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != "__index.txt")
            files[std::filesystem::relative(entry.path(), folder).string()] = ReadText(entry.path());
    return files;
}

// The same pictures under the same names: the names compared first (the bytes themselves
// would drown a failure's message), then the bytes of each.
inline void ExpectSamePictures(const std::map<std::string, std::string>& actual,
                               const std::map<std::string, std::string>& expected) {
    const auto namesOf = [](const std::map<std::string, std::string>& pictures) {
        std::vector<std::string> names;
        for (const auto& [name, bytes] : pictures)
            names.push_back(name);
        return names;
    };
    ASSERT_EQ(namesOf(actual), namesOf(expected));
    for (const auto& [name, bytes] : expected)
        EXPECT_TRUE(actual.at(name) == bytes) << name << " differs";
}

class CliRunTest : public ::testing::Test {
protected:
    // The scratch folder is named after `name`.
    explicit CliRunTest(std::string name) : m_name(std::move(name)) {}

    void SetUp() override {
        root = MakeScratchFolder(m_name);
        std::filesystem::create_directories(root / "src");
        env = {"HARVIX_REGISTRY=" + (root / "registry.db").string()};
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    ProgramRun cli(std::vector<std::string> args) {
        return RunProgram(HARVIX_TEST_BINARY_DIR "/cli/harvix-cli", args, root, env);
    }
    // Checks a JSON document (or JSON Lines) against one of the tool's schemas.
    void validate(const char* schema, const std::filesystem::path& file, bool lines = false) {
        std::vector<std::string> args{HARVIX_TEST_SOURCE_DIR "/tests/cli/validate_json.py",
                                      HARVIX_TEST_SOURCE_DIR "/cli/schema/" + std::string(schema)};
        if (lines)
            args.push_back("--lines");
        args.push_back(file.string());
        const ProgramRun r = RunProgram("/usr/bin/python3", args, root);
        EXPECT_EQ(r.status, 0) << schema << ": " << r.err;
    }

    std::filesystem::path root;
    std::vector<std::string> env;

private:
    std::string m_name;
};

} // namespace harvix::testing
