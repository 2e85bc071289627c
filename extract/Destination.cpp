#include "extract/Destination.h"

#include "common/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>

namespace harvix {

namespace {

// The locale of the header's date and time: the user's time forms, named as usual by
// LC_ALL, else LC_TIME, else LANG (the first one set and not empty); the C locale when
// none is set or the one named can't be loaded. Only its time category is used, and
// only on the header's own stream, so no number anywhere else changes its form.
std::locale HeaderTimeLocale() {
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            name = value;
            break;
        }
    }
    if (name == nullptr)
        return std::locale::classic();
    try {
        return std::locale(std::locale::classic(), name, std::locale::time);
    } catch (const std::runtime_error&) {
        return std::locale::classic(); // not installed, or no locale name at all
    }
}

} // namespace

std::string IndexHeaderText(const IndexHeaderInfo& info, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    // The locale's short date and its time, as the user's regional settings have them.
    std::ostringstream stamp;
    stamp.imbue(HeaderTimeLocale());
    stamp << std::put_time(&local, "%x %X");

    std::string text = "\r\n";
    text += "Harvix index file of ";
    text += stamp.str();
    text += "\r\n";
    text += "Search in " + info.folder;
    if (info.subFolders)
        text += " and subfolders";
    text += "\r\n";
    text += "File mask: " + info.mask + "\r\n";
    text += "\r\n";
    return text;
}

Status WriteIndexHeader(IFileSystem& fs, const std::string& indexPath,
                        const IndexHeaderInfo& info) {
    return fs.Append(indexPath, IndexHeaderText(info, std::time(nullptr)));
}

namespace {

// Why a folder could not be made, in words: the system's error text and, for the cases
// a user meets most, what it means here.
std::string RefusalReason(const Error& error) {
    std::string reason = error.message;
    switch (error.code) {
    case ENOENT:
        reason += " (its parent folder does not exist)";
        break;
    case ENOTDIR:
        reason += " (a part of the path is a file, not a folder)";
        break;
    case EEXIST:
        reason += " (a file has that name)";
        break;
    default:
        break;
    }
    return reason;
}

// True for the failures that say a folder may not be written in: no permission, or a
// file system mounted read-only.
bool IsWriteRefused(const Error& error) {
    return error.code == EACCES || error.code == EPERM || error.code == EROFS;
}

// The destination named as the folder that refused, with the system's reason: the
// failure of a file or folder inside it is the destination's own, and naming the inner
// path (or the missing folder that follows from it) would send the user the wrong way.
std::string FolderRefusal(const std::string& destination, const Error& error,
                          const char* what) {
    return destination + ": " + std::strerror(error.code) + " (" + what + ")";
}

// The destination could not be made because of the folder that would hold it: that
// folder is what the user must change, so it is the one named, with what is wrong with
// it ("does not exist", "may not be written in (Permission denied)").
std::string ParentRefusal(const std::string& destination, const std::string& why) {
    std::string folder = destination;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::size_t slash = folder.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string(".")
                               : slash == 0              ? std::string("/")
                                                         : folder.substr(0, slash);
    return folder + " cannot be made: its parent folder " + parent + " " + why;
}

// What a run that was killed left unfinished goes: the temporary names in the
// destination, in every kind's folder and its per-size icon folders (two levels below
// "Icons"), and among the PNG copies below "PNG" (one level more), whichever kinds this
// run writes. Finished files are never touched.
void RemoveUnfinished(IFileSystem& fs, const std::string& destination) {
    (void)fs.RemoveUnfinishedFiles(destination, 0);
    for (ResourceKind kind : kAllResourceKinds)
        (void)fs.RemoveUnfinishedFiles(destination + std::string(KindFolder(kind)), 2);
    (void)fs.RemoveUnfinishedFiles(destination + std::string(kPngFolder), 3);
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

} // namespace

std::optional<DestinationRefusal> PrepareDestination(const std::string& destinationText,
                                                     const KindSwitches& kindEnabled,
                                                     const IndexHeaderInfo& header,
                                                     IPrompt& prompt, IFileSystem& fs) {
    auto invalid = [&](std::string why) {
        prompt.showError({Failure::InvalidDestination, kFolderInvalidMessage, why});
        return DestinationRefusal{false, std::move(why)};
    };
    // An empty text would name the root folder: a cancelled folder chooser must never
    // lead to index files and kind folders there.
    if (IsBlank(destinationText))
        return invalid("'" + destinationText + "': no destination folder given");

    const std::string destination = AddBackslash(destinationText);

    // A path that was not found, at any step, makes the destination invalid; every other
    // failure after the destination itself is passed over.
    auto notFound = [](const Status& status) {
        return !status && RuntimeErrorNumber(status.error()) == kErrPathNotFound;
    };

    if (auto made = fs.MakeDirectory(destination); !made) {
        const int number = RuntimeErrorNumber(made.error());
        // A parent that is missing is named; a path through a file keeps the system's
        // words, which say so.
        if (number == kErrPathNotFound)
            return invalid(made.error().code == ENOENT
                               ? ParentRefusal(destination, "does not exist")
                               : RefusalReason(made.error()));
        if (fs.IsDirectory(destination)) {
            if (prompt.continueIntoExisting(destinationText) != Answer::Yes)
                return DestinationRefusal{true, {}};
        } else if (IsWriteRefused(made.error())) {
            return invalid(ParentRefusal(destination, std::string("may not be written in (") +
                                                          std::strerror(made.error().code) + ")"));
        } else {
            // Neither made nor there: a file of that name, a name no folder can have.
            return invalid(RefusalReason(made.error()));
        }
    }
    const std::string destinationIndex = destination + kIndexFileName;
    if (auto written = WriteIndexHeader(fs, destinationIndex, header); !written) {
        if (notFound(written))
            return invalid(RefusalReason(written.error()));
        // The index file could not be made because the folder may not be written in: no
        // output could be kept there. An existing index file that alone is read-only is
        // passed over like any other failure.
        if (IsWriteRefused(written.error()) && !fs.Exists(destinationIndex))
            return invalid(FolderRefusal(destination, written.error(),
                                              "no file can be written in it"));
    }

    for (ResourceKind kind : kAllResourceKinds) {
        if (!kindEnabled[static_cast<std::size_t>(KindIndex(kind))])
            continue;
        std::string folder = destination;
        folder.append(KindFolder(kind)).push_back('/');
        // An existing subfolder is used as it is. One that could not be made leaves its
        // index file without a folder, which makes the destination invalid; the cause
        // named is the folder's, not the index file's missing path.
        if (auto made = fs.MakeDirectory(folder); !made) {
            if (notFound(made))
                return invalid(RefusalReason(made.error()));
            if (IsWriteRefused(made.error()))
                return invalid(FolderRefusal(destination, made.error(),
                                                  "no folder can be made in it"));
        }
        if (auto written = WriteIndexHeader(fs, folder + kIndexFileName, header);
            notFound(written))
            return invalid(RefusalReason(written.error()));
    }
    RemoveUnfinished(fs, destination);
    return std::nullopt;
}

} // namespace harvix
