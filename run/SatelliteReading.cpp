#include "run/SatelliteReading.h"

#include "module/Satellites.h"
#include "search/MaskSet.h"
#include "search/SearchCore.h"

#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace harvix {

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

RunPlaces PlacesOf(bool allDrives, const std::string& folder, const std::vector<std::string>& paths,
                   bool subFolders, const std::string& mask, bool fileList) {
    RunPlaces places;
    places.subFolders = subFolders;
    places.mask = mask;
    if (fileList) {
        places.everywhere = true;
        places.masked = false;
    } else if (allDrives) {
        places.everywhere = true;
    } else if (!paths.empty()) {
        for (const std::string& path : paths)
            (IsFolder(path) ? places.folders : places.files).push_back(WithoutTrailingSlash(path));
    } else {
        places.folders.push_back(WithoutTrailingSlash(folder));
    }
    return places;
}

bool ReadsModule(const RunPlaces& places, const std::string& path) {
    for (const std::string& file : places.files)
        if (file == path)
            return true;
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    bool beneath = places.everywhere;
    for (const std::string& searched : places.folders) {
        const std::string prefix = searched == "/" ? searched : searched + "/";
        if (places.subFolders ? path.starts_with(prefix) : folder == searched)
            beneath = true;
    }
    if (!beneath)
        return false;
    if (!places.masked)
        return true;
    MaskSet masks(SplitMask(places.mask));
    return masks.Matches(name);
}

ModuleOpener SatelliteOpener(const SatelliteChoice& choice, RunPlaces places) {
    if (!choice.read)
        return ModuleOpener(OpenModule);
    auto finder = std::make_shared<const SatelliteFinder>(SatelliteLanguages(choice.language, LocaleLanguage()));
    auto shared = std::make_shared<const RunPlaces>(std::move(places));
    return [finder, shared](const std::string& path) -> Result<std::unique_ptr<IResourceModule>> {
        if (const auto owner = SatelliteOwner(path, *finder); owner && ReadsModule(*shared, *owner))
            return makeError(ErrorKind::NotLoadable, path + " is read with its module " + *owner);
        return OpenModuleWithSatellites(path, *finder);
    };
}

std::unique_ptr<SatelliteFinder> SatelliteFinderFor(const SatelliteChoice& choice) {
    if (!choice.read)
        return nullptr;
    return std::make_unique<SatelliteFinder>(SatelliteLanguages(choice.language, LocaleLanguage()));
}

bool IsLanguageChoice(const std::string& language) {
    return LooksLikeLanguageTag(language);
}

} // namespace harvix
