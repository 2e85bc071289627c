// Preparing the destination before a run: the destination folder, one subfolder for
// each chosen kind, and a header block in the "__index.txt" of each of them.
#pragma once

#include "extract/FileSystem.h"
#include "extract/Prompt.h"
#include "extract/ResourceKind.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace harvix {

inline constexpr const char* kIndexFileName = "__index.txt";

// The folder below the destination that holds the PNG copies of the pictures written
// (harvix-cli extract --png), in the same folders as the pictures.
inline constexpr std::string_view kPngFolder = "PNG";

// What the header block of an index file tells about the run.
struct IndexHeaderInfo {
    std::string folder;      // the search folder setting
    bool subFolders = false; // the subfolder switch
    std::string mask;        // the file-mask setting
};

// The five header lines, each ended by CR LF: an empty line; "Harvix index file of "
// with the local date and time (the date and time forms (%x %X) of the user's locale,
// LC_ALL, LC_TIME or LANG, else of the C locale); "Search in " with
// the folder and, with subfolders, " and subfolders"; "File mask: " with the mask; an
// empty line.
std::string IndexHeaderText(const IndexHeaderInfo& info, std::time_t when);

// Appends a header block (for the current time) to an index file, creating it when
// missing; what the file held stays before it.
Status WriteIndexHeader(IFileSystem& fs, const std::string& indexPath, const IndexHeaderInfo& info);

// The message of a destination that cannot be used (the question of one that exists
// already is kFolderExistsQuestion).
inline constexpr const char* kFolderInvalidMessage =
    "The specified folder is invalid.\r\nPlease type another name.";

// Why a destination was refused: it exists and the user chose not to go into it, or it
// is invalid, and then `reason` says what was refused and why in the system's words, for
// a front end that can say more than the message box.
struct DestinationRefusal {
    bool declined = false;
    std::string reason;
};

// Makes the destination (one level: its parent must exist), the subfolders of the
// enabled kinds and a header block in each index file, and removes what a run that was
// killed left unfinished there (never a finished file). A refusal means the caller must
// not go on (the wizard stays on the destination page with the focus in the destination
// box); an invalid folder has been reported through the prompt already. An empty or
// all-blank text is invalid: nothing is made for it. Other failures are passed over
// silently.
[[nodiscard]] std::optional<DestinationRefusal>
PrepareDestination(const std::string& destinationText, const KindSwitches& kindEnabled,
                   const IndexHeaderInfo& header, IPrompt& prompt,
                   IFileSystem& fs = RealFileSystem());

} // namespace harvix
