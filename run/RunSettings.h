// The part of the persistent settings that one run reads.
#pragma once

#include "run/SearchRun.h"
#include "settings/Settings.h"

namespace harvix {

inline SearchSettings SearchSettingsFrom(const Settings& settings) {
    SearchSettings run;
    run.SearchSystem = settings.SearchSystem;
    run.Folder = settings.Folder;
    run.SubFolders = settings.SubFolders;
    run.Mask = settings.Mask;
    run.Priority = settings.Priority;
    return run;
}

} // namespace harvix
