// What the wizard starts with when it is given a folder or a file: `harvix PATH`, which
// is how a file manager's "Open with Harvix" starts it. The search page then shows that
// folder chosen or, for a file, the file's folder with the file's name as the only mask
// and without subfolders, so that the run reads that one file. The choice holds for this
// start only: whatever of it the user leaves as it is on the page is not stored over the
// settings of earlier starts.
#pragma once

#include "common/Result.h"
#include "settings/Settings.h"

#include <optional>
#include <string>

namespace harvix {

struct StartChoice {
    std::string folder;               // the folder to search, absolute
    std::optional<std::string> mask;  // a file's name as a mask; none for a folder
};

// The choice for a path as the user gave it: made absolute against `currentFolder`
// (without resolving links), and looked at: a folder, a regular file (or a link to
// either) is taken; a path that does not exist, or names something else, is refused with
// a message that names it.
[[nodiscard]] Result<StartChoice> StartChoiceForPath(const std::string& path, const std::string& currentFolder);

// A file name as a mask that matches it: the mask list's separator ";" stands for any
// one character there ("*" and "?" in a name match themselves as well).
[[nodiscard]] std::string MaskForFileName(const std::string& name);

// The settings with the choice applied: one folder (not all drives); for a file its
// name as the mask and no subfolders.
[[nodiscard]] Settings WithStartChoice(Settings settings, const StartChoice& choice);

// The settings to store when the window closes: each search setting that still holds
// the value the choice gave it (`chosen`) gets back the value it had before (`before`);
// what the user changed is stored as always.
[[nodiscard]] Settings SettingsToStore(Settings now, const Settings& before, const Settings& chosen);

} // namespace harvix
