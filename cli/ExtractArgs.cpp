#include "cli/ExtractArgs.h"

#include "run/ReadAhead.h"
#include "run/SatelliteReading.h"
#include "search/PathSearch.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace harvix {

namespace {

// The options without a value and the switch each sets.
constexpr std::pair<std::string_view, bool ExtractRequest::*> kFlags[] = {
    {"--yes", &ExtractRequest::yes},         {"--no-subfolders", &ExtractRequest::noSubFolders},
    {"--saved", &ExtractRequest::saved},     {"--png", &ExtractRequest::png},
    {"--unique", &ExtractRequest::unique},
    {"--all-drives", &ExtractRequest::allDrives}, {"--null", &ExtractRequest::nul},
    {"--no-sandbox", &ExtractRequest::noSandbox}, {"--verbose", &ExtractRequest::verbose},
    {"--no-satellites", &ExtractRequest::noSatellites}, {"--satellites", &ExtractRequest::satellites},
    {"--containers", &ExtractRequest::containers},
};

// The switch an option without a value sets; none when `name` is not one.
bool* flagOf(ExtractRequest& req, const std::string& name) {
    for (const auto& [option, member] : kFlags)
        if (name == option)
            return &(req.*member);
    return nullptr;
}

bool takesValue(const std::string& name) {
    for (const char* option : {"--dest", "--mask", "--files-from", "--report", "--kinds",
                               "--bitmap-limits", "--icon-limits", "--image-limits", "--priority", "--jobs", "--language",
                               "--container-mask", "--container-limits"})
        if (name == option)
            return true;
    return false;
}

// Puts the value of option `name` (one that takesValue) into the request.
Status takeValue(ExtractRequest& req, const std::string& name, const std::string& value) {
    if (name == "--dest") {
        req.dest = value;
    } else if (name == "--mask") {
        req.mask = value;
    } else if (name == "--files-from") {
        req.filesFrom = value;
    } else if (name == "--report") {
        req.report = value;
    } else if (name == "--kinds") {
        auto kinds = ParseKindList(value);
        if (!kinds)
            return kinds.error();
        req.kinds = *kinds;
    } else if (name == "--bitmap-limits" || name == "--icon-limits") {
        auto limits = ParseLimitSet(value);
        if (!limits)
            return makeError(ErrorKind::Malformed, name + ": " + limits.error().message);
        (name == "--bitmap-limits" ? req.bitmapLimits : req.iconLimits) = *limits;
    } else if (name == "--image-limits") {
        auto limits = ParseSideLimits(value);
        if (!limits)
            return makeError(ErrorKind::Malformed, name + ": " + limits.error().message);
        req.imageLimits = *limits;
    } else if (name == "--container-mask") {
        req.containerMask = value;
    } else if (name == "--container-limits") {
        auto limits = ParseContainerLimits(value);
        if (!limits)
            return makeError(ErrorKind::Malformed, name + ": " + limits.error().message);
        req.containerLimits = *limits;
    } else if (name == "--language") {
        if (!IsLanguageChoice(value))
            return makeError(ErrorKind::Malformed,
                             "--language takes a language tag such as en-US or de-DE, not '" + value + "'");
        req.language = value;
    } else if (name == "--priority") {
        if (value.size() != 1 || value[0] < '1' || value[0] > '5')
            return makeError(ErrorKind::Malformed,
                             "--priority takes a whole number from 1 to 5, not '" + value + "'");
        req.priority = static_cast<std::int16_t>(value[0] - '0');
    } else { // --jobs
        const bool digits = !value.empty() && value.size() <= 3 &&
                            value.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(value) > 64)
            return makeError(ErrorKind::Malformed,
                             "--jobs takes a whole number from 0 to 64, not '" + value + "'");
        req.jobs = static_cast<unsigned>(std::stoi(value));
    }
    return success();
}

Status takePath(ExtractRequest& req, const std::string& path) {
    req.paths.push_back(path);
    return success();
}

