// Satellite resource files: where Windows keeps a module's resources outside the module.
// Since Vista the language-dependent resources of a module `<folder>/<name>` lie in
// `<folder>/<language>/<name>.mui`, one file per language; since Windows 10 1903 the icons
// and bitmaps of many modules of `<windows>/System32` and `<windows>/SysWOW64` lie in
// `<windows>/SystemResources/<name>.mun`, while the module itself is a stub. Windows'
// loader reads these files with the module and takes their resources as the module's;
// so does this program: a module is opened with its satellites, and where the module and
// a satellite hold the same resource the satellite's wins, as on Windows.
//
// Folder and file names are matched without regard to case, as on a mounted NTFS or FAT
// partition, where "System32", "system32" and "SYSTEM32" are one folder.
#pragma once

#include "module/ModuleAccess.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace harvix {

// The language whose resource files are read when none is chosen: the user's locale as
// Windows names its language folders ("de-DE" for "de_DE.UTF-8", "sr-RS" for
// "sr_RS@latin"), from the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty. Nothing for the "C" and "POSIX" locales.
[[nodiscard]] std::optional<std::string> LocaleLanguage(const std::function<const char*(const char*)>& getEnv);
[[nodiscard]] std::optional<std::string> LocaleLanguage();

// The languages whose resource files are looked for, in order: `chosen` (a language tag
// such as "fr-FR"; empty: the locale's), then en-US. When a module has a folder of none
// of them, the first of its language folders in the order of their names is taken.
[[nodiscard]] std::vector<std::string> SatelliteLanguages(const std::string& chosen,
                                                          const std::optional<std::string>& locale);

// True for a folder name that reads like a language tag: a primary part of two or three
// letters, then parts of one to eight letters or digits, joined by hyphens ("en-US",
// "de", "sr-Latn-RS", "qps-ploc"). Other folders beside a module are never language folders.
[[nodiscard]] bool LooksLikeLanguageTag(std::string_view name);

// The satellites a module has on disk; an empty path where there is none.
struct SatellitePaths {
    std::string systemResources; // <windows>/SystemResources/<name>.mun
    std::string languageFile;    // <folder>/<language>/<name>.mui
};

// Finds satellites by their places and names. It keeps what it learnt of the folders it
// looked into (a bounded number of them), so that the modules of one folder cost one
// listing of it. Safe to use from several threads at once.
class SatelliteFinder {
public:
    explicit SatelliteFinder(std::vector<std::string> languages);
    SatelliteFinder(const SatelliteFinder&) = delete;
    SatelliteFinder& operator=(const SatelliteFinder&) = delete;
    ~SatelliteFinder();

    [[nodiscard]] const std::vector<std::string>& languages() const { return m_languages; }

    // The satellite files of the module at `modulePath`.
    [[nodiscard]] SatellitePaths Find(const std::string& modulePath) const;

    // For a file whose place and name make it a satellite (a ".mun" in a SystemResources
    // folder, a ".mui" in a language folder): the module it belongs to, when that module
    // exists and Find gives this very file for it. Nothing otherwise.
    [[nodiscard]] std::optional<std::string> OwnerOf(const std::string& path) const;

private:
    struct Entry {
        std::string name;      // as the folder holds it
        unsigned char type = 0; // the listing's d_type (DT_UNKNOWN: ask the file system)
    };
    struct FolderIndex {
        std::unordered_map<std::string, Entry> byFoldedName;
        std::vector<std::string> languageFolders; // by name, in byte order of the folded names
    };

    // What the folder holds (empty for one that cannot be listed).
    [[nodiscard]] std::shared_ptr<const FolderIndex> indexOf(const std::string& folder) const;
    // The entry of `folder` named `name` without regard to case; nothing when there is none.
    [[nodiscard]] std::optional<Entry> entryOf(const std::string& folder, std::string_view name) const;
    [[nodiscard]] std::string languageFileOf(const std::string& folder, const std::string& name) const;
    [[nodiscard]] std::string systemResourcesOf(const std::string& folder, const std::string& name) const;

    std::vector<std::string> m_languages;
    mutable std::mutex m_mutex;
    mutable std::unordered_map<std::string, std::shared_ptr<const FolderIndex>> m_folders;
    mutable std::vector<std::string> m_order; // the folders kept, oldest first
};

