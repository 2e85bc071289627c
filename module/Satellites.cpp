#include "module/Satellites.h"

#include "module/MuiResource.h"
#include "module/NeModule.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <sys/stat.h>

namespace harvix {

namespace {

// Folders whose listings a finder keeps: enough for the folders a run reads ahead of
// itself, few enough that walking a whole disk keeps a few megabytes at most.
constexpr std::size_t kFoldersKept = 64;

constexpr std::string_view kSystemResources = "systemresources";
constexpr std::string_view kSystem32 = "system32";
constexpr std::string_view kSysWow64 = "syswow64";
constexpr std::string_view kMunExtension = ".mun";
constexpr std::string_view kMuiExtension = ".mui";
constexpr std::string_view kFallbackLanguage = "en-US";

std::string Folded(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool EqualsFolded(std::string_view a, std::string_view foldedB) {
    return Folded(a) == foldedB;
}

bool EndsWithFolded(std::string_view text, std::string_view foldedSuffix) {
    return text.size() > foldedSuffix.size() &&
           Folded(text.substr(text.size() - foldedSuffix.size())) == foldedSuffix;
}

// The folder part of a path ("" for a name alone, "/" for a file in the root) and its
// last component.
std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}
std::string LastPart(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.empty() ? "." : path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Orders identifiers as a resource directory does: named ones first, by their upper-cased
// text (then by their bytes, so that the order is total), then numbered ones ascending.
bool DirectoryLess(const ResId& a, const ResId& b) {
    if (a.numeric != b.numeric)
        return !a.numeric;
    if (a.numeric)
        return a.id < b.id;
    const std::string upperA = Folded(a.text), upperB = Folded(b.text);
    return upperA != upperB ? upperA < upperB : a.text < b.text;
}

struct IdLess {
    bool operator()(const ResId& a, const ResId& b) const { return DirectoryLess(a, b); }
};

// A module and its satellites as one.
class MergedModule final : public IResourceModule {
public:
    MergedModule(std::unique_ptr<IResourceModule> module, std::vector<SatelliteModule> satellites) {
        m_parts.push_back({std::string(), std::move(module)});
        for (SatelliteModule& s : satellites)
            m_parts.push_back(std::move(s));
        // Later parts win: each resource is noted with the last part that holds it.
        for (std::size_t part = 0; part < m_parts.size(); ++part)
            for (const ResId& type : m_parts[part].module->types())
                for (const ResId& name : m_parts[part].module->names(type))
                    m_table[type][name] = part;
    }

    [[nodiscard]] std::vector<ResId> types() const override {
        std::vector<ResId> out;
        out.reserve(m_table.size());
        for (const auto& [type, names] : m_table)
            out.push_back(type);
        return out;
    }
    [[nodiscard]] std::vector<ResId> names(const ResId& type) const override {
        std::vector<ResId> out;
        if (const auto found = m_table.find(type); found != m_table.end())
            for (const auto& [name, part] : found->second)
                out.push_back(name);
        return out;
    }
    [[nodiscard]] std::vector<ResLanguage> languages(const ResId& type, const ResId& name) const override {
        const Part* part = holder(type, name);
        return part ? part->module->languages(type, name) : std::vector<ResLanguage>{};
    }
    [[nodiscard]] std::vector<std::uint8_t> load(const ResId& type, const ResId& name) const override {
        const Part* part = holder(type, name);
        return part ? part->module->load(type, name) : std::vector<std::uint8_t>{};
    }
    [[nodiscard]] std::string source(const ResId& type, const ResId& name) const override {
        const Part* part = holder(type, name);
        return part ? part->path : std::string();
    }
    // The module's own packer: its satellites are read whole.
    [[nodiscard]] Packer packer() const override { return m_parts.front().module->packer(); }
    [[nodiscard]] Installer installer() const override { return m_parts.front().module->installer(); }
    [[nodiscard]] std::uint64_t heldBytes() const override {
        std::uint64_t held = 0;
        for (const Part& part : m_parts)
            held += part.module->heldBytes();
        return held;
    }

private:
    using Part = SatelliteModule; // the module itself has an empty path

    [[nodiscard]] const Part* holder(const ResId& type, const ResId& name) const {
        const auto t = m_table.find(type);
        if (t == m_table.end())
            return nullptr;
        const auto n = t->second.find(name);
        return n == t->second.end() ? nullptr : &m_parts[n->second];
    }

    std::vector<Part> m_parts;
    std::map<ResId, std::map<ResId, std::size_t, IdLess>, IdLess> m_table;
};

// Whether a module opened from a language folder is one language's resources: one without
// a resource configuration is taken as such; one whose configuration says it is a main
// module is not.
bool HoldsOneLanguage(const IResourceModule& module) {
    const auto facts = MuiFactsOf(module);
    return !facts || facts->role == MuiRole::LanguageSpecific;
}

// Whether a module read from a satellite file of `kind` is taken as one.
bool TakenAs(SatelliteKind kind, const IResourceModule& satellite) {
    if (kind == SatelliteKind::SystemResources)
        return MayHaveSatellites(satellite);
    return HoldsOneLanguage(satellite) && dynamic_cast<const NeModule*>(&satellite) == nullptr;
}

} // namespace

bool MayHaveSatellites(const IResourceModule& module) {
    if (dynamic_cast<const NeModule*>(&module) != nullptr)
        return false;
    const auto facts = MuiFactsOf(module);
    return !facts || facts->role != MuiRole::LanguageSpecific;
}

std::unique_ptr<IResourceModule> WithSatellites(std::unique_ptr<IResourceModule> module,
                                                std::vector<SatelliteCandidate> candidates,
                                                std::vector<std::string>* taken) {
    if (!module || !MayHaveSatellites(*module))
        return module;
    std::vector<SatelliteModule> satellites;
    for (SatelliteCandidate& candidate : candidates) {
        if (!candidate.module || !TakenAs(candidate.kind, *candidate.module) || candidate.module->types().empty())
            continue;
        if (taken != nullptr)
            taken->push_back(candidate.path);
        satellites.push_back({std::move(candidate.path), std::move(candidate.module)});
    }
    return MergeSatellites(std::move(module), std::move(satellites));
}

SatelliteListing::SatelliteListing(std::vector<std::string> languages) : m_languages(std::move(languages)) {}

void SatelliteListing::add(const std::string& path) {
    const std::string name = LastPart(path);
    if (name.empty())
        return;
    std::string folder = FolderOf(path);
    if (folder == "/")
        folder.clear();
    // The folders the path implies, each noted in the one above it: an archive need not
    // list its folders.
    m_folders[Folded(folder)].files.emplace(Folded(name), path);
    while (!folder.empty()) {
        const std::string above = FolderOf(folder);
        const std::string part = LastPart(folder);
        m_folders[Folded(above)].folders.emplace(Folded(part), part);
        folder = above;
    }
}

std::string SatelliteListing::fileIn(const std::string& folder, const std::string& name) const {
    const auto found = m_folders.find(folder);
    if (found == m_folders.end())
        return {};
    const auto file = found->second.files.find(Folded(name));
    return file == found->second.files.end() ? std::string() : file->second;
}

SatellitePaths SatelliteListing::Find(const std::string& modulePath) const {
    SatellitePaths paths;
    const std::string name = LastPart(modulePath);
    if (name.empty())
        return paths;
    const std::string folder = Folded(FolderOf(modulePath));
    const auto inside = [](const std::string& above, const std::string& part) {
        return above.empty() ? part : above + "/" + part;
    };
    // A module of System32 or SysWOW64: the SystemResources folder beside them.
    if (const std::string system = LastPart(folder); system == kSystem32 || system == kSysWow64)
        paths.systemResources =
            fileIn(inside(FolderOf(folder), std::string(kSystemResources)), name + std::string(kMunExtension));
    const auto here = m_folders.find(folder);
    if (here == m_folders.end())
        return paths;
    const std::string fileName = name + std::string(kMuiExtension);
    for (const std::string& language : m_languages)
        if (std::string file = fileIn(inside(folder, Folded(language)), fileName); !file.empty()) {
            paths.languageFile = std::move(file);
            return paths;
        }
    // Else the first language folder, in the order of the names, that holds the file.
    for (const auto& [folded, listed] : here->second.folders)
        if (LooksLikeLanguageTag(listed))
            if (std::string file = fileIn(inside(folder, folded), fileName); !file.empty()) {
                paths.languageFile = std::move(file);
                return paths;
            }
    return paths;
}

std::optional<std::string> LocaleLanguage(const std::function<const char*(const char*)>& getEnv) {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getEnv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        // language[_territory][.codeset][@modifier]: the codeset and modifier are no part
        // of a Windows language name.
        std::string locale(value);
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (locale.empty() || locale == "C" || locale == "POSIX")
            return std::nullopt;
        std::replace(locale.begin(), locale.end(), '_', '-');
        if (!LooksLikeLanguageTag(locale))
            return std::nullopt;
        return locale;
    }
    return std::nullopt;
}

std::optional<std::string> LocaleLanguage() {
    return LocaleLanguage([](const char* name) { return std::getenv(name); });
}

std::vector<std::string> SatelliteLanguages(const std::string& chosen, const std::optional<std::string>& locale) {
    std::vector<std::string> languages;
    if (!chosen.empty())
        languages.push_back(chosen);
    else if (locale)
        languages.push_back(*locale);
    if (languages.empty() || Folded(languages.front()) != Folded(kFallbackLanguage))
        languages.emplace_back(kFallbackLanguage);
    return languages;
}

bool LooksLikeLanguageTag(std::string_view name) {
    std::size_t part = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('-', start), name.size());
        const std::string_view piece = name.substr(start, end - start);
        const bool letters = std::all_of(piece.begin(), piece.end(),
                                         [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
        const bool alnum = std::all_of(piece.begin(), piece.end(),
                                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
        if (part == 0 ? !(letters && piece.size() >= 2 && piece.size() <= 3)
                      : !(alnum && !piece.empty() && piece.size() <= 8))
            return false;
        ++part;
        start = end + 1;
    }
    return part > 0;
}

SatelliteFinder::SatelliteFinder(std::vector<std::string> languages) : m_languages(std::move(languages)) {}

SatelliteFinder::~SatelliteFinder() = default;

std::shared_ptr<const SatelliteFinder::FolderIndex> SatelliteFinder::indexOf(const std::string& folder) const {
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_folders.find(folder); found != m_folders.end())
            return found->second;
    }
    // Listed without the lock: another thread may list the same folder meanwhile, which
    // costs a listing, never a wrong answer.
    auto index = std::make_shared<FolderIndex>();
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string folded = Folded(name);
            if (LooksLikeLanguageTag(name) && (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN ||
                                               entry->d_type == DT_LNK))
                index->languageFolders.push_back(folded);
            // Of names that differ only in case (possible on Linux, never on Windows'
            // own partitions) the first listed is kept.
            index->byFoldedName.emplace(std::move(folded), Entry{name, entry->d_type});
        }
        ::closedir(dir);
    }
    std::sort(index->languageFolders.begin(), index->languageFolders.end());
    index->languageFolders.erase(std::unique(index->languageFolders.begin(), index->languageFolders.end()),
                                 index->languageFolders.end());
    std::lock_guard lock(m_mutex);
    if (const auto found = m_folders.find(folder); found != m_folders.end())
        return found->second;
    if (m_order.size() >= kFoldersKept) {
        m_folders.erase(m_order.front());
        m_order.erase(m_order.begin());
    }
    m_folders.emplace(folder, index);
    m_order.push_back(folder);
    return index;
}

