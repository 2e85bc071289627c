// The texts the wizard shows, apart from those of the static layout.
#pragma once

#include "run/RunTexts.h"
#include "run/SearchRun.h"

#include <array>

namespace harvix {

struct PageTitle {
    const char* title;
    const char* subTitle;
};

// The captions of the bottom band's buttons that the pages change; "&" marks the letter
// that Alt presses them with.
inline constexpr const char* kNextCaption = "&Next >";
inline constexpr const char* kFinishCaption = "&Finish";
inline constexpr const char* kCancelCaption = "&Cancel";
inline constexpr const char* kCloseCaption = "&Close";

// The checks before a run (kFolderNotFound, kNoResourceType) are the run's own, which
// harvix-cli makes as well.

// The limit editor of the resource-type list: its prompt names the fields of the row,
// three for bitmaps and icons, two (no colour depth) for pictures kept whole.
inline constexpr const char* kLimitPrompt = "Colour depth; width; height, each as MIN-MAX";
inline constexpr const char* kLimitFormatHint =
    "Please enter three limits as min-max;min-max;min-max, for example 8-32;0-3000;16-48.";
inline constexpr const char* kSideLimitPrompt = "Width; height, each as MIN-MAX";
inline constexpr const char* kSideLimitFormatHint =
    "Please enter two limits as min-max;min-max, for example 16-256;16-256.";

// "Show resources" when no file browser could show the destination; %s: the folder.
inline constexpr const char* kFolderNotOpened =
    "The folder \"%s\" could not be opened.\r\nNo file browser could be started for it.";

// Titles of the two folder choosers.
inline constexpr const char* kBrowseSearchFolderTitle =
    "Please choose the folder in which to search for resources.";
inline constexpr const char* kBrowseDestFolderTitle =
    "Please choose the folder in which the resources are to be saved.";

// lblPriority for slider positions 1 to 5.
inline constexpr std::array<const char*, 5> kPriorityTexts{
    "Lowest priority", "Low priority", "Default priority", "High priority", "Highest priority"};

// The search animation among the program's own resources.
inline constexpr const char* kSearchAnimation = "FINDFILES";

} // namespace harvix
