// Reading small files whole, for pictures and lists named by the user.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

// Reads a whole regular file of at most `maxBytes` bytes (opened without blocking, so a
// FIFO or device named like a picture is refused, not waited on).
[[nodiscard]] Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                              std::uint64_t maxBytes);

} // namespace harvix
