#include "launcher/ShortcutIcon.h"

#include "common/Files.h"
#include "image/IconFile.h"
#include "launcher/ShellLink.h"
#include "launcher/WinePrefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace harvix {

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> head(const std::string& path, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat st {};
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        got = ::pread(fd, bytes.data(), bytes.size(), 0);
    ::close(fd);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

bool endsWithIgnoringCase(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && FoldCase(text.substr(text.size() - end.size())) == FoldCase(end);
}

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::absolute(fs::path(path)).lexically_normal().parent_path();
    return parent.string();
}

// The last component of a Windows path.
std::string windowsFileName(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// An icon file is one icon whatever the index says.
std::optional<IconRef> refFor(const std::string& file, std::optional<IconRef> ref) {
    if (IsIconFileHead(head(file, 6)))
        return std::nullopt;
    return ref;
}

// "the shortcut's icon file C:\x\app.ico is not in the prefix /p (looked for /p/drive_c/x/app.ico)"
std::string missing(const std::string& what, const std::string& windowsPath, const Error& error,
                    const WinePrefix& prefix, const std::string& looked) {
    // "is not in the prefix" reads on from the path; a message of its own follows a colon.
    const bool continues = error.message.rfind("is ", 0) == 0;
    std::string text = "the shortcut's " + what + " " + windowsPath + (continues ? " " : ": ") + error.message;
    if (error.message == "is not in the prefix")
        text += " " + prefix.root();
    if (!looked.empty())
        text += " (looked for " + looked + ")";
    return text;
}

// The icon Windows Installer keeps for an advertised shortcut's product, in
// windows/Installer/{ProductCode}/: the file the icon location names, or the only icon
// there. When the product code cannot be read, every product's folder is looked in for
// the file the icon location names.
std::optional<std::string> installerIcon(const WinePrefix& prefix, const std::string& descriptor,
                                         const std::string& iconName, std::vector<std::string>& notes) {
    std::string looked;
    auto installer = prefix.Locate("C:\\windows\\Installer", {}, looked);
    if (!installer)
        return std::nullopt;
    const std::optional<std::string> product = DescriptorProductCode(descriptor);
    std::vector<std::string> folders;
    if (product) {
        if (const std::string found = FindNameIgnoringCase(*installer, *product); !found.empty())
            folders.push_back(*installer + "/" + found);
    } else {
        notes.push_back("the product code of the shortcut's Windows Installer descriptor cannot be read; every "
                        "product's folder in " + *installer + " is looked in");
        if (iconName.empty())
            return std::nullopt;
        if (DIR* dir = ::opendir(installer->c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name.size() == 38 && name.front() == '{' && name.back() == '}')
                    folders.push_back(*installer + "/" + name);
            }
            ::closedir(dir);
        }
        std::sort(folders.begin(), folders.end());
    }
    for (const std::string& folder : folders) {
        if (!iconName.empty()) {
            if (const std::string found = FindNameIgnoringCase(folder, iconName); !found.empty())
                return folder + "/" + found;
            continue;
        }
        // No name: the first icon or module in the folder's name order.
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (endsWithIgnoringCase(name, ".ico") || endsWithIgnoringCase(name, ".exe"))
                    names.push_back(name);
            }
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        if (!names.empty())
            return folder + "/" + names.front();
    }
    return std::nullopt;
}

std::optional<WinePrefix> prefixFor(const std::string& shortcut, const std::optional<std::string>& given) {
    if (given)
        return WinePrefix(*given, shortcut);
    return WinePrefix::Holding(shortcut);
}

const char* const kNoPrefix =
    " is not inside a Wine prefix (no drive_c or dosdevices folder above it); name the prefix with --prefix DIR";

