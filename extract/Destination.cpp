#include "Destination.h"

#include "Paths.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace harvix {

std::string IndexHeaderText(const IndexHeaderInfo& info, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    // The date and time forms of the locale the program runs in.
    std::ostringstream stamp;
    stamp.imbue(std::locale());
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

bool PrepareDestination(const std::string& destinationText, const KindSwitches& kindEnabled,
                        const IndexHeaderInfo& header, IPrompt& prompt, IFileSystem& fs) {
    const std::string destination = AddBackslash(destinationText);

    // A path that was not found, at any step, makes the destination invalid; every other
    // failure after the destination itself is passed over.
    auto notFound = [](const Status& status) {
        return !status && RuntimeErrorNumber(status.error()) == kErrPathNotFound;
    };
    auto invalid = [&] {
        prompt.ShowError(kFolderInvalidMessage);
        return true;
    };

    if (auto made = fs.MakeDirectory(destination); !made) {
        const int number = RuntimeErrorNumber(made.error());
        if (number == kErrPathNotFound)
            return invalid();
        if (fs.IsDirectory(destination)) {
            if (prompt.AskYesNo(kFolderExistsQuestion) != Answer::Yes)
                return true;
        } else {
            // Neither made nor there: a file of that name, a folder we may not write in,
            // a name no folder can have.
            return invalid();
        }
    }
    if (notFound(WriteIndexHeader(fs, destination + kIndexFileName, header)))
        return invalid();

    for (ResourceKind kind : kAllResourceKinds) {
        if (!kindEnabled[static_cast<std::size_t>(KindIndex(kind))])
            continue;
        std::string folder = destination;
        folder.append(KindFolder(kind)).push_back('/');
        // An existing subfolder is used as it is.
        if (notFound(fs.MakeDirectory(folder)))
            return invalid();
        if (notFound(WriteIndexHeader(fs, folder + kIndexFileName, header)))
            return invalid();
    }
    return false;
}

} // namespace harvix
