// The table the readers' tests of damaged input are written as: a form of some bytes
// spoiled in one way, named, and the kind of error a reader must give for it.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <vector>

namespace harvix::testing {

struct DamagedBytes {
    const char* what;
    std::vector<std::uint8_t> bytes;
    ErrorKind kind;
};

} // namespace harvix::testing
