// harvix-cli list: walks a folder (or every fixed drive) exactly as the wizard's search
// does and prints every resource of every matching module, one line per language
// version. harvix-cli version: prints the file version of modules.
#include "Commands.h"
#include "FileVersion.h"
#include "ModuleAccess.h"
#include "SearchCore.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace harvix::cli {

namespace {

constexpr const char* kDefaultMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";

// Paths and resource names may hold any byte but NUL; a tab, line break or backslash in
// them is written as a backslash escape so that every line keeps its five fields.
void AppendField(std::string& line, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\\':
            line += "\\\\";
            break;
        default:
            line.push_back(c);
        }
    }
}

class ListPrinter : public cSearchCoreEvents {
public:
    bool writeFailed = false;

    void FileFound(std::string& FileName, std::int32_t&, std::int32_t&, bool& Cancel) override {
        auto module = OpenModule(FileName);
        if (!module)
            return; // not a loadable module: skipped, as the extraction does
        std::string line;
        for (const auto& type : (*module)->types()) {
            for (const auto& name : (*module)->names(type)) {
                for (const auto& language : (*module)->languages(type, name)) {
                    line.clear();
                    AppendField(line, FileName);
                    line.push_back('\t');
                    AppendField(line, type.toText());
                    line.push_back('\t');
                    AppendField(line, name.toText());
                    line += '\t' + std::to_string(language.language) + '\t' +
                            std::to_string(language.size) + '\n';
                    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) {
                        writeFailed = true;
                        Cancel = true;
                        return;
                    }
                }
            }
        }
    }
    void SearchFinished() override {}
};

int Usage(const char* message) {
    std::fprintf(stderr, "harvix-cli: %s (try harvix-cli --help)\n", message);
    return 2;
}

} // namespace

const char* const kListUsage =
    "  list [--no-subfolders] [--mask TEXT] (FOLDER | --all-drives)\n"
    "      Prints every resource of the matching modules below FOLDER, or on every fixed\n"
    "      drive: path, type, name, language and size in bytes, separated by tabs, one\n"
    "      line per language version (tab, line break and backslash in a path or name\n"
    "      are written \\t, \\n and \\\\). Subfolders are searched unless --no-subfolders;\n"
    "      the mask defaults to \"*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\".\n";

int RunList(const Args& args) {
    bool recurse = true;
    bool allDrives = false;
    std::string mask = kDefaultMask;
    std::string folder;
    bool haveFolder = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--no-subfolders") {
            recurse = false;
        } else if (arg == "--all-drives") {
            allDrives = true;
        } else if (arg == "--mask") {
            if (i + 1 >= args.size())
                return Usage("list: --mask needs a text");
            mask = args[++i];
        } else if (arg.starts_with("--")) {
            return Usage(("list: unknown option '" + arg + "'").c_str());
        } else if (haveFolder) {
            return Usage("list: give one folder");
        } else {
            folder = arg;
            haveFolder = true;
        }
    }
    if (haveFolder == allDrives)
        return Usage("list: give a folder or --all-drives");

    ListPrinter printer;
    cSearchCore search(&printer);
    if (allDrives) {
        search.SearchSystemForFiles(mask);
    } else {
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "harvix-cli: list: folder not found: %s\n", folder.c_str());
            return 2;
        }
        search.SearchForFiles(folder, recurse, mask);
    }
    if (std::fflush(stdout) != 0 || printer.writeFailed) {
        std::fprintf(stderr, "harvix-cli: list: cannot write the output\n");
        return 1;
    }
    return 0;
}

const char* const kVersionUsage =
    "  version FILE...\n"
    "      Prints each file's version as PATH, a tab and major.minor.build.revision, or\n"
    "      PATH followed by \": no version information\".\n";

int RunVersion(const Args& args) {
    if (args.empty())
        return Usage("version: give one or more files");
    int status = 0;
    std::string line;
    for (const auto& path : args) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            std::fprintf(stderr, "harvix-cli: version: %s: %s\n", path.c_str(),
                         std::strerror(errno));
            status = 2;
            continue;
        }
        const cFileVersion version(path);
        line.clear();
        AppendField(line, path);
        line += version.HasVersion() ? '\t' + version.Version() : ": no version information";
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "harvix-cli: version: cannot write the output\n");
        return 1;
    }
    return status;
}

} // namespace harvix::cli
