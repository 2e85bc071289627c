// Files of the tests: a private scratch folder per test, and whole files read back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvix::testing {

// A new folder of this user's only, NAME-XXXXXX in the temporary folder ($TMPDIR, else
// /tmp). Throws when none can be made, which GoogleTest reports as the test's failure.
inline std::filesystem::path MakeScratchFolder(const std::string& name) {
    std::string pattern = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder " + pattern);
    return pattern;
}

// The whole file, byte for byte; empty when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    const std::string text = ReadText(path);
    return {text.begin(), text.end()};
}

} // namespace harvix::testing
