// The texts the search run shows.
#pragma once

#include "common/AppTitle.h" // kAppTitle, which the caption begins with

namespace harvix {

// Every text of the status label starts with this line.
inline constexpr const char* kPleaseWait = "Please wait while Harvix is looking for resources.\r\n";
inline constexpr const char* kInitializing = "Initializing...";
inline constexpr const char* kRemainingTime = "Remaining time: ";

// The checks before a run: the folder to search, and the kinds.
inline constexpr const char* kFolderNotFound =
    "The folder could not be found.\r\nPlease specify a valid folder.";
inline constexpr const char* kNoResourceType = "Please choose at least one resource type.";

inline constexpr const char* kSearchError =
    "An error has occurred during the search.\r\nHarvix will now close.";

} // namespace harvix
