#include "Commands.h"

#include <cstdio>

namespace harvix::cli {

const char* const kSettingsUsage = "  settings   (not available yet)\n";

int RunSettings(const Args&) {
    std::fprintf(stderr, "harvix-cli: 'settings' is not available yet\n");
    return 2;
}

} // namespace harvix::cli
