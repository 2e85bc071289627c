#include "Commands.h"

#include <cstdio>

namespace harvix::cli {

const char* const kListUsage = "  list   (not available yet)\n";

int RunList(const Args&) {
    std::fprintf(stderr, "harvix-cli: 'list' is not available yet\n");
    return 2;
}

const char* const kVersionUsage = "  version   (not available yet)\n";

int RunVersion(const Args&) {
    std::fprintf(stderr, "harvix-cli: 'version' is not available yet\n");
    return 2;
}

} // namespace harvix::cli