std::optional<SatelliteFinder::Entry> SatelliteFinder::entryOf(const std::string& folder, std::string_view name) const {
    const auto index = indexOf(folder);
    const auto found = index->byFoldedName.find(Folded(name));
    if (found == index->byFoldedName.end())
        return std::nullopt;
    return found->second;
}

std::string SatelliteFinder::systemResourcesOf(const std::string& folder, const std::string& name) const {
    // Only a module of System32 or SysWOW64 has one, in the SystemResources folder beside them.
    const std::string system = LastPart(folder);
    if (!EqualsFolded(system, kSystem32) && !EqualsFolded(system, kSysWow64))
        return {};
    const std::string windows = FolderOf(folder);
    std::string resourcesFolder;
    if (const auto resources = entryOf(windows, kSystemResources)) {
        resourcesFolder = Join(windows, resources->name);
    } else if (indexOf(windows)->byFoldedName.empty()) {
        // The Windows folder cannot be listed (a run confined to the paths it searches
        // and the satellites' folders): the folder by the spellings Windows uses.
        for (const char* spelling : {"SystemResources", "systemresources", "SYSTEMRESOURCES"})
            if (IsFolder(Join(windows, spelling))) {
                resourcesFolder = Join(windows, spelling);
                break;
            }
    }
    if (resourcesFolder.empty())
        return {};
    const auto file = entryOf(resourcesFolder, name + std::string(kMunExtension));
    if (!file)
        return {};
    const std::string path = Join(resourcesFolder, file->name);
    return IsRegularFile(path) ? path : std::string();
}

