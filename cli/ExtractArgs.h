// The arguments of harvix-cli extract: what was given on the command line, read and
// checked, and how it goes into the settings of the run (the saved ones with --saved,
// else those of a first start).
#pragma once

#include "cli/Commands.h"
#include "cli/Json.h"
#include "common/Result.h"
#include "extract/ResourceKind.h"
#include "run/LimitText.h"
#include "run/SatelliteReading.h"
#include "settings/Settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

struct ExtractRequest {
    std::optional<std::string> dest;
    bool yes = false;
    bool noSubFolders = false;
    std::optional<std::string> mask;
    std::optional<KindSwitches> kinds;
    LimitSet bitmapLimits = DefaultLimits(ResourceKind::Bitmap);
    LimitSet iconLimits = DefaultLimits(ResourceKind::Icon);
    SideLimits imageLimits;
    std::optional<std::int16_t> priority;
    std::optional<unsigned> jobs;
    bool saved = false;
    bool png = false;
    bool unique = false; // each file content written once
    bool allDrives = false;
    // The files and folders to take, in their order: a file as it is, a folder searched.
    std::vector<std::string> paths;
    std::optional<std::string> filesFrom;
    bool nul = false;
    std::optional<std::string> report;
    bool noSandbox = false; // --no-sandbox
    bool verbose = false;   // --verbose
    bool noSatellites = false; // --no-satellites
    bool satellites = false;   // --satellites
    std::optional<std::string> language;
    bool containers = false;                  // --containers: open the containers the search meets
    std::optional<std::string> containerMask; // --container-mask
    ContainerLimits containerLimits;          // --container-limits
};

// The kinds a --kinds value names ("bitmap,icon"); an error names the unknown one.
[[nodiscard]] Result<KindSwitches> ParseKindList(std::string_view list);

// The arguments after "extract"; an error names the option at fault.
[[nodiscard]] Result<ExtractRequest> ParseExtractArgs(const Args& args);

// The options given go over `settings`: the search place (the paths, all drives, or
// the file list named `listName`, which takes no mask and no subfolders), the
// subfolders, mask, kinds, destination and priority. A priority outside 1 to 5 becomes
// the default. Several paths, or one that is a file, are named in the settings' folder
// as cPathSearch names them; when none of them is a folder, no mask and no
// subfolders apply, as for a file list.
void ApplyRequest(const ExtractRequest& req, const std::string& listName, Settings& settings);

// Which containers a run opens: those the search meets with --containers or the stored
// setting, chosen by --container-mask, within --container-limits.
[[nodiscard]] ContainerChoice ContainerChoiceOf(const ExtractRequest& req, const Settings& settings);

// Puts the stored choice of how modules are read (Satellites, Language) into `settings`:
// the defaults of list and extract when the options do not say. A store that cannot be
// read, or a language that is no tag, leaves the defaults.
void TakeStoredReading(Settings& settings);

// How list and extract read modules: the stored choice, then --no-satellites,
// --satellites and --language as given.
[[nodiscard]] SatelliteChoice StoredSatelliteChoice();

// The satellite options of a command that reads one module (icon, thumbnail):
// --satellites, --no-satellites and --language TAG (also --language=TAG) at args[i] go
// into `choice`, which starts as the stored choice; `given` remembers which of the two
// switches came first, as they exclude each other. True when args[i] was one of them
// (`i` then stands on its last argument), false when it was none; an error that names
// the option when it cannot be used.
[[nodiscard]] Result<bool> TakeSatelliteOption(const Args& args, std::size_t& i, SatelliteChoice& choice,
                                               std::optional<bool>& given);

// True when the paths are searched by cPathSearch rather than as the one folder of
// the settings: more than one path, or one that is not a folder.
[[nodiscard]] bool TakesPaths(const ExtractRequest& req);

// The options of the run for its report: as given on the command line, and the
// settings the run used.
[[nodiscard]] Json ReportOptions(const ExtractRequest& req, const Settings& settings);

} // namespace harvix
