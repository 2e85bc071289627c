#include "Commands.h"

#include <cstdio>

namespace harvix::cli {

const char* const kExtractUsage = "  extract   (not available yet)\n";

int RunExtract(const Args&) {
    std::fprintf(stderr, "harvix-cli: 'extract' is not available yet\n");
    return 2;
}

} // namespace harvix::cli