std::string SatelliteFinder::languageFileOf(const std::string& folder, const std::string& name) const {
    const auto index = indexOf(folder);
    const std::string fileName = name + std::string(kMuiExtension);
    if (index->byFoldedName.empty()) {
        // The module's folder cannot be listed (a run confined to the module and its
        // language folders): the folders of the languages looked for, as they are spelt.
        for (const std::string& language : m_languages) {
            const std::string languageFolder = Join(folder, language);
            if (!IsFolder(languageFolder))
                continue;
            if (const auto file = entryOf(languageFolder, fileName)) {
                const std::string path = Join(languageFolder, file->name);
                if (IsRegularFile(path))
                    return path;
            }
        }
        return {};
    }
    if (index->languageFolders.empty())
        return {};
    // The file of a language folder, when that folder and the file are there.
    const auto fileIn = [&](const std::string& foldedLanguage) -> std::string {
        const auto languageEntry = index->byFoldedName.find(foldedLanguage);
        if (languageEntry == index->byFoldedName.end())
            return {};
        const std::string languageFolder = Join(folder, languageEntry->second.name);
        if (languageEntry->second.type != DT_DIR && !IsFolder(languageFolder))
            return {};
        const auto file = entryOf(languageFolder, fileName);
        if (!file)
            return {};
        const std::string path = Join(languageFolder, file->name);
        return IsRegularFile(path) ? path : std::string();
    };
    for (const std::string& language : m_languages)
        if (std::string path = fileIn(Folded(language)); !path.empty())
            return path;
    for (const std::string& language : index->languageFolders)
        if (std::string path = fileIn(language); !path.empty())
            return path;
    return {};
}