// The places outside `searched` (a folder or file a run searches) from which the
// satellites of the modules found in it are read, for a run that may read only beneath
// the paths it searches: for System32 or SysWOW64 (any case) or a file in one of them,
// the SystemResources folder beside it, when there is one; for a file, the language
// folders beside it. Language folders of a searched folder lie beneath it, and so does
// the SystemResources folder of a searched Windows folder or anything above it.
[[nodiscard]] std::vector<std::string> SatelliteRoots(const std::string& searched);

// A satellite as it is merged into its module: the file's path and the module read from it.
struct SatelliteModule {
    std::string path;
    std::unique_ptr<IResourceModule> module;
};

// The module and its satellites seen as one module: the types and names of all of them,
// in the order a resource directory keeps them (named ones first, numbered ones
// ascending); each resource's languages and bytes from the last of them that holds it
// (the satellites are given in order of precedence, the strongest last), whose path
// source() names. Satellites without resources are left out; without any satellite the
// module is given back as it is.
[[nodiscard]] std::unique_ptr<IResourceModule> MergeSatellites(std::unique_ptr<IResourceModule> module,
                                                               std::vector<SatelliteModule> satellites);

// What a satellite file is to its module.
enum class SatelliteKind {
    SystemResources, // <windows>/SystemResources/<name>.mun
    LanguageFile,    // <folder>/<language>/<name>.mui
};

// Whether a module may have satellites: not a 16-bit one, not itself a language's
// resource file.
[[nodiscard]] bool MayHaveSatellites(const IResourceModule& module);

// A satellite file opened, before its module has taken it.
struct SatelliteCandidate {
    SatelliteKind kind = SatelliteKind::LanguageFile;
    std::string path;
    std::unique_ptr<IResourceModule> module;
};

// The module with those of `candidates` it takes as its satellites: none when it may
// have none; a SystemResources file that may itself have satellites, a language file
// that is no 16-bit module and whose configuration, if it has one, says it holds one
// language's resources; in each case one that holds resources. The paths of those taken
// are added to `taken` when given.
[[nodiscard]] std::unique_ptr<IResourceModule> WithSatellites(std::unique_ptr<IResourceModule> module,
                                                              std::vector<SatelliteCandidate> candidates,
                                                              std::vector<std::string>* taken = nullptr);

// Finds satellites among the files of a listing (the members of an archive or an
// installer) by the places and names SatelliteFinder looks at on disk: paths are
// "/"-separated and relative, folders are those the files' paths imply, and names are
// matched without regard to case.
class SatelliteListing {
public:
    explicit SatelliteListing(std::vector<std::string> languages);

    // A file of the listing.
    void add(const std::string& path);

    // The satellites of the module at `modulePath`, as the listing spells them; an empty
    // path where there is none.
    [[nodiscard]] SatellitePaths Find(const std::string& modulePath) const;

private:
    struct Folder {
        std::unordered_map<std::string, std::string> files; // by folded name: the file's path as listed
        std::map<std::string, std::string> folders;         // by folded name: the name as listed
    };
    // The file `name` of the folder at the folded path `folder`; empty when there is none.
    [[nodiscard]] std::string fileIn(const std::string& folder, const std::string& name) const;

    std::vector<std::string> m_languages;
    std::unordered_map<std::string, Folder> m_folders; // by folded path ("" the top)
};

// Opens a module with its satellites: the file as OpenModule opens it, then, unless the
// file is a 16-bit module or its resource configuration says it is itself a language's
// resource file, its SystemResources file and its language file, each when it opens as a
// module (a language file also only when its own configuration, if it has one, says it
// holds one language's resources). A satellite that cannot be read is passed over; the
// module is then read without it.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleWithSatellites(const std::string& path,
                                                                                const SatelliteFinder& finder);

// Opens one file of a module with its satellites as a module: OpenModule, or a way that
// reads files opened elsewhere.
using SatelliteFileOpener = std::function<Result<std::unique_ptr<IResourceModule>>(const std::string&)>;

// The same with the files opened by `open` and the satellites' paths given by `find`
// (asked only when the module may have satellites).
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleWithSatellites(
    const std::string& path, const std::function<SatellitePaths()>& find, const SatelliteFileOpener& open);

// For a file that the module of OwnerOf reads as its satellite: that module's path. A
// run that reads the module too passes the file over, so that its resources are not
// written twice.
[[nodiscard]] std::optional<std::string> SatelliteOwner(const std::string& path, const SatelliteFinder& finder);

// The test of SatelliteOwner once OwnerOf has named `owner`: whether that module reads the
// file at `path` as its satellite, both files opened by `open`.
[[nodiscard]] bool IsSatelliteOf(const std::string& path, const std::string& owner, const SatelliteFileOpener& open);

} // namespace harvix
