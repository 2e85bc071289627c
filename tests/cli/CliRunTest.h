// harvix-cli run as a program in a scratch folder of its own: modules go to root/src,
// the settings store is the folder's own, and JSON written is checked against the
// tool's schemas.
#pragma once

#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace harvix::testing {

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