SatellitePaths SatelliteFinder::Find(const std::string& modulePath) const {
    const std::string folder = FolderOf(modulePath);
    const std::string name = LastPart(modulePath);
    SatellitePaths paths;
    if (name.empty())
        return paths;
    paths.systemResources = systemResourcesOf(folder, name);
    paths.languageFile = languageFileOf(folder, name);
    return paths;
}

std::optional<std::string> SatelliteFinder::OwnerOf(const std::string& path) const {
    const std::string name = LastPart(path);
    const std::string folder = FolderOf(path);
    const std::string folderName = LastPart(folder);
    std::vector<std::string> candidates;
    if (EndsWithFolded(name, kMunExtension) && EqualsFolded(folderName, kSystemResources)) {
        const std::string module = name.substr(0, name.size() - kMunExtension.size());
        const std::string windows = FolderOf(folder);
        for (const std::string_view system : {kSystem32, kSysWow64})
            if (const auto systemEntry = entryOf(windows, system)) {
                const std::string systemFolder = Join(windows, systemEntry->name);
                if (const auto owner = entryOf(systemFolder, module))
                    candidates.push_back(Join(systemFolder, owner->name));
            }
    } else if (EndsWithFolded(name, kMuiExtension) && LooksLikeLanguageTag(folderName)) {
        const std::string module = name.substr(0, name.size() - kMuiExtension.size());
        const std::string moduleFolder = FolderOf(folder);
        if (const auto owner = entryOf(moduleFolder, module))
            candidates.push_back(Join(moduleFolder, owner->name));
    }
    for (const std::string& owner : candidates) {
        if (!IsRegularFile(owner))
            continue;
        const SatellitePaths satellites = Find(owner);
        for (const std::string& satellite : {satellites.systemResources, satellites.languageFile})
            if (!satellite.empty() && SameFile(satellite, path))
                return owner;
    }
    return std::nullopt;
}

