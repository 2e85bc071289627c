#include "launcher/WinePrefix.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace harvix {

namespace {

namespace fs = std::filesystem;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The names in a folder, at most kMostListed of them.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
        if (names.size() >= kMostListed)
            break;
    }
    ::closedir(dir);
    return names;
}

std::string loginName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0')
        return user;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr)
        return pw->pw_name;
    return {};
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

} // namespace

std::string FoldCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string FindNameIgnoringCase(const std::string& folder, const std::string& name) {
    struct stat st {};
    if (::lstat(join(folder, name).c_str(), &st) == 0)
        return name;
    const std::string wanted = FoldCase(name);
    for (const std::string& entry : namesIn(folder))
        if (FoldCase(entry) == wanted)
            return entry;
    return {};
}

WinePrefix::WinePrefix(std::string root, const std::string& near, std::string user)
    : m_root(std::move(root)), m_user(std::move(user)) {
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
    if (!m_user.empty())
        return;
    const std::string users = join(m_root, "drive_c/users");
    // A file inside drive_c/users/NAME/ belongs to NAME.
    if (!near.empty()) {
        const std::string nearAbsolute = fs::absolute(fs::path(near)).lexically_normal().string();
        const std::string prefix = users + "/";
        if (nearAbsolute.rfind(prefix, 0) == 0) {
            const std::string rest = nearAbsolute.substr(prefix.size());
            const std::string name = rest.substr(0, rest.find('/'));
            if (!name.empty() && rest.find('/') != std::string::npos && FoldCase(name) != "public") {
                m_user = name;
                return;
            }
        }
    }
    const std::string login = loginName();
    if (!login.empty()) {
        if (const std::string found = FindNameIgnoringCase(users, login); !found.empty() && isFolder(join(users, found))) {
            m_user = found;
            return;
        }
    }
    std::vector<std::string> others;
    for (const std::string& name : namesIn(users)) {
        const std::string folded = FoldCase(name);
        if (folded != "public" && folded != "default" && folded != "all users" && isFolder(join(users, name)))
            others.push_back(name);
    }
    m_user = others.size() == 1 ? others.front() : login;
}

std::optional<WinePrefix> WinePrefix::Holding(const std::string& path) {
    std::error_code error;
    for (const fs::path& start : {fs::absolute(fs::path(path), error).lexically_normal(),
                                  fs::weakly_canonical(fs::path(path), error)}) {
        for (fs::path at = start; !at.empty() && at != at.root_path(); at = at.parent_path()) {
            const std::string name = at.filename().string();
            if ((name == "drive_c" || name == "dosdevices") && isFolder(at.string()))
                return WinePrefix(at.parent_path().string(), path);
        }
    }
    return std::nullopt;
}

Result<std::string> WinePrefix::Expand(std::string_view windowsPath) const {
    const std::string profile = "C:\\users\\" + m_user;
    const struct {
        const char* name;
        std::string value;
    } variables[] = {
        {"systemroot", "C:\\windows"},
        {"windir", "C:\\windows"},
        {"systemdrive", "C:"},
        {"homedrive", "C:"},
        {"programfiles", "C:\\Program Files"},
        {"programw6432", "C:\\Program Files"},
        {"programfiles(x86)", "C:\\Program Files (x86)"},
        {"commonprogramfiles", "C:\\Program Files\\Common Files"},
        {"commonprogramw6432", "C:\\Program Files\\Common Files"},
        {"commonprogramfiles(x86)", "C:\\Program Files (x86)\\Common Files"},
        {"programdata", "C:\\ProgramData"},
        {"allusersprofile", "C:\\ProgramData"},
        {"public", "C:\\users\\Public"},
        {"userprofile", profile},
        {"homepath", "\\users\\" + m_user},
        {"username", m_user},
        {"appdata", profile + "\\AppData\\Roaming"},
        {"localappdata", profile + "\\AppData\\Local"},
        {"temp", profile + "\\AppData\\Local\\Temp"},
        {"tmp", profile + "\\AppData\\Local\\Temp"},
    };
    std::string out;
    std::size_t at = 0;
    while (at < windowsPath.size()) {
        const std::size_t open = windowsPath.find('%', at);
        const std::size_t close = open == std::string_view::npos ? open : windowsPath.find('%', open + 1);
        if (close == std::string_view::npos) {
            out += windowsPath.substr(at);
            break;
        }
        out += windowsPath.substr(at, open - at);
        const std::string name = FoldCase(windowsPath.substr(open + 1, close - open - 1));
        bool known = false;
        for (const auto& v : variables) {
            if (name == v.name) {
                out += v.value;
                known = true;
                break;
            }
        }
        if (!known)
            return makeError(ErrorKind::NotFound,
                             "the variable " + std::string(windowsPath.substr(open, close - open + 1)) +
                                 " has no value in a Wine prefix");
        at = close + 1;
    }
    return out;
}