Result<ShortcutIcon> resolveShellLink(const std::string& shortcut, const std::optional<std::string>& given) {
    auto bytes = ReadWholeFile(shortcut, kMaxShortcutBytes);
    if (!bytes)
        return bytes.error();
    auto link = ParseShellLink(*bytes);
    if (!link)
        return link.error();
    const std::optional<WinePrefix> prefix = prefixFor(shortcut, given);
    const std::string iconPath = link->iconPath();
    std::vector<std::string> targets = link->targetPaths();
    if (!prefix && (!iconPath.empty() || !targets.empty() || !link->relativePath.empty()))
        return makeError(ErrorKind::NotFound, std::string("the shortcut") + kNoPrefix);

    ShortcutIcon out;
    const std::string shortcutFolder = folderOf(shortcut);
    // A relative icon location is taken from the working folder, as the shell does, else
    // from the shortcut's own folder.
    const std::string base = link->workingDir.empty() ? shortcutFolder : link->workingDir;
    std::optional<std::string> iconMissing;
    if (!iconPath.empty()) {
        std::string looked;
        auto found = prefix->Locate(iconPath, base, looked);
        if (found) {
            out.file = *found;
            out.ref = refFor(out.file, IconRefOfIndex(link->iconIndex));
            return out;
        }
        iconMissing = missing("icon file", iconPath, found.error(), *prefix, looked);
    }
    if (!link->darwinDescriptor.empty() && prefix) {
        std::vector<std::string> notes;
        if (auto icon = installerIcon(*prefix, link->darwinDescriptor, windowsFileName(iconPath), notes)) {
            out.file = *icon;
            out.ref = refFor(out.file, IconRefOfIndex(link->iconIndex));
            out.notes = std::move(notes);
            return out;
        }
        const std::optional<std::string> product = DescriptorProductCode(link->darwinDescriptor);
        const std::string where = prefix->root() + "/drive_c/windows/Installer/" + product.value_or("{...}");
        iconMissing = (iconMissing ? *iconMissing + "; " : std::string()) +
                      "the shortcut is advertised by Windows Installer" +
                      (product ? " (product " + *product + ")" : std::string()) + " and no icon of it is in " + where;
        if (!notes.empty())
            *iconMissing += " (" + notes.front() + ")";
    }
    // The target: as the link names it, then its path relative to the shortcut.
    std::optional<std::string> targetMissing;
    auto tryTarget = [&](const std::string& path, const std::string& from) -> bool {
        std::string looked;
        auto found = prefix->Locate(path, from, looked);
        if (found) {
            out.file = *found;
            out.ref = std::nullopt;
            return true;
        }
        if (!targetMissing)
            targetMissing = missing("target", path, found.error(), *prefix, looked);
        return false;
    };
    bool haveTarget = false;
    for (const std::string& target : targets)
        if ((haveTarget = tryTarget(target, shortcutFolder)))
            break;
    if (!haveTarget && !link->relativePath.empty())
        haveTarget = tryTarget(link->relativePath, shortcutFolder);
    if (haveTarget) {
        if (iconMissing)
            out.notes.push_back(*iconMissing + "; its target's icon is taken");
        return out;
    }
    if (iconMissing && targetMissing)
        return makeError(ErrorKind::NotFound, *iconMissing + "; " + *targetMissing);
    if (iconMissing)
        return makeError(ErrorKind::NotFound, *iconMissing);
    if (targetMissing)
        return makeError(ErrorKind::NotFound, *targetMissing);
    return makeError(ErrorKind::NotFound, "the shortcut names neither an icon nor a target");
}

Result<ShortcutIcon> resolveInternetShortcut(const std::string& shortcut, const std::optional<std::string>& given) {
    auto bytes = ReadWholeFile(shortcut, kMaxShortcutBytes);
    if (!bytes)
        return bytes.error();
    auto url = ParseInternetShortcut(*bytes);
    if (!url)
        return url.error();
    std::string path = url->iconFile;
    bool isTarget = false;
    if (path.empty() && FoldCase(url->url).rfind("file:///", 0) == 0) {
        path = url->url.substr(8);
        isTarget = true;
    }
    if (path.empty())
        return makeError(ErrorKind::NotFound, "the Internet shortcut names no icon file (IconFile)");
    ShortcutIcon out;
    // A Linux path, as a launcher on Linux may write.
    if (path.front() == '/') {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return makeError(ErrorKind::NotFound, "the shortcut's icon file " + path + " is not there");
        out.file = path;
    } else {
        const std::optional<WinePrefix> prefix = prefixFor(shortcut, given);
        if (!prefix)
            return makeError(ErrorKind::NotFound, std::string("the Internet shortcut") + kNoPrefix);
        std::string looked;
        auto found = prefix->Locate(path, folderOf(shortcut), looked);
        if (!found)
            return makeError(ErrorKind::NotFound,
                             missing(isTarget ? "target" : "icon file", path, found.error(), *prefix, looked));
        out.file = *found;
    }
    out.ref = isTarget ? std::nullopt : refFor(out.file, IconRefOfIndex(url->iconIndex));
    return out;
}

} // namespace

IconRef IconRefOfIndex(std::int32_t index) {
    if (index >= 0)
        return IconRef{IconRef::By::Position, static_cast<std::uint32_t>(index)};
    return IconRef{IconRef::By::Id, static_cast<std::uint32_t>(-static_cast<std::int64_t>(index))};
}

ShortcutKind ShortcutKindOf(const std::string& path) {
    const std::vector<std::uint8_t> first = head(path, 20);
    if (IsShellLinkHead(first))
        return ShortcutKind::ShellLink;
    if (!first.empty() && endsWithIgnoringCase(path, ".url"))
        return ShortcutKind::InternetShortcut;
    return ShortcutKind::None;
}

Result<ShortcutIcon> ResolveShortcutIcon(const std::string& shortcut, const std::optional<std::string>& prefix) {
    switch (ShortcutKindOf(shortcut)) {
    case ShortcutKind::ShellLink:
        return resolveShellLink(shortcut, prefix);
    case ShortcutKind::InternetShortcut:
        return resolveInternetShortcut(shortcut, prefix);
    case ShortcutKind::None:
        break;
    }
    return makeError(ErrorKind::NotLoadable, "not a shortcut");
}

} // namespace harvix