std::vector<std::string> SatelliteRoots(const std::string& searched) {
    std::string path = searched;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::vector<std::string> roots;
    const bool folder = IsFolder(path);
    const std::string systemFolder = folder ? path : FolderOf(path);
    const std::string system = LastPart(systemFolder);
    if (EqualsFolded(system, kSystem32) || EqualsFolded(system, kSysWow64)) {
        const std::string windows = FolderOf(systemFolder);
        if (DIR* dir = ::opendir(windows.empty() ? "." : windows.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (EqualsFolded(entry->d_name, kSystemResources) && IsFolder(Join(windows, entry->d_name)))
                    roots.push_back(Join(windows, entry->d_name));
            ::closedir(dir);
        }
    }
    if (!folder) {
        const std::string moduleFolder = FolderOf(path);
        if (DIR* dir = ::opendir(moduleFolder.empty() ? "." : moduleFolder.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (LooksLikeLanguageTag(entry->d_name) && IsFolder(Join(moduleFolder, entry->d_name)))
                    roots.push_back(Join(moduleFolder, entry->d_name));
            ::closedir(dir);
        }
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

std::unique_ptr<IResourceModule> MergeSatellites(std::unique_ptr<IResourceModule> module,
                                                 std::vector<SatelliteModule> satellites) {
    std::erase_if(satellites, [](const SatelliteModule& s) { return !s.module || s.module->types().empty(); });
    if (satellites.empty())
        return module;
    return std::make_unique<MergedModule>(std::move(module), std::move(satellites));
}

Result<std::unique_ptr<IResourceModule>> OpenModuleWithSatellites(const std::string& path,
                                                                  const SatelliteFinder& finder) {
    return OpenModuleWithSatellites(path, [&finder, &path] { return finder.Find(path); }, OpenModule);
}

Result<std::unique_ptr<IResourceModule>> OpenModuleWithSatellites(const std::string& path,
                                                                  const std::function<SatellitePaths()>& find,
                                                                  const SatelliteFileOpener& open) {
    auto opened = open(path);
    if (!opened || !MayHaveSatellites(**opened))
        return opened;
    const SatellitePaths paths = find();
    std::vector<SatelliteCandidate> candidates;
    // In order of precedence, the strongest last: the language's resources over the
    // system resources over the module's own.
    if (!paths.systemResources.empty())
        if (auto satellite = open(paths.systemResources))
            candidates.push_back({SatelliteKind::SystemResources, paths.systemResources, std::move(satellite).value()});
    if (!paths.languageFile.empty())
        if (auto satellite = open(paths.languageFile))
            candidates.push_back({SatelliteKind::LanguageFile, paths.languageFile, std::move(satellite).value()});
    return WithSatellites(std::move(opened).value(), std::move(candidates));
}

std::optional<std::string> SatelliteOwner(const std::string& path, const SatelliteFinder& finder) {
    auto owner = finder.OwnerOf(path);
    if (!owner)
        return std::nullopt;
    return IsSatelliteOf(path, *owner, OpenModule) ? owner : std::nullopt;
}

bool IsSatelliteOf(const std::string& path, const std::string& owner, const SatelliteFileOpener& open) {
    // The module must be one that reads satellites, and the file one it takes as such.
    auto module = open(owner);
    if (!module || !MayHaveSatellites(**module))
        return false;
    auto satellite = open(path);
    if (!satellite || dynamic_cast<const NeModule*>(&**satellite) != nullptr)
        return false;
    const bool languageFile = EndsWithFolded(LastPart(path), kMuiExtension);
    if (languageFile ? !HoldsOneLanguage(**satellite) : !MayHaveSatellites(**satellite))
        return false;
    return !(*satellite)->types().empty();
}

} // namespace harvix
