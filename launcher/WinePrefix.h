// Windows paths inside a Wine prefix: the prefix found from a file inside it, drive
// letters through its dosdevices links, environment variables expanded as Wine lays a
// prefix out, and each component of the path matched without regard to case, as
// Windows matches it.
#pragma once

#include "common/Result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

class WinePrefix {
public:
    // The prefix at `root` (the folder that holds drive_c and dosdevices). The user whose
    // folders %USERPROFILE% and the others name is `user` when given, else the one whose
    // folder holds `near` (a file inside drive_c/users/NAME), else the login name when
    // the prefix has a folder for it, else the only user folder besides Public.
    explicit WinePrefix(std::string root, const std::string& near = {}, std::string user = {});

    // The prefix that holds `path`: the folder above the nearest drive_c, or above a
    // dosdevices folder, on the way up from it. Nothing when there is none.
    [[nodiscard]] static std::optional<WinePrefix> Holding(const std::string& path);

    [[nodiscard]] const std::string& root() const { return m_root; }
    [[nodiscard]] const std::string& user() const { return m_user; }

    // The path with %NAME% variables replaced by their values in this prefix (names
    // without regard to case). Fails with NotFound naming the first variable it does not
    // know.
    [[nodiscard]] Result<std::string> Expand(std::string_view windowsPath) const;

    // Where a Windows path lies in the prefix: the variables expanded, "X:\" taken to
    // the drive's folder, relative paths taken from `base` (a Windows path too, or a
    // Linux folder when it begins with "/"), and each component found without regard to
    // case. `looked` is the Linux path looked for, as far as it could be matched, when
    // the file is not there. Fails with NotFound when the file is not there,
    // Unsupported for a network path.
    [[nodiscard]] Result<std::string> Locate(std::string_view windowsPath, const std::string& base,
                                             std::string& looked) const;

private:
    [[nodiscard]] std::string driveFolder(char letter) const;

    std::string m_root;
    std::string m_user;
};

// The entry of `folder` named `name` without regard to case (the exact name first);
// empty when there is none. At most `kMostListed` names are compared.
inline constexpr std::size_t kMostListed = 100000;
[[nodiscard]] std::string FindNameIgnoringCase(const std::string& folder, const std::string& name);

// ASCII letters folded to lower case.
[[nodiscard]] std::string FoldCase(std::string_view text);

} // namespace harvix
