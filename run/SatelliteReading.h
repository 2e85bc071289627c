// Satellite resource files in a run: every module is opened with its satellites (the
// SystemResources file and the language file Windows' loader would read with it), unless
// the run reads modules as they are. A satellite that the run meets on its own is passed
// over when its module is one the run reads too, so that its resources are written once,
// as the module's.
#pragma once

#include "extract/ResCore.h"
#include "module/Satellites.h"

#include <memory>

#include <string>
#include <vector>

namespace harvix {

struct SatelliteChoice {
    bool read = true;     // false: every module as it is, its satellites as modules of their own
    std::string language; // the language whose files are read ("de-DE"); empty: the user's locale's
};

// Where a run takes its modules from, as far as a satellite's module is concerned.
struct RunPlaces {
    bool everywhere = false;          // every drive searched, or the files of a list
    bool masked = true;               // false: every file found is taken (a file list)
    std::vector<std::string> folders; // searched
    std::vector<std::string> files;   // taken as they are
    bool subFolders = true;
    std::string mask;
};

// The places of a run that searches `folder` (every drive with `allDrives`), or takes the
// files and folders of `paths`, or (with `fileList`) the files of a list.
[[nodiscard]] RunPlaces PlacesOf(bool allDrives, const std::string& folder, const std::vector<std::string>& paths,
                                 bool subFolders, const std::string& mask, bool fileList);

// Whether a run of `places` reads the module at `path`: a file it names, or one beneath
// a folder it searches (directly in it without subfolders) whose name its masks match.
[[nodiscard]] bool ReadsModule(const RunPlaces& places, const std::string& path);

// Opens the files of a run: with their satellites as `choice` says, passing over a
// satellite whose module the run reads too (the error says so).
[[nodiscard]] ModuleOpener SatelliteOpener(const SatelliteChoice& choice, RunPlaces places);

// The finder of the satellites `choice` reads (the chosen language, else the locale's,
// else en-US); none when it reads every module as it is. For the commands that read one
// module with its satellites (an icon, a thumbnail).
[[nodiscard]] std::unique_ptr<SatelliteFinder> SatelliteFinderFor(const SatelliteChoice& choice);

// True for a language tag a user may choose ("de-DE", "sr-Latn-RS").
[[nodiscard]] bool IsLanguageChoice(const std::string& language);

} // namespace harvix
