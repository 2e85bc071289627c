// harvix-cli: the extraction engine without the window, for scripts and large trees.
#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printHelp(std::FILE* out) {
    std::fprintf(out,
                 "Usage: harvix-cli COMMAND [OPTIONS]\n"
                 "Finds Windows modules and lists or extracts the pictures, cursors, clips and\n"
                 "pages they hold, without running them.\n\n"
                 "Commands:\n%s\n%s\n%s\n%s\n%s\n%s\n",
                 harvix::cli::kListUsage, harvix::cli::kVersionUsage, harvix::cli::kExtractUsage,
                 harvix::cli::kSettingsUsage, harvix::cli::kPngUsage, harvix::cli::kThumbnailUsage);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printHelp(stderr);
        return 2;
    }
    const std::string command = argv[1];
    harvix::cli::Args args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        printHelp(stdout);
        return 0;
    }
    if (command == "list")
        return harvix::cli::RunList(args);
    if (command == "version")
        return harvix::cli::RunVersion(args);
    if (command == "settings")
        return harvix::cli::RunSettings(args);
    if (command == "extract")
        return harvix::cli::RunExtract(args);
    if (command == "png")
        return harvix::cli::RunPng(args);
    if (command == "thumbnail")
        return harvix::cli::RunThumbnail(args);
    std::fprintf(stderr, "harvix-cli: unknown command '%s' (try --help)\n", command.c_str());
    return 2;
}
