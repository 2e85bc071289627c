// Path helpers shared by every subsystem. Paths are UTF-8 texts with "/" as separator.
#pragma once

#include <string>
#include <string_view>

namespace harvix {

// The path with "/" appended unless it already ends with one; the empty text gives "/".
inline std::string AddBackslash(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    return out;
}

// The last component of a path: everything after its last "/", or the whole path.
inline std::string_view FileNamePart(std::string_view path) {
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The folder a path lies in, as a path the system takes: everything before its last "/",
// "/" for a path in the root folder, and "." for a name without a folder.
inline std::string FolderPart(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? std::string("/") : std::string(path.substr(0, slash));
}

} // namespace harvix