// The options that exclude or need one another.
Status checkCombination(const ExtractRequest& req) {
    const bool paths = !req.paths.empty();
    if (paths && req.allDrives)
        return makeError(ErrorKind::Malformed, "give either PATH or --all-drives, not both");
    if (req.filesFrom && (paths || req.allDrives))
        return makeError(ErrorKind::Malformed,
                         "give PATH, --all-drives or --files-from, only one of them");
    if (req.noSatellites && req.satellites)
        return makeError(ErrorKind::Malformed, "give --satellites or --no-satellites, not both");
    if (req.nul && !req.filesFrom)
        return makeError(ErrorKind::Malformed, "--null goes with --files-from");
    if (req.filesFrom && req.mask)
        return makeError(ErrorKind::Malformed, "--mask does not apply to --files-from");
    if (!req.saved && !paths && !req.allDrives && !req.filesFrom)
        return makeError(ErrorKind::Malformed,
                         "give a FILE or FOLDER, --all-drives or --files-from LIST");
    if (!req.saved && !req.dest)
        return makeError(ErrorKind::Malformed, "--dest DIR is required");
    return success();
}

} // namespace

Result<KindSwitches> ParseKindList(std::string_view list) {
    KindSwitches kinds{};
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view name = list.substr(start, comma - start);
        const std::optional<ResourceKind> kind = KindOfToolName(name);
        if (!kind) {
            std::string names;
            for (const KindInfo& info : kKinds)
                names.append(names.empty() ? "" : ",").append(info.toolName);
            return makeError(ErrorKind::Malformed, "unknown resource kind '" + std::string(name) +
                                                       "' in --kinds (use " + names + ")");
        }
        kinds[static_cast<std::size_t>(KindIndex(*kind))] = true;
        start = comma + 1;
    }
    return kinds;
}

