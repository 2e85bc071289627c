// harvix-cli: the extraction engine without the window, for scripts and large trees.
#include "cli/Commands.h"
#include "common/MessageSource.h"
#include "generated/Version.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

struct Command {
    const char* name;
    int (*run)(const harvix::Args&);
    const char* const* usage;
};

// Every command, in the order of the help text.
const std::array kCommands{
    Command{"list", harvix::RunList, &harvix::kListUsage},
    Command{"version", harvix::RunVersion, &harvix::kVersionUsage},
    Command{"extract", harvix::RunExtract, &harvix::kExtractUsage},
    Command{"settings", harvix::RunSettings, &harvix::kSettingsUsage},
    Command{"png", harvix::RunPng, &harvix::kPngUsage},
    Command{"thumbnail", harvix::RunThumbnail, &harvix::kThumbnailUsage},
    Command{"icon", harvix::RunIcon, &harvix::kIconUsage},
    Command{"cursor-theme", harvix::RunCursorTheme, &harvix::kCursorThemeUsage},
};

void printHelp(std::FILE* out) {
    std::fputs("Usage: harvix-cli COMMAND [OPTIONS]\n"
               "       harvix-cli COMMAND --help\n"
               "       harvix-cli --version\n"
               "Finds Windows modules and lists or extracts the pictures, cursors, clips and\n"
               "pages they hold, without running them.\n\n"
               "Commands:\n",
               out);
    for (const Command& command : kCommands) {
        std::fputs(*command.usage, out);
        std::fputc('\n', out);
    }
}

// One command's usage: its synopsis (the first line of its entry in the help text)
// after "Usage: harvix-cli", then the lines that explain it.
void printCommandUsage(std::string_view usage) {
    const std::size_t lineEnd = usage.find('\n');
    std::string_view synopsis = usage.substr(0, lineEnd);
    synopsis.remove_prefix(std::min(synopsis.find_first_not_of(' '), synopsis.size()));
    std::printf("Usage: harvix-cli %.*s\n", static_cast<int>(synopsis.size()), synopsis.data());
    if (lineEnd != std::string_view::npos)
        std::fwrite(usage.data() + lineEnd + 1, 1, usage.size() - lineEnd - 1, stdout);
}

// --help or -h anywhere among a command's options (before a "--" that ends them).
bool asksForHelp(const harvix::Args& args) {
    for (const std::string& arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printHelp(stderr);
        return 2;
    }
    const std::string name = argv[1];
    const harvix::Args args(argv + 2, argv + argc);
    if (name == "--help" || name == "-h" || name == "help") {
        printHelp(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("harvix %s\n", harvix::kVersion);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    for (const Command& command : kCommands) {
        if (name != command.name)
            continue;
        if (asksForHelp(args)) {
            printCommandUsage(*command.usage);
            return 0;
        }
        // Every message of the command, the shared code's included, names it.
        harvix::SetMessageSource(std::string("harvix-cli ") + command.name);
        return command.run(args);
    }
    std::fprintf(stderr, "harvix-cli: unknown command '%s' (try --help)\n", name.c_str());
    return 2;
}