std::string WinePrefix::driveFolder(char letter) const {
    const char lower = static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
    const std::string device = join(m_root, std::string("dosdevices/") + lower + ":");
    if (isFolder(device))
        return device;
    if (lower == 'c' && isFolder(join(m_root, "drive_c")))
        return join(m_root, "drive_c");
    return {};
}

Result<std::string> WinePrefix::Locate(std::string_view windowsPath, const std::string& base,
                                       std::string& looked) const {
    auto expanded = Expand(windowsPath);
    if (!expanded)
        return expanded.error();
    std::string path = *expanded;
    // Quotes around a path with blanks, as a command line writes it.
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    for (char& c : path)
        if (c == '/')
            c = '\\';
    if (path.rfind("\\\\?\\", 0) == 0)
        path = path.substr(4); // the long-path form of a local path
    if (path.rfind("\\\\", 0) == 0)
        return makeError(ErrorKind::Unsupported, "is a network path, which is not in the prefix");
    if (path.empty())
        return makeError(ErrorKind::NotFound, "is empty");

    std::string folder;
    std::string rest;
    // ".." goes no higher than the drive's folder, as on Windows.
    std::string floor;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() >= 2 && path[1] == ':' && isLetter(path[0])) {
        folder = driveFolder(path[0]);
        if (folder.empty()) {
            looked = join(m_root, std::string("dosdevices/") + static_cast<char>(FoldCase(path.substr(0, 1))[0]) + ":");
            return makeError(ErrorKind::NotFound, std::string("is on drive ") + path.substr(0, 2) +
                                                      ", which the prefix does not have");
        }
        rest = path.substr(2);
        floor = folder;
    } else if (path.front() == '\\') {
        folder = driveFolder('c');
        rest = path;
        floor = folder;
    } else if (!base.empty() && base.front() == '/') {
        folder = base;
        rest = path;
        floor = "/";
    } else if (!base.empty()) {
        std::string baseLooked;
        auto baseFolder = Locate(base, {}, baseLooked);
        if (!baseFolder) {
            looked = baseLooked;
            return makeError(ErrorKind::NotFound, "is relative to " + base + ", which is not in the prefix");
        }
        folder = *baseFolder;
        rest = path;
        const std::string baseDrive = base.size() >= 2 && base[1] == ':' ? driveFolder(base[0]) : driveFolder('c');
        floor = folder.rfind(baseDrive, 0) == 0 ? baseDrive : folder;
    } else {
        return makeError(ErrorKind::NotFound, "is a relative path with nothing to take it from");
    }

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('\\', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        parts.push_back(part);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "..") {
            if (folder.size() > floor.size() && folder.rfind(floor, 0) == 0)
                folder = fs::path(folder).parent_path().string();
            continue;
        }
        const std::string found = FindNameIgnoringCase(folder, parts[i]);
        if (found.empty()) {
            looked = folder;
            for (std::size_t k = i; k < parts.size(); ++k)
                if (parts[k] != "..")
                    looked = join(looked, parts[k]);
            return makeError(ErrorKind::NotFound, "is not in the prefix");
        }
        folder = join(folder, found);
    }
    looked = folder;
    if (!exists(folder))
        return makeError(ErrorKind::NotFound, "is not in the prefix");
    return folder;
}

} // namespace harvix
