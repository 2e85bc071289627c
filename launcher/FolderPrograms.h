// The program a launcher shows for a folder (a game or an application installed by
// copying): among the programs of the folder and its subfolders that hold an icon, the
// installers, uninstallers, crash reporters, redistributables and helpers beside it are
// passed over, then the one whose file name or version resource matches the folder's
// name goes first, then the one nearest the top, then the one with the largest icon.
// Every program is ranked with the reason for its place, so that a launcher can offer
// the choice.
#pragma once

#include "module/VersionStrings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

// How far a folder is searched: a game's folder holds its program within a few levels;
// a folder given by mistake (a home folder, a whole drive) is not read forever.
struct FolderLimits {
    int depth = 6;                  // levels of subfolders below the folder
    std::size_t names = 50000;      // names listed in all
    std::size_t programs = 256;     // programs opened
};

// A program file found: its path, its path below the folder, and how deep it lies (0 in
// the folder itself).
struct ProgramFile {
    std::string path;
    std::string relative;
    int depth = 0;
};

struct FolderListing {
    std::string folder;
    std::vector<ProgramFile> programs; // breadth first, each folder's names in order
    // Why the search stopped short, when it did ("50000 names listed").
    std::string cutShort;
};

// The programs (*.exe, without regard to case) of a folder and its subfolders, read by
// names only; symbolic links to folders are not followed.
[[nodiscard]] FolderListing ListFolderPrograms(const std::string& folder, const FolderLimits& limits = {});

// What is known of one program once it is opened.
struct ProgramFacts {
    bool hasIcon = false;
    std::uint32_t iconSize = 0; // the largest image of its first icon group, in pixels
    VersionStrings version;
};

// Opens a program and reads its facts; nothing when it is no module.
class IProgramProbe {
public:
    virtual ~IProgramProbe() = default;
    [[nodiscard]] virtual std::optional<ProgramFacts> probe(const std::string& path) const = 0;
};

// The probe that opens the module and reads its first icon group and version strings.
class ModuleProgramProbe final : public IProgramProbe {
public:
    [[nodiscard]] std::optional<ProgramFacts> probe(const std::string& path) const override;
};

// Why a program is passed over.
struct PassedOver {
    std::string kind;  // "installer", "uninstaller", "crash reporter", "redistributable", "helper"
    std::string by;    // "file name", "folder name", or the version string's key
    std::string text;  // what was matched: the name, or the version string's text
};

// How well a program's names match the folder's name.
struct NameMatch {
    enum class Strength { None, Partial, Exact };
    Strength strength = Strength::None;
    std::string by;   // "file name" or the version string's key
    std::string text; // the name that matched
};

struct ProgramCandidate {
    ProgramFile file;
    ProgramFacts facts;
    std::optional<PassedOver> passedOver;
    NameMatch match;
    std::size_t rank = 0;   // 1 the chosen one
    std::string reason;     // why it has its place, for people
};

struct FolderChoice {
    std::vector<ProgramCandidate> candidates; // best first
    std::size_t programsOpened = 0;
    std::string cutShort; // the listing's, or "256 programs opened"
};

// Ranks the programs of a listing that hold an icon. A program passed over still comes
// after all others, so that a folder of installers alone still has an icon.
[[nodiscard]] FolderChoice RankFolderPrograms(const FolderListing& listing, const IProgramProbe& probe,
                                              const FolderLimits& limits = {});

// Names compared as people read them: letters and digits only, in lower case
// ("Hollow_Knight" and "Hollow Knight" are both "hollowknight").
[[nodiscard]] std::string ComparableName(std::string_view name);

// Whether a program is one to pass over, by its file name, its folder's name or its
// version strings.
[[nodiscard]] std::optional<PassedOver> PassOver(const ProgramFile& file, const VersionStrings& version);

// How well a program's file name or version strings match a folder's name.
[[nodiscard]] NameMatch MatchFolderName(const std::string& folderName, const ProgramFile& file,
                                        const VersionStrings& version);

} // namespace harvix
