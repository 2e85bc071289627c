// harvix-cli png: icon, cursor and bitmap files into PNG files; and the --png option of
// harvix-cli extract, which converts what the extraction writes.
#include "cli/Commands.h"
#include "cli/PngOption.h"
#include "cli/CommandCage.h"

#include "common/Paths.h"
#include "common/Files.h"
#include "convert/PictureToPng.h"
#include "convert/PngConverter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <iostream>
#include <new>
#include <optional>
#include <string>

namespace harvix {

const char* const kPngUsage =
    "  png [--dest DIR] FILE...\n"
    "            Converts icon (.ico), cursor (.cur) and bitmap (.bmp) files into PNG\n"
    "            files: every image of an icon or cursor as NAME_WxH_BPP.png (a\n"
    "            cursor's hot spot in the text chunk \"Hotspot\" as \"X,Y\"), a bitmap as\n"
    "            NAME.png, NAME being the file name without its extension. An existing\n"
    "            file is never replaced: the next free name NAME (2).png, ... is taken.\n"
    "            Prints the path of every file written.\n"
    "            --dest DIR             write into DIR (default: beside each FILE)\n"
    "            --no-sandbox           run unconfined (by default it reads only the\n"
    "                                   FILEs and writes only where the PNG files go)\n"
    "            --verbose              say what confines it, or why nothing does\n"
    "            Exit status: 0 all converted, 1 an image or file was left out (a\n"
    "            message on stderr names it), 2 bad usage or DIR not a folder.\n"
    "            Example: harvix-cli png --dest ~/png Resources/Icons/shell32.dll.ico\n";

namespace {

void complain(const std::string& message) {
    std::cerr << "harvix-cli png: " << message << '\n';
}

} // namespace

int RunPng(const Args& args) {
    std::optional<std::string> dest;
    std::vector<std::string> files;
    bool onlyFiles = false;
    CageChoice cage;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!onlyFiles && (arg == "--help" || arg == "-h")) {
            std::cout << "Usage: harvix-cli png [--dest DIR] FILE...\n\n" << kPngUsage;
            return 0;
        }
        if (!onlyFiles && arg == "--dest") {
            if (i + 1 >= args.size()) {
                complain("--dest needs a value (try 'harvix-cli png --help')");
                return 2;
            }
            dest = args[++i];
        } else if (!onlyFiles && arg.rfind("--dest=", 0) == 0) {
            dest = arg.substr(7);
        } else if (!onlyFiles && arg == "--") {
            onlyFiles = true;
        } else if (!onlyFiles && TakeCageOption(arg, cage)) {
        } else if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
            complain("unknown option '" + arg + "' (try 'harvix-cli png --help')");
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        complain("give at least one FILE (try 'harvix-cli png --help')");
        return 2;
    }
    if (dest) {
        // A folder that is missing is named so; one that cannot be looked at, with the
        // system's reason.
        struct stat st {};
        if (::stat(dest->c_str(), &st) != 0) {
            const int error = errno;
            complain(error == ENOENT ? "the destination '" + *dest + "' does not exist"
                                     : "the destination '" + *dest + "' cannot be used: " + std::strerror(error));
            return 2;
        }
        if (!S_ISDIR(st.st_mode)) {
            complain("the destination '" + *dest + "' is not a folder");
            return 2;
        }
    }

    // Confined: reading the files, writing beside them or into DIR.
    CagePlan plan;
    plan.calls = CallSet::Converting;
    plan.readable = files;
    if (dest)
        plan.writable = {*dest};
    else
        for (const std::string& file : files)
            plan.writable.push_back(FolderOfFile(file));
    EnterCommandCage(cage, plan);

    bool allConverted = true;
    for (const std::string& file : files) {
        try {
            auto bytes = ReadWholeFile(file, kMaxPictureFileBytes);
            if (!bytes) {
                complain(bytes.error().message);
                allConverted = false;
                continue;
            }
            const std::string folder = AddBackslash(dest ? *dest : FolderPart(file));
            const PngConversion result = ConvertToPng(
                *bytes, FileNamePart(file), folder, file, RealFileSystem());
            for (const std::string& path : result.written)
                std::cout << path << '\n';
            for (const std::string& problem : result.problems)
                complain(problem);
            allConverted = allConverted && result.problems.empty() && !result.written.empty();
        } catch (const std::bad_alloc&) {
            complain(file + ": not enough memory");
            allConverted = false;
        }
    }
    std::cout << std::flush;
    return allConverted ? 0 : 1;
}

std::unique_ptr<PngConverter> MakePngConverter(bool wanted, const std::string& destination,
                                               bool unique) {
    if (!wanted)
        return nullptr;
    return std::make_unique<PngConverter>(RealFileSystem(), destination, unique);
}

void ReportPng(const PngConverter* converter) {
    if (converter == nullptr)
        return;
    for (const std::string& problem : converter->Problems())
        std::cerr << "harvix-cli extract: PNG: " << problem << '\n';
    std::cout << "PNG: " << converter->Converted();
    if (const std::uint64_t folded = converter->Folded(); folded != 0)
        std::cout << " (" << folded << (folded == 1 ? " copy" : " copies") << " folded)";
    std::cout << '\n';
}

} // namespace harvix
