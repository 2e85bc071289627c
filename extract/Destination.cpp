#include "extract/Destination.h"

#include "common/Paths.h"

#include <cerrno>
#include <cstdlib>
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

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

} // namespace

bool PrepareDestination(const std::string& destinationText, const KindSwitches& kindEnabled,
                        const IndexHeaderInfo& header, IPrompt& prompt, IFileSystem& fs,
                        std::string* refusal) {
    auto invalid = [&](std::string why) {
        if (refusal)
            *refusal = std::move(why);
        prompt.ShowError(kFolderInvalidMessage);
        return true;
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
        if (number == kErrPathNotFound)
            return invalid(RefusalReason(made.error()));
        if (fs.IsDirectory(destination)) {
            if (prompt.AskYesNo(kFolderExistsQuestion) != Answer::Yes)
                return true;
        } else {
            // Neither made nor there: a file of that name, a folder we may not write in,
            // a name no folder can have.
            return invalid(RefusalReason(made.error()));
        }
    }
    if (auto written = WriteIndexHeader(fs, destination + kIndexFileName, header);
        notFound(written))
        return invalid(RefusalReason(written.error()));

    for (ResourceKind kind : kAllResourceKinds) {
        if (!kindEnabled[static_cast<std::size_t>(KindIndex(kind))])
            continue;
        std::string folder = destination;
        folder.append(KindFolder(kind)).push_back('/');
        // An existing subfolder is used as it is.
        if (auto made = fs.MakeDirectory(folder); notFound(made))
            return invalid(RefusalReason(made.error()));
        if (auto written = WriteIndexHeader(fs, folder + kIndexFileName, header);
            notFound(written))
            return invalid(RefusalReason(written.error()));
    }
    return false;
}

} // namespace harvix