Result<ExtractRequest> ParseExtractArgs(const Args& args) {
    ExtractRequest req;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        Status taken = success();
        if (bool* flag = flagOf(req, arg)) {
            if (inlineValue)
                return makeError(ErrorKind::Malformed, arg + " takes no value");
            *flag = true;
        } else if (takesValue(arg)) {
            if (!inlineValue && i + 1 >= args.size())
                return makeError(ErrorKind::Malformed, arg + " needs a value");
            taken = takeValue(req, arg, inlineValue ? *inlineValue : args[++i]);
        } else if (arg == "--") {
            for (++i; i < args.size() && taken; ++i)
                taken = takePath(req, args[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return makeError(ErrorKind::Malformed, "unknown option '" + args[i] + "'");
        } else {
            taken = takePath(req, arg);
        }
        if (!taken)
            return taken.error();
    }
    if (Status combined = checkCombination(req); !combined)
        return combined.error();
    return req;
}

void ApplyRequest(const ExtractRequest& req, const std::string& listName, Settings& settings) {
    if (!req.paths.empty()) {
        settings.SearchSystem = false;
        settings.Folder = cPathSearch::DisplayNameOf(req.paths);
        // Files alone are taken as they are: no mask and no subfolders, as for a list.
        if (!cPathSearch::AnyFolder(req.paths)) {
            settings.SubFolders = false;
            settings.Mask.clear();
        }
    }
    if (req.allDrives) {
        settings.SearchSystem = true;
        // One character rather than a literal: GCC 12 at -O3 reports the inlined
        // literal assignment as an overlapping copy (-Wrestrict), wrongly.
        settings.Folder.assign(1, '/');
    }
    // A file list names the files: nothing is searched, no mask applies, and the index
    // header says where the names came from.
    if (req.filesFrom) {
        settings.SearchSystem = false;
        settings.Folder = listName;
        settings.SubFolders = false;
        settings.Mask.clear();
    }
    if (req.noSubFolders)
        settings.SubFolders = false;
    if (req.mask)
        settings.Mask = *req.mask;
    if (req.kinds)
        settings.ResTypes = *req.kinds;
    if (req.dest)
        settings.DestPath = *req.dest;
    if (req.priority)
        settings.Priority = *req.priority;
    if (req.noSatellites || req.satellites)
        settings.Satellites = req.satellites;
    if (req.language)
        settings.Language = *req.language;
    if (req.containers)
        settings.Containers = true;
    if (!settings.Language.empty() && !IsLanguageChoice(settings.Language))
        settings.Language.clear();
    if (settings.Priority < 1 || settings.Priority > 5)
        settings.Priority = kDefaultPriority;
}

void TakeStoredReading(Settings& settings) {
    const SatelliteChoice stored = StoredSatelliteChoice();
    settings.Satellites = stored.read;
    settings.Language = stored.language;
}

SatelliteChoice StoredSatelliteChoice() {
    SatelliteChoice choice;
    // No store, or one another program holds: the defaults, without a word (list and
    // extract say nothing of settings they were not asked to read).
    if (auto stored = LoadSettings()) {
        choice.read = stored->Satellites;
        if (IsLanguageChoice(stored->Language))
            choice.language = stored->Language;
    }
    return choice;
}

Result<bool> TakeSatelliteOption(const Args& args, std::size_t& i, SatelliteChoice& choice,
                                 std::optional<bool>& given) {
    const std::string& arg = args[i];
    if (arg == "--satellites" || arg == "--no-satellites") {
        const bool read = arg == "--satellites";
        if (given && *given != read)
            return makeError(ErrorKind::Malformed, "give --satellites or --no-satellites, not both");
        given = read;
        choice.read = read;
        return true;
    }
    if (arg != "--language" && !arg.starts_with("--language="))
        return false;
    std::string value;
    if (arg == "--language") {
        if (i + 1 >= args.size())
            return makeError(ErrorKind::Malformed, "--language needs a language tag such as en-US");
        value = args[++i];
    } else {
        value = arg.substr(std::string_view("--language=").size());
    }
    if (!IsLanguageChoice(value))
        return makeError(ErrorKind::Malformed,
                         "--language takes a language tag such as en-US or de-DE, not '" + value + "'");
    choice.language = value;
    return true;
}

ContainerChoice ContainerChoiceOf(const ExtractRequest& req, const Settings& settings) {
    ContainerChoice choice;
    choice.search = settings.Containers;
    if (req.containerMask)
        choice.mask = *req.containerMask;
    choice.limits = req.containerLimits;
    return choice;
}

bool TakesPaths(const ExtractRequest& req) {
    return req.paths.size() > 1 ||
           (req.paths.size() == 1 && !cPathSearch::IsFolder(req.paths.front()));
}

Json ReportOptions(const ExtractRequest& req, const Settings& settings) {
    Json options = Json::object();
    if (req.filesFrom) {
        PutPath(options, "files_from", *req.filesFrom);
        options["null"] = req.nul;
    } else {
        options["all_drives"] = settings.SearchSystem;
        PutPath(options, "folder", settings.Folder);
        if (TakesPaths(req)) {
            Json paths = Json::array();
            for (const std::string& path : req.paths) {
                Json one = Json::object();
                PutPath(one, "path", path);
                paths.push_back(std::move(one));
            }
            options["paths"] = std::move(paths);
        }
        options["subfolders"] = settings.SubFolders;
        options["mask"] = settings.Mask;
    }
    PutPath(options, "dest", settings.DestPath);
    Json kinds = Json::array();
    for (const KindInfo& info : kKinds)
        if (settings.ResTypes[static_cast<std::size_t>(KindIndex(info.kind))])
            kinds.push_back(std::string(info.toolName));
    options["kinds"] = std::move(kinds);
    options["bitmap_limits"] = LimitSetText(req.bitmapLimits);
    options["icon_limits"] = LimitSetText(req.iconLimits);
    options["image_limits"] = SideLimitsText(req.imageLimits);
    options["priority"] = settings.Priority;
    options["jobs"] = req.jobs.value_or(DefaultReadAheadJobs());
    options["png"] = req.png;
    options["satellites"] = settings.Satellites;
    options["language"] = settings.Language.empty() ? Json(nullptr) : Json(settings.Language);
    options["unique"] = req.unique;
    // Said only when containers are searched, so that a report without them reads as
    // before.
    if (settings.Containers) {
        options["containers"] = true;
        options["container_mask"] = req.containerMask.value_or(std::string(kDefaultContainerMask));
        options["container_limits"] = ContainerLimitsText(req.containerLimits);
    }
    options["yes"] = req.yes;
    options["saved"] = req.saved;
    return options;
}

} // namespace harvix
