#include "app/wizard/StartChoice.h"

#include "common/Paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace harvix {

Result<StartChoice> StartChoiceForPath(const std::string& path, const std::string& currentFolder) {
    if (path.empty())
        return makeError(ErrorKind::NotFound, "an empty path names no folder or file");
    const std::filesystem::path given(path);
    const std::string whole =
        (given.is_absolute() ? given : std::filesystem::path(currentFolder) / given).lexically_normal().string();
    struct stat st {};
    if (::stat(whole.c_str(), &st) != 0) {
        const int code = errno;
        return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
    }
    // A trailing "/" of a folder stays out of the folder box.
    std::string clean = whole;
    while (clean.size() > 1 && clean.back() == '/')
        clean.pop_back();
    if (S_ISDIR(st.st_mode))
        return StartChoice{clean, std::nullopt};
    if (!S_ISREG(st.st_mode))
        return makeError(ErrorKind::Unsupported, path + ": neither a folder nor a file");
    const std::string name(FileNamePart(clean));
    std::string folder = clean.substr(0, clean.size() - name.size());
    if (folder.size() > 1)
        folder.pop_back(); // the "/" before the name; the root folder keeps its own
    return StartChoice{folder, MaskForFileName(name)};
}

std::string MaskForFileName(const std::string& name) {
    std::string mask = name;
    for (char& c : mask)
        if (c == ';')
            c = '?';
    return mask;
}

Settings WithStartChoice(Settings settings, const StartChoice& choice) {
    settings.SearchSystem = false;
    settings.Folder = choice.folder;
    if (choice.mask) {
        settings.Mask = *choice.mask;
        settings.SubFolders = false;
    }
    return settings;
}

Settings SettingsToStore(Settings now, const Settings& before, const Settings& chosen) {
    if (now.SearchSystem == chosen.SearchSystem)
        now.SearchSystem = before.SearchSystem;
    if (now.Folder == chosen.Folder)
        now.Folder = before.Folder;
    if (now.SubFolders == chosen.SubFolders)
        now.SubFolders = before.SubFolders;
    if (now.Mask == chosen.Mask)
        now.Mask = before.Mask;
    return now;
}

} // namespace harvix
