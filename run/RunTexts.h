// The texts the search run shows.
#pragma once

#include "common/AppTitle.h" // kAppTitle, which the caption begins with

namespace harvix::run {

// Every text of the status label starts with this line.
inline constexpr const char* kPleaseWait = "Please wait while Harvix is looking for resources.\r\n";
inline constexpr const char* kInitializing = "Initializing...";
inline constexpr const char* kRemainingTime = "Remaining time: ";

inline constexpr const char* kCancelQuestion = "Are you sure you want to cancel the search?";
inline constexpr const char* kSearchError =
    "An error has occured during the search.\r\nHarvix will now close.";

} // namespace harvix::run
