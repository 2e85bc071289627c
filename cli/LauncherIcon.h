// What harvix-cli icon does for launchers besides modules: a shortcut (.lnk, .url) gives
// the icon it shows, found in the Wine prefix that holds it; a folder gives the icon of
// the program a launcher would show for it, and --candidates lists every program ranked.
// The shortcut is resolved and the folder listed before the command's cage closes (names
// only); the folder's programs are opened inside it.
#pragma once

#include "cli/Commands.h"
#include "common/Result.h"
#include "convert/ModuleIcons.h"
#include "launcher/FolderPrograms.h"

#include <optional>
#include <string>
#include <vector>

namespace harvix {

struct LauncherChoice {
    std::optional<std::string> prefix; // --prefix DIR
    bool candidates = false;            // --candidates
    bool json = false;                  // --format json
};

// Takes --prefix DIR, --candidates and --format text|json at args[i] (moving i past a
// separate value). 1 when taken, 0 when args[i] is none of them, -1 when its value is
// wrong (the message is said).
int TakeLauncherOption(const Args& args, std::size_t& i, LauncherChoice& choice);

// What the location names, found before the cage closes.
struct LauncherSource {
    enum class Kind { Module, Shortcut, Folder };
    Kind kind = Kind::Module;
    IconLocation location;   // the module and group (for a folder: the group asked for)
    // What the cage lets the command read: the module, or a folder and each of its
    // programs (a program may be a link to a file kept elsewhere, as a game library's are).
    std::vector<std::string> readable;
    std::vector<std::string> notes;
    FolderListing listing;   // a folder's programs
};

// A module or icon file stays as it is; a shortcut is resolved (a reference given with it
// replaces the shortcut's own index); a folder is listed. Fails with the message to say.
[[nodiscard]] Result<LauncherSource> PrepareLauncherSource(const IconLocation& location,
                                                           const LauncherChoice& choice);

// Inside the cage: the module and group whose icon is written; a folder's programs are
// ranked here and the first one taken.
[[nodiscard]] Result<IconLocation> ChooseIconModule(const LauncherSource& source);

// --candidates: the folder's programs ranked, one per line (text or JSON Lines) on
// standard output. The exit status: 0 listed, 1 no program with an icon.
int PrintFolderCandidates(const LauncherSource& source, const LauncherChoice& choice);

} // namespace harvix
